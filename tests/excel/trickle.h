#pragma once

#include <QByteArray>
#include <QIODevice>
#include <algorithm>
#include <cstring>

// A file that hands out at most `piece` bytes a read, as a pipe or a slow disk
// may, so that fields, line ends and characters fall across a reader's pieces.
class Trickle : public QIODevice
{
public:
    Trickle(QByteArray bytes, qint64 piece) : m_bytes(std::move(bytes)), m_piece(piece) { open(ReadOnly | Unbuffered); }
    qint64 size() const override { return m_bytes.size(); }

protected:
    qint64 readData(char* data, qint64 most) override
    {
        const qint64 n = std::min({most, m_piece, m_bytes.size() - pos()});
        std::memcpy(data, m_bytes.constData() + pos(), static_cast<size_t>(n));
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_piece;
};
