#include "mainf.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QLabel>

#include "dialogs.h"
#include "recdef.h"
#include "startfenster.h"

namespace kv {

TFMain::TFMain(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("TFMain"));
    setWindowTitle(QStringLiteral("Kelvora"));
    info_ = new QLabel(this);
    info_->setAlignment(Qt::AlignCenter);
    setCentralWidget(info_);
    resize(800, 600);
}

void TFMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous())
        return;
    if (openFolder_.isEmpty())
        openFolder_ = DataDir;
    Fragen.makeNew();
    aktDatei_.clear();
    setWindowTitle(QStringLiteral("Kelvora"));
    if (!StartFile.isEmpty()) {
        if (IoStatus st = loadSeriesForEditor(Fragen, StartFile); st) {
            aktDatei_ = StartFile;
            setWindowTitle(QStringLiteral("Kelvora - ") + QFileInfo(StartFile).fileName());
        } else {
            dialogs().message(st.error);
        }
        StartFile.clear();
    }
    info_->setText(QStringLiteral("%1 Fragen").arg(Fragen.countQuestions()));
}

void TFMain::closeEvent(QCloseEvent *event)
{
    event->accept();
    zeigeStartFenster();
}

} // namespace kv
