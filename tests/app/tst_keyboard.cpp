// The keyboard layout lock on a real X server: the test starts its own Xvfb,
// gives it layouts such as "ru,us" and checks that the US group gets locked,
// and that the composer holds it only while it is the active window.

#include "app/keyboardlayout.h"
#include "app/tform3.h"
#include "link/comport.h"
#include "writing/batchsession.h"

#include <QApplication>
#include <QTest>

#include <csignal>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

// After Qt's headers: Xlib defines names Qt uses.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#undef Bool
#undef None
#undef Status
#undef KeyPress

// Showing windows on a real X server wakes Qt's D-Bus link, whose library keeps
// a buffer to the end of the process; the leak checker of the debug build is
// told so, and reports the program's own leaks as before.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libdbus-1.so\n";
}

namespace {

bool setLayouts(const char* layouts)
{
    const QByteArray command = QByteArray("setxkbmap -layout ") + layouts + " 2>/dev/null";
    return std::system(command.constData()) == 0;
}

// What the operator's own layout switch does.
void lockGroup(int group)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    XkbLockGroup(x11->display(), XkbUseCoreKbd, unsigned(group));
    XSync(x11->display(), False);
}

bool activate(QWidget& window)
{
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

} // namespace

class TestKeyboard : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void locksTheUsGroup_data()
    {
        QTest::addColumn<QByteArray>("layouts");
        QTest::addColumn<int>("expected");
        QTest::newRow("ru,us") << QByteArray("ru,us") << 1;
        QTest::newRow("us,ru") << QByteArray("us,ru") << 0;
        QTest::newRow("de,ru,us") << QByteArray("de,ru,us") << 2;
        QTest::newRow("ru only: left alone") << QByteArray("ru") << -1;
    }
    void locksTheUsGroup()
    {
        QFETCH(QByteArray, layouts);
        QFETCH(int, expected);
        QVERIFY(setLayouts(layouts.constData()));
        if (expected < 0)
            expected = Platform::currentKeyboardGroup(); // no US layout: the group stays as it is
        Platform::selectUsKeyboardLayout();
        QCOMPARE(Platform::currentKeyboardGroup(), expected);
        Platform::selectUsKeyboardLayout(); // already there: nothing changes
        QCOMPARE(Platform::currentKeyboardGroup(), expected);
    }

    void lockStaysInTheComposer_data()
    {
        QTest::addColumn<QByteArray>("layouts");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("us");
        QTest::newRow("ru,us") << QByteArray("ru,us") << 0 << 1;
        QTest::newRow("us,ru with ru locked") << QByteArray("us,ru") << 1 << 0;
        QTest::newRow("de,ru,us with ru locked") << QByteArray("de,ru,us") << 1 << 2;
    }
    void lockStaysInTheComposer()
    {
        QFETCH(QByteArray, layouts);
        QFETCH(int, before);
        QFETCH(int, us);
        QVERIFY(setLayouts(layouts.constData()));
        QWidget sheet; // the spreadsheet beside the composer
        sheet.setWindowTitle(QStringLiteral("Spreadsheet"));
        sheet.resize(200, 100);
        sheet.show();
        QVERIFY(activate(sheet));
        lockGroup(before);
        QCOMPARE(Platform::currentKeyboardGroup(), before);

        ComPort port{SerialDeviceFactory{}};
        BatchSession session(port, Sleeper{});
        TForm3 composer(session);
        composer.openForTrack(1);
        QVERIFY(activate(composer));
        QTRY_COMPARE(Platform::currentKeyboardGroup(), us);
        // The operator switches layout in the composer: the next tick locks US again.
        lockGroup(before);
        QTRY_COMPARE(Platform::currentKeyboardGroup(), us);

        QVERIFY(activate(sheet));
        QTRY_COMPARE(Platform::currentKeyboardGroup(), before);
        QTest::qWait(250); // the composer's ticks while it is not active leave the layout alone
        QCOMPARE(Platform::currentKeyboardGroup(), before);

        QVERIFY(activate(composer));
        QTRY_COMPARE(Platform::currentKeyboardGroup(), us);
        composer.hide();
        QTRY_COMPARE(Platform::currentKeyboardGroup(), before);
    }
};

int main(int argc, char** argv)
{
    if (std::system("command -v Xvfb >/dev/null && command -v setxkbmap >/dev/null") != 0) {
        std::puts("SKIP: Xvfb or setxkbmap missing");
        return 0;
    }
    const QByteArray display = ":" + QByteArray::number(200 + getpid() % 500);
    const pid_t server = fork();
    if (server == 0) {
        execlp("Xvfb", "Xvfb", display.constData(), "-noreset", "-nolisten", "tcp", "-screen", "0", "640x480x24",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    setenv("DISPLAY", display.constData(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int status = 1;
    for (int i = 0; i < 50 && std::system("xdpyinfo >/dev/null 2>&1 || xset q >/dev/null 2>&1") != 0; ++i)
        usleep(100000);
    {
        QApplication app(argc, argv);
        TestKeyboard t;
        status = QTest::qExec(&t, argc, argv);
    }
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
    return status;
}

#include "tst_keyboard.moc"
