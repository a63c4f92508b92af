#include "ui/about/aboutf.h"

#include <QLabel>
#include <QVBoxLayout>

#include "ui/common/accessible.h"
#include "ui/common/build_config.h"

namespace kv {

Taboutf::Taboutf(const QString &basisURL, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Taboutf"));
    setWindowTitle(QStringLiteral("Info"));
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Kelvora ") + QLatin1String(kVersion)
                                 + QStringLiteral(" – Abstimmungen im Hörsaal")));
    const QString link = basisURL + QStringLiteral("Dozenten_Hilfe.pdf");
    auto *label =
        named(new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(link.toHtmlEscaped())), "Label1", link);
    label->setOpenExternalLinks(true);
    layout->addWidget(label);
}

} // namespace kv
