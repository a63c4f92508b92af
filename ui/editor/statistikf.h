#pragma once
// The answer statistics: the stored results of a question or the instant poll history. The
// caller sets `StatistikSofort` (and `StatistikFrage`), then shows the window modally over itself
// (showFor); every showing fills the grid anew from `StatistikLogic`.

#include <QDialog>

#include "ui/editor/statistik_logic.h"

class QPushButton;
class QTableWidget;

namespace kv {

class TFStatistik : public QDialog {
    Q_OBJECT
public:
    explicit TFStatistik(Dialogs &dialogs, QWidget *parent = nullptr);

    // Shows the window modally, centred on the window that opens it.
    void showFor(const QWidget &opener);

    void FormShow();     // fills the grid
    void Button1Click(); // "Schließen"

protected:
    void showEvent(QShowEvent *event) override;

private:
    void buildControls();

    StatistikLogic m_logic;
    QTableWidget *Grid = nullptr; // made on the first showing, as is Button1
    QPushButton *Button1 = nullptr;
};

} // namespace kv
