#include "temp_folder.h"

#include <stdexcept>

namespace kvtest {

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

} // namespace kvtest
