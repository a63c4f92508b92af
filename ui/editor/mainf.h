#pragma once
// The series editor. Each showing starts from a new series, or from the series file named on the
// command line.

#include <QMainWindow>

class QLabel;

namespace kv {

class TFMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TFMain(QWidget *parent = nullptr);

    // The folder the editor's open dialog starts in (the data folder unless Ctrl+O changed it).
    void setOpenFolder(const QString &folder) { openFolder_ = folder; }
    QString openFolder() const { return openFolder_; }
    QString aktDatei() const { return aktDatei_; }

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    QString openFolder_;
    QString aktDatei_;
    QLabel *info_;
};

} // namespace kv
