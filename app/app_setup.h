#pragma once
// What the program sets up before its windows exist: the glyph cache, the application icon, and
// the answers to "--version" and "--help".
#include <QCoreApplication>
#include <QFileInfo>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "core/data_files.h"
#include "core/server_address.h"
#include "platform/config_files.h"
#include "ui/common/build_config.h"

namespace kv {

// Glyphs up to 256 px are rasterised once and cached; above the raster engine's default of 64 px
// it fills every glyph's outline on every paint, which on a 4K projector takes tens of
// milliseconds per page of the presentation. Takes effect only before the first text is drawn,
// so main() calls it before the application exists. A value set outside is kept.
inline void cacheLargeGlyphs()
{
    if (!qEnvironmentVariableIsSet("QT_MAX_CACHED_GLYPH_SIZE"))
        qputenv("QT_MAX_CACHED_GLYPH_SIZE", "256");
}

// The poll server's address as the run uses it: the built-in one, or the one kelvora.conf sets.
inline ServerAddress configuredServerAddress()
{
    return readServerAddress(QString::fromUtf8(kBasisURL), clientConfigFiles());
}

// The sizes of the hicolor icon theme the icon comes in (data/icons/kelvora-<size>.png).
inline constexpr int kIconSizes[] = {16, 32, 48, 64, 128, 256};

// The application icon in every size, from the PNGs compiled into the program (resource
// ":/icons/"): Qt reads PNG without a plugin, an SVG would need one it does not load by default.
// Set with QApplication::setWindowIcon, it is the icon of every window.
inline QIcon applicationIcon()
{
    QIcon icon;
    for (const int size : kIconSizes)
        icon.addFile(QStringLiteral(":/icons/kelvora-%1.png").arg(size), QSize(size, size));
    return icon;
}

// "--version" as the one and only parameter asks for the version instead of a series file (a
// series named so is still opened as "--version.kvf"). Package tests use it to see that an
// installed program starts and finds its data files.
inline bool isVersionRequest(const QStringList &parameters)
{
    return parameters == QStringList{QStringLiteral("--version")};
}

// The answer to "--version" for a program in `progDir`: the version and the template of the
// results export with the place it is read from, or "(fehlt)" when it is missing.
inline QString versionText(const QString &progDir)
{
    const QString header = dataFilePath(QStringLiteral("xmlheader.txt"), progDir);
    return QLatin1String("Kelvora ") + QLatin1String(kVersion) + QLatin1String("\nxmlheader.txt: ") + header
           + (QFileInfo(header).isFile() ? QString() : QStringLiteral(" (fehlt)")) + QLatin1Char('\n');
}

// The line of "--version" that names the server's address and where it came from.
inline QString serverAddressText(const ServerAddress &server)
{
    return QLatin1String("Server: ") + server.url
           + (server.source.isEmpty() ? QStringLiteral(" (eingebaut)\n")
                                      : QLatin1String(" (aus ") + server.source + QLatin1String(")\n"));
}

inline const char *kUsage =
    "Aufruf: kelvora [SERIENDATEI]\n"
    "        kelvora --version\n"
    "        kelvora --help\n"
    "\n"
    "SERIENDATEI  die Umfrageserie (.kvf), mit der das Programm startet\n"
    "--version    Version, Vorlage des Exports und Serveradresse mit ihrer Herkunft\n"
    "--help       dieser Text\n"
    "\n"
    "Die Serveradresse steht als Zeile server=URL in /etc/kelvora/kelvora.conf oder,\n"
    "vorrangig, in $XDG_CONFIG_HOME/Kelvora/kelvora.conf (sonst\n"
    "~/.config/Kelvora/kelvora.conf); ohne sie gilt die eingebaute Adresse.\n";

// Answers "--version" (with the server's address and the problems of its configuration files)
// or "--help" on standard output and returns true when the command line is one of them; returns
// false at once otherwise. Runs before the GUI exists, so that it needs no display.
inline bool printVersionWhenAsked(int &argc, char **argv, const ServerAddress &server)
{
    QStringList parameters;
    for (int i = 1; i < argc; ++i)
        parameters << QString::fromLocal8Bit(argv[i]);
    if (parameters == QStringList{QStringLiteral("--help")}) {
        std::fputs(kUsage, stdout);
        return true;
    }
    if (!isVersionRequest(parameters))
        return false;
    const QCoreApplication core(argc, argv);
    for (const QString &problem : server.problems)
        std::fprintf(stderr, "kelvora: %s\n", qPrintable(problem));
    std::fputs(qPrintable(versionText(QCoreApplication::applicationDirPath()) + serverAddressText(server)),
               stdout);
    return true;
}

} // namespace kv
