#include "ui/settings/settings_logic.h"

#include "core/numbers.h"

namespace kv {

void StartOptions::setNacheinander(bool on)
{
    nacheinander = on;
    if (on)
        autoStart = false;
}

void StartOptions::setAutoStart(bool on)
{
    autoStart = on;
    if (on)
        nacheinander = false;
}

StartOptions StartOptions::of(const TIniDaten &ini)
{
    StartOptions o;
    o.setNacheinander(isSet(ini.Nacheinander));
    o.setAutoStart(isSet(ini.AutoStart));
    return o;
}

void StartOptions::writeTo(TIniDaten &ini) const
{
    ini.Nacheinander = boolByte(nacheinander);
    ini.AutoStart = boolByte(autoStart);
}

SettingsForm SettingsLogic::load() const
{
    const TIniDaten &d = m_ini;
    SettingsForm f;
    f.start = StartOptions::of(d);
    f.zwischenseiten = isSet(d.Zwischenseiten);
    f.grosseSchrift = isSet(d.GrosseSchrift);
    f.buttonsZeigen = isSet(d.ButtonsZeigen);
    f.ohneErgebnis = isSet(d.OhneErgebnis);
    f.countdownZeigen = isSet(d.CountdownZeigen);
    f.eineStimmeProGeraet = isSet(d.EineStimmeProGeraet);
    f.countdownZeit = QString::number(d.CountdownZeit);
    f.proxyServer = d.ProxyServer.text();
    f.proxyPort = QString::number(d.ProxyPort);
    return f;
}

SettingsForm SettingsLogic::store(SettingsForm f)
{
    TIniDaten &d = m_ini;
    f.start.writeTo(d);
    d.GrosseSchrift = boolByte(f.grosseSchrift);
    d.Zwischenseiten = boolByte(f.zwischenseiten);
    d.ButtonsZeigen = boolByte(f.buttonsZeigen);
    d.OhneErgebnis = boolByte(f.ohneErgebnis);
    d.CountdownZeigen = boolByte(f.countdownZeigen);

    if (f.proxyServer == QLatin1String(" "))
        f.proxyServer.clear();
    d.ProxyServer.setText(f.proxyServer.left(200));

    if (const auto port = parseWholeNumber(f.proxyPort)) {
        d.ProxyPort = low16(*port);
    } else {
        m_dialogs.message(QStringLiteral("Ihre Angabe für den Proxyport wurde auf 8080 gesetzt, da Sie keine "
                                         "ganze Zahl eingegeben haben."));
        d.ProxyPort = 8080;
        f.proxyPort = QStringLiteral("8080");
    }
    if (const auto sekunden = parseWholeNumber(f.countdownZeit)) {
        d.CountdownZeit = low16(*sekunden);
    } else {
        d.CountdownZeit = 30;
        m_dialogs.message(QStringLiteral(
            "Ihre Angabe für die Countdown-Zeit wurde auf 30 Sekunden gesetzt, da Sie keine ganze Zahl "
            "eingegeben haben."));
        f.countdownZeit = QStringLiteral("30");
    }
    d.EineStimmeProGeraet = boolByte(f.eineStimmeProGeraet);
    return f;
}

} // namespace kv
