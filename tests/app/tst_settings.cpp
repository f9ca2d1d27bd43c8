#include "diskfaults.h"

#include "app/settingsfile.h"
#include "base/error.h"
#include "writing/durablefile.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <cerrno>

#include <functional>

#include <sys/socket.h>
#include <sys/un.h>

Q_DECLARE_METATYPE(SettingsFile::PortSetting)

using SettingsFile::PortSetting;

namespace {

bool writeRaw(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readRaw(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QString failureOf(const std::function<void()>& body)
{
    try {
        body();
    } catch (const Failure& failure) {
        return failure.text();
    }
    return {};
}

ino_t inode(const QString& path)
{
    struct stat st = {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// Everything in the folder but the files named, so a test sees a temporary file left behind.
QStringList strayFiles(const QString& folder, const QStringList& expected)
{
    QStringList found = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : expected)
        found.removeAll(name);
    return found;
}

} // namespace

// The settings file as read and written, and the durable writes under it.
class TestSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readsWhatItWrites_data();
    void readsWhatItWrites();
    void badContentGetsAShortMessage_data();
    void badContentGetsAShortMessage();
    void onlyARegularFileIsRead_data();
    void onlyARegularFileIsRead();
    void unreadableFileIsKeptUntilAPortIsChosen();
    void replaceKeepsModeAndLinks();
    void replaceRefusesWhatIsNoFile();
    void readOnlyFolderOverwritesInPlace_data();
    void readOnlyFolderOverwritesInPlace();
    void fullDiskKeepsTheOldFile_data();
    void fullDiskKeepsTheOldFile();
    void appenderKeepsWholeLines();
};

void TestSettings::readsWhatItWrites_data()
{
    QTest::addColumn<PortSetting>("setting");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("COM3") << PortSetting{2, {}} << QByteArray("2\r\n");
    QTest::newRow("none") << PortSetting{-1, {}} << QByteArray("-1\r\n");
    QTest::newRow("device") << PortSetting{8, QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A10K-if00-port0")}
                            << QByteArray("8\r\n/dev/serial/by-id/usb-FTDI_FT232R_A10K-if00-port0\r\n");
    QTest::newRow("cyrillic device") << PortSetting{9, QStringLiteral("/dev/порт")}
                                     << QByteArray("9\r\n/dev/\xD0\xBF\xD0\xBE\xD1\x80\xD1\x82\r\n");
}

void TestSettings::readsWhatItWrites()
{
    QFETCH(PortSetting, setting);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.rwc"));
    SettingsFile::writePortSetting(path, setting);
    QCOMPARE(readRaw(path), bytes);
    QVERIFY(SettingsFile::readPortSetting(path) == setting);
    QCOMPARE(SettingsFile::readPortPosition(path), setting.position);
    QCOMPARE(strayFiles(dir.path(), {QStringLiteral("config.rwc")}), QStringList());
}

void TestSettings::badContentGetsAShortMessage_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message"); // empty: reads as "position"
    QTest::addColumn<int>("position");
    const QByteArray huge(100 * 1024 * 1024, '7');
    QTest::newRow("LF only") << QByteArray("5\n") << QString() << 5;
    QTest::newRow("no line end") << QByteArray("5") << QString() << 5;
    QTest::newRow("blank second line") << QByteArray("5\r\n\r\n") << QString() << 5;
    QTest::newRow("100 MB first line")
        << huge << QStringLiteral("'%1…' is not a valid integer value.").arg(QString(40, QLatin1Char('7'))) << 0;
    QTest::newRow("1 MB after the lines")
        << QByteArray("4\r\n/dev/ttyUSB0\r\n") + QByteArray(1024 * 1024, 'z') << QString() << 4;
    QTest::newRow("binary") << QByteArray::fromHex("7f454c46020101000000")
                            << QStringLiteral(
                                   "'\uFFFDELF\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD' is not a valid integer value.")
                            << 0;
    QTest::newRow("not UTF-8") << QByteArray::fromHex("fffe31")
                               << QStringLiteral("'\uFFFD\uFFFD1' is not a valid integer value.") << 0;
    QTest::newRow("too big") << QByteArray("99999999999\r\n")
                             << QStringLiteral("'99999999999' is not a valid integer value.") << 0;
    QTest::newRow("device name with a control")
        << QByteArray("8\r\n/dev/tty\x01USB0\r\n") << QStringLiteral("'/dev/tty\uFFFDUSB0' is not a device name.") << 0;
    QTest::newRow("device name too long")
        << QByteArray("8\r\n") + QByteArray(5000, 'd')
        << QStringLiteral("'%1…' is not a device name.").arg(QString(40, QLatin1Char('d'))) << 0;
}

void TestSettings::badContentGetsAShortMessage()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QFETCH(int, position);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.rwc"));
    QVERIFY(writeRaw(path, content));
    content.clear();
    int read = 0;
    QCOMPARE(failureOf([&] { read = SettingsFile::readPortPosition(path); }), message);
    QCOMPARE(read, position);
}

void TestSettings::onlyARegularFileIsRead_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("reason"); // "": "File not found." and the file is written at close
    QTest::newRow("missing") << QStringLiteral("missing") << QString();
    QTest::newRow("dangling link") << QStringLiteral("dangling") << QString();
    QTest::newRow("named pipe") << QStringLiteral("fifo") << QStringLiteral("It is a named pipe, not a file.");
    QTest::newRow("folder") << QStringLiteral("folder") << QStringLiteral("It is a folder, not a file.");
    QTest::newRow("device") << QStringLiteral("device") << QStringLiteral("It is a device, not a file.");
    QTest::newRow("socket") << QStringLiteral("socket") << QStringLiteral("It is not a regular file.");
    QTest::newRow("link loop") << QStringLiteral("loop") << QStringLiteral("Too many levels of symbolic links.");
    QTest::newRow("no permission") << QStringLiteral("unreadable") << qt_error_string(EACCES) + u'.';
}

void TestSettings::onlyARegularFileIsRead()
{
    QFETCH(QString, kind);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QString path = dir.filePath(QStringLiteral("config.rwc"));
    const QByteArray name = QFile::encodeName(path);
    if (kind == QLatin1String("dangling"))
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("gone")), path));
    if (kind == QLatin1String("fifo"))
        QVERIFY(::mkfifo(name.constData(), 0666) == 0);
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("config.rwc")));
    if (kind == QLatin1String("device"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    if (kind == QLatin1String("loop"))
        QVERIFY(QFile::link(path, path));
    if (kind == QLatin1String("socket")) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, name.constData(), sizeof address.sun_path);
        QVERIFY(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0);
        ::close(fd);
    }
    if (kind == QLatin1String("unreadable")) {
        QVERIFY(writeRaw(path, "3\r\n"));
        QVERIFY(OrdinaryUser::own(path, 0200));
    }
    const QString expected = reason.isEmpty() ? QStringLiteral("File not found.")
                                              : QStringLiteral("Cannot open file \"%1\". %2").arg(path, reason);
    SettingsFile::Store store(path);
    {
        OrdinaryUser user;
        QCOMPARE(failureOf([&] { store.load(); }), expected);
    }
    QCOMPARE(store.willSave(), reason.isEmpty());
}

void TestSettings::unreadableFileIsKeptUntilAPortIsChosen()
{
    QTemporaryDir dir;
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QString path = dir.filePath(QStringLiteral("config.rwc"));
    QVERIFY(writeRaw(path, "5\r\n"));
    QVERIFY(OrdinaryUser::own(path, 0200));
    SettingsFile::Store store(path);
    {
        OrdinaryUser user;
        QVERIFY(!failureOf([&] { store.load(); }).isEmpty());
        store.save(PortSetting{-1, {}});
    }
    QCOMPARE(readRaw(path), QByteArray("5\r\n")); // the stored port is not lost
    store.portChosen();
    {
        OrdinaryUser user;
        store.save(PortSetting{1, {}});
    }
    QCOMPARE(readRaw(path), QByteArray("1\r\n"));
    // A file that reads is written at close, bad content or not.
    QVERIFY(writeRaw(path, "abc\r\n"));
    QVERIFY(::chmod(QFile::encodeName(path).constData(), 0644) == 0);
    SettingsFile::Store second(path);
    QVERIFY(!failureOf([&] { second.load(); }).isEmpty());
    QVERIFY(second.willSave());
}

void TestSettings::replaceKeepsModeAndLinks()
{
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("real.rwc"));
    const QString link = dir.filePath(QStringLiteral("config.rwc"));
    QVERIFY(writeRaw(real, "1\r\n"));
    QVERIFY(::chmod(QFile::encodeName(real).constData(), 0640) == 0);
    QVERIFY(QFile::link(real, link));
    DurableFile::replace(link, "6\r\n");
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readRaw(real), QByteArray("6\r\n"));
    struct stat st = {};
    QVERIFY(::stat(QFile::encodeName(real).constData(), &st) == 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0640));
    QCOMPARE(strayFiles(dir.path(), {QStringLiteral("real.rwc"), QStringLiteral("config.rwc")}), QStringList());
}

void TestSettings::replaceRefusesWhatIsNoFile()
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath(QStringLiteral("pipe.rwc"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0666) == 0);
    QCOMPARE(failureOf([&] { DurableFile::replace(fifo, "1\r\n"); }),
             QStringLiteral("Cannot write file \"%1\". It is a named pipe, not a file.").arg(fifo));
    QCOMPARE(failureOf([&] { DurableFile::appendLine(fifo, "1\r\n"); }),
             QStringLiteral("Cannot write file \"%1\". It is a named pipe, not a file.").arg(fifo));
    QCOMPARE(failureOf([&] { DurableFile::replace(dir.path(), "1\r\n"); }),
             QStringLiteral("Cannot write file \"%1\". It is a folder, not a file.").arg(dir.path()));
    const QString missing = dir.filePath(QStringLiteral("no/such/config.rwc"));
    QCOMPARE(failureOf([&] { DurableFile::replace(missing, "1\r\n"); }),
             QStringLiteral("Cannot create file \"%1\". %2.").arg(missing, qt_error_string(ENOENT)));
    QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
    QCOMPARE(strayFiles(dir.path(), {QStringLiteral("pipe.rwc")}), QStringList());
}

void TestSettings::readOnlyFolderOverwritesInPlace_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<mode_t>("fileMode");
    QTest::addColumn<QString>("message"); // empty: written
    QTest::newRow("longer") << QByteArray("3\r\n") << mode_t(0600) << QString();
    QTest::newRow("shorter") << QByteArray("-1\r\n/dev/ttyUSB0\r\n") << mode_t(0600) << QString();
    QTest::newRow("write-only file") << QByteArray("3\r\n") << mode_t(0200) << QString();
    QTest::newRow("read-only file") << QByteArray("3\r\n") << mode_t(0400) << qt_error_string(EACCES);
}

void TestSettings::readOnlyFolderOverwritesInPlace()
{
    QFETCH(QByteArray, before);
    QFETCH(mode_t, fileMode);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config.rwc"));
    QVERIFY(writeRaw(path, before));
    QVERIFY(OrdinaryUser::own(path, fileMode));
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0555) == 0);
    const ino_t inodeBefore = inode(path);
    QString failure;
    {
        OrdinaryUser user;
        failure = failureOf([&] {
            SettingsFile::writePortSetting(path, PortSetting{11, QStringLiteral("/dev/ttyACM0")});
        });
    }
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    if (message.isEmpty()) {
        QCOMPARE(failure, QString());
        QCOMPARE(readRaw(path), QByteArray("11\r\n/dev/ttyACM0\r\n"));
        QCOMPARE(inode(path), inodeBefore);
    } else {
        QCOMPARE(failure, QStringLiteral("Cannot create file \"%1\". %2.").arg(path, message));
        QCOMPARE(readRaw(path), before);
    }
    QCOMPARE(strayFiles(dir.path(), {QStringLiteral("config.rwc")}), QStringList());
}

void TestSettings::fullDiskKeepsTheOldFile_data()
{
    QTest::addColumn<bool>("folderWritable");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("written");
    const QByteArray big(6000, 'x'); // needs pages the disk no longer has
    QTest::newRow("renamed, small") << true << QByteArray("4\r\n") << false;
    QTest::newRow("renamed, big") << true << big << false;
    // In place, the new bytes go over the old ones' space: a small file still fits.
    QTest::newRow("in place, small") << false << QByteArray("4\r\n") << true;
    QTest::newRow("in place, big") << false << big << false;
}

void TestSettings::fullDiskKeepsTheOldFile()
{
    QFETCH(bool, folderWritable);
    QFETCH(QByteArray, content);
    QFETCH(bool, written);
    SmallDisk disk;
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.why()));
    const QString path = disk.filePath(QStringLiteral("config.rwc"));
    QVERIFY(writeRaw(path, "3\r\n"));
    QVERIFY(OrdinaryUser::own(path, 0644));
    if (folderWritable)
        QVERIFY(OrdinaryUser::own(disk.path(), 0755));
    QVERIFY(disk.fill());
    QString failure;
    {
        OrdinaryUser user;
        failure = failureOf([&] { DurableFile::replace(path, content); });
    }
    if (written) {
        QCOMPARE(failure, QString());
        QCOMPARE(readRaw(path), content);
    } else {
        QCOMPARE(failure, QStringLiteral("Cannot write file \"%1\". %2.").arg(path, qt_error_string(ENOSPC)));
        QCOMPARE(readRaw(path), QByteArray("3\r\n"));
    }
    QCOMPARE(strayFiles(disk.path(), {QStringLiteral("config.rwc"), QStringLiteral("filler")}), QStringList());
}

void TestSettings::appenderKeepsWholeLines()
{
    SmallDisk disk;
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.why()));
    const QString path = disk.filePath(QStringLiteral("journal.csv"));
    DurableAppender journal(path);
    journal.append("1;written\r\n");
    DurableFile::appendLine(path, "2;written\r\n");
    journal.append("3;written\r\n");
    QCOMPARE(readRaw(path), QByteArray("1;written\r\n2;written\r\n3;written\r\n"));
    QVERIFY(disk.fill());
    // The line no longer fits: it is cut back, never left half-written.
    const QByteArray line = "4;" + QByteArray(9000, 'x') + "\r\n";
    QCOMPARE(failureOf([&] { journal.append(line); }),
             QStringLiteral("Cannot write file \"%1\". %2.").arg(path, qt_error_string(ENOSPC)));
    QCOMPARE(readRaw(path), QByteArray("1;written\r\n2;written\r\n3;written\r\n"));
    const QString fifo = disk.filePath(QStringLiteral("pipe"));
    QVERIFY(::mkfifo(QFile::encodeName(fifo).constData(), 0666) == 0);
    QVERIFY(!failureOf([&] { DurableAppender pipe(fifo); }).isEmpty());
}

int runSettingsTests(int argc, char** argv)
{
    TestSettings t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_settings.moc"
