// Kelvora: the lecturer's client. Creates the windows in their order; each lives for the whole run.

#include <QApplication>

#include "aboutf.h"
#include "buildconfig.h"
#include "direktvotef.h"
#include "einstellungenf.h"
#include "mainf.h"
#include "showf.h"
#include "startf.h"
#include "startfenster.h"
#include "statistikf.h"

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kelvora"));
    QApplication::setApplicationVersion(QStringLiteral("2.5"));

    const QStringList parameters = QApplication::arguments().mid(1);
    kv::Tfstart start(kv::StartUmgebung::ausDemSystem(parameters));
    kv::TFMain editor;
    kv::TFdirektvote sofort;
    kv::TFshow show;
    kv::TFEinstellungen einstellungen(&start);
    kv::Taboutf about(QString::fromUtf8(kv::kBasisURL));
    kv::TFStatistik statistik;

    kv::setStartFenster(&start);
    start.setFenster(&editor, &sofort, &show, &einstellungen);
    start.show();
    return app.exec();
}
