#include "platform/file_association.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QXmlStreamReader>

#ifdef Q_OS_WIN
#include <string>
#include <vector>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <shlobj.h>
#include <windows.h>
#endif

#include "core/folders.h"
#include "core/safe_file.h"

namespace kv {

namespace {

const QLatin1String kSeriesGlob("*.kvf");
const QLatin1String kTypeDescription("Kelvora-Serie");

QString toBackslashes(QString path)
{
    return path.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

// The escapes every string value of a desktop entry gets.
QString escapeDesktopString(const QString &value)
{
    QString out;
    out.reserve(value.size() + 8);
    for (const QChar c : value) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

// One quoted argument of an Exec line, before the string escapes.
QString quoteExecArgument(const QString &arg)
{
    QString out = QStringLiteral("\"");
    for (const QChar c : arg) {
        switch (c.unicode()) {
        case '"':
        case '`':
        case '$':
        case '\\':
            out += QLatin1Char('\\');
            out += c;
            break;
        case '%':
            out += QLatin1String("%%");
            break;
        default:
            out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

// The lines of the [Desktop Entry] group of a desktop entry file.
QStringList desktopEntryGroup(const QByteArray &content)
{
    QStringList lines;
    bool inGroup = false;
    for (QString line : QString::fromUtf8(content).split(QLatin1Char('\n'))) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        if (line.startsWith(QLatin1Char('[')))
            inGroup = line == QLatin1String("[Desktop Entry]");
        else if (inGroup)
            lines << line;
    }
    return lines;
}

bool declaresSeriesGlob(const QByteArray &xml)
{
    QXmlStreamReader reader(xml);
    bool inSeriesType = false;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
        case QXmlStreamReader::StartElement:
            if (reader.name() == QLatin1String("mime-type"))
                inSeriesType =
                    reader.attributes().value(QLatin1String("type")) == QLatin1String(kSeriesMimeType);
            else if (inSeriesType && reader.name() == QLatin1String("glob")
                     && reader.attributes().value(QLatin1String("pattern")) == kSeriesGlob)
                return true;
            break;
        case QXmlStreamReader::EndElement:
            if (reader.name() == QLatin1String("mime-type"))
                inSeriesType = false;
            break;
        default:
            break;
        }
    }
    return false;
}

QByteArray readSmallFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly) || f.size() > 1024 * 1024)
        return QByteArray();
    return f.readAll();
}

bool writeWhole(const QString &path, const QByteArray &content)
{
    return bool(replaceFile(path, [&content](QIODevice &out) { return writeAll(out, content); }));
}

bool writableFolder(const QString &path)
{
    if (!QDir().mkpath(path))
        return false;
    const QFileInfo info(path);
    return info.isDir() && info.isWritable();
}

#ifdef Q_OS_WIN
// ---- Windows registry ---------------------------------------------------------------------------

std::wstring wide(const QString &s)
{
    return s.toStdWString();
}

// True when the process runs with the enabled group of local administrators in its token.
bool isAdministrator()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    bool admin = false;
    DWORD size = 0;
    GetTokenInformation(token, TokenGroups, nullptr, 0, &size);
    if (size > 0) {
        std::vector<BYTE> buffer(size);
        if (GetTokenInformation(token, TokenGroups, buffer.data(), size, &size)) {
            SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
            PSID admins = nullptr;
            if (AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                         DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins)) {
                const auto *groups = reinterpret_cast<const TOKEN_GROUPS *>(buffer.data());
                for (DWORD i = 0; i < groups->GroupCount; ++i) {
                    if ((groups->Groups[i].Attributes & SE_GROUP_ENABLED)
                        && EqualSid(groups->Groups[i].Sid, admins)) {
                        admin = true;
                        break;
                    }
                }
                FreeSid(admins);
            }
        }
    }
    CloseHandle(token);
    return admin;
}

// Closes the key when it goes out of scope.
class RegKey {
public:
    RegKey() = default;
    RegKey(const RegKey &) = delete;
    RegKey &operator=(const RegKey &) = delete;
    ~RegKey()
    {
        if (m_key)
            RegCloseKey(m_key);
    }
    HKEY *out() { return &m_key; }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

bool openForReading(RegKey &key, const wchar_t *path)
{
    return RegOpenKeyExW(HKEY_CLASSES_ROOT, path, 0, KEY_READ, key.out()) == ERROR_SUCCESS;
}

// Opens the key with full access, creating it when missing.
bool openForWriting(RegKey &key, const wchar_t *path)
{
    return RegCreateKeyExW(HKEY_CLASSES_ROOT, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                           nullptr, key.out(), nullptr)
           == ERROR_SUCCESS;
}

// The key's default value, when it is a string.
bool readDefaultString(HKEY key, std::wstring &value)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return false;
    std::vector<BYTE> data(size + sizeof(wchar_t), 0);
    DWORD got = size;
    if (RegQueryValueExW(key, nullptr, nullptr, &type, data.data(), &got) != ERROR_SUCCESS || type != REG_SZ
        || got > size)
        return false;
    value.assign(reinterpret_cast<const wchar_t *>(data.data()), got / sizeof(wchar_t));
    if (!value.empty() && value.back() == L'\0')
        value.pop_back();
    return true;
}

bool setString(HKEY key, const wchar_t *name, const std::wstring &value)
{
    const DWORD bytes = DWORD((value.size() + 1) * sizeof(wchar_t));
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value.c_str()), bytes)
           == ERROR_SUCCESS;
}

bool registryAssociationCurrent(const std::wstring &command)
{
    RegKey extension;
    if (!openForReading(extension, L".kvf"))
        return false;
    RegKey open;
    std::wstring stored;
    return openForReading(open, L"kvffile\\Shell\\Open\\command") && readDefaultString(open.get(), stored)
           && stored == command;
}

AssociationStatus registerInRegistry(const QString &exePath)
{
    const std::wstring command = wide(windowsOpenCommand(exePath));
    if (registryAssociationCurrent(command))
        return AssociationStatus::AlreadyCurrent;
    if (!isAdministrator())
        return AssociationStatus::NotPermitted;

    // Each key only once the one before it could be opened.
    bool ok = true;
    RegKey extension;
    if (!openForWriting(extension, L".kvf"))
        return AssociationStatus::Failed;
    ok &= setString(extension.get(), nullptr, L"kvffile");

    RegKey fileClass;
    if (!openForWriting(fileClass, L"kvffile"))
        return AssociationStatus::Failed;
    ok &= setString(fileClass.get(), nullptr, wide(kTypeDescription));
    ok &= setString(fileClass.get(), L"NeverShowExt", std::wstring());

    RegKey shell;
    if (!openForWriting(shell, L"kvffile\\Shell"))
        return AssociationStatus::Failed;
    ok &= setString(shell.get(), nullptr, L"Open");

    RegKey open;
    if (!openForWriting(open, L"kvffile\\Shell\\Open\\command"))
        return AssociationStatus::Failed;
    ok &= setString(open.get(), nullptr, command);

    RegKey icon;
    if (!openForWriting(icon, L"kvffile\\DefaultIcon"))
        return AssociationStatus::Failed;
    ok &= setString(icon.get(), nullptr, wide(windowsIconValue(exePath)));

    // Lets Explorer pick up the new icon and verb without a restart.
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST | SHCNF_FLUSHNOWAIT, nullptr, nullptr);
    return ok ? AssociationStatus::Written : AssociationStatus::Failed;
}
#endif

} // namespace

void registerSeriesFileType(const QString &exePath) noexcept
{
    try {
        if (exePath.isEmpty())
            return;
        const QString exe = QFileInfo(exePath).absoluteFilePath();
#ifdef Q_OS_WIN
        registerInRegistry(exe);
#else
        const QString dataHome = xdgDataHome();
        if (!dataHome.isEmpty())
            registerSeriesFileTypeFor(dataHome, xdgDataDirs(), exe);
#endif
    } catch (...) {
        // The association is a convenience; start-up goes on without it.
    }
}

QString windowsOpenCommand(const QString &exePath)
{
    return QLatin1Char('"') + toBackslashes(exePath) + QLatin1String("\" \"%1\"");
}

QString windowsIconValue(const QString &exePath)
{
    return toBackslashes(exePath) + QLatin1String(",0");
}

QString xdgDataHome()
{
    const QString xdg = qEnvironmentVariable("XDG_DATA_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg))
        return withSlash(xdg);
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty() && QDir::isAbsolutePath(home))
        return withSlash(home) + QLatin1String(".local/share/");
    return QString();
}

QString mimePackagePath(const QString &dataHome)
{
    return withSlash(dataHome) + QLatin1String("mime/packages/kelvora-series.xml");
}

QString desktopEntryPath(const QString &dataHome)
{
    return withSlash(dataHome) + QLatin1String("applications/kelvora.desktop");
}

QString desktopExecLine(const QString &exePath)
{
    return QLatin1String("Exec=") + escapeDesktopString(quoteExecArgument(exePath)) + QLatin1String(" %f");
}

QByteArray seriesMimePackage()
{
    return QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                             "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
                             "  <mime-type type=\"application/x-kelvora-series\">\n"
                             "    <comment>Kelvora-Serie</comment>\n"
                             "    <glob pattern=\"*.kvf\"/>\n"
                             "  </mime-type>\n"
                             "</mime-info>\n");
}

QByteArray desktopEntry(const QString &exePath)
{
    const QString icon = QFileInfo(exePath).absoluteDir().absoluteFilePath(QStringLiteral("kelvora.svg"));
    const QStringList lines = {
        QStringLiteral("[Desktop Entry]"),
        QStringLiteral("Type=Application"),
        QStringLiteral("Name=Kelvora"),
        QStringLiteral("Comment=Fragen und Abstimmungen in der Vorlesung"),
        QLatin1String("MimeType=") + QLatin1String(kSeriesMimeType) + QLatin1Char(';'),
        desktopExecLine(exePath),
        QLatin1String("Icon=") + escapeDesktopString(icon),
        QStringLiteral("Terminal=false"),
        QStringLiteral("NoDisplay=false"),
    };
    return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8();
}

bool seriesAssociationCurrent(const QString &dataHome, const QString &exePath)
{
    const QString desktopPath = desktopEntryPath(dataHome);
    const QString mimePath = mimePackagePath(dataHome);
    if (!QFileInfo(desktopPath).isFile() || !QFileInfo(mimePath).isFile())
        return false;
    if (!desktopEntryGroup(readSmallFile(desktopPath)).contains(desktopExecLine(exePath)))
        return false;
    return declaresSeriesGlob(readSmallFile(mimePath));
}

void startToolDetached(const QString &program, const QStringList &arguments)
{
    const QString found = QStandardPaths::findExecutable(program);
    if (found.isEmpty())
        return;
    QProcess process;
    process.setProgram(found);
    process.setArguments(arguments);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.startDetached();
}

AssociationStatus registerSeriesFileTypeIn(const QString &dataHome, const QString &exePath,
                                           const ToolLauncher &launch)
{
    if (dataHome.isEmpty() || exePath.isEmpty())
        return AssociationStatus::NotPermitted;
    const QString exe = QFileInfo(exePath).absoluteFilePath();
    if (seriesAssociationCurrent(dataHome, exe))
        return AssociationStatus::AlreadyCurrent;

    const QString mimeFolder = QFileInfo(mimePackagePath(dataHome)).absolutePath();
    const QString appsFolder = QFileInfo(desktopEntryPath(dataHome)).absolutePath();
    if (!writableFolder(mimeFolder) || !writableFolder(appsFolder))
        return AssociationStatus::NotPermitted;

    if (!writeWhole(mimePackagePath(dataHome), seriesMimePackage())
        || !writeWhole(desktopEntryPath(dataHome), desktopEntry(exe)))
        return AssociationStatus::Failed;

    if (launch) {
        launch(QStringLiteral("update-mime-database"),
               {QDir::cleanPath(withSlash(dataHome) + QLatin1String("mime"))});
        launch(QStringLiteral("update-desktop-database"), {QDir::cleanPath(appsFolder)});
    }
    return AssociationStatus::Written;
}

QStringList xdgDataDirs()
{
    QStringList dirs;
    const QStringList entries =
        qEnvironmentVariable("XDG_DATA_DIRS").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &entry : entries) {
        if (QDir::isAbsolutePath(entry))
            dirs << withSlash(entry);
    }
    if (dirs.isEmpty())
        dirs = {QStringLiteral("/usr/local/share/"), QStringLiteral("/usr/share/")};
    return dirs;
}

QString desktopExecProgram(const QString &execLine)
{
    if (!execLine.startsWith(QLatin1String("Exec=")))
        return QString();
    const QChar backslash(u'\\');
    // The string escapes of a desktop entry first ("\\\\" is one backslash, "\\s" a blank) ...
    QString value;
    const QString raw = execLine.mid(5);
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] == backslash && i + 1 < raw.size()) {
            const QChar next = raw[++i];
            if (next == u's')
                value += u' ';
            else if (next == u'n')
                value += u'\n';
            else if (next == u't')
                value += u'\t';
            else if (next == u'r')
                value += u'\r';
            else
                value += next;
        } else {
            value += raw[i];
        }
    }
    // ... then the first argument: in double quotes, where a backslash takes the next character
    // as it is and "%%" is one "%", or up to the first blank.
    QString program;
    qsizetype i = 0;
    while (i < value.size() && value[i] == u' ')
        ++i;
    if (i < value.size() && value[i] == u'"') {
        bool closed = false;
        for (++i; i < value.size(); ++i) {
            if (value[i] == backslash && i + 1 < value.size()) {
                program += value[++i];
            } else if (value[i] == u'%' && i + 1 < value.size() && value[i + 1] == u'%') {
                program += value[++i];
            } else if (value[i] == u'"') {
                closed = true;
                break;
            } else {
                program += value[i];
            }
        }
        if (!closed)
            return QString();
    } else {
        while (i < value.size() && value[i] != u' ')
            program += value[i++];
    }
    if (program.isEmpty() || QDir::isAbsolutePath(program))
        return program;
    // A relative path would depend on the folder the file manager runs in: no program.
    if (program.contains(u'/'))
        return QString();
    return QStandardPaths::findExecutable(program);
}

bool systemSeriesAssociationCurrent(const QStringList &systemDataDirs, const QString &exePath)
{
    const QString exe = QFileInfo(exePath).canonicalFilePath();
    if (exe.isEmpty())
        return false;
    const QString mimeLine = QLatin1String("MimeType=");
    for (const QString &dir : systemDataDirs) {
        const QString desktopPath = desktopEntryPath(dir);
        if (!QFileInfo(desktopPath).isFile() || !QFileInfo(mimePackagePath(dir)).isFile())
            continue;
        bool startsExe = false;
        bool declaresType = false;
        for (const QString &line : desktopEntryGroup(readSmallFile(desktopPath))) {
            if (line.startsWith(QLatin1String("Exec="))) {
                const QString program = desktopExecProgram(line);
                startsExe = !program.isEmpty() && QFileInfo(program).canonicalFilePath() == exe;
            } else if (line.startsWith(mimeLine)) {
                declaresType = line.mid(mimeLine.size())
                                   .split(QLatin1Char(';'), Qt::SkipEmptyParts)
                                   .contains(QLatin1String(kSeriesMimeType));
            }
        }
        if (startsExe && declaresType && declaresSeriesGlob(readSmallFile(mimePackagePath(dir))))
            return true;
    }
    return false;
}

AssociationStatus registerSeriesFileTypeFor(const QString &dataHome, const QStringList &systemDataDirs,
                                            const QString &exePath, const ToolLauncher &launch)
{
    if (!dataHome.isEmpty() && !exePath.isEmpty() && !QFileInfo::exists(desktopEntryPath(dataHome))
        && systemSeriesAssociationCurrent(systemDataDirs, exePath))
        return AssociationStatus::AlreadyCurrent;
    return registerSeriesFileTypeIn(dataHome, exePath, launch);
}

} // namespace kv
