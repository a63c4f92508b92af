#pragma once
// The presentation of a series.

#include <QWidget>

namespace kv {

// The series file being presented; results are written back into it.
extern QString SerienDatei;

class TFshow : public QWidget {
    Q_OBJECT
public:
    explicit TFshow(QWidget *parent = nullptr);

    // Loads the series to present; false (after telling the user why) when it cannot be read.
    bool PraesentationStarten(const QString &datei);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};

} // namespace kv
