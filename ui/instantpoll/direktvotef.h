#pragma once
// The instant poll: one poll without a series.

#include <QWidget>

#include "ui/common/window_services.h"

namespace kv {

class TFdirektvote : public QWidget {
    Q_OBJECT
public:
    explicit TFdirektvote(WindowServices services, QWidget *parent = nullptr);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    WindowServices m_services;
};

} // namespace kv
