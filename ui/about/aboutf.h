#pragma once
#include <QDialog>

namespace kv {

// Program information with a link to the server's help page.
class Taboutf : public QDialog {
    Q_OBJECT
public:
    explicit Taboutf(const QString &basisURL, QWidget *parent = nullptr);
};

} // namespace kv
