#pragma once
// The poll server's base URL the client talks to: built into the program, or set by a
// configuration file ("kelvora.conf") that a campus image puts in the system's folder or a
// lecturer in the per-user folder. A file has lines "server=URL"; blank lines and lines starting
// with "#" or ";" are comments, other keys are left for later versions.
#include <QString>
#include <QStringList>

namespace kv {

struct ServerAddress {
    QString url;          // absolute http:// or https:// URL ending in "/"
    QString source;       // the file it came from; empty: the built-in address
    QStringList problems; // one message per value that cannot be used, naming file and line
};

// Whether `url` can be the base URL: an absolute http:// or https:// URL with a host, ending in
// "/", without blanks, query or fragment.
bool isServerBaseUrl(const QString &url);

// Reads `files` in order, a later one winning over an earlier one (the system's file first, then
// the user's); a missing file is skipped without a word. The last "server=" line of the winning
// file gives the address; a value that is no base URL is reported, and then the built-in address
// is used, not the one of an earlier file: what the file's author meant is not known.
ServerAddress readServerAddress(const QString &builtIn, const QStringList &files);

} // namespace kv
