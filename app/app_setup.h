#pragma once
// What the program sets up before its windows exist: the glyph cache, the application icon, and
// the answer to "--version".
#include <QCoreApplication>
#include <QFileInfo>
#include <QIcon>
#include <QString>
#include <QStringList>
#include <cstdio>

#include "core/data_files.h"
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

// Answers "--version" on standard output and returns true when the command line asks for it;
// returns false at once otherwise. Runs before the GUI exists, so that it needs no display.
inline bool printVersionWhenAsked(int &argc, char **argv)
{
    QStringList parameters;
    for (int i = 1; i < argc; ++i)
        parameters << QString::fromLocal8Bit(argv[i]);
    if (!isVersionRequest(parameters))
        return false;
    const QCoreApplication core(argc, argv);
    std::fputs(qPrintable(versionText(QCoreApplication::applicationDirPath())), stdout);
    return true;
}

} // namespace kv
