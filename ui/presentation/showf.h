#pragma once
// The presentation of a series.

#include <QWidget>

#include "ui/common/window_services.h"

namespace kv {

class TFshow : public QWidget {
    Q_OBJECT
public:
    explicit TFshow(WindowServices services, QWidget *parent = nullptr);

    // Loads the series to present; false (after telling the user why) when it cannot be read.
    bool PraesentationStarten(const QString &datei);

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    WindowServices m_services;
};

} // namespace kv
