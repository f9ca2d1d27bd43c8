#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class ComPort;
class QLabel;
class QStatusBar;

// The line at the foot of the main window that says which port is open, or
// that none is, and the watch that notices when the open port goes away
// (adapter unplugged). It looks once a second at the port's state, which the
// serial device updates on its own when the system reports the device gone;
// a loss is announced once, and the watch rests until a port is opened again.
class PortStatus : public QObject
{
    Q_OBJECT

public:
    PortStatus(ComPort& port, QStatusBar* bar);

    void portOpened(const QString& name);
    void portNotOpened(const QString& name);
    // Whether the open port is still there; the watch runs it every second.
    void check();

    QString text() const;

    static constexpr int WatchIntervalMs = 1000;

Q_SIGNALS:
    // The open port `name` went away; sent once per opening.
    void portLost(const QString& name);

private:
    void show(const QString& text);

    ComPort& m_port;
    QLabel* m_label;
    QTimer m_watch;
    QString m_name;
};
