#include "core/safe_file.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <memory>

namespace kv {

bool writeAll(QIODevice &out, QByteArrayView data)
{
    return out.write(data.data(), data.size()) == data.size();
}

namespace {

// A folder may take writes to its files but no new file (shared teaching folders are often set up
// so): the temporary file cannot be made there. When the target exists and opens for writing, the
// temporary file was what failed, and the file is written in place instead. Not atomic: a failure
// part-way leaves the file part-written, which is still better than not saving at all.
std::unique_ptr<QFile> openInPlace(const QString &path, QIODevice::OpenMode mode)
{
    if (!QFileInfo(path).isFile())
        return nullptr;
    auto file = std::make_unique<QFile>(path);
    if (!file->open(mode))
        return nullptr;
    return file;
}

IoStatus finishInPlace(QFile &file, bool written, std::optional<QFileDevice::Permissions> permissions)
{
    if (!written || file.error() != QFileDevice::NoError || !file.flush()) {
        const QString why = file.errorString();
        return IoStatus::failure(why.isEmpty() ? QStringLiteral("Schreibfehler") : why);
    }
    if (permissions && !file.setPermissions(*permissions))
        return IoStatus::failure(file.errorString());
    file.close();
    if (file.error() != QFileDevice::NoError)
        return IoStatus::failure(file.errorString());
    return {};
}

using Writer = std::function<bool(QIODevice &)>;

// The safe replace through a temporary file, or `inPlace` into the file opened with `inPlaceMode`
// where no temporary file can be made.
IoStatus replaceOrWriteInPlace(const QString &path, const Writer &write,
                               std::optional<QFileDevice::Permissions> permissions,
                               QIODevice::OpenMode inPlaceMode, const Writer &inPlace)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        if (auto direct = openInPlace(path, inPlaceMode))
            return finishInPlace(*direct, inPlace(*direct), permissions);
        return IoStatus::failure(file.errorString());
    }
    // Before any content is written, so that no one else can read a new file in between.
    if (permissions && !file.setPermissions(*permissions)) {
        file.cancelWriting();
        return IoStatus::failure(file.errorString());
    }
    if (!write(file) || file.error() != QFileDevice::NoError) {
        const QString why = file.errorString();
        file.cancelWriting();
        return IoStatus::failure(why.isEmpty() ? QStringLiteral("Schreibfehler") : why);
    }
    if (!file.commit())
        return IoStatus::failure(file.errorString());
    return {};
}

} // namespace

IoStatus replaceFile(const QString &path, const std::function<bool(QIODevice &)> &write,
                     std::optional<QFileDevice::Permissions> permissions)
{
    return replaceOrWriteInPlace(path, write, permissions, QIODevice::WriteOnly | QIODevice::Truncate, write);
}

IoStatus replaceFiles(const std::vector<std::pair<QString, QByteArray>> &files)
{
    std::vector<std::unique_ptr<QSaveFile>> pending;
    for (const auto &[path, content] : files) {
        auto file = std::make_unique<QSaveFile>(path);
        // A file not committed is dropped when it goes out of scope, with the ones before it.
        if (!file->open(QIODevice::WriteOnly) || !writeAll(*file, content)
            || file->error() != QFileDevice::NoError) {
            const QString why = file->errorString();
            return IoStatus::failure(path + QStringLiteral(": ")
                                     + (why.isEmpty() ? QStringLiteral("Schreibfehler") : why));
        }
        pending.push_back(std::move(file));
    }
    for (auto &file : pending)
        if (!file->commit())
            return IoStatus::failure(file->fileName() + QStringLiteral(": ") + file->errorString());
    return {};
}

IoStatus replaceHead(const QString &path, QByteArrayView head,
                     std::optional<QFileDevice::Permissions> permissions)
{
    QFile existing(path);
    if (existing.exists() && !existing.open(QIODevice::ReadOnly))
        return IoStatus::failure(existing.errorString());
    // Where no temporary file can be made, the head is written over the file's first bytes in
    // place, and what follows them stays where it is.
    return replaceOrWriteInPlace(
        path,
        [&](QIODevice &out) {
            if (!writeAll(out, head))
                return false;
            if (!existing.isOpen() || existing.size() <= head.size())
                return true;
            // The rest is copied in pieces, so that a large file is never held in memory whole.
            if (!existing.seek(head.size()))
                return false;
            QByteArray chunk;
            while (!(chunk = existing.read(1 << 16)).isEmpty())
                if (!writeAll(out, chunk))
                    return false;
            return existing.error() == QFileDevice::NoError;
        },
        permissions, QIODevice::ReadWrite, [head](QIODevice &out) { return writeAll(out, head); });
}

IoStatus appendRecord(const QString &path, QByteArrayView record, const RecordWriter &write)
{
    const qint64 recordSize = record.size();
    if (recordSize <= 0)
        return IoStatus::failure(QStringLiteral("Leerer Datensatz"));
    // ReadWrite without Truncate: an existing file keeps its content; a missing one is created.
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return IoStatus::failure(file.errorString());
    const qint64 whole = file.size() / recordSize * recordSize;
    const auto failWith = [&](QString why) {
        // Best effort: drop what part of the new record reached the file.
        file.resize(whole);
        return IoStatus::failure(why.isEmpty() ? QStringLiteral("Schreibfehler") : why);
    };
    if (!file.seek(whole))
        return failWith(file.errorString());
    const bool written = write ? write(file, record) : writeAll(file, record);
    if (!written || file.error() != QFileDevice::NoError)
        return failWith(file.errorString());
    if (!file.flush())
        return failWith(file.errorString());
    // A torn record is shorter than a whole one, so the new record covers it completely and the
    // file ends right after it. Anything else means the writer wrote less than it said.
    if (file.size() != whole + recordSize)
        return failWith(QStringLiteral("Schreibfehler"));
    file.close();
    if (file.error() != QFileDevice::NoError)
        return IoStatus::failure(file.errorString());
    return {};
}

} // namespace kv
