#pragma once
// A window that must see its controls' keys and clicks before they do (the presentation steps on
// an arrow key whichever control has the focus) watches its own widgets only: the filter is
// installed on the window and every widget in it, also on those made later, and on nothing else,
// so the other windows' events never pass through it.

class QObject;
class QWidget;

namespace kv {

// Installs `filter` on `window` and on every widget below it, now and whenever one is added.
void watchOwnEvents(QWidget *window, QObject *filter);

} // namespace kv
