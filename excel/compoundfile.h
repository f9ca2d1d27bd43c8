#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// A read-only OLE compound file (the container of legacy .xls and of
// password-protected OOXML). Only what the workbook readers need: the names of
// the streams and the bytes of one stream. Every sector chain is bounded by the
// file's size, so a looped or truncated file ends in a Failure.
class CompoundFile
{
public:
    explicit CompoundFile(const QByteArray& bytes);

    static bool hasSignature(const QByteArray& bytes);
    bool hasStream(const QString& name) const;
    QByteArray stream(const QString& name) const; // empty when there is none

private:
    struct Entry
    {
        QString name;
        int type;
        quint32 start;
        quint64 size;
    };

    std::vector<quint32> chain(quint32 start, const std::vector<quint32>& table, quint64 limit) const;
    QByteArray sector(quint32 index) const;
    const Entry* find(const QString& name) const;

    QByteArray m_bytes;
    int m_sectorShift = 9;
    quint32 m_miniCutoff = 4096;
    std::vector<quint32> m_fat;
    std::vector<quint32> m_miniFat;
    QByteArray m_miniStream;
    std::vector<Entry> m_entries;
};
