#pragma once

#include <QByteArray>
#include <QString>

// The master side of a pseudo-terminal. The slave side is a serial device the
// program opens by its path, as it would open a real port.
class PseudoTerminal
{
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool isValid() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // Makes a symbolic link (for example "COM1" in a working directory) to the slave.
    bool linkAs(const QString& linkPath) const;

    qint64 write(const QByteArray& bytes);
    // Waits up to timeoutMs for bytes and returns what has arrived (empty on time-out).
    QByteArray read(int timeoutMs);

private:
    int m_master = -1;
    int m_slaveKeepAlive = -1;
    QString m_slavePath;
};
