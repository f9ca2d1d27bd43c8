#pragma once

// The simulator program on its own pseudo-terminal, linked as COM1 (or another
// name) in the program's directory, with every byte it receives recorded.

#include <QFile>
#include <QProcess>
#include <QStringList>

struct SimulatorProgram
{
    SimulatorProgram(const QString& dir, const QStringList& options,
                     const QByteArray& deckLines = "SMITH/J|4000123=2512|0123=45\n",
                     const QString& link = QStringLiteral("COM1"))
    {
        record = dir + QStringLiteral("/wire.log");
        QFile deck(dir + QStringLiteral("/deck.txt"));
        if (deck.open(QIODevice::WriteOnly))
            deck.write(deckLines);
        deck.close();
        process.start(QStringLiteral(STRIPEWELL_SIM_PATH),
                      QStringList{QStringLiteral("--link"), dir + QLatin1Char('/') + link, QStringLiteral("--deck"),
                                  deck.fileName(), QStringLiteral("--record"), record} +
                          options);
        waitForLine("link");
    }
    ~SimulatorProgram()
    {
        process.write("quit\n");
        if (!process.waitForFinished(2000))
            process.kill();
    }
    // Waits up to 5 s for a report line that begins so, passing over others.
    bool waitForLine(const char* start)
    {
        for (int i = 0; i < 50; ++i) {
            while (process.canReadLine()) {
                if (process.readLine().startsWith(start))
                    return true;
            }
            process.waitForReadyRead(100);
        }
        return false;
    }
    // Every byte received so far, in order.
    QByteArray wire() const
    {
        QFile file(record);
        QByteArray hex;
        if (file.open(QIODevice::ReadOnly)) {
            for (const QByteArray& line : file.readAll().split('\n')) {
                const qsizetype space = line.indexOf(' ');
                if (space > 0 && !line.startsWith('#'))
                    hex += line.mid(space + 1).replace(' ', "");
            }
        }
        return QByteArray::fromHex(hex);
    }

    QProcess process;
    QString record;
};
