#pragma once
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace kv::test {

// A temporary folder that is removed with everything in it when the test ends.
class TempFolder {
public:
    TempFolder() = default;
    // The folder's path, ending in "/", as the program's folders do.
    QString path() const { return m_dir.path() + QLatin1Char('/'); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    QByteArray read(const QString &name) const;
    void write(const QString &name, const QByteArray &bytes) const;

private:
    QTemporaryDir m_dir;
};

// While it lives, no new file can be made in the folder `path` (its write permission is taken
// away) and its files stay writable, as in a shared teaching folder. A test run as root gives up
// its right to override file permissions meanwhile (on this thread), so the folder's permissions
// count for it too.
class FolderWithoutNewFiles {
public:
    explicit FolderWithoutNewFiles(const QString &path);
    ~FolderWithoutNewFiles();
    FolderWithoutNewFiles(const FolderWithoutNewFiles &) = delete;
    FolderWithoutNewFiles &operator=(const FolderWithoutNewFiles &) = delete;

private:
    QString m_path;
    QFile::Permissions m_permissions;
    bool m_overrideDropped = false;
};

// The inode of a file: a safe replace gives the name a new one, a write in place keeps it.
quint64 inodeOf(const QString &path);

inline QByteArray readFileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace kv::test
