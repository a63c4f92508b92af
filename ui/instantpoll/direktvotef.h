#pragma once
// The instant poll: one poll without a series.

#include <QWidget>

namespace kv {

class TFdirektvote : public QWidget {
    Q_OBJECT
public:
    explicit TFdirektvote(QWidget *parent = nullptr);

protected:
    void closeEvent(QCloseEvent *event) override;
};

} // namespace kv
