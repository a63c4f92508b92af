// Draws the audience's voting link as the presentation shows it, for the phone test: asks the
// server at BASE_URL for the link of USER_ID, paints the panel and saves it as a PNG.
// Usage: join_link_sample BASE_URL USER_ID OUT.png     (prints the link it drew)
#include <QApplication>
#include <QTextStream>

#include "net/server_access.h"
#include "tests/support/scripted_dialogs.h"
#include "ui/common/desktop_server_ui.h"
#include "ui/common/join_link.h"
#include "ui/common/join_link_panel.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() != 4) {
        QTextStream(stderr) << "usage: join_link_sample BASE_URL USER_ID OUT.png\n";
        return 2;
    }
    kv::test::ScriptedDialogs dialogs;
    kv::DesktopServerUi ui(dialogs);
    kv::ServerAccess server(
        args[1], [] { return QString(); }, ui);
    kv::JoinLinkSource source(server);
    const QString link = source.fetch(args[2]);

    kv::JoinLinkPanel panel;
    panel.resize(864, 972); // as on a 1920 x 1080 screen
    panel.setContent(link, QString());
    if (!panel.grab().save(args[3]))
        return 1;
    QTextStream(stdout) << link << '\n';
    return dialogs.shown.isEmpty() ? 0 : 1;
}
