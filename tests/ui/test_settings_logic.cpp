// The settings dialog's decisions: the exclusive start options, and the fallbacks when the
// settings are stored.
#include <gtest/gtest.h>

#include "core/recdef.h"
#include "tests/support/qt_printers.h"
#include "tests/support/scripted_dialogs.h"
#include "ui/settings/settings_logic.h"

using namespace kv;

namespace {

TEST(StartOptions, SwitchingOneOnSwitchesTheOtherOff)
{
    enum Switch { Nacheinander, AutoStart };
    struct Row {
        StartOptions before;
        Switch which;
        bool on;
        StartOptions after;
    };
    const Row rows[] = {
        {{false, true}, Nacheinander, true, {true, false}},
        {{true, false}, AutoStart, true, {false, true}},
        {{true, false}, Nacheinander, false, {false, false}},
        {{false, true}, AutoStart, false, {false, false}},
        {{false, false}, AutoStart, true, {false, true}},
    };
    for (const Row &r : rows) {
        StartOptions o = r.before;
        r.which == Nacheinander ? o.setNacheinander(r.on) : o.setAutoStart(r.on);
        EXPECT_EQ(o.nacheinander, r.after.nacheinander);
        EXPECT_EQ(o.autoStart, r.after.autoStart);
    }
    // Loading a record with both set keeps the one loaded last, as two clicks would.
    TIniDaten ini;
    ini.setDefaults();
    ini.Nacheinander = ini.AutoStart = 1;
    EXPECT_FALSE(StartOptions::of(ini).nacheinander);
    EXPECT_TRUE(StartOptions::of(ini).autoStart);
}

TEST(SettingsLogic, NumbersThatAreNotWholeFallBackAndTheLecturerIsTold)
{
    struct Row {
        const char *port, *seconds;
        uint16_t storedPort, storedSeconds;
        QStringList told;
    };
    const QString portText = QStringLiteral(
        "Ihre Angabe für den Proxyport wurde auf 8080 gesetzt, da Sie keine ganze Zahl eingegeben haben.");
    const QString secondsText = QStringLiteral("Ihre Angabe für die Countdown-Zeit wurde auf 30 Sekunden "
                                               "gesetzt, da Sie keine ganze Zahl eingegeben haben.");
    const Row rows[] = {{"3128", "45", 3128, 45, {}},
                        {"", "45", 8080, 45, {portText}},
                        {"31x", "4.5", 8080, 30, {portText, secondsText}}};
    for (const Row &r : rows) {
        test::ScriptedDialogs dialogs;
        TIniDaten ini;
        ini.setDefaults();
        SettingsLogic logic(ini, dialogs);
        SettingsForm f = logic.load();
        f.proxyPort = QString::fromLatin1(r.port);
        f.countdownZeit = QString::fromLatin1(r.seconds);
        f.proxyServer = QStringLiteral(" "); // a lone blank means no proxy
        const SettingsForm shown = logic.store(f);
        EXPECT_EQ(ini.ProxyPort, r.storedPort) << r.port;
        EXPECT_EQ(ini.CountdownZeit, r.storedSeconds) << r.seconds;
        EXPECT_EQ(shown.proxyPort, QString::number(r.storedPort));
        EXPECT_EQ(shown.countdownZeit, QString::number(r.storedSeconds));
        EXPECT_TRUE(shown.proxyServer.isEmpty());
        EXPECT_EQ(dialogs.shown, r.told);
        EXPECT_EQ(logic.load().proxyPort, shown.proxyPort); // what is shown is what is stored
    }
}

} // namespace
