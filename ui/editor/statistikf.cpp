#include "ui/editor/statistikf.h"

namespace kv {

TFStatistik::TFStatistik(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TFStatistik"));
    setWindowTitle(QStringLiteral("Antwort-Statistik"));
}

} // namespace kv
