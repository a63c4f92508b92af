#include "statistikf.h"

namespace kv {

bool StatistikSofort = false;
int StatistikFrage = 1;

TFStatistik::TFStatistik(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TFStatistik"));
    setWindowTitle(QStringLiteral("Antwort-Statistik"));
}

} // namespace kv
