// Any bytes as a journal file: reading it never fails, and what it reads writes
// back to lines that read the same.
#include "writing/journal.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.csv"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(reinterpret_cast<const char*>(data), qint64(size));
    }
    const QList<Journal::Entry> entries = Journal::read(path);
    QByteArray again = Journal::header().toUtf8() + "\r\n";
    for (const Journal::Entry& e : entries)
        again += Journal::line(e);
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(again);
    }
    const QList<Journal::Entry> reread = Journal::read(path);
    if (reread.size() != entries.size())
        __builtin_trap();
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (reread[i].texts != entries[i].texts || reread[i].outcome != entries[i].outcome ||
            reread[i].note != entries[i].note || reread[i].run != entries[i].run || reread[i].job != entries[i].job)
            __builtin_trap();
    }
    return 0;
}
