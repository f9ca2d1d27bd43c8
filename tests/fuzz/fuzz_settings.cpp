// Feeds arbitrary bytes to the settings-file reader as config.rwc on disk. What
// reads must write back and read the same; what does not read must fail with a
// short message, whatever the file holds.
#include "app/settingsfile.h"
#include "base/error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

namespace {

// A folder in memory where there is one: the round trip syncs every file it writes.
QString scratchFolder()
{
    static QTemporaryDir dir(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                 ? QStringLiteral("/dev/shm/fuzz_settings-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/fuzz_settings-XXXXXX"));
    if (!dir.isValid())
        __builtin_trap();
    return dir.path();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QString path = scratchFolder() + QStringLiteral("/config.rwc");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
            __builtin_trap();
    }
    SettingsFile::PortSetting setting;
    try {
        setting = SettingsFile::readPortSetting(path);
    } catch (const Failure& failure) {
        // The bad line is quoted a few dozen characters at most.
        if (failure.text().size() > 100)
            __builtin_trap();
        return 0;
    }
    SettingsFile::writePortSetting(path, setting);
    if (!(SettingsFile::readPortSetting(path) == setting))
        __builtin_trap();
    return 0;
}
