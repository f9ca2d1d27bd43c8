#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtEndian>
#include <cstdint>

// The record layer of an Excel 5/95 (BIFF5) or 97-2003 (BIFF8) workbook
// stream: records of a 16-bit type and a 16-bit length, and the string forms
// that the cell and sheet records use. Every read is bounded by its record, so
// a short or lying record gives zeros and empty texts, never a read past it.
namespace Biff {

struct Record
{
    quint16 type = 0;
    QByteArrayView data;
    qsizetype offset = 0; // of the record's header in the stream
};

inline quint8 u8(QByteArrayView data, qsizetype at)
{
    return at >= 0 && at < data.size() ? static_cast<quint8>(data[at]) : 0;
}

inline quint16 u16(QByteArrayView data, qsizetype at)
{
    return at >= 0 && at + 2 <= data.size() ? qFromLittleEndian<quint16>(data.data() + at) : 0;
}

inline quint32 u32(QByteArrayView data, qsizetype at)
{
    return at >= 0 && at + 4 <= data.size() ? qFromLittleEndian<quint32>(data.data() + at) : 0;
}

inline double f64(QByteArrayView data, qsizetype at)
{
    return at >= 0 && at + 8 <= data.size() ? qFromLittleEndian<double>(data.data() + at) : 0.0;
}

// An RK number: a 30-bit integer or the high bits of a double, either possibly hundredths.
double rkValue(quint32 rk);

class Stream
{
public:
    explicit Stream(QByteArrayView bytes) : m_bytes(bytes) {}
    void seek(qsizetype offset) { m_pos = offset; }
    qsizetype size() const { return m_bytes.size(); }
    // The next record; false at the end of the stream or at a record cut short.
    bool next(Record& record)
    {
        if (m_pos < 0 || m_pos + 4 > m_bytes.size())
            return false;
        const quint16 length = qFromLittleEndian<quint16>(m_bytes.data() + m_pos + 2);
        if (m_pos + 4 + length > m_bytes.size())
            return false;
        record.type = qFromLittleEndian<quint16>(m_bytes.data() + m_pos);
        record.data = m_bytes.sliced(m_pos + 4, length);
        record.offset = m_pos;
        m_pos += 4 + length;
        return true;
    }
    // The type of the record after the current one, 0 at the end.
    quint16 peekType() const { return u16(m_bytes, m_pos); }

private:
    QByteArrayView m_bytes;
    qsizetype m_pos = 0;
};

// How single-byte texts of the workbook (all texts in BIFF5, compressed ones
// in BIFF8 are Latin-1 by definition) become Unicode.
class Text
{
public:
    void setBiff8(bool on) { m_biff8 = on; }
    bool biff8() const { return m_biff8; }
    void setCodePage(int codePage) { m_codePage = codePage; }

    // Bytes in the workbook's code page (BIFF5).
    QString bytes(QByteArrayView raw) const;
    // A string whose character count is one byte (short) or two bytes (long)
    // at `at`; in BIFF8 followed by a flags byte and optional run and
    // phonetic headers. `end` receives the offset after the characters.
    QString string(QByteArrayView data, qsizetype at, bool longCount, qsizetype* end = nullptr) const;

private:
    bool m_biff8 = true;
    int m_codePage = 1252;
};

} // namespace Biff
