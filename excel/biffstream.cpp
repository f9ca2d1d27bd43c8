#include "excel/biffstream.h"

#include "base/windows1251.h"

#include <QStringDecoder>
#include <cstring>

namespace Biff {

double rkValue(quint32 rk)
{
    double value = 0;
    if (rk & 0x02) {
        value = static_cast<double>(static_cast<qint32>(rk) >> 2);
    } else {
        const quint64 bits = static_cast<quint64>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 0x01) ? value / 100.0 : value;
}

QString Text::bytes(QByteArrayView raw) const
{
    switch (m_codePage) {
    case 1251:
        return Windows1251::decode(raw);
    case 1200:
    case 1252:
    case 367:
    case 0x8001: // Latin-1 in older writers
        return QString::fromLatin1(raw);
    default:
        break;
    }
    // Other Windows code pages through Qt's converters where the system has them.
    QStringDecoder decoder(QByteArray("windows-" + QByteArray::number(m_codePage)).constData());
    if (!decoder.isValid())
        return QString::fromLatin1(raw);
    return decoder(raw);
}

QString Text::string(QByteArrayView data, qsizetype at, bool longCount, qsizetype* end) const
{
    const qsizetype count = longCount ? u16(data, at) : u8(data, at);
    at += longCount ? 2 : 1;
    if (!m_biff8) {
        const qsizetype take = std::clamp<qsizetype>(data.size() - at, 0, count);
        if (end)
            *end = at + take;
        return bytes(data.sliced(std::min(at, data.size()), take));
    }
    const quint8 flags = u8(data, at++);
    if (flags & 0x08)
        at += 2; // rich text run count
    if (flags & 0x04)
        at += 4; // phonetic data size
    at = std::min(at, data.size());
    if (flags & 0x01) {
        const qsizetype take = std::min<qsizetype>(count, (data.size() - at) / 2);
        if (end)
            *end = at + take * 2;
        QString text(take, Qt::Uninitialized);
        std::memcpy(text.data(), data.data() + at, static_cast<size_t>(take) * 2);
        if constexpr (QSysInfo::ByteOrder == QSysInfo::BigEndian) {
            for (QChar& c : text)
                c = QChar(qFromLittleEndian(c.unicode()));
        }
        return text;
    }
    const qsizetype take = std::min<qsizetype>(count, data.size() - at);
    if (end)
        *end = at + take;
    return QString::fromLatin1(data.sliced(at, take));
}

} // namespace Biff
