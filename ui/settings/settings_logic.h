#pragma once
// The settings dialog's decisions, without widgets: the controls' values read from the settings
// record and written back with their fallbacks, and the rule that building up one after another
// ("Nacheinander") and starting the poll at once ("AutoStart") exclude each other, which the
// presentation's context menu follows too.

#include <QString>

#include "core/records.h"
#include "ui/common/dialogs.h"

namespace kv {

// The pair of start options. Switching one on switches the other off; switching one off leaves
// the other as it is.
struct StartOptions {
    bool nacheinander = false;
    bool autoStart = false;

    void setNacheinander(bool on);
    void setAutoStart(bool on);

    // As loading the dialog does: "Nacheinander" first, then "AutoStart", each as a click would.
    static StartOptions of(const TIniDaten &ini);
    void writeTo(TIniDaten &ini) const;
};

// What the dialog's controls hold: check boxes as flags, edit fields as their texts.
struct SettingsForm {
    StartOptions start;
    bool zwischenseiten = false;      // CheckBox3
    bool grosseSchrift = false;       // CheckBox4
    bool buttonsZeigen = false;       // CheckBox5
    bool ohneErgebnis = false;        // CheckBox6
    bool countdownZeigen = false;     // CheckBox7
    bool eineStimmeProGeraet = false; // CheckBox8
    QString countdownZeit;            // Edit1
    QString proxyServer;              // Edit2
    QString proxyPort;                // Edit3
};

class SettingsLogic {
public:
    SettingsLogic(TIniDaten &ini, Dialogs &dialogs) : m_ini(ini), m_dialogs(dialogs) {}

    // The controls := the settings fields.
    SettingsForm load() const;
    // The settings fields := the controls. A port or countdown that is no whole number becomes
    // 8080 or 30, the lecturer is told, and the returned form holds what the controls show then.
    SettingsForm store(SettingsForm form);

private:
    TIniDaten &m_ini;
    Dialogs &m_dialogs;
};

} // namespace kv
