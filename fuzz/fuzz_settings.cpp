// "ini.dat" as the start window reads it, followed by what the program reads of the settings.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "core/records.h"
#include "core/settings.h"
#include "fuzz/fuzz_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    kv::fuzz::writeInput(QString::fromLatin1(kv::kIniFileName), data, size);
    auto daten = std::make_unique<kv::TIniDaten>();
    daten->setDefaults();
    if (!kv::LoadSettings(*daten, kv::fuzz::scratchDir()))
        return 0;
    const QStringList ids = kv::RememberedUserIDs(*daten);
    for (const QString &id : ids)
        (void)kv::LookupPassword(*daten, id);
    (void)daten->ProxyServer.text();
    kv::RememberLogin(*daten, QStringLiteral("neu@example.org"), QStringLiteral("pw"));
    kv::ForgetPasswords(*daten);
    return 0;
}
