#pragma once
// The series editor. Each showing starts from a new series, or from the series file named on the
// command line.

#include <QMainWindow>

#include "ui/common/window_services.h"

class QLabel;

namespace kv {

class TFMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFMain(WindowServices services, QWidget *parent = nullptr);

    // The folder the editor's open dialog starts in (the data folder unless Ctrl+O changed it).
    void setOpenFolder(const QString &folder) { m_openFolder = folder; }
    QString openFolder() const { return m_openFolder; }
    QString aktDatei() const { return m_aktDatei; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    WindowServices m_services;
    QString m_openFolder;
    QString m_aktDatei;
    QLabel *m_info;
};

} // namespace kv
