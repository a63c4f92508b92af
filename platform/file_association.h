#pragma once
// Associates series files (*.kvf) with the running program, so that opening one in the file
// manager starts Kelvora with it. Runs at every program start; it only writes when the
// association is missing or names another program file.
//
// Windows: file class "kvffile" under HKEY_CLASSES_ROOT, written only by an administrator.
// Elsewhere: the user's own freedesktop MIME package and desktop entry below the XDG data home.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>

namespace kv {

enum class AssociationStatus {
    AlreadyCurrent, // the association names this program already; nothing was written
    Written,        // the association was (re)written
    NotPermitted,   // the association may not or cannot be written here; nothing was written
    Failed,         // writing was attempted and failed
};

// Makes *.kvf open with `exePath` (the full path of the running program). Never shows a message,
// never throws, never waits for other programs; every failure is ignored.
void registerSeriesFileType(const QString &exePath) noexcept;

// ---- Windows registry values (built on every platform) ----------------------------------------

// The open command: the program in quotes, one blank, "%1" in quotes. "/" becomes "\".
QString windowsOpenCommand(const QString &exePath);
// The DefaultIcon value: the program followed by ",0". "/" becomes "\".
QString windowsIconValue(const QString &exePath);

// ---- freedesktop --------------------------------------------------------------------------------

inline constexpr char kSeriesMimeType[] = "application/x-kelvora-series";

// The user's data home, ending in "/": $XDG_DATA_HOME when absolute, otherwise
// $HOME/.local/share when $HOME is absolute, otherwise empty.
QString xdgDataHome();

// Where the association lives below a data home.
QString mimePackagePath(const QString &dataHome);  // mime/packages/kelvora-series.xml
QString desktopEntryPath(const QString &dataHome); // applications/kelvora.desktop

// The whole "Exec=..." line of the desktop entry: the program as a quoted argument followed by
// %f. Inside the quotes '"', '`', '$' and '\' get a backslash, '%' is doubled; then, as for
// every string value of a desktop entry, each backslash is doubled again and control characters
// become \n, \t, \r. A literal "$" thus reads \\$ and a literal "\" reads \\\\ in the file.
QString desktopExecLine(const QString &exePath);

// File contents. The desktop entry's icon is "kelvora.svg" beside the program.
QByteArray seriesMimePackage();
QByteArray desktopEntry(const QString &exePath);

// True when both files exist, the desktop entry's Exec line is the one for `exePath` exactly and
// the MIME package declares the glob "*.kvf" for the series type.
bool seriesAssociationCurrent(const QString &dataHome, const QString &exePath);

// Starts a helper program without waiting for it.
using ToolLauncher = std::function<void(const QString &program, const QStringList &arguments)>;
// The launcher used at start-up: runs `program` detached, its output discarded, when it is found
// on PATH; otherwise does nothing.
void startToolDetached(const QString &program, const QStringList &arguments);

// Checks the association below `dataHome` and writes both files when it is not current (each
// replaced as a whole, never left half-written). After writing, asks `launch` to run
// update-mime-database and update-desktop-database on the two folders.
AssociationStatus registerSeriesFileTypeIn(const QString &dataHome, const QString &exePath,
                                           const ToolLauncher &launch = startToolDetached);

// ---- the association of an installed package ----------------------------------------------------

// The system's data folders, each ending in "/": the absolute entries of $XDG_DATA_DIRS, or
// /usr/local/share/ and /usr/share/ when it names none.
QStringList xdgDataDirs();

// The program an Exec line ("Exec=...") starts, with the desktop entry's escapes and quoting
// removed; a name without a folder is looked up on PATH. Empty when the line names none.
QString desktopExecProgram(const QString &execLine);

// True when one of `systemDataDirs` holds the association of an installed package for
// `exePath`: a desktop entry "applications/kelvora.desktop" that declares the series type and
// whose Exec line starts this very program file, beside a MIME package that declares "*.kvf".
bool systemSeriesAssociationCurrent(const QStringList &systemDataDirs, const QString &exePath);

// The registration at start-up. An installed package provides the association for every user,
// so nothing is written below `dataHome` while the system's one starts `exePath` and the user has
// no desktop entry of his own; an own entry (say, from running a copy of the program elsewhere)
// would hide the system's one and is brought up to date as registerSeriesFileTypeIn does.
AssociationStatus registerSeriesFileTypeFor(const QString &dataHome, const QStringList &systemDataDirs,
                                            const QString &exePath,
                                            const ToolLauncher &launch = startToolDetached);

} // namespace kv
