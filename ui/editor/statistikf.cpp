#include "ui/editor/statistikf.h"

#include <QHeaderView>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>

#include "ui/common/accessible.h"

namespace kv {

namespace {
constexpr int kRowHeight = 24;
} // namespace

TFStatistik::TFStatistik(Dialogs &dialogs, QWidget *parent)
    : QDialog(parent), m_logic(sharedSession(), dialogs)
{
    setObjectName(QStringLiteral("TFStatistik"));
    setWindowTitle(QStringLiteral("Antwort-Statistik"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPixelSize(11);
    setFont(tahoma);
    setFixedSize(602, 405);
}

// The grid and the button are made when the window is first shown: the window and its logic
// exist from the program's start, but most runs never open the statistics.
void TFStatistik::buildControls()
{
    if (Grid)
        return;
    Grid = named(new QTableWidget(0, kStatistikColumns, this), "Grid", QStringLiteral("Antwort-Statistik"));
    Grid->setGeometry(8, 8, 586, 349);
    Grid->setHorizontalHeaderLabels(statistikHeader());
    Grid->verticalHeader()->hide();
    Grid->verticalHeader()->setDefaultSectionSize(kRowHeight);
    Grid->horizontalHeader()->setFixedHeight(kRowHeight);
    Grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The first column, the date-time, is fixed like the header row: drawn as a header, its
    // width kept, and not selectable.
    Grid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Fixed);
    Grid->setColumnWidth(0, 150);
    for (int c = 1; c < kStatistikColumns; ++c)
        Grid->setColumnWidth(c, 68);

    Button1 =
        named(new QPushButton(QStringLiteral("Schließen"), this), "Button1", QStringLiteral("Schließen"));
    Button1->setGeometry(602 - 8 - 100, 367, 100, 30);
    Button1->setAutoDefault(false);
    connect(Button1, &QPushButton::clicked, this, &TFStatistik::Button1Click);
    Grid->show();
    Button1->show();
}

void TFStatistik::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TFStatistik::FormShow()
{
    buildControls();
    Grid->setColumnWidth(0, 150);
    Grid->setHorizontalHeaderLabels(statistikHeader());
    Grid->setRowCount(0);
    const std::vector<QStringList> rows = m_logic.formShow();
    Grid->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r)
        for (int c = 0; c < kStatistikColumns && c < rows[size_t(r)].size(); ++c) {
            auto *cell = new QTableWidgetItem(rows[size_t(r)][c]);
            if (c == 0) {
                cell->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
                cell->setFlags(Qt::ItemIsEnabled);
                cell->setBackground(palette().button());
            } else {
                cell->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            }
            Grid->setItem(r, c, cell);
        }
}

void TFStatistik::showFor(const QWidget &opener)
{
    // Placed before it is shown, so that Qt does not centre it on the screen instead.
    buildControls();
    QRect frame = frameGeometry();
    frame.moveCenter(opener.window()->frameGeometry().center());
    move(frame.topLeft());
    exec();
}

void TFStatistik::Button1Click()
{
    accept();
}

} // namespace kv
