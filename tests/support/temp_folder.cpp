#include "tests/support/temp_folder.h"

#include <stdexcept>
#include <sys/stat.h>
#ifdef __linux__
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kv::test {

QByteArray TempFolder::read(const QString &name) const
{
    return readFileBytes(file(name));
}

void TempFolder::write(const QString &name, const QByteArray &bytes) const
{
    QFile f(file(name));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("test setup: cannot write " + name.toStdString());
}

namespace {

#ifdef __linux__
// Sets or clears CAP_DAC_OVERRIDE in the effective set of the calling thread.
bool setDacOverride(bool on)
{
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    const auto bit = 1u << CAP_DAC_OVERRIDE;
    data[0].effective = on ? (data[0].effective | (data[0].permitted & bit)) : (data[0].effective & ~bit);
    return syscall(SYS_capset, &header, data) == 0;
}
#endif

} // namespace

FolderWithoutNewFiles::FolderWithoutNewFiles(const QString &path)
    : m_path(path), m_permissions(QFile::permissions(path))
{
    if (!QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup))
        throw std::runtime_error("test setup: cannot close " + path.toStdString());
#ifdef __linux__
    if (geteuid() == 0) {
        if (!setDacOverride(false))
            throw std::runtime_error("test setup: cannot give up CAP_DAC_OVERRIDE");
        m_overrideDropped = true;
    }
#endif
}

FolderWithoutNewFiles::~FolderWithoutNewFiles()
{
#ifdef __linux__
    if (m_overrideDropped)
        setDacOverride(true);
#endif
    QFile::setPermissions(m_path, m_permissions);
}

quint64 inodeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? quint64(st.st_ino) : 0;
}

} // namespace kv::test
