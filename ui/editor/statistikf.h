#pragma once
// The answer statistics: the stored results of a question or the instant poll history.

#include <QDialog>

namespace kv {

// What the statistics window shows: the instant poll history, or the results of a question.
extern bool StatistikSofort;
extern int StatistikFrage;

class TFStatistik : public QDialog {
    Q_OBJECT
public:
    explicit TFStatistik(QWidget *parent = nullptr);
};

} // namespace kv
