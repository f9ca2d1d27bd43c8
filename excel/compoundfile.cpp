#include "excel/compoundfile.h"

#include "base/error.h"

#include <QtEndian>

namespace {

constexpr quint32 EndOfChain = 0xFFFFFFFE;
constexpr quint32 FreeSector = 0xFFFFFFFF;

[[noreturn]] void corrupt(const QString& what)
{
    throw Failure(QStringLiteral("файл повреждён (составной файл: %1)").arg(what));
}

quint32 u32(const QByteArray& bytes, qsizetype at)
{
    if (at < 0 || at + 4 > bytes.size())
        corrupt(QStringLiteral("обрезан"));
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}

quint16 u16(const QByteArray& bytes, qsizetype at)
{
    if (at < 0 || at + 2 > bytes.size())
        corrupt(QStringLiteral("обрезан"));
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

} // namespace

bool CompoundFile::hasSignature(const QByteArray& bytes)
{
    return bytes.startsWith(QByteArray::fromHex("D0CF11E0A1B11AE1"));
}

QByteArray CompoundFile::sector(quint32 index) const
{
    const qint64 offset = (static_cast<qint64>(index) + 1) << m_sectorShift;
    const qint64 size = qint64(1) << m_sectorShift;
    // A sector cut short is refused: a stream read from it would lack its end.
    if (offset + size > m_bytes.size())
        corrupt(QStringLiteral("сектор за концом файла"));
    return m_bytes.mid(offset, size);
}

std::vector<quint32> CompoundFile::chain(quint32 start, const std::vector<quint32>& table, quint64 limit) const
{
    std::vector<quint32> sectors;
    quint32 current = start;
    while (current != EndOfChain && current != FreeSector) {
        if (current >= table.size() || sectors.size() > limit)
            corrupt(QStringLiteral("неверная цепочка секторов"));
        sectors.push_back(current);
        current = table[current];
    }
    return sectors;
}

CompoundFile::CompoundFile(const QByteArray& bytes) : m_bytes(bytes)
{
    if (!hasSignature(bytes) || bytes.size() < 512)
        corrupt(QStringLiteral("нет заголовка"));
    m_sectorShift = u16(bytes, 0x1E);
    if (m_sectorShift != 9 && m_sectorShift != 12)
        corrupt(QStringLiteral("неверный размер сектора"));
    const quint64 sectorCount = static_cast<quint64>(bytes.size()) >> m_sectorShift;
    const quint32 sectorSize = 1u << m_sectorShift;

    // The sectors of the allocation table: 109 in the header, the rest in a chain of DIFAT sectors.
    std::vector<quint32> fatSectors;
    for (int i = 0; i < 109; ++i) {
        const quint32 s = u32(bytes, 0x4C + i * 4);
        if (s < FreeSector - 5)
            fatSectors.push_back(s);
    }
    quint32 difat = u32(bytes, 0x44);
    for (quint64 guard = 0; difat < FreeSector - 5; ++guard) {
        if (guard > sectorCount)
            corrupt(QStringLiteral("неверная цепочка DIFAT"));
        const QByteArray block = sector(difat);
        const int perSector = static_cast<int>(sectorSize / 4) - 1;
        for (int i = 0; i < perSector && (i + 1) * 4 <= block.size(); ++i) {
            const quint32 s = u32(block, i * 4);
            if (s < FreeSector - 5)
                fatSectors.push_back(s);
        }
        difat = block.size() >= static_cast<qsizetype>(sectorSize) ? u32(block, sectorSize - 4) : EndOfChain;
    }
    if (fatSectors.size() > sectorCount)
        corrupt(QStringLiteral("таблица размещения больше файла"));
    for (quint32 s : fatSectors) {
        const QByteArray block = sector(s);
        for (qsizetype i = 0; i + 4 <= block.size(); i += 4)
            m_fat.push_back(u32(block, i));
    }

    QByteArray directory;
    for (quint32 s : chain(u32(bytes, 0x30), m_fat, sectorCount))
        directory += sector(s);
    for (qsizetype at = 0; at + 128 <= directory.size(); at += 128) {
        // A name longer than its 64-byte field is a damaged directory.
        const int nameBytes = u16(directory, at + 0x40);
        if (nameBytes > 64)
            corrupt(QStringLiteral("имя в каталоге длиннее 64 байт"));
        Entry entry;
        entry.name = QString::fromUtf16(reinterpret_cast<const char16_t*>(directory.constData() + at),
                                        std::max(0, nameBytes / 2 - 1));
        entry.type = static_cast<unsigned char>(directory.at(at + 0x42));
        entry.start = u32(directory, at + 0x74);
        entry.size = u32(directory, at + 0x78);
        if (m_sectorShift == 12)
            entry.size |= static_cast<quint64>(u32(directory, at + 0x7C)) << 32;
        m_entries.push_back(entry);
    }
    if (m_entries.empty() || m_entries.front().type != 5)
        corrupt(QStringLiteral("нет корневого каталога"));
    // No entry can be larger than the file that holds it.
    for (const Entry& entry : m_entries) {
        if (entry.size > static_cast<quint64>(bytes.size()))
            corrupt(QStringLiteral("запись каталога «%1» больше файла").arg(entry.name));
    }

    m_miniCutoff = u32(bytes, 0x38);
    QByteArray miniFatBytes;
    for (quint32 s : chain(u32(bytes, 0x3C), m_fat, sectorCount))
        miniFatBytes += sector(s);
    for (qsizetype i = 0; i + 4 <= miniFatBytes.size(); i += 4)
        m_miniFat.push_back(u32(miniFatBytes, i));
    const Entry& root = m_entries.front();
    for (quint32 s : chain(root.start, m_fat, sectorCount))
        m_miniStream += sector(s);
}

const CompoundFile::Entry* CompoundFile::find(const QString& name) const
{
    for (const Entry& entry : m_entries) {
        if (entry.type == 2 && entry.name.compare(name, Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}

bool CompoundFile::hasStream(const QString& name) const
{
    return find(name) != nullptr;
}

QByteArray CompoundFile::stream(const QString& name) const
{
    const Entry* entry = find(name);
    if (!entry)
        return {};
    if (entry->size > static_cast<quint64>(m_bytes.size()))
        corrupt(QStringLiteral("поток «%1» больше файла").arg(name));
    QByteArray data;
    if (entry->size < m_miniCutoff) {
        for (quint32 s : chain(entry->start, m_miniFat, static_cast<quint64>(m_miniStream.size()) / 64)) {
            if ((static_cast<qint64>(s) + 1) * 64 > m_miniStream.size())
                corrupt(QStringLiteral("поток «%1» за концом файла").arg(name));
            data += m_miniStream.mid(static_cast<qsizetype>(s) * 64, 64);
        }
    } else {
        for (quint32 s : chain(entry->start, m_fat, static_cast<quint64>(m_bytes.size()) >> m_sectorShift))
            data += sector(s);
    }
    if (static_cast<quint64>(data.size()) < entry->size)
        corrupt(QStringLiteral("поток «%1» обрезан").arg(name));
    data.truncate(static_cast<qsizetype>(entry->size));
    return data;
}
