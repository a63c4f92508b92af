#include "ui/start/startf.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "core/recdef.h"
#include "core/settings.h"
#include "net/http_client.h"
#include "ui/common/accessible.h"
#include "ui/common/build_config.h"
#include "ui/common/own_events.h"

namespace kv {

Tfstart::Tfstart(StartEnvironment environment, WindowServices services, HttpClient &http, QWidget *parent)
    : QWidget(parent), m_environment(std::move(environment)), m_http(http), m_services(std::move(services)),
      m_logic(m_services.session, m_services.server, m_services.dialogs)
{
    setObjectName(QStringLiteral("Tfstart"));
    setWindowTitle(QStringLiteral("Kelvora ") + QLatin1String(kVersion));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

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
    connect(CheckBox1, &QCheckBox::toggled, this, [this](bool checked) { m_logic.merkenClicked(checked); });
    connect(vorgewaehlt_timer, &QTimer::timeout, this, &Tfstart::vorgewaehltTimerTick);
    // The window sees every key before its controls do (the user ID box keeps its key releases).
    watchOwnEvents(this, this);

    m_logic.setOd1Folder(m_services.session.DataDir);
    Combo1->clear();
    CheckBox1->setChecked(isSet(m_services.session.IniDaten.Merken));
    Combo1->addItems(RememberedUserIDs(m_services.session.IniDaten));
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString());

    adjustSize();
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

Tfstart::~Tfstart() = default;

void Tfstart::applyProxy()
{
    m_http.setProxy(m_services.session.IniDaten.ProxyServer.text(), m_services.session.IniDaten.ProxyPort);
}

void Tfstart::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous()) // de-minimised, not shown
        return;
    if (Combo1->count() == 1) {
        Combo1->setCurrentIndex(0);
        Combo1Select();
    }
    if (m_logic.showStepStartsTimer(Combo1->count()))
        vorgewaehlt_timer->start();
}

void Tfstart::vorgewaehltTimerTick()
{
    if (!m_logic.vorgewaehltTick())
        return;
    vorgewaehlt_timer->stop();
    Button3Click();
}

void Tfstart::Combo1Select()
{
    if (const auto pw = LookupPassword(m_services.session.IniDaten, Combo1->currentText()))
        Edit2->setText(*pw);
}

void Tfstart::showInsteadOfStart(const std::function<void()> &show)
{
    if (show)
        show();
    hide();
}

void Tfstart::Button1Click()
{
    if (m_logic.login(StartAction::InstantPoll, Combo1->currentText(), Edit2->text())
        == StartLogic::LoginResult::Accepted)
        showInsteadOfStart(m_services.showInstantPoll);
}

void Tfstart::Button2Click()
{
    if (m_logic.login(StartAction::PresentSeries, Combo1->currentText(), Edit2->text())
            != StartLogic::LoginResult::Accepted
        || !m_services.presentSeries)
        return;
    const QString file = m_logic.seriesToPresent();
    if (!file.isEmpty() && m_services.presentSeries(file))
        hide();
}

void Tfstart::Button3Click()
{
    if (m_logic.login(StartAction::EditSeries, Combo1->currentText(), Edit2->text())
        == StartLogic::LoginResult::Accepted)
        showInsteadOfStart(m_services.showEditor);
}

void Tfstart::Button4Click()
{
    if (m_services.showSettings)
        m_services.showSettings();
    applyProxy();
}

void Tfstart::Button6Click()
{
    m_logic.openHelp(m_environment.basisURL + QStringLiteral("Dozenten_Hilfe.pdf"),
                     m_environment.openDocument);
}

bool Tfstart::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyRelease && watched->isWidgetType()
        && static_cast<QWidget *>(watched)->window() == this) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_O && (key->modifiers() & Qt::ControlModifier))
            ctrlO();
    }
    return QWidget::eventFilter(watched, event);
}

void Tfstart::ctrlO()
{
    m_logic.setOd1Folder(m_services.session.ProgDir);
    if (m_services.setEditorOpenFolder)
        m_services.setEditorOpenFolder(m_services.session.ProgDir);
}

void Tfstart::closeEvent(QCloseEvent *event)
{
    if (IoStatus st = SaveSettings(m_services.session.IniDaten, m_services.session.IniDir); !st)
        m_services.dialogs.message(st.error);
    event->accept();
    QCoreApplication::quit();
}

} // namespace kv
