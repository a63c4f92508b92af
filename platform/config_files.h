#pragma once
// Where the client's configuration files ("kelvora.conf") lie, the system's first, the user's
// last (the later wins).
#include <QStringList>

namespace kv {

// Linux: /etc/kelvora/kelvora.conf, then kelvora.conf in the per-user "Kelvora" folder of the
// XDG config home ($XDG_CONFIG_HOME, else ~/.config). Windows: only the per-user one, in the
// roaming application-data folder.
QStringList clientConfigFiles();

} // namespace kv
