#pragma once

// A running program on a pseudo-terminal whose far end the test plays, with
// message boxes recorded instead of shown.

#include "app/application.h"
#include "app/messages.h"
#include "app/portlist.h"
#include "app/tform1.h"
#include "app/tform2.h"
#include "app/tform4.h"
#include "controls.h"
#include "link/qtserialdevice.h"
#include "tools/pty.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <vector>

struct AppFixture
{
    AppFixture()
    {
        Platform::setMessageRecorder([this](const Platform::MessageRecord& r) { boxes.push_back(r); });
        previousDir = QDir::currentPath();
        QDir::setCurrent(dir.path());
        // The far end may be the simulator on a real-paced line, so the pauses are kept.
        app = std::make_unique<Application>(
            qtSerialDeviceFactory(),
            [this](int ms) {
                sleeps.push_back(ms);
                realSleeper()(ms);
            },
            [this] { return clock.elapsed() + skippedMs; });
        form1 = app->form1.get();
    }
    ~AppFixture()
    {
        PortList::setDeviceSource({});
        app.reset();
        QDir::setCurrent(previousDir);
        Platform::setMessageRecorder({});
    }

    static QElapsedTimer startedClock()
    {
        QElapsedTimer t;
        t.start();
        return t;
    }

    // Writes config.rwc choosing the position, with COM<n> linked to the pseudo-terminal.
    void linkPort(int position = 0)
    {
        QVERIFY(pty.linkAs(dir.filePath(QStringLiteral("COM%1").arg(position + 1))));
        QFile file(dir.filePath(QStringLiteral("config.rwc")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(position) + "\r\n");
    }
    // The serial devices the port dialog finds.
    void setDevices(const QList<PortList::Entry>& devices)
    {
        PortList::setDeviceSource([devices] { return devices; });
    }
    // Starts the program as showing the main window would.
    void start()
    {
        Platform::guarded(form1, [this] { form1->FormShow(); });
    }
    // Everything the terminal received since the last call.
    QByteArray wire(int settleMs = 30)
    {
        QByteArray all;
        for (QByteArray part = pty.read(settleMs); !part.isEmpty(); part = pty.read(settleMs))
            all += part;
        return all;
    }
    void terminalSends(const QByteArray& bytes)
    {
        pty.write(bytes);
        QTest::qWait(15);
    }
    QString settingsText() const
    {
        QFile file(dir.filePath(QStringLiteral("config.rwc")));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
    }

    QElapsedTimer clock = startedClock();
    qint64 skippedMs = 0; // moves the program's clock on without waiting
    QTemporaryDir dir;
    QString previousDir;
    PseudoTerminal pty;
    std::vector<Platform::MessageRecord> boxes;
    std::vector<int> sleeps;
    std::unique_ptr<Application> app;
    TForm1* form1 = nullptr;
};
