// The Windows branches below the windows, run on Windows (here: under wine): the
// durable file and the journal, the settings file's bytes, folders with Cyrillic
// names, and the serial device's names and, when a port is handed in, its
// exchange with a terminal and its loss. (The keyboard lock is the composer's test.)

#include "app/settingsfile.h"
#include "base/error.h"
#include "link/winserialdevice.h"
#include "writing/durablefile.h"
#include "writing/journal.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <windows.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Everything in the folder but the named files: a temporary file left behind shows here.
QStringList strays(const QString& folder, const QStringList& expected)
{
    QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : expected)
        names.removeAll(name);
    return names;
}

// Holds the file open as another program would: reading, sharing reads and writes but not deletion.
class OtherProgram
{
public:
    explicit OtherProgram(const QString& path, DWORD share)
        : m_handle(CreateFileW(reinterpret_cast<const wchar_t*>(QDir::toNativeSeparators(path).utf16()), GENERIC_READ,
                               share, nullptr, OPEN_EXISTING, 0, nullptr))
    {
    }
    ~OtherProgram()
    {
        if (m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
    }
    bool holds() const { return m_handle != INVALID_HANDLE_VALUE; }

private:
    HANDLE m_handle;
};

// The operator's own folder, as Windows names it for a Russian user name.
QString cyrillicFolder(const QString& below)
{
    const QString folder = u"C:/Users/Оператор/Документы/"_s + below;
    QDir().mkpath(folder);
    return folder;
}

} // namespace

class TestWindows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void durableReplace_data();
    void durableReplace();
    void durableReplaceKeepsOldFileOnFailure();
    void journalAppends_data();
    void journalAppends();
    void settingsFileBytes();
    void workingFolderWithCyrillicName();
    void portNames();
    void portThatIsNoPort();
    void portExchangeAndLoss();
};

void TestWindows::durableReplace_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("temporary folder") << QString();
    QTest::newRow("Cyrillic folder") << cyrillicFolder(u"замена"_s);
}

void TestWindows::durableReplace()
{
    QFETCH(QString, folder);
    QTemporaryDir temporary;
    if (folder.isEmpty())
        folder = temporary.path();
    const QString path = folder + u"/job.swj"_s;
    QFile::remove(path);
    DurableFile::replace(path, "first\r\n");
    QCOMPARE(contents(path), QByteArray("first\r\n"));
    DurableFile::replace(path, QByteArray(70000, 'x'));
    QCOMPARE(contents(path), QByteArray(70000, 'x'));
    DurableFile::replace(path, "");
    QCOMPARE(contents(path), QByteArray());
    QCOMPARE(strays(folder, {u"job.swj"_s}), QStringList());
    // Given with backslashes, as a Windows path is typed.
    DurableFile::replace(QDir::toNativeSeparators(path), "third");
    QCOMPARE(contents(path), QByteArray("third"));
}

void TestWindows::durableReplaceKeepsOldFileOnFailure()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"job.swj"_s);
    DurableFile::replace(path, "old");
    {
        // Another program has the file open and does not let it be replaced (an editor, a virus scanner).
        OtherProgram other(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
        QVERIFY(other.holds());
        try {
            DurableFile::replace(path, "new");
            QFAIL("a file held open was replaced");
        } catch (const Failure& e) {
            QVERIFY2(QString::fromUtf8(e.what()).contains(QDir::toNativeSeparators(path)), e.what());
        }
        QCOMPARE(contents(path), QByteArray("old"));
        QCOMPARE(strays(dir.path(), {u"job.swj"_s}), QStringList());
    }
    DurableFile::replace(path, "new");
    QCOMPARE(contents(path), QByteArray("new"));

    QVERIFY(QDir(dir.path()).mkdir(u"folder.swj"_s));
    QVERIFY_THROWS_EXCEPTION(Failure, DurableFile::replace(dir.filePath(u"folder.swj"_s), "x"));
    QVERIFY(QFileInfo(dir.filePath(u"folder.swj"_s)).isDir());
}

void TestWindows::journalAppends_data()
{
    QTest::addColumn<QString>("folder");
    QTest::newRow("temporary folder") << QString();
    QTest::newRow("Cyrillic folder") << cyrillicFolder(u"журнал"_s);
}

void TestWindows::journalAppends()
{
    QFETCH(QString, folder);
    QTemporaryDir temporary;
    if (folder.isEmpty())
        folder = temporary.path();
    const QString path = folder + u"/journal.csv"_s;
    QFile::remove(path);
    {
        Journal journal(path);
        QCOMPARE(journal.nextRun(), 1);
        journal.append({{}, 1, 1, {u"BИВАНОВ"_s, u"1000"_s, u"9000"_s}, Journal::Outcome::Sent, {}, {}});
        // The operator looks at the journal in another program while the run goes on.
        OtherProgram viewer(path, FILE_SHARE_READ | FILE_SHARE_WRITE);
        QVERIFY(viewer.holds());
        journal.append({{},
                        1,
                        1,
                        {u"BИВАНОВ"_s, u"1000"_s, u"9000"_s},
                        Journal::Outcome::Written,
                        u"ok, \"1\""_s,
                        u"C:\\Users\\Оператор\\Документы\\партия.swj"_s});
    }
    Journal again(path);
    QCOMPARE(again.nextRun(), 2);
    again.append({{}, 2, 1, {u"B"_s, u"1001"_s, u"8997"_s}, Journal::Outcome::Refused, {}, {}});
    const QList<Journal::Entry> entries = Journal::read(path);
    QCOMPARE(entries.size(), 3);
    QCOMPARE(entries[0].texts.track1, u"BИВАНОВ"_s);
    QCOMPARE(entries[1].note, u"ok, \"1\""_s);
    QCOMPARE(entries[1].job, u"C:\\Users\\Оператор\\Документы\\партия.swj"_s);
    QCOMPARE(entries[2].outcome, Journal::Outcome::Refused);
    const QByteArray bytes = contents(path);
    QCOMPARE(bytes.count("\r\n"), 4); // the header and three lines, each ended once by CR LF
    QVERIFY(!bytes.contains("\r\r"));
}

void TestWindows::settingsFileBytes()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"config.rwc"_s);
    SettingsFile::writePortSetting(path, {3, {}});
    QCOMPARE(contents(path), QByteArray("3\r\n"));
    SettingsFile::writePortSetting(path, {8, u"COM12"_s});
    QCOMPARE(contents(path), QByteArray("8\r\nCOM12\r\n"));
    QCOMPARE(SettingsFile::readPortSetting(path), (SettingsFile::PortSetting{8, u"COM12"_s}));

    // Files as Notepad or another program leaves them: CR LF, LF only, no line end.
    const QList<QByteArray> written{"7\r\n", "7\n", "7", "7\r\n\r\n"};
    for (const QByteArray& bytes : written) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        QCOMPARE(SettingsFile::readPortPosition(path), 7);
    }
    QFile::remove(path);
    QVERIFY_THROWS_EXCEPTION(Failure, SettingsFile::readPortPosition(path));
    QVERIFY(QDir(dir.path()).mkdir(u"config.rwc"_s));
    try {
        SettingsFile::readPortPosition(path);
        QFAIL("a folder was read as the settings file");
    } catch (const Failure& e) {
        QVERIFY2(QString::fromUtf8(e.what()).startsWith(u"Cannot open file"_s), e.what());
    }
}

// The program keeps its files in its working folder; on a Russian Windows that
// is often below a user folder with a Cyrillic name.
void TestWindows::workingFolderWithCyrillicName()
{
    const QString folder = cyrillicFolder(u"Stripewell"_s);
    const QString before = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder));
    QFile::remove(u"config.rwc"_s);
    SettingsFile::Store store;
    QVERIFY_THROWS_EXCEPTION(Failure, store.load()); // first start: no file yet
    store.portChosen();
    store.save({2, {}});
    QCOMPARE(SettingsFile::readPortPosition(SettingsFile::defaultPath()), 2);
    QCOMPARE(contents(folder + u"/config.rwc"_s), QByteArray("2\r\n"));
    // The folder as Windows names it, and the file by its short name beside it.
    QVERIFY(SettingsFile::defaultPath().contains(u"Оператор"_s));
    QVERIFY(QDir::setCurrent(before));
}

void TestWindows::portNames()
{
    QCOMPARE(WinSerialDevice::devicePath(u"COM1"_s), u"\\\\.\\COM1"_s);
    QCOMPARE(WinSerialDevice::devicePath(u"com12"_s), u"\\\\.\\com12"_s);
    QCOMPARE(WinSerialDevice::devicePath(u"\\\\.\\COM3"_s), u"\\\\.\\COM3"_s);
    QCOMPARE(WinSerialDevice::devicePath(u"COM1:"_s), u"COM1:"_s);
    WinSerialDevice missing(u"COM199"_s);
    QVERIFY(!missing.open());
    QCOMPARE(missing.openFailure(), u"устройство не найдено"_s);
    QVERIFY(!missing.isOpen());
    char byte = 0;
    QCOMPARE(missing.read(&byte, 1), 0);
    QCOMPARE(missing.write("x", 1), 0);
}

void TestWindows::portThatIsNoPort()
{
    QTemporaryDir dir;
    // Not named COM5: on Windows that name is the device in every folder.
    const QString path = QDir::toNativeSeparators(dir.filePath(u"port.txt"_s));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    WinSerialDevice plainFile(path);
    QVERIFY(!plainFile.open());
    QCOMPARE(plainFile.openFailure(), u"это не последовательный порт"_s);
}

// With STRIPEWELL_TEST_PORT naming a port whose far end echoes what it gets
// and hangs up after "bye" (the script maps a pseudo-terminal as that port).
void TestWindows::portExchangeAndLoss()
{
    const QString name = qEnvironmentVariable("STRIPEWELL_TEST_PORT");
    if (name.isEmpty())
        QSKIP("no port handed in (STRIPEWELL_TEST_PORT)");
    WinSerialDevice port(name);
    QVERIFY(port.open());
    // One program at a time: Windows refuses a second open of the port as busy.
    // Wine does not keep serial ports to one opener, so there it is not checked.
    if (!GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
        WinSerialDevice second(name);
        QVERIFY(!second.open());
        QCOMPARE(second.openFailure(), u"занят другой программой"_s);
    }
    PortTimeouts timeouts;
    timeouts.readInterval = 1;
    timeouts.readTotalConstant = 100;
    timeouts.writeTotalMultiplier = 5;
    timeouts.writeTotalConstant = 100;
    port.setTimeouts(timeouts);

    // Nothing comes: the read ends after the total time-out, not before, and not much after.
    char buffer[150] = {};
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(port.read(buffer, sizeof buffer), 0);
    QVERIFY2(timer.elapsed() >= 90 && timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));

    // An echo arrives within the read's time-outs; the purge drops what came before the send.
    port.purgeReceive();
    QCOMPARE(port.write("\x1b"
                        "BM",
                        3),
             3);
    port.drain();
    QByteArray echoed;
    for (int i = 0; i < 20 && echoed.size() < 3; ++i)
        echoed += QByteArray(buffer, int(port.read(buffer, 3)));
    QCOMPARE(echoed, QByteArray("\x1b"
                                "BM"));
    QCOMPARE(port.write("stale", 5), 5);
    QTest::qWait(300);
    port.purgeReceive();
    QCOMPARE(port.read(buffer, sizeof buffer), 0);

    // The far end goes away, as a pulled adapter does: the port notices and lets go.
    QCOMPARE(port.write("bye\n", 4), 4);
    port.drain();
    QTRY_VERIFY_WITH_TIMEOUT((port.read(buffer, 1), !port.isOpen()), 5000);
    QCOMPARE(port.read(buffer, 1), 0);
    QCOMPARE(port.write("x", 1), 0);
}

QTEST_GUILESS_MAIN(TestWindows)
#include "tst_windows.moc"
