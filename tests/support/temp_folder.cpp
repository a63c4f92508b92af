#include "tests/support/temp_folder.h"

#include <stdexcept>

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

} // namespace kv::test
