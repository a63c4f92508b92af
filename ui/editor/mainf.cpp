#include "ui/editor/mainf.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>

#include "ui/common/accessible.h"
#include "ui/common/fonts.h"
#include "ui/common/reentry_guard.h"
#include "ui/editor/statistikf.h"
#include "ui/presentation/showf.h"

namespace kv {

namespace {

QString letter(int k)
{
    return QString(QChar(u'A' + k - 1));
}

bool isPageKey(const QKeyEvent *key)
{
    return (key->key() == Qt::Key_PageUp || key->key() == Qt::Key_PageDown)
           && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace

TFMain::TFMain(WindowServices services, QWidget *parent)
    : ControlsOnFirstShowing(parent), m_services(std::move(services)),
      m_logic(m_services.session, m_services.server, m_services.dialogs)
{
    setObjectName(QStringLiteral("TFMain"));
    setWindowTitle(QStringLiteral("Kelvora"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(arialPixels(15));
}

TFMain::~TFMain() = default;

// The controls and the menu are made when the window is first shown: the window and its logic
// exist from the program's start, but a run that only presents never opens the editor. The
// series itself is set up when the window is shown; making the controls leaves it alone.
void TFMain::makeControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kMainClientSize);
    setCentralWidget(client);
    const MainGeometry g = mainGeometry(kMainClientSize);

    Label1 = contentLabel(new QLabel(QStringLiteral("Frage 1"), client), "Label1");
    Label1->setGeometry(g.label1);
    Label1->setFont(arialPixels(15, true));

    Memo1 = named(new QPlainTextEdit(client), "Memo1", QStringLiteral("Fragetext"));
    Memo1->setGeometry(g.memo1);
    Memo1->setTabChangesFocus(true);
    Memo1->installEventFilter(this);
    connect(Memo1, &QPlainTextEdit::textChanged, this, &TFMain::Memo1Change);

    RadioGroup1 =
        named(new QGroupBox(QStringLiteral("Antworten"), client), "RadioGroup1", QStringLiteral("Antworten"));
    RadioGroup1->setGeometry(g.radioGroup1);
    m_layoutButtons = new QButtonGroup(this);
    auto *row = new QHBoxLayout(RadioGroup1);
    const QStringList items{QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4"),
                            QStringLiteral("5"), QStringLiteral("Ja/Nein")};
    for (int i = 0; i < items.size(); ++i) {
        auto *radio = new QRadioButton(items[i], RadioGroup1);
        radio->setObjectName(QStringLiteral("RadioGroup1_%1").arg(i));
        radio->setAccessibleName(items[i]);
        m_layoutButtons->addButton(radio, i);
        row->addWidget(radio, 1); // five equal columns
    }
    connect(m_layoutButtons, &QButtonGroup::idClicked, this, [this](int id) {
        m_logic.layoutClicked(id);
        paint();
    });

    m_korrektLabel =
        named(new QLabel(QStringLiteral("korrekt"), client), "Label2", QStringLiteral("korrekt"));
    m_korrektLabel->setGeometry(g.korrektLabel);
    m_korrektLabel->setAlignment(Qt::AlignCenter);
    for (int k = 1; k <= 5; ++k) {
        const auto i = size_t(k - 1);
        const QByteArray labelName = "Label" + QByteArray::number(k + 2);
        m_letters[i] = named(new QLabel(letter(k), client), labelName.constData(), letter(k));
        m_letters[i]->setGeometry(g.letters[i]);
        m_letters[i]->setFont(arialPixels(15, true));
        const QByteArray editName = "Edit" + QByteArray::number(k);
        m_edits[i] =
            named(new QLineEdit(client), editName.constData(), QStringLiteral("Antwort ") + letter(k));
        m_edits[i]->setGeometry(g.edits[i]);
        m_edits[i]->setMaxLength(kAnswerMaxLength);
        m_letters[i]->setBuddy(m_edits[i]);
        connect(m_edits[i], &QLineEdit::textEdited, this, [this, k](const QString &text) {
            if (m_painting)
                return;
            m_logic.editChanged(k, text);
            paint();
        });
        const QByteArray checkName = "CheckBox" + QByteArray::number(k);
        m_checks[i] =
            named(new QCheckBox(client), checkName.constData(), QStringLiteral("korrekt ") + letter(k));
        m_checks[i]->setGeometry(g.checks[i]);
        connect(m_checks[i], &QCheckBox::clicked, this, [this, k](bool checked) {
            m_logic.checkBoxClicked(k, checked);
            paint();
        });
    }

    auto button = [client](const char *name, const QString &caption, const QString &accessible) {
        auto *b = named(new QPushButton(caption, client), name, accessible);
        b->setAutoDefault(false);
        return b;
    };
    BitBtn1 = button("BitBtn1", QString(), QStringLiteral("Vorige Frage"));
    BitBtn1->setIcon(style()->standardIcon(QStyle::SP_ArrowLeft));
    BitBtn1->setToolTip(QStringLiteral("Vorige Frage"));
    BitBtn1->setGeometry(g.bitBtn1);
    BitBtn2 = button("BitBtn2", QString(), QStringLiteral("Nächste Frage"));
    BitBtn2->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
    BitBtn2->setToolTip(QStringLiteral("Nächste Frage"));
    BitBtn2->setGeometry(g.bitBtn2);
    for (QPushButton *b : {BitBtn1, BitBtn2})
        b->setIconSize(QSize(22, 22));
    BitBtn3 = button("BitBtn3", QStringLiteral("Präsentieren"), QStringLiteral("Präsentieren"));
    BitBtn3->setGeometry(g.bitBtn3);
    Button1 = button("Button1", QStringLiteral("Antwort Statistik"), QStringLiteral("Antwort Statistik"));
    Button1->setGeometry(g.button1);
    connect(BitBtn1, &QPushButton::clicked, this, &TFMain::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &TFMain::BitBtn2Click);
    connect(BitBtn3, &QPushButton::clicked, this, &TFMain::BitBtn3Click);
    connect(Button1, &QPushButton::clicked, this, &TFMain::Button1Click);

    // The file operations and "Leere Frage einfügen" are the handlers of buttons that are never
    // shown; the menu entries run the same handlers.
    const std::pair<const char *, void (TFMain::*)()> hidden[] = {{"BitBtn9", &TFMain::BitBtn9Click},
                                                                  {"BitBtn6", &TFMain::BitBtn6Click},
                                                                  {"BitBtn7", &TFMain::BitBtn7Click},
                                                                  {"BitBtn8", &TFMain::BitBtn8Click},
                                                                  {"BitBtn4", &TFMain::BitBtn4Click}};
    for (const auto &[name, handler] : hidden) {
        auto *b = button(name, QString(), QString::fromLatin1(name));
        b->hide();
        connect(b, &QPushButton::clicked, this, handler);
    }

    // The tab order follows the page: question, layout, answers with their flags, buttons.
    QWidget *previous = Memo1;
    auto chain = [&previous](QWidget *next) {
        setTabOrder(previous, next);
        previous = next;
    };
    for (QAbstractButton *radio : m_layoutButtons->buttons())
        chain(radio);
    for (size_t i = 0; i < 5; ++i) {
        chain(m_edits[i]);
        chain(m_checks[i]);
    }
    chain(BitBtn1);
    chain(BitBtn2);
    chain(Button1);
    chain(BitBtn3);

    buildMenu();
    paint();
    setFixedSize(kMainClientSize.width(), kMainClientSize.height() + menuBar()->sizeHint().height());
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

void TFMain::buildMenu()
{
    auto entry = [this](QMenu *menu, const char *name, const QString &caption, void (TFMain::*handler)(),
                        const QKeySequence &keys = {}) {
        QAction *a = menu->addAction(caption);
        a->setObjectName(QLatin1String(name));
        a->setShortcut(keys);
        connect(a, &QAction::triggered, this, handler);
        return a;
    };
    QMenu *datei = menuBar()->addMenu(QStringLiteral("&Datei"));
    datei->setObjectName(QStringLiteral("Datei1"));
    entry(datei, "Neu1", QStringLiteral("&Neu"), &TFMain::BitBtn9Click, QKeySequence::New);
    entry(datei, "Laden1", QStringLiteral("&Laden"), &TFMain::BitBtn6Click, QKeySequence::Open);
    entry(datei, "Speichern1", QStringLiteral("&Speichern"), &TFMain::BitBtn7Click, QKeySequence::Save);
    entry(datei, "Speichernunter1", QStringLiteral("Speichern &unter ..."), &TFMain::BitBtn8Click,
          QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    datei->addSeparator();
    entry(datei, "XMLExportderResultatefrExcel1", QStringLiteral("XML-Export der Resultate für Excel"),
          &TFMain::XMLExportderResultatefrExcel1Click);
    // Questions in and out of the question banks of learning platforms.
    entry(datei, "Fragenimportieren1", QStringLiteral("Fragen &importieren ..."),
          &TFMain::Fragenimportieren1Click);
    entry(datei, "Fragenexportieren1", QStringLiteral("Fragen e&xportieren ..."),
          &TFMain::Fragenexportieren1Click);

    QMenu *frage = menuBar()->addMenu(QStringLiteral("&Frage"));
    frage->setObjectName(QStringLiteral("Frage1"));
    entry(frage, "kopieren1", QStringLiteral("&kopieren"), &TFMain::kopieren1Click);
    entry(frage, "ausschneiden1", QStringLiteral("&ausschneiden / löschen"), &TFMain::ausschneiden1Click);
    entry(frage, "einfgen1", QStringLiteral("&einfügen"), &TFMain::einfgen1Click);
    frage->addSeparator();
    entry(frage, "LeereFrageeinfgen1", QStringLiteral("&Leere Frage einfügen"), &TFMain::BitBtn4Click);
    // Paging from the keyboard, with the same rules as the two arrow buttons.
    frage->addSeparator();
    m_previousAction = entry(frage, "VorigeFrage1", QStringLiteral("&Vorige Frage"), &TFMain::BitBtn1Click,
                             QKeySequence(Qt::Key_PageUp));
    m_nextAction = entry(frage, "NaechsteFrage1", QStringLiteral("&Nächste Frage"), &TFMain::BitBtn2Click,
                         QKeySequence(Qt::Key_PageDown));
}

void TFMain::paint()
{
    buildControls();
    m_painting = true;
    const EditorControls &c = m_logic.controls();
    if (Memo1->toPlainText() != c.memo) {
        Memo1->setPlainText(c.memo);
        Memo1->moveCursor(QTextCursor::End);
    }
    const int shown = visibleAnswers(c.layoutIndex);
    for (int k = 1; k <= 5; ++k) {
        const auto i = size_t(k - 1);
        if (m_edits[i]->text() != c.edits[i])
            m_edits[i]->setText(c.edits[i]);
        m_edits[i]->setEnabled(answerEditable(c.layoutIndex, k));
        m_checks[i]->setChecked(c.checks[i]);
        for (QWidget *w : {static_cast<QWidget *>(m_edits[i]), static_cast<QWidget *>(m_letters[i]),
                           static_cast<QWidget *>(m_checks[i])})
            w->setVisible(k <= shown);
    }
    if (QAbstractButton *b = m_layoutButtons->button(c.layoutIndex))
        b->setChecked(true);
    Label1->setText(QStringLiteral("Frage %1").arg(m_logic.AktFrage()));
    setWindowTitle(m_logic.caption());
    m_painting = false;
    // Showing a question gives the question text the focus.
    if (m_shownCount != m_logic.showCount()) {
        m_shownCount = m_logic.showCount();
        Memo1->setFocus();
    }
}

void TFMain::Memo1Change()
{
    if (m_painting)
        return;
    m_logic.memoChanged(Memo1->toPlainText());
    // Typing past the limit: the text is cut back, the cursor stays at its end.
    paint();
}

void TFMain::BitBtn1Click()
{
    m_logic.previousClicked();
    paint();
}

void TFMain::BitBtn2Click()
{
    m_logic.nextClicked();
    paint();
}

void TFMain::BitBtn3Click()
{
    // Starting the presentation may run the event loop; a second click does nothing meanwhile.
    ReentryGuard guard(m_presenting);
    if (!guard)
        return;
    const QString file = m_logic.presentClicked();
    paint();
    if (file.isEmpty() || !m_services.presentSeries)
        return;
    if (m_services.presentSeries(file))
        hide();
}

void TFMain::Button1Click()
{
    if (m_logic.statisticsClicked() && m_services.showStatistics)
        m_services.showStatistics(*this);
}

void TFMain::BitBtn4Click()
{
    m_logic.insertEmptyClicked();
    paint();
}

void TFMain::BitBtn6Click()
{
    m_logic.loadClicked();
    paint();
}

void TFMain::BitBtn7Click()
{
    m_logic.saveClicked();
    paint();
}

void TFMain::BitBtn8Click()
{
    m_logic.saveAsClicked();
    paint();
}

void TFMain::BitBtn9Click()
{
    m_logic.newClicked();
    paint();
}

void TFMain::kopieren1Click()
{
    m_logic.copyClicked();
    paint();
}

void TFMain::ausschneiden1Click()
{
    m_logic.cutClicked();
    paint();
}

void TFMain::einfgen1Click()
{
    m_logic.pasteClicked();
    paint();
}

void TFMain::XMLExportderResultatefrExcel1Click()
{
    m_logic.exportClicked();
}

void TFMain::Fragenimportieren1Click()
{
    m_logic.importQuestionsClicked();
    paint();
}

void TFMain::Fragenexportieren1Click()
{
    m_logic.exportQuestionsClicked();
    paint();
}

bool TFMain::eventFilter(QObject *watched, QEvent *event)
{
    // The question text would take Page Up and Page Down for scrolling; here they page questions.
    if (watched == Memo1
        && (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress)) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (isPageKey(key)) {
            if (event->type() == QEvent::KeyPress)
                (key->key() == Qt::Key_PageUp ? m_previousAction : m_nextAction)->trigger();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (event->spontaneous()) // de-minimised, not shown
        return;
    m_logic.showStep();
    m_shownCount = -1;
    paint();
}

void TFMain::closeEvent(QCloseEvent *event)
{
    if (!m_logic.closing()) {
        // The save the lecturer asked for failed: the window stays open with the changes.
        paint();
        event->ignore();
        return;
    }
    event->accept();
    m_services.showStartWindow();
}

} // namespace kv
