#include "ui/settings/einstellungenf.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/recdef.h"
#include "ui/common/accessible.h"
#include "ui/common/dialogs.h"

namespace kv {

void HintCheckBox::mouseReleaseEvent(QMouseEvent *event)
{
    // Only a left click that checks the box explains it: not a click that unchecks it, and not
    // another button released over a box that was checked already.
    const bool wasChecked = isChecked();
    QCheckBox::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && !wasChecked && isChecked())
        emit checkedByMouse();
}

TFEinstellungen::TFEinstellungen(Dialogs &dialogs, QWidget *parent)
    : QDialog(parent), m_dialogs(dialogs), m_logic(IniDaten, dialogs)
{
    setObjectName(QStringLiteral("TFEinstellungen"));
    setWindowTitle(QStringLiteral("Einstellungen"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint
                   | Qt::MSWindowsFixedSizeDialogHint);

    auto check = [](auto *box, const char *name) { return named(box, name, box->text()); };
    CheckBox8 = check(new HintCheckBox(QStringLiteral("Nur eine Stimme pro Endgerät zulassen")), "CheckBox8");
    CheckBox1 = check(new QCheckBox(QStringLiteral("Frage && Antworten nacheinander aufbauen")), "CheckBox1");
    CheckBox1->setAccessibleName(QStringLiteral("Frage & Antworten nacheinander aufbauen"));
    CheckBox2 =
        check(new QCheckBox(QStringLiteral("Umfrage beim Anzeigen automatisch starten")), "CheckBox2");
    CheckBox3 = check(new QCheckBox(QStringLiteral("Leere Zwischenseiten nach jeder Umfrage")), "CheckBox3");
    CheckBox6 =
        check(new QCheckBox(QStringLiteral("Umfrage schließen OHNE automatisches\nAnzeigen des Ergebnisses")),
              "CheckBox6");
    CheckBox6->setAccessibleName(
        QStringLiteral("Umfrage schließen OHNE automatisches Anzeigen des Ergebnisses"));
    CheckBox7 = check(new QCheckBox(QStringLiteral("Countdown anzeigen:")), "CheckBox7");
    auto *sekunden = new QLabel(QStringLiteral("Sekunden"));
    Edit1 = named(new QLineEdit(QStringLiteral("30")), "Edit1", sekunden->text());
    sekunden->setBuddy(Edit1);
    CheckBox4 = check(new QCheckBox(QStringLiteral("Große Schrift im Präsentationsmodus")), "CheckBox4");
    CheckBox5 = check(new QCheckBox(QStringLiteral("Buttons im Präsentationsmodus anzeigen")), "CheckBox5");
    auto *proxyLabel = new QLabel(QStringLiteral("Ggf. Proxyserver:"));
    Edit2 = named(new QLineEdit, "Edit2", proxyLabel->text());
    Edit2->setMaxLength(200);
    proxyLabel->setBuddy(Edit2);
    auto *portLabel = new QLabel(QStringLiteral("Ggf. Proxyport:"));
    Edit3 = named(new QLineEdit, "Edit3", portLabel->text());
    portLabel->setBuddy(Edit3);
    Button1 = named(new QPushButton(QStringLiteral("Schließen")), "Button1", QStringLiteral("Schließen"));

    auto *layout = new QVBoxLayout(this);
    for (QWidget *w : {static_cast<QWidget *>(CheckBox8), static_cast<QWidget *>(CheckBox1),
                       static_cast<QWidget *>(CheckBox2), static_cast<QWidget *>(CheckBox3),
                       static_cast<QWidget *>(CheckBox6)})
        layout->addWidget(w);
    auto *countdown = new QHBoxLayout;
    countdown->addWidget(CheckBox7);
    Edit1->setMaximumWidth(50);
    countdown->addWidget(Edit1);
    countdown->addWidget(sekunden);
    countdown->addStretch();
    layout->addLayout(countdown);
    layout->addWidget(CheckBox4);
    layout->addWidget(CheckBox5);
    auto *line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    layout->addWidget(line);
    layout->addWidget(proxyLabel);
    layout->addWidget(Edit2);
    auto *port = new QHBoxLayout;
    port->addWidget(portLabel);
    port->addWidget(Edit3);
    layout->addLayout(port);
    layout->addWidget(Button1, 0, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // The two exclusive options: building up one after another and starting at once.
    connect(CheckBox1, &QCheckBox::clicked, this, [this](bool on) {
        StartOptions o{CheckBox1->isChecked(), CheckBox2->isChecked()};
        o.setNacheinander(on);
        showStartOptions(o);
    });
    connect(CheckBox2, &QCheckBox::clicked, this, [this](bool on) {
        StartOptions o{CheckBox1->isChecked(), CheckBox2->isChecked()};
        o.setAutoStart(on);
        showStartOptions(o);
    });
    connect(CheckBox8, &HintCheckBox::checkedByMouse, this, [this] {
        m_dialogs.message(QStringLiteral(
            "Durch diese Einstellung machen Sie das Weitergeben z.B. eines Smartphones an den Sitznachbarn "
            "ohne entsprechendes Gerät unmöglich. Auch die Verwendung des Browsers zum Abstimmen (HTML) ist "
            "mit dieser Option nicht mehr möglich. Wenn diese Option nicht gewählt ist, gilt immer noch eine "
            "10-Sekunden-Sperre nach jeder Abstimmung."));
    });
    // "Schließen" closes; done() stores the controls, as for every other way of closing.
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TFEinstellungen::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        load();
}

void TFEinstellungen::showStartOptions(const StartOptions &o)
{
    CheckBox1->setChecked(o.nacheinander);
    CheckBox2->setChecked(o.autoStart);
}

void TFEinstellungen::showForm(const SettingsForm &f)
{
    showStartOptions(f.start);
    CheckBox3->setChecked(f.zwischenseiten);
    CheckBox4->setChecked(f.grosseSchrift);
    CheckBox5->setChecked(f.buttonsZeigen);
    CheckBox6->setChecked(f.ohneErgebnis);
    CheckBox7->setChecked(f.countdownZeigen);
    CheckBox8->setChecked(f.eineStimmeProGeraet);
    Edit1->setText(f.countdownZeit);
    Edit2->setText(f.proxyServer);
    Edit3->setText(f.proxyPort);
}

void TFEinstellungen::load()
{
    showForm(m_logic.load());
}

void TFEinstellungen::store()
{
    SettingsForm f;
    f.start = {CheckBox1->isChecked(), CheckBox2->isChecked()};
    f.zwischenseiten = CheckBox3->isChecked();
    f.grosseSchrift = CheckBox4->isChecked();
    f.buttonsZeigen = CheckBox5->isChecked();
    f.ohneErgebnis = CheckBox6->isChecked();
    f.countdownZeigen = CheckBox7->isChecked();
    f.eineStimmeProGeraet = CheckBox8->isChecked();
    f.countdownZeit = Edit1->text();
    f.proxyServer = Edit2->text();
    f.proxyPort = Edit3->text();
    showForm(m_logic.store(f));
    emit stored();
}

void TFEinstellungen::done(int result)
{
    store();
    QDialog::done(result);
}

} // namespace kv
