#pragma once
#include <QString>

namespace kv {

// Shell folder number of the per-user roaming application-data folder (CSIDL_APPDATA).
inline constexpr int kAppDataFolder = 26;

// The path of the shell special folder `folder`, ending in "/", or empty when the system cannot
// name it.
//
// Windows: any CSIDL number, as the shell reports it.
// Elsewhere (freedesktop): only kAppDataFolder is known; it maps to the XDG config home, i.e.
// $XDG_CONFIG_HOME when set to an absolute path, otherwise $HOME/.config when $HOME is an
// absolute path. Every other number gives an empty string.
QString SpecialDirectory(int folder);

} // namespace kv
