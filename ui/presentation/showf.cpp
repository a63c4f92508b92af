#include "ui/presentation/showf.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "core/recdef.h"
#include "ui/common/accessible.h"
#include "ui/common/fonts.h"
#include "ui/common/own_events.h"
#include "ui/common/reentry_guard.h"
#include "ui/presentation/page_layout.h"

namespace kv {

namespace {

// The bar colours of answers A..E: blue, red, green, black, purple.
const std::array<QColor, 5> kBarColours = {QColor(0, 0, 255), QColor(255, 0, 0), QColor(0, 128, 0),
                                           QColor(0, 0, 0), QColor(128, 0, 128)};

// Menu and group box captions use "&" for shortcuts; a question's own "&" is shown as it is.
QString literalAmpersands(const QString &text)
{
    QString s = text;
    return s.replace(QLatin1Char('&'), QLatin1String("&&"));
}

void setBackground(QWidget *w, const QColor &colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

QTimer *namedTimer(QObject *parent, const char *name, int interval)
{
    auto *t = new QTimer(parent);
    t->setObjectName(QLatin1String(name));
    t->setInterval(interval);
    return t;
}

void sync(QTimer *timer, bool on)
{
    if (on && !timer->isActive())
        timer->start();
    else if (!on && timer->isActive())
        timer->stop();
}

// A box on the page: a thin frame filled with its colour (white, or green for a correct answer),
// its caption in bold on the top edge. Set only when the colour changes, as a style sheet costs a
// re-polish.
void setBoxColour(QGroupBox *box, const QColor &colour)
{
    const QVariant current = box->property("kvColour");
    if (current.isValid() && current.value<QColor>() == colour)
        return;
    box->setProperty("kvColour", colour);
    // A white box lets the white page show through: one fill of the page less on every paint.
    box->setStyleSheet(
        QStringLiteral("QGroupBox { background-color: %1; border: 1px solid #a0a0a0; "
                       "margin-top: 0px; padding-top: 0px; }"
                       "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: "
                       "top left; left: 6px; padding: 0px 3px; background-color: %2; "
                       "color: black; font: bold 11pt \"Arial\"; }")
            .arg(colour == Qt::white ? QStringLiteral("transparent") : colour.name(), colour.name()));
}

// A text of the page. Texts on a projector are large, and the raster engine draws glyphs above
// 64 px as outlines on every paint; the text is therefore drawn once into a picture, which is
// drawn again until the text, its font or its size change.
class PageText : public QLabel {
public:
    explicit PageText(QWidget *parent) : QLabel(parent) { setTextFormat(Qt::PlainText); }

protected:
    void paintEvent(QPaintEvent *) override
    {
        const qreal dpr = devicePixelRatioF();
        const QSize pixels = (QSizeF(size()) * dpr).toSize();
        const QString key = text() + QChar(0) + font().key() + QChar(0)
                            + palette().color(foregroundRole()).name() + QChar(0)
                            + QString::number(int(alignment())) + QChar(wordWrap() ? u'w' : u'-');
        if (m_picture.size() != pixels || key != m_key) {
            m_picture = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
            m_picture.setDevicePixelRatio(dpr);
            m_picture.fill(Qt::transparent);
            QPainter p(&m_picture);
            p.setFont(font());
            p.setPen(palette().color(foregroundRole()));
            p.drawText(contentsRect(), int(alignment()) | (wordWrap() ? Qt::TextWordWrap : 0), text());
            m_key = key;
        }
        QPainter p(this);
        p.drawImage(0, 0, m_picture);
    }

private:
    QImage m_picture;
    QString m_key;
};

} // namespace

BarImage::BarImage(const QColor &colour, QWidget *parent) : QWidget(parent), m_colour(colour) {}

void BarImage::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(colouredBarArea(size()), m_colour);
}

TFshow::TFshow(WindowServices services, QWidget *parent)
    : ControlsOnFirstShowing(parent), m_services(std::move(services)),
      m_logic(m_services.session, m_services.server, m_services.dialogs), m_joinLink(m_services.server)
{
    setObjectName(QStringLiteral("TFshow"));
    setWindowTitle(QStringLiteral("Kelvora"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setBackground(this, Qt::white);
    setFocusPolicy(Qt::StrongFocus);

    Timer1 = namedTimer(this, "Timer1", 50);
    weitertimer = namedTimer(this, "weitertimer", 50);
    AnzeigeTimer = namedTimer(this, "AnzeigeTimer", 100);
    Timer_n = namedTimer(this, "Timer_n", 1000);

    connect(Timer1, &QTimer::timeout, this, &TFshow::Timer1Timer);
    connect(weitertimer, &QTimer::timeout, this, &TFshow::weitertimerTimer);
    connect(AnzeigeTimer, &QTimer::timeout, this, &TFshow::AnzeigeTimerTimer);
    connect(Timer_n, &QTimer::timeout, this, &TFshow::Timer_nTimer);
    m_logic.setCloseWindow([this] { close(); });

    // The window sees every key before its controls do, and every click on the page's elements.
    watchOwnEvents(this, this);

    // A normal sizeable window of 1054 x 626 at 446, 228 of its screen.
    resize(1054, 626);
    if (QScreen *s = QGuiApplication::primaryScreen())
        move(s->geometry().topLeft() + QPoint(446, 228));
    m_logic.setClientSize(width(), height());
}

// The page's controls and the context menu are made when the window is first shown: the window,
// its logic and its timers exist from the program's start, but most runs never present.
void TFshow::makeControls()
{
    for (int b = 0; b < 6; ++b) {
        const QByteArray name = "GroupBox" + QByteArray::number(b + 1);
        auto *box = named(new QGroupBox(this), name.constData(),
                          b == 0 ? QStringLiteral("Frage") : QStringLiteral("Antwort"));
        setBoxColour(box, Qt::white);
        box->hide();
        const QByteArray labelName = "Label" + QByteArray::number(b + 1);
        // A question is shown as typed, never as markup.
        auto *text = contentLabel<QLabel>(new PageText(box), labelName.constData());
        text->setWordWrap(true);
        text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        text->setFont(arialPoints(12, b == 0));
        m_boxes[size_t(b)] = box;
        m_texts[size_t(b)] = text;
    }
    for (int k = 0; k < 5; ++k) {
        QGroupBox *box = m_boxes[size_t(k + 1)];
        const QByteArray imageName = "Image" + QByteArray::number(k + 1);
        auto *bar = named(new BarImage(kBarColours[size_t(k)], box), imageName.constData(),
                          QStringLiteral("Balken ") + QChar(u'A' + k));
        bar->hide();
        const QByteArray percentName = "Label" + QByteArray::number(k + 8);
        auto *percent = contentLabel<QLabel>(new PageText(box), percentName.constData());
        percent->hide();
        m_bars[size_t(k)] = bar;
        m_percents[size_t(k)] = percent;
    }

    Label13 = contentLabel<QLabel>(new PageText(this), "Label13");
    Label13->hide();

    Panel1 = named(new QFrame(this), "Panel1", QString());
    Panel1->setFrameShape(QFrame::Panel);
    Panel1->setFrameShadow(QFrame::Raised);
    setBackground(Panel1, QColor(192, 192, 192));
    Anzeige = contentLabel(new QLabel(Panel1), "Anzeige");
    Anzeige->setTextFormat(Qt::PlainText);
    Anzeige->setFont(arialPixels(32));
    Panel1->setGeometry(0, 0, 300, kMessagePanelHeight);
    Panel1->hide();

    Panel2 = named(new QFrame(this), "Panel2", QString());
    Panel2->setFrameShape(QFrame::Panel);
    Panel2->setFrameShadow(QFrame::Raised);
    setBackground(Panel2, QColor(192, 192, 192));
    Panel2->resize(kSessionPanelWidth, kSessionPanelHeight);
    auto *codeLabel = new QLabel(QStringLiteral("Session Code:"), Panel2);
    codeLabel->setGeometry(16, 12, 200, 20);
    Edit1 = named(new QLineEdit(Panel2), "Edit1", codeLabel->text());
    Edit1->setFont(arialPixels(16));
    Edit1->setGeometry(16, 38, 200, 28);
    codeLabel->setBuddy(Edit1);
    Button2 = named(new QPushButton(QStringLiteral("OK"), Panel2), "Button2", QStringLiteral("OK"));
    Button2->setGeometry(232, 38, 75, 28);
    Button2->setAutoDefault(false);
    Panel2->hide();

    Button1 = named(new QPushButton(this), "Button1", QStringLiteral("Weiter"));
    Button1->setAutoDefault(false);
    Button1->hide();
    Button3 = named(new QPushButton(QStringLiteral("Fenster schließen"), this), "Button3",
                    QStringLiteral("Fenster schließen"));
    Button3->setAutoDefault(false);
    Button3->hide();

    PopupMenu1 = named(new QMenu(this), "PopupMenu1", QStringLiteral("Präsentation"));
    auto action = [this](const char *name, const QString &caption, bool checkable) {
        QAction *a = PopupMenu1->addAction(caption);
        a->setObjectName(QLatin1String(name));
        a->setCheckable(checkable);
        return a;
    };
    Zurck1 = action("Zurck1", QStringLiteral("Zurück"), false);
    Zurck1->setEnabled(false);
    PopupMenu1->addSeparator();
    FragenAntwortennacheinander1 =
        action("FragenAntwortennacheinander1", QStringLiteral("Fragen && Antworten nacheinander"), true);
    Umfrageautomatischstarten1 =
        action("Umfrageautomatischstarten1", QStringLiteral("Umfrage automatisch starten"), true);
    PopupMenu1->addSeparator();
    GroeSchrift1 = action("GroeSchrift1", QStringLiteral("Große Schrift"), true);
    WeieZwischenseiten1 = action("WeieZwischenseiten1", QStringLiteral("Leere Zwischenseiten"), true);
    WeiterButton1 = action("WeiterButton1", QStringLiteral("Buttons anzeigen"), true);
    PopupMenu1->addSeparator();
    SessionCodeeingeben1 = action("SessionCodeeingeben1", QStringLiteral("Session Code eingeben"), false);
    PopupMenu1->addSeparator();
    SpringezuFrage = PopupMenu1->addMenu(QStringLiteral("Springe zu Frage ..."));
    SpringezuFrage->setObjectName(QStringLiteral("SpringezuFrage"));
    SpringezuFrage->menuAction()->setObjectName(QStringLiteral("SpringezuFrage"));
    PopupMenu1->addSeparator();
    AbstimmLinkanzeigen1 = action("AbstimmLinkanzeigen1", QStringLiteral("Abstimm-Link anzeigen"), false);
    m_joinPanel = new JoinLinkPanel(this);
    m_joinPanel->hide();

    connect(Button1, &QPushButton::clicked, this, &TFshow::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TFshow::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TFshow::Button3Click);
    connect(Edit1, &QLineEdit::returnPressed, this, &TFshow::Button2Click);
    connect(Zurck1, &QAction::triggered, this, &TFshow::Zurueckschalten);
    auto toggle = [this](QAction *a, void (ShowLogic::*f)()) {
        connect(a, &QAction::triggered, this, [this, f] {
            (m_logic.*f)();
            setCheckMarks();
            showPage();
        });
    };
    toggle(FragenAntwortennacheinander1, &ShowLogic::toggleNacheinander);
    toggle(Umfrageautomatischstarten1, &ShowLogic::toggleAutoStart);
    toggle(GroeSchrift1, &ShowLogic::toggleGrosseSchrift);
    toggle(WeieZwischenseiten1, &ShowLogic::toggleZwischenseiten);
    toggle(WeiterButton1, &ShowLogic::toggleButtonsZeigen);
    toggle(SessionCodeeingeben1, &ShowLogic::sessionCodeMenu);
    connect(AbstimmLinkanzeigen1, &QAction::triggered, this, &TFshow::showJoinLink);
}

bool TFshow::PraesentationStarten(const QString &datei)
{
    m_logic.setClientSize(width(), height());
    const bool ok = m_logic.PraesentationStarten(datei);
    showPage();
    if (ok)
        setFocus(Qt::OtherFocusReason);
    return ok;
}

bool TFshow::present(const QString &datei)
{
    if (!PraesentationStarten(datei))
        return false;
    show();
    return true;
}

void TFshow::Fortschalten()
{
    m_logic.Fortschalten();
    showPage();
}

void TFshow::Zurueckschalten()
{
    m_logic.Zurueckschalten();
    showPage();
}

void TFshow::Button1Click()
{
    Fortschalten();
    // A following Space or Enter must not press the button again.
    setFocus(Qt::OtherFocusReason);
}

void TFshow::Button2Click()
{
    buildControls();
    m_logic.sessionCodeOk(Edit1->text());
    showPage();
    setFocus(Qt::OtherFocusReason);
}

void TFshow::Button3Click()
{
    close();
}

void TFshow::jumpTo(int k)
{
    m_logic.jump(k);
    showPage();
}

void TFshow::Timer_nTimer()
{
    m_logic.Umfragetakt();
    showPage();
}

void TFshow::AnzeigeTimerTimer()
{
    buildControls();
    if (m_logic.anzeigeTick() == ShowLogic::MessageTick::PlaceAndShow) {
        Anzeige->setText(m_logic.page().messageText);
        Anzeige->adjustSize();
        Panel1->setGeometry(messagePanelRect(width(), height(), Anzeige->width()));
        Anzeige->move(38, (kMessagePanelHeight - Anzeige->height()) / 2);
    }
    showPage();
}

QRect TFshow::screenGeometry() const
{
    // The screen the window is on: a projector attached as a second screen is measured itself.
    const QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    return s ? s->geometry() : QRect(0, 0, width(), height());
}

void TFshow::Timer1Timer()
{
    const QRect screenRect = screenGeometry();
    const ShowLogic::RelayoutTick r =
        m_logic.relayoutTick(frameGeometry().width(), screenRect.width(), screenRect.height());
    if (r == ShowLogic::RelayoutTick::FullScreenAndRelayout && !isFullScreen()) {
        // Full screen covers exactly the window's screen, without title bar or panel; the page
        // is already laid out for that size.
        setGeometry(screenRect);
        showFullScreen();
    }
    showPage();
}

void TFshow::weitertimerTimer()
{
    m_logic.weiterTick();
    showPage();
}

void TFshow::escapeFullScreen()
{
    const QRect screenRect = screenGeometry();
    if (!fillsScreenWidth(frameGeometry().width(), screenRect.width()))
        return;
    showNormal();
    setGeometry(escapeGeometry(screenRect));
    showPage();
}

// ---------------------------------------------------------------------------------------------
// Events

void TFshow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) // de-minimised, not shown
        return;
    buildControls();
    m_logic.windowShown();
    m_joinLink.newShowing();
    m_joinPanel->hide();
    rebuildJumpList();
    setCheckMarks();
    setFocus(Qt::OtherFocusReason);
    showPage();
}

void TFshow::closeEvent(QCloseEvent *event)
{
    m_logic.windowClosed();
    showPage();
    event->accept();
    m_services.showStartWindow();
}

void TFshow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    m_logic.setClientSize(width(), height());
    m_logic.sizeChanged();
    showPage();
    placeJoinPanel();
}

void TFshow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        Fortschalten();
        return;
    }
    QWidget::mousePressEvent(event);
}

void TFshow::mouseDoubleClickEvent(QMouseEvent *)
{
    // The second press of a double click is not a second step: a lecturer's double click would
    // otherwise open a poll and close it at once.
}

void TFshow::contextMenuEvent(QContextMenuEvent *event)
{
    PopupMenu1->popup(event->globalPos());
}

bool TFshow::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_joinPanel) // the page is not made yet, or being made
        return QWidget::eventFilter(watched, event);
    // While the voting link is shown, the next click or key anywhere on the page only closes it.
    if (m_joinPanel->isVisible()
        && (event->type() == QEvent::KeyPress || event->type() == QEvent::MouseButtonPress
            || event->type() == QEvent::MouseButtonDblClick)
        && watched->isWidgetType() && static_cast<QWidget *>(watched)->window() == this) {
        m_joinPanel->hide();
        setFocus(Qt::OtherFocusReason);
        return true;
    }
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->window() == this)
        return handleKey(static_cast<QKeyEvent *>(event));
    if (event->type() == QEvent::MouseButtonDblClick && watched != this && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->window() == this
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton
        && !qobject_cast<QLineEdit *>(watched) && !qobject_cast<QAbstractButton *>(watched))
        return true; // see mouseDoubleClickEvent
    if (event->type() == QEvent::MouseButtonPress && watched != this
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        // Boxes, texts and bars step forward; percentages, the status line and the panels do not,
        // and their clicks do not reach the page behind them either.
        for (QWidget *w : m_boxes)
            if (watched == w) {
                Fortschalten();
                return true;
            }
        for (QWidget *w : m_texts)
            if (watched == w) {
                Fortschalten();
                return true;
            }
        for (QWidget *w : m_bars)
            if (watched == w) {
                Fortschalten();
                return true;
            }
        for (QWidget *w : m_percents)
            if (watched == w)
                return true;
        if (watched == Label13 || watched == Panel1 || watched == Anzeige || watched == Panel2)
            return true;
    }
    return QWidget::eventFilter(watched, event);
}

bool TFshow::handleKey(QKeyEvent *key)
{
    switch (key->key()) {
    // Presenter remotes send Page Down and Page Up for forward and back.
    case Qt::Key_Right:
    case Qt::Key_PageDown:
        Fortschalten();
        return true;
    case Qt::Key_Left:
    case Qt::Key_PageUp:
        m_logic.backKey();
        showPage();
        return true;
    default:
        break;
    }
    if (key->key() == Qt::Key_Escape || !key->text().isEmpty()) {
        // Any key that produces a character cancels a pending re-layout.
        m_logic.characterKey();
        syncTimers();
        if (key->key() == Qt::Key_Escape) {
            escapeFullScreen();
            return true;
        }
    }
    return false;
}

void TFshow::showJoinLink()
{
    ReentryGuard guard(m_joinLinkShowing);
    if (!guard)
        return;
    buildControls();
    m_joinPanel->setContent(m_joinLink.current(UserID), SessionCode);
    placeJoinPanel();
    m_joinPanel->show();
    m_joinPanel->raise();
    m_joinPanel->setFocus(Qt::OtherFocusReason);
    // The fallback link is on screen at once; the server's own link replaces it when it arrives.
    // It is asked once per showing of the presentation, never from a timer.
    if (m_joinLink.needsFetch())
        m_joinPanel->setContent(m_joinLink.fetch(UserID), SessionCode);
}

void TFshow::placeJoinPanel()
{
    buildControls();
    // Centred on the page, most of its height, a little higher than wide.
    const int h = height() * 9 / 10;
    const int w = std::min(width() * 9 / 10, h * 5 / 6);
    m_joinPanel->setGeometry((width() - w) / 2, (height() - h) / 2, w, h);
}

// ---------------------------------------------------------------------------------------------
// Showing the page

void TFshow::rebuildJumpList()
{
    buildControls();
    SpringezuFrage->clear();
    const QStringList entries = m_logic.jumpEntries();
    for (int k = 1; k <= entries.size(); ++k) {
        QAction *a = SpringezuFrage->addAction(literalAmpersands(entries[k - 1]));
        a->setObjectName(QStringLiteral("Frage%1").arg(k));
        connect(a, &QAction::triggered, this, [this, k] { jumpTo(k); });
    }
}

void TFshow::setCheckMarks()
{
    buildControls();
    FragenAntwortennacheinander1->setChecked(isSet(IniDaten.Nacheinander));
    Umfrageautomatischstarten1->setChecked(isSet(IniDaten.AutoStart));
    GroeSchrift1->setChecked(isSet(IniDaten.GrosseSchrift));
    WeieZwischenseiten1->setChecked(isSet(IniDaten.Zwischenseiten));
    WeiterButton1->setChecked(isSet(IniDaten.ButtonsZeigen));
}

void TFshow::syncTimers()
{
    sync(Timer_n, m_logic.timerRunning(ShowLogic::Timer::Poll));
    sync(AnzeigeTimer, m_logic.timerRunning(ShowLogic::Timer::Message));
    sync(Timer1, m_logic.timerRunning(ShowLogic::Timer::Relayout));
    sync(weitertimer, m_logic.timerRunning(ShowLogic::Timer::ButtonDelay));
}

void TFshow::showPage()
{
    buildControls();
    const ShowPage &page = m_logic.page();
    // The size the page was laid out for: going full screen, the window's new size arrives later.
    const int cw = m_logic.clientWidth();
    const int ch = m_logic.clientHeight();
    const int bw = boxWidth(cw);
    for (int b = 0; b < 6; ++b) {
        const ShowBox &s = page.boxes[size_t(b)];
        QGroupBox *box = m_boxes[size_t(b)];
        box->setTitle(literalAmpersands(s.caption));
        box->setAccessibleName(s.caption);
        box->setGeometry(kBoxLeft, s.top, bw, std::max(0, s.height));
        setBoxColour(box, s.green ? QColor(0, 255, 0) : QColor(Qt::white));
        QLabel *text = m_texts[size_t(b)];
        text->setText(s.text);
        text->setFont(arialPoints(s.fontSize, b == 0));
        text->setGeometry(b == 0 ? 6 : 10, 15, std::max(0, bw - 20), std::max(0, s.height - 20));
        box->setVisible(s.visible);
    }
    for (int k = 0; k < 5; ++k) {
        const ShowBar &s = page.bars[size_t(k)];
        m_bars[size_t(k)]->setGeometry(s.left, s.top, s.width, s.height);
        m_bars[size_t(k)]->setVisible(s.visible);
        QLabel *percent = m_percents[size_t(k)];
        percent->setText(s.percent);
        percent->setFont(arialPoints(s.percentFontSize));
        percent->adjustSize();
        percent->move(s.percentLeft, s.percentTop);
        percent->setVisible(s.percentVisible);
    }
    // The status line is written in the font of answer A's text and kept at the bottom.
    Label13->setFont(m_texts[1]->font());
    Label13->setText(page.statusText);
    Label13->adjustSize();
    Label13->move(16, statusLineTop(ch, QFontMetrics(Label13->font()).height()));
    Label13->setVisible(page.statusVisible);

    Button1->setText(page.caption);
    Button1->setAccessibleName(page.caption);
    Button1->setGeometry(button1Rect(cw, ch));
    Button3->setGeometry(button3Rect(cw, ch));
    Button1->setVisible(page.buttonsVisible);
    Button3->setVisible(page.buttonsVisible);
    Zurck1->setEnabled(page.backEnabled);

    Anzeige->setText(page.messageText);
    Anzeige->adjustSize();
    if (page.messageVisible && !Panel1->isVisible()) {
        Panel1->setGeometry(messagePanelRect(cw, ch, Anzeige->width()));
        Anzeige->move(38, (kMessagePanelHeight - Anzeige->height()) / 2);
    }
    Panel1->setVisible(page.messageVisible);
    Panel1->raise();
    if (page.sessionPanelVisible && !Panel2->isVisible()) {
        Panel2->move(sessionPanelPos(cw, ch));
        Panel2->show();
        Panel2->raise();
        Edit1->setFocus(Qt::OtherFocusReason);
    } else if (!page.sessionPanelVisible) {
        Panel2->hide();
    }
    m_joinPanel->raise(); // the voting link stays on top of whatever the page shows behind it
    syncTimers();
}

} // namespace kv
