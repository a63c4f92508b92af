#include "ui/instantpoll/direktvotef.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include "core/recdef.h"
#include "ui/common/accessible.h"
#include "ui/common/fonts.h"
#include "ui/common/join_link_panel.h"
#include "ui/common/reentry_guard.h"
#include "ui/editor/statistikf.h"
#include "ui/instantpoll/chart_painter.h"

namespace kv {

namespace {
const QStringList kKinds = {QStringLiteral("Ja / Nein - Frage"), QStringLiteral("A / B - Frage"),
                            QStringLiteral("A / B / C - Frage"), QStringLiteral("A / B / C / D - Frage"),
                            QStringLiteral("A / B / C / D / E - Frage")};
// The window is laid out at fixed positions and cannot be resized.
constexpr int kWidth = 425;
constexpr int kHeight = 476;
} // namespace

TFdirektvote::TFdirektvote(WindowServices services, QWidget *parent)
    : ControlsOnFirstShowing(parent), m_services(std::move(services)),
      m_logic(m_services.session, m_services.server, m_services.dialogs), m_joinLink(m_services.server)
{
    setObjectName(QStringLiteral("TFdirektvote"));
    setWindowTitle(QStringLiteral("Sofort-Umfrage"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);
    setFont(arialPixels(15));
    setFixedSize(kWidth, kHeight);

    Timer_n = new QTimer(this);
    Timer_n->setObjectName(QStringLiteral("Timer_n"));
    Timer_n->setInterval(1000);

    connect(Timer_n, &QTimer::timeout, this, &TFdirektvote::Timer_nTimer);
}

// The controls are made when the window is first shown: the window, its logic and its timer
// exist from the program's start, but most runs never open the instant poll.
void TFdirektvote::makeControls()
{
    // Identity: user ID, session code, question text.
    GroupBox1 = named(new QGroupBox(QStringLiteral("Identität und Sicherheit"), this), "GroupBox1",
                      QStringLiteral("Identität und Sicherheit"));
    GroupBox1->setGeometry(16, 10, 393, 140);
    Label1 = contentLabel(new QLabel(QStringLiteral("User-ID: "), GroupBox1), "Label1");
    Label1->setGeometry(12, 28, 370, 22);
    Label3 = named(new QLabel(QStringLiteral("Session-Code (optional):"), GroupBox1), "Label3",
                   QStringLiteral("Session-Code (optional):"));
    Label3->setGeometry(12, 64, 175, 22);
    Edit1 = named(new QLineEdit(GroupBox1), "Edit1", Label3->text());
    Edit1->setGeometry(190, 61, 90, 26);
    Edit1->setMaxLength(6);
    Label3->setBuddy(Edit1);
    Label5 = named(new QLabel(QStringLiteral("Frage-Text (optional):"), GroupBox1), "Label5",
                   QStringLiteral("Frage-Text (optional):"));
    Label5->setGeometry(12, 100, 175, 22);
    Edit2 = named(new QLineEdit(GroupBox1), "Edit2", Label5->text());
    Edit2->setGeometry(190, 97, 190, 26);
    Edit2->setMaxLength(200);
    Label5->setBuddy(Edit2);

    // The running poll's labels lie where the question kind is; the kind is hidden meanwhile.
    Label2 =
        named(new QLabel(QStringLiteral("Umfrage läuft"), this), "Label2", QStringLiteral("Umfrage läuft"));
    Label2->setGeometry(16, 175, 393, 24);
    Label2->setAlignment(Qt::AlignCenter);
    Label6 = contentLabel(new QLabel(this), "Label6");
    Label6->setGeometry(16, 205, 393, 44); // two lines
    Label6->setAlignment(Qt::AlignCenter);
    Label6->setWordWrap(true);
    Label4 = contentLabel(new QLabel(this), "Label4");
    Label4->setGeometry(16, 265, 393, 30);
    Label4->setAlignment(Qt::AlignCenter);
    Label4->setFont(arialPixels(19));

    RadioGroup1 = named(new QGroupBox(QStringLiteral("Art der Frage"), this), "RadioGroup1",
                        QStringLiteral("Art der Frage"));
    RadioGroup1->setGeometry(16, 160, 393, 178);
    m_kinds = new QButtonGroup(this);
    for (int i = 0; i < kKinds.size(); ++i) {
        auto *item = new QRadioButton(kKinds[i], RadioGroup1);
        item->setObjectName(QStringLiteral("RadioGroup1_%1").arg(i + 1));
        item->setAccessibleName(kKinds[i]);
        item->setGeometry(16, 28 + 29 * i, 360, 24);
        m_kinds->addButton(item, i + 1);
    }
    m_kinds->button(5)->setChecked(true);

    // The result lies over the identity box and the question kind.
    GroupBox2 =
        named(new QGroupBox(QStringLiteral("Ergebnis"), this), "GroupBox2", QStringLiteral("Ergebnis"));
    GroupBox2->setGeometry(16, 10, 393, 328);
    GroupBox2->setAutoFillBackground(true); // it hides what lies beneath
    Image1 = named(new QLabel(GroupBox2), "Image1", QStringLiteral("Ergebnis"));
    Image1->setGeometry((393 - kChartWidth) / 2, 26 + (328 - 26 - kChartHeight) / 2, kChartWidth,
                        kChartHeight);
    Image1->setPixmap(QPixmap::fromImage(blankChart(QSize(kChartWidth, kChartHeight))));

    auto button = [this](const char *name, const QString &caption) {
        auto *b = named(new QPushButton(caption, this), name, caption);
        b->setAutoDefault(false);
        return b;
    };
    Button1 = button("Button1", QStringLiteral("Umfrage starten."));
    Button1->setGeometry(16, 350, 393, 36);
    Button2 = button("Button2", QStringLiteral("Alte Ergebnisse"));
    Button2->setGeometry(16, 396, 190, 30);
    Button3 = button("Button3", QStringLiteral("Fenster schließen"));
    Button3->setGeometry(219, 396, 190, 30);
    Button4 = button("Button4", QStringLiteral("Abstimm-Link"));
    Button4->setGeometry(16, 436, 393, 30);

    connect(Button1, &QPushButton::clicked, this, &TFdirektvote::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFdirektvote::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TFdirektvote::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TFdirektvote::Button4Click);
    render();
}

DirektvoteInput TFdirektvote::input()
{
    buildControls();
    return {Edit1->text(), Edit2->text(), m_kinds->checkedId()};
}

void TFdirektvote::render()
{
    buildControls();
    const DirektvoteView &v = m_logic.view();
    Label1->setText(v.userLabel.isEmpty() ? QStringLiteral("User-ID: ") : v.userLabel);
    Button1->setText(v.actionCaption);
    Button1->setAccessibleName(v.actionCaption);
    Button3->setVisible(v.closeVisible);
    RadioGroup1->setVisible(v.kindVisible);
    RadioGroup1->setEnabled(v.kindVisible);
    GroupBox2->setTitle(v.resultCaption);
    GroupBox2->setAccessibleName(v.resultCaption);
    GroupBox2->setVisible(v.resultVisible);
    if (v.chart) {
        Image1->setPixmap(QPixmap::fromImage(drawChart(*v.chart, QSize(kChartWidth, kChartHeight))));
        m_chartShown = true;
    } else if (m_chartShown) {
        Image1->setPixmap(QPixmap::fromImage(blankChart(QSize(kChartWidth, kChartHeight))));
        m_chartShown = false;
    }
    Label4->setText(v.statusText);
    Label4->setVisible(v.statusVisible);
    Label2->setVisible(v.runningVisible);
    Label6->setText(v.questionLabel);
    Label6->setVisible(v.questionLabelVisible);
    Edit2->setVisible(v.questionFieldVisible);
    Label5->setVisible(v.questionFieldVisible);
    Edit1->setReadOnly(v.fieldsReadOnly);
    Edit2->setReadOnly(v.fieldsReadOnly);
    if (!v.timerRunning)
        Timer_n->stop();
    else if (!Timer_n->isActive())
        Timer_n->start();
}

void TFdirektvote::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) // de-minimised, not shown
        return;
    buildControls();
    m_logic.formShow();
    m_joinLink.newShowing();
    Edit2->clear();
    render();
    // Centred over the program's main window, else on the screen.
    const QWidget *main = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("Tfstart"))
            main = w;
    const QRect area =
        main ? main->frameGeometry()
             : (QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->availableGeometry()
                                                 : QRect());
    if (area.isValid())
        move(area.center() - rect().center());
}

void TFdirektvote::Button1Click()
{
    const DirektvoteLogic::Effect effect = m_logic.mainButtonClicked(input());
    if (effect == DirektvoteLogic::Effect::ClearQuestionText)
        Edit2->clear();
    render();
    if (effect == DirektvoteLogic::Effect::BackToStart) {
        // The start failed: back to the start window without the close step.
        hide();
        m_services.showStartWindow();
    }
}

void TFdirektvote::Timer_nTimer()
{
    m_logic.timerTick(input());
    render();
}

void TFdirektvote::Button2Click()
{
    m_logic.statisticsClicked();
    if (m_services.showStatistics)
        m_services.showStatistics(*this);
}

void TFdirektvote::Button3Click()
{
    close();
}

void TFdirektvote::Button4Click()
{
    ReentryGuard guard(m_joinLinkShowing);
    if (!guard)
        return;
    buildControls();
    if (!m_joinLinkDialog) {
        m_joinLinkDialog = new JoinLinkDialog(this);
        m_joinLinkDialog->setModal(true);
    }
    JoinLinkPanel *panel = m_joinLinkDialog->panel();
    panel->setContent(m_joinLink.current(UserID), Edit1->text());
    m_joinLinkDialog->show();
    // The fallback link is on screen at once; the server's own link replaces it when it arrives
    // (also when the lecturer has closed the window meanwhile). It is asked once per showing of
    // this window, never from the poll's tick.
    if (m_joinLink.needsFetch())
        panel->setContent(m_joinLink.fetch(UserID), Edit1->text());
    if (m_joinLinkDialog->isVisible())
        m_joinLinkDialog->exec();
}

void TFdirektvote::closeEvent(QCloseEvent *event)
{
    if (!m_logic.formClose()) {
        event->ignore();
        return;
    }
    buildControls();
    Edit2->clear();
    render();
    event->accept();
    m_services.showStartWindow();
}

} // namespace kv
