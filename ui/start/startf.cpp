#include "startf.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QKeyEvent>
#include <QTimer>

#include "accessible.h"
#include "fileassociation.h"
#include "buildconfig.h"
#include "direktvotef.h"
#include "einstellungenf.h"
#include "folders.h"
#include "mainf.h"
#include "documents.h"
#include "recdef.h"
#include "settings.h"
#include "showf.h"
#include "specialfolders.h"

namespace kv {

StartUmgebung StartUmgebung::ausDemSystem(const QStringList &parameters)
{
    StartUmgebung u;
    u.basisURL = QString::fromUtf8(kBasisURL);
    u.exePath = QCoreApplication::applicationFilePath();
    u.parameters = parameters;
    u.specialDirectory = SpecialDirectory;
    u.registerFileType = [](const QString &exe) { RegisterSeriesFileType(exe); };
    u.openDocument = [](const QString &url) { return OpenDocument(QUrl(url)); };
    return u;
}

Tfstart::Tfstart(StartUmgebung umgebung, QWidget *parent)
    : QWidget(parent), umgebung_(std::move(umgebung))
{
    setObjectName(QStringLiteral("Tfstart"));
    setWindowTitle(QStringLiteral("Kelvora 2.5"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

    auto *idLabel = new QLabel(QStringLiteral("User-ID"));
    Combo1 = named(new QComboBox, "Combo1", idLabel->text());
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    idLabel->setBuddy(Combo1);
    auto *pwLabel = new QLabel(QStringLiteral("Passwort"));
    Edit2 = named(new QLineEdit, "Edit2", pwLabel->text());
    Edit2->setEchoMode(QLineEdit::Password);
    pwLabel->setBuddy(Edit2);
    CheckBox1 = named(new QCheckBox(QStringLiteral("merken")), "CheckBox1", QStringLiteral("merken"));
    auto button = [](const char *name, const QString &caption) {
        auto *b = named(new QPushButton(caption), name, caption);
        b->setAutoDefault(false);
        return b;
    };
    Button1 = button("Button1", QStringLiteral("Sofort-Umfrage"));
    Button2 = button("Button2", QStringLiteral("Umfrageserie zeigen"));
    Button3 = button("Button3", QStringLiteral("Umfrageserie bearbeiten"));
    Button4 = button("Button4", QStringLiteral("Einstellungen"));
    Button6 = button("Button6", QStringLiteral("?"));

    auto *grid = new QGridLayout(this);
    grid->addWidget(idLabel, 0, 0);
    grid->addWidget(Combo1, 0, 1, 1, 2);
    grid->addWidget(pwLabel, 1, 0);
    grid->addWidget(Edit2, 1, 1);
    grid->addWidget(CheckBox1, 1, 2);
    grid->addWidget(Button1, 2, 0, 1, 3);
    grid->addWidget(Button2, 3, 0, 1, 3);
    grid->addWidget(Button3, 4, 0, 1, 3);
    grid->addWidget(Button4, 5, 0, 1, 2);
    grid->addWidget(Button6, 5, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);

    vorgewaehlt_timer = new QTimer(this);
    vorgewaehlt_timer->setObjectName(QStringLiteral("vorgewaehlt_timer"));
    vorgewaehlt_timer->setInterval(100);

    connect(Button1, &QPushButton::clicked, this, &Tfstart::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &Tfstart::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &Tfstart::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &Tfstart::Button4Click);
    connect(Button6, &QPushButton::clicked, this, &Tfstart::Button6Click);
    connect(Combo1, &QComboBox::activated, this, [this] { Combo1Select(); });
    connect(CheckBox1, &QCheckBox::toggled, this, &Tfstart::CheckBox1Click);
    connect(vorgewaehlt_timer, &QTimer::timeout, this, &Tfstart::vorgewaehltTimerTick);
    // The window sees every key before its controls do.
    qApp->installEventFilter(this);

    // 1. The HTTP client, with its connect time-out.
    umgebung_.http.connectTimeoutMs = 7500;
    server_ = std::make_unique<ServerAccess>(umgebung_.basisURL, [] { return IniDir; },
                                             static_cast<ServerUi &>(*this), umgebung_.http);
    // 2. The series file type.
    if (umgebung_.registerFileType)
        umgebung_.registerFileType(umgebung_.exePath);
    // 3. The series file named on the command line.
    StartFile = startFileFromArguments(umgebung_.parameters);
    // 4. Folders; the open dialog starts in the data folder.
    const Folders f = DetermineFolders(QFileInfo(umgebung_.exePath).absolutePath(),
                                       umgebung_.specialDirectory ? umgebung_.specialDirectory(26) : QString());
    ProgDir = f.ProgDir;
    DataDir = f.DataDir;
    od1Folder_ = DataDir;
    IniDir = f.IniDir;
    // 5. Settings.
    if (IoStatus st = LoadSettings(IniDaten, IniDir); !st) {
        // The defaults serve for this run; the message tells why nothing was remembered.
        IniDaten.setDefaults();
        dialogs().message(st.error);
    }
    // 6. Proxy.
    applyProxy();
    // 7. Remembered user IDs.
    Combo1->clear();
    CheckBox1->setChecked(isSet(IniDaten.Merken));
    Combo1->addItems(RememberedUserIDs(IniDaten));
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString());

    adjustSize();
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

Tfstart::~Tfstart() = default;

void Tfstart::setFenster(TFMain *editor, TFdirektvote *sofort, TFshow *show, TFEinstellungen *einstellungen)
{
    editor_ = editor;
    sofort_ = sofort;
    show_ = show;
    einstellungen_ = einstellungen;
}

void Tfstart::applyProxy()
{
    server_->client().setProxy(IniDaten.ProxyServer.text(), IniDaten.ProxyPort);
}

void Tfstart::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())  // de-minimised, not shown
        return;
    if (Combo1->count() == 1) {
        Combo1->setCurrentIndex(0);
        Combo1Select();
        if (!StartFile.isEmpty())
            vorgewaehlt_timer->start();
    }
}

void Tfstart::vorgewaehltTimerTick()
{
    if (++vorgewaehltTicks_ < 3)
        return;
    vorgewaehlt_timer->stop();
    vorgewaehltTicks_ = 0;
    Button3Click();
}

void Tfstart::Combo1Select()
{
    if (const auto pw = LookupPassword(IniDaten, Combo1->currentText()))
        Edit2->setText(*pw);
}

void Tfstart::CheckBox1Click(bool checked)
{
    IniDaten.Merken = boolByte(checked);
    if (!checked &&
        dialogs().confirm(QStringLiteral("Sollen alle gemerkten Passwörter gelöscht werden?"),
                          Knoepfe::YesNo) == Antwort::Yes)
        ForgetPasswords(IniDaten);
}

bool Tfstart::login(Aktion aktion)
{
    // A click on an action button while a login check is still waiting for the server is ignored:
    // the first click's check decides, and a double click does not open a window twice.
    if (loginLaeuft_)
        return false;
    loginLaeuft_ = true;
    const bool ok = LoginPruefen(
        aktion, Combo1->currentText(), Edit2->text(),
        [this](const QString &id, const QString &pw) { return server_->BenutzerPruefen(id, pw); },
        IniDaten, dialogs());
    loginLaeuft_ = false;
    return ok;
}

void Tfstart::zeigeUndVerstecke(QWidget *fenster)
{
    if (fenster)
        fenster->show();
    hide();
}

void Tfstart::Button1Click()
{
    if (login(Aktion::SofortUmfrage))
        zeigeUndVerstecke(sofort_);
}

void Tfstart::Button2Click()
{
    if (!login(Aktion::SerieZeigen) || !show_)
        return;
    if (!StartFile.isEmpty()) {
        const QString file = StartFile;
        StartFile.clear();
        if (show_->PraesentationStarten(file))
            zeigeUndVerstecke(show_);
        return;
    }
    const QString file = dialogs().openFile(QStringLiteral("Kelvora file (*.kvf)"), od1Folder_, true);
    if (!file.isEmpty() && show_->PraesentationStarten(file))
        zeigeUndVerstecke(show_);
}

void Tfstart::Button3Click()
{
    if (login(Aktion::SerieBearbeiten))
        zeigeUndVerstecke(editor_);
}

void Tfstart::Button4Click()
{
    if (einstellungen_)
        einstellungen_->exec();
    applyProxy();
}

void Tfstart::Button6Click()
{
    if (umgebung_.openDocument)
        umgebung_.openDocument(umgebung_.basisURL + QStringLiteral("Dozenten_Hilfe.pdf"));
}

bool Tfstart::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyRelease && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == this) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_O && (key->modifiers() & Qt::ControlModifier))
            ctrlO();
    }
    return QWidget::eventFilter(watched, event);
}

void Tfstart::ctrlO()
{
    od1Folder_ = ProgDir;
    if (editor_)
        editor_->setOpenFolder(ProgDir);
}

void Tfstart::closeEvent(QCloseEvent *event)
{
    if (IoStatus st = SaveSettings(IniDaten, IniDir); !st)
        dialogs().message(st.error);
    event->accept();
    QCoreApplication::quit();
}

void Tfstart::showMessage(const QString &text)
{
    dialogs().message(text);
}

void Tfstart::setBusyCursor(bool on)
{
    // Nested requests ask for the busy cursor more than once; it is set and taken back once.
    if (on == busyCursor_)
        return;
    busyCursor_ = on;
    if (on)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

void Tfstart::bringToFront()
{
    if (isMinimized())
        showNormal();
    if (QWidget *w = QApplication::activeWindow() ? QApplication::activeWindow() : this; w->isVisible()) {
        w->raise();
        w->activateWindow();
    }
}

} // namespace kv
