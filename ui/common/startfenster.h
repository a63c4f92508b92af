#pragma once
#include <QWidget>

namespace kv {

// The start window, to which every action window returns when it closes. Set once at start-up.
void setStartFenster(QWidget *start);
// Shows the start window again and brings it to the front.
void zeigeStartFenster();

} // namespace kv
