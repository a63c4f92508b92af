#pragma once
// The answer statistics: the stored results of a question or the instant poll history.

#include <QDialog>

namespace kv {

class TFStatistik : public QDialog {
    Q_OBJECT
public:
    explicit TFStatistik(QWidget *parent = nullptr);
};

} // namespace kv
