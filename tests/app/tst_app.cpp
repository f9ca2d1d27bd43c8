#include "appfixture.h"
#include "diskfaults.h"

#include "app/instancelock.h"
#include "app/portstatus.h"
#include "app/tform3.h"
#include "app/verifypanel.h"
#include "link/comport.h"
#include "writing/journal.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QCryptographicHash>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QSerialPort>
#include <QSpinBox>
#include <QTemporaryDir>

#include <cerrno>

#include <sys/stat.h>

namespace {

QByteArray sendBuffer(const ComPort& port)
{
    return QByteArray(reinterpret_cast<const char*>(port.sendBuffer().data()), 3);
}

void tick(std::initializer_list<QCheckBox*> on, std::initializer_list<QCheckBox*> off)
{
    for (QCheckBox* box : off)
        box->setChecked(false);
    for (QCheckBox* box : on)
        box->setChecked(true);
}

} // namespace

// Start-up, the settings file, the port dialog, the window frame and the tab hand-over.
class TestApp : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void verificationShowsBothTextsWhole();
    void startUpOpensTheRememberedPort();
    void settingsFileFailures_data();
    void settingsFileFailures();
    void noSelectionFailsToOpen();
    void portHeldByAnotherProgramIsBusy();
    void secondProgramInTheSameFolderLeavesIt();
    void closeSendsStopThenWritesSettings();
    void closeStillEndsWhenSettingsCannotBeWritten();
    void fullDiskKeepsTheSettings();
    void unreadableSettingsFileKeepsItsPort();
    void portDialog();
    void portListShowsDevices();
    void stableDeviceNames_data();
    void stableDeviceNames();
    void portChoiceIsRemembered_data();
    void portChoiceIsRemembered();
    void enterInThePortBoxIsOk_data();
    void enterInThePortBoxIsOk();
    void pulledPortIsReportedOnce_data();
    void pulledPortIsReportedOnce();
    void trackEditsTakeEditingKeys_data();
    void trackEditsTakeEditingKeys();
    void composerValuesReachScreenReaders_data();
    void composerValuesReachScreenReaders();
    void resizeIsRefused();
    void leavingTheReadTabHandsTracksOver();
    void leavingTheWriteTabHandsTracksBack();
    void oneAndThreeTurnTwoOn();
    void noBoxDisablesStart();
    void hintsAppearOnFirstHover();
    void accessibleNames();
};

void TestApp::startUpOpensTheRememberedPort()
{
    AppFixture f;
    f.linkPort(7);
    f.start();
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Open);
    QCOMPARE(control<QComboBox>(f.app->form4, "ComboBox1")->currentText(), QStringLiteral("COM8"));
    QCOMPARE(sendBuffer(f.app->port), QByteArray("\x1B\x42\x4D"));
    QCOMPARE(control<QLabel>(f.form1, "Label1")->text(), QStringLiteral("Чтение: Track 1"));
    QCOMPARE(control<QLabel>(f.form1, "Label2")->text(), QStringLiteral("Запись: Track 1"));
    QVERIFY(control<QGroupBox>(f.form1, "GroupBox4")->isEnabled());
    QVERIFY(!control<QGroupBox>(f.form1, "GroupBox5")->isEnabled());
    QVERIFY(!control<QGroupBox>(f.form1, "GroupBox6")->isEnabled());
    QVERIFY(f.boxes.empty());
    QCOMPARE(f.wire(), QByteArray()); // nothing is sent at start
}

void TestApp::settingsFileFailures_data()
{
    QTest::addColumn<QByteArray>("content"); // "-" : no file
    QTest::addColumn<QString>("message");
    QTest::newRow("missing") << QByteArray("-") << QStringLiteral("File not found.");
    QTest::newRow("text") << QByteArray("abc\r\n") << QStringLiteral("'abc' is not a valid integer value.");
    QTest::newRow("empty") << QByteArray("") << QStringLiteral("'' is not a valid integer value.");
    QTest::newRow("fraction") << QByteArray("1.5\r\n") << QStringLiteral("'1.5' is not a valid integer value.");
    // What is not a file fails at once (a pipe would block a plain open for ever); %1 is the file's path.
    QTest::newRow("named pipe") << QByteArray("<fifo>")
                                << QStringLiteral("Cannot open file \"%1\". It is a named pipe, not a file.");
    QTest::newRow("folder") << QByteArray("<folder>")
                            << QStringLiteral("Cannot open file \"%1\". It is a folder, not a file.");
    QTest::newRow("device") << QByteArray("<device>")
                            << QStringLiteral("Cannot open file \"%1\". It is a device, not a file.");
    QTest::newRow("100 MB line")
        << QByteArray(100 * 1024 * 1024, '9')
        << QStringLiteral("'%1…' is not a valid integer value.").arg(QString(40, QLatin1Char('9')));
    QTest::newRow("binary") << QByteArray("PK\x03\x04\x14\x00\x06\x00", 8)
                            << QStringLiteral("'PK\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD' is not a valid integer value.");
}

void TestApp::settingsFileFailures()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    AppFixture f;
    const QString path = f.dir.filePath(QStringLiteral("config.rwc"));
    if (content == "<fifo>") {
        QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0666) == 0);
    } else if (content == "<folder>") {
        QVERIFY(QDir(f.dir.path()).mkdir(QStringLiteral("config.rwc")));
    } else if (content == "<device>") {
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    } else if (content != "-") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    f.start();
    QCOMPARE(int(f.boxes.size()), 1);
    QCOMPARE(f.boxes[0].text, QString(message).replace(QLatin1String("%1"), QDir::toNativeSeparators(path)));
    QCOMPARE(f.boxes[0].title, QStringLiteral("Stripewell"));
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::None);
    QCOMPARE(sendBuffer(f.app->port), QByteArray(3, '\0'));
    QCOMPARE(control<QLabel>(f.form1, "Label1")->text(), QStringLiteral("Чтение:"));
}

void TestApp::unreadableSettingsFileKeepsItsPort()
{
    AppFixture f;
    const QString path = f.dir.filePath(QStringLiteral("config.rwc"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("3\r\n");
    file.close();
    QVERIFY(QFile::setPermissions(f.dir.path(), QFileDevice::Permissions(0x7777)));
    QVERIFY(OrdinaryUser::own(path, 0200));
    {
        OrdinaryUser user;
        f.start();
        f.form1->close();
    }
    QCOMPARE(int(f.boxes.size()), 1);
    QVERIFY2(f.boxes[0].text.contains(qt_error_string(EACCES)), qPrintable(f.boxes[0].text));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("3\r\n")); // not overwritten with "-1"
}

void TestApp::noSelectionFailsToOpen()
{
    AppFixture f;
    f.linkPort(0);
    QFile file(f.dir.filePath(QStringLiteral("config.rwc")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("-1\r\n");
    file.close();
    f.start();
    QCOMPARE(control<QComboBox>(f.app->form4, "ComboBox1")->currentText(), QString());
    QCOMPARE(int(f.boxes.size()), 1);
    QCOMPARE(f.boxes[0].text, QStringLiteral("Не могу открыть порт."));
    QCOMPARE(f.boxes[0].title, QStringLiteral("Error!"));
    QCOMPARE(f.boxes[0].owner, QStringLiteral("TForm4"));
    QVERIFY(!f.app->form4->isVisible());
}

// A port that another program holds: the usual message, and the reason in the
// status line. The other program reaches the same device by another name.
void TestApp::portHeldByAnotherProgramIsBusy()
{
    AppFixture f;
    f.linkPort(0);
    QSerialPort other;
    other.setPortName(f.pty.slavePath());
    QVERIFY(other.open(QIODevice::ReadWrite));
    f.start();
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Failed);
    QCOMPARE(int(f.boxes.size()), 1);
    QCOMPARE(f.boxes[0].text, QStringLiteral("Не могу открыть порт."));
    QCOMPARE(f.form1->portStatusText(),
             QStringLiteral("Порт не открыт: не удалось открыть COM1 (занят другой программой)"));
    // Once the other program lets it go, it opens.
    other.close();
    control<QPushButton>(f.app->form4, "Button1")->click();
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Open);
    QCOMPARE(f.form1->portStatusText(), QStringLiteral("Порт открыт: COM1"));
}

namespace {

// Every file of a folder with its bytes and time of change.
QMap<QString, QByteArray> folderState(const QString& path)
{
    QMap<QString, QByteArray> state;
    QDirIterator it(path, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        QFile f(file);
        const QByteArray bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("unreadable");
        state[file] = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex() + ' ' +
                      QByteArray::number(it.fileInfo().lastModified().toMSecsSinceEpoch());
    }
    return state;
}

} // namespace

// The program running in a folder and a second start there: the second says
// so, names the folder and leaves every file as it was. Once the first is
// killed, its lock file stays behind and does not stop the next start.
void TestApp::secondProgramInTheSameFolderLeavesIt()
{
    QTemporaryDir dir;
    {
        QFile settings(dir.filePath(QStringLiteral("config.rwc")));
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write("3\r\n");
        QFile journal(dir.filePath(QStringLiteral("journal.csv")));
        QVERIFY(journal.open(QIODevice::WriteOnly));
        journal.write("time,run,card,track1,track2,track3,outcome,note\r\n");
    }
    QProcess first;
    first.setWorkingDirectory(dir.path());
    first.setProcessChannelMode(QProcess::ForwardedChannels);
    first.start(QStringLiteral(STRIPEWELL_PROGRAM_PATH), {QStringLiteral("-platform"), QStringLiteral("offscreen")});
    QVERIFY(first.waitForStarted());
    const QString lockPath = dir.filePath(InstanceLock::fileName());
    // Up: its lock taken, and its start (a port that does not open, with its box) done.
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(lockPath) && QFileInfo(lockPath).size() > 0, 10000);
    QTest::qWait(1000);
    QCOMPARE(first.state(), QProcess::Running);
    const auto before = folderState(dir.path());

    std::vector<Platform::MessageRecord> boxes;
    Platform::setMessageRecorder([&](const Platform::MessageRecord& r) { boxes.push_back(r); });
    {
        InstanceLock second(dir.path());
        QVERIFY(!claimWorkingDirectory(second));
        QCOMPARE(second.holder(), first.processId());
    }
    QCOMPARE(int(boxes.size()), 1);
    QCOMPARE(boxes[0].title, QStringLiteral("Внимание!"));
    QVERIFY2(boxes[0].text.startsWith(QStringLiteral("Программа уже запущена в папке «%1»")
                                          .arg(QDir::toNativeSeparators(QFileInfo(dir.path()).absoluteFilePath()))),
             qPrintable(boxes[0].text));
    QCOMPARE(folderState(dir.path()), before);

    first.kill();
    QVERIFY(first.waitForFinished());
    QVERIFY(QFile::exists(lockPath));
    {
        InstanceLock next(dir.path());
        QVERIFY(claimWorkingDirectory(next));
        QCOMPARE(int(boxes.size()), 1);
        // A third start while this one holds the folder is refused again.
        InstanceLock third(dir.path());
        QVERIFY(!claimWorkingDirectory(third));
        QCOMPARE(third.holder(), QCoreApplication::applicationPid());
    }
    // Released with its holder.
    QVERIFY(!QFile::exists(lockPath));
    Platform::setMessageRecorder({});
}

void TestApp::closeSendsStopThenWritesSettings()
{
    AppFixture f;
    f.linkPort(2);
    f.start();
    f.form1->show();
    QVERIFY(f.form1->close());
    QCOMPARE(f.wire(), QByteArray("\x1B\x30"));
    QCOMPARE(f.settingsText(), QStringLiteral("2\r\n"));
    // A typed name is no entry of the list.
    control<QComboBox>(f.app->form4, "ComboBox1")->setEditText(QStringLiteral("/dev/ttyUSB3"));
    f.form1->show();
    QVERIFY(f.form1->close());
    QCOMPARE(f.settingsText(), QStringLiteral("-1\r\n"));
}

void TestApp::closeStillEndsWhenSettingsCannotBeWritten()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    f.form1->setSettingsPath(f.dir.filePath(QStringLiteral("no/such/dir/config.rwc")));
    f.form1->show();
    QVERIFY(f.form1->close());
    QVERIFY(!f.form1->isVisible());
    QCOMPARE(int(f.boxes.size()), 1);
    QVERIFY2(f.boxes[0].text.contains(QStringLiteral("config.rwc")), qPrintable(f.boxes[0].text));
    QCOMPARE(f.boxes[0].title, QStringLiteral("Stripewell"));
}

void TestApp::fullDiskKeepsTheSettings()
{
    AppFixture f;
    f.linkPort(2);
    f.start();
    SmallDisk disk;
    if (!disk.isMounted())
        QSKIP(qPrintable(disk.why()));
    const QString path = disk.filePath(QStringLiteral("config.rwc"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("5\r\n");
    file.close();
    QVERIFY(disk.fill());
    f.form1->setSettingsPath(path);
    f.form1->show();
    QVERIFY(f.form1->close());
    QCOMPARE(int(f.boxes.size()), 1);
    QCOMPARE(f.boxes[0].text, QStringLiteral("Cannot write file \"%1\". %2.").arg(path, qt_error_string(ENOSPC)));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("5\r\n")); // never left empty
}

void TestApp::portDialog()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    auto* dialog = f.app->form4;
    f.form1->SpeedButton6Click();
    QVERIFY(dialog->isVisible());
    // A name typed into the box is opened as typed.
    control<QComboBox>(dialog, "ComboBox1")->setEditText(f.pty.slavePath());
    f.app->port.sendCommand("\x55");
    control<QPushButton>(dialog, "Button1")->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Open);
    QCOMPARE(sendBuffer(f.app->port), QByteArray("\x1B\x42\x4D"));
    // Failure: the dialog says so and stays open.
    f.form1->SpeedButton6Click();
    control<QComboBox>(dialog, "ComboBox1")->setEditText(QStringLiteral("/dev/no-such-port"));
    control<QPushButton>(dialog, "Button1")->click();
    QVERIFY(dialog->isVisible());
    QCOMPARE(int(f.boxes.size()), 1);
    QCOMPARE(f.boxes[0].owner, QStringLiteral("TForm4"));
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Failed);
    // Cancel keeps the box's choice although the port does not change.
    control<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(2);
    control<QPushButton>(dialog, "Button2")->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->portPosition(), 2);
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Failed);
}

void TestApp::portListShowsDevices()
{
    AppFixture f;
    f.setDevices({{QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z9C-if00-port0"),
                   QStringLiteral("FT232R USB UART, FTDI — /dev/ttyUSB0")},
                  {QStringLiteral("/dev/ttyACM0"), QStringLiteral("R418V — /dev/ttyACM0")}});
    auto* dialog = f.app->form4;
    f.form1->SpeedButton6Click();
    QCOMPARE(control<QComboBox>(dialog, "ComboBox1")->count(), 10);
    QCOMPARE(control<QComboBox>(dialog, "ComboBox1")->itemText(7), QStringLiteral("COM8"));
    QCOMPARE(control<QComboBox>(dialog, "ComboBox1")->itemText(8),
             QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z9C-if00-port0"));
    QCOMPARE(control<QComboBox>(dialog, "ComboBox1")->itemData(9, Qt::ToolTipRole).toString(),
             QStringLiteral("R418V — /dev/ttyACM0"));
    control<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(8);
    QCOMPARE(control<QLabel>(dialog, "Label1")->text(), QStringLiteral("FT232R USB UART, FTDI — /dev/ttyUSB0"));
    control<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(1);
    QCOMPARE(control<QLabel>(dialog, "Label1")->text(), QStringLiteral("Устройство: /dev/ttyS1"));
    // The adapter is unplugged: the list follows when the dialog is shown again.
    f.setDevices({{QStringLiteral("/dev/ttyACM0"), QStringLiteral("R418V — /dev/ttyACM0")}});
    dialog->hide();
    f.form1->SpeedButton6Click();
    QCOMPARE(control<QComboBox>(dialog, "ComboBox1")->count(), 9);
    QCOMPARE(control<QComboBox>(dialog, "ComboBox1")->currentText(), QStringLiteral("COM2"));
}

void TestApp::stableDeviceNames_data()
{
    QTest::addColumn<QString>("device");    // in the test's /dev
    QTest::addColumn<QStringList>("links"); // name -> device, in its by-id folder
    QTest::addColumn<QString>("expected");  // "by-id/<name>", or the device itself
    QTest::newRow("adapter with a stable name")
        << QStringLiteral("ttyUSB0")
        << QStringList{QStringLiteral("usb-FTDI_A1-port0>ttyUSB0"), QStringLiteral("usb-Prolific_B2-port0>ttyUSB1")}
        << QStringLiteral("by-id/usb-FTDI_A1-port0");
    QTest::newRow("second adapter") << QStringLiteral("ttyUSB1")
                                    << QStringList{QStringLiteral("usb-FTDI_A1-port0>ttyUSB0"),
                                                   QStringLiteral("usb-Prolific_B2-port0>ttyUSB1")}
                                    << QStringLiteral("by-id/usb-Prolific_B2-port0");
    QTest::newRow("board UART: none") << QStringLiteral("ttyS0")
                                      << QStringList{QStringLiteral("usb-FTDI_A1-port0>ttyUSB0")}
                                      << QStringLiteral("ttyS0");
    QTest::newRow("no by-id folder") << QStringLiteral("ttyACM0") << QStringList() << QStringLiteral("ttyACM0");
}

void TestApp::stableDeviceNames()
{
    QFETCH(QString, device);
    QFETCH(QStringList, links);
    QFETCH(QString, expected);
    QTemporaryDir root;
    QDir dev(root.path());
    for (const char* node : {"ttyUSB0", "ttyUSB1", "ttyS0", "ttyACM0"}) {
        QFile file(dev.filePath(QLatin1String(node)));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    if (!links.isEmpty())
        QVERIFY(dev.mkpath(QStringLiteral("by-id")));
    for (const QString& link : links) {
        const QStringList parts = link.split(QLatin1Char('>'));
        QVERIFY(QFile::link(QStringLiteral("../") + parts[1], dev.filePath(QStringLiteral("by-id/") + parts[0])));
    }
    QCOMPARE(PortList::stableName(dev.filePath(device), QDir(dev.filePath(QStringLiteral("by-id")))),
             dev.filePath(expected));
}

void TestApp::portChoiceIsRemembered_data()
{
    QTest::addColumn<QByteArray>("settings"); // "%pty" stands for the pseudo-terminal's path
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QString>("box");
    QTest::addColumn<bool>("opened");
    QTest::addColumn<QByteArray>("saved");
    const QString other = QStringLiteral("/dev/serial/by-id/usb-other");
    const QString pty = QStringLiteral("%pty");
    QTest::newRow("a file written before: COM1")
        << QByteArray("0\r\n") << QStringList{pty} << QStringLiteral("COM1") << true << QByteArray("0\r\n");
    QTest::newRow("device at its place") << QByteArray("9\r\n%pty\r\n") << QStringList{other, pty} << pty << true
                                         << QByteArray("9\r\n%pty\r\n");
    QTest::newRow("device moved in the list")
        << QByteArray("8\r\n%pty\r\n") << QStringList{other, pty} << pty << true << QByteArray("9\r\n%pty\r\n");
    QTest::newRow("device unplugged: kept")
        << QByteArray("8\r\n/dev/serial/by-id/usb-gone\r\n") << QStringList{pty}
        << QStringLiteral("/dev/serial/by-id/usb-gone") << false << QByteArray("9\r\n/dev/serial/by-id/usb-gone\r\n");
    QTest::newRow("past COM8 without a name")
        << QByteArray("8\r\n") << QStringList{pty} << QString() << false << QByteArray("-1\r\n");
}

void TestApp::portChoiceIsRemembered()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, devices);
    QFETCH(QString, box);
    QFETCH(bool, opened);
    QFETCH(QByteArray, saved);
    AppFixture f;
    f.linkPort(0);
    const QByteArray ptyPath = f.pty.slavePath().toUtf8();
    QList<PortList::Entry> entries;
    for (const QString& name : devices)
        entries.append({QString(name).replace(QStringLiteral("%pty"), f.pty.slavePath()), QStringLiteral("adapter")});
    f.setDevices(entries);
    {
        QFile file(f.dir.filePath(QStringLiteral("config.rwc")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(settings).replace("%pty", ptyPath));
    }
    f.start();
    QCOMPARE(control<QComboBox>(f.app->form4, "ComboBox1")->currentText(),
             box.replace(QStringLiteral("%pty"), f.pty.slavePath()));
    QCOMPARE(f.app->port.PortHandle(), opened ? ComPort::Handle::Open : ComPort::Handle::Failed);
    QCOMPARE(int(f.boxes.size()), opened ? 0 : 1);
    f.form1->show();
    QVERIFY(f.form1->close());
    QCOMPARE(f.settingsText().toUtf8(), saved.replace("%pty", ptyPath));
}

void TestApp::enterInThePortBoxIsOk_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("position");
    QTest::newRow("COM1") << QStringLiteral("COM1") << 0;
    QTest::newRow("com1 in lower case") << QStringLiteral("com1") << 0;
    QTest::newRow("a path typed: remembered") << QStringLiteral("%pty") << 8;
}

void TestApp::enterInThePortBoxIsOk()
{
    QFETCH(QString, typed);
    QFETCH(int, position);
    AppFixture f;
    f.linkPort(0);
    f.setDevices({});
    auto* dialog = f.app->form4;
    f.form1->SpeedButton6Click();
    QVERIFY(QTest::qWaitForWindowExposed(dialog));
    control<QComboBox>(dialog, "ComboBox1")->setCurrentIndex(-1);
    control<QComboBox>(dialog, "ComboBox1")->setEditText(QString());
    QTest::keyClicks(control<QComboBox>(dialog, "ComboBox1")->lineEdit(),
                     typed.replace(QStringLiteral("%pty"), f.pty.slavePath()));
    QTest::keyClick(control<QComboBox>(dialog, "ComboBox1")->lineEdit(), Qt::Key_Return);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Open);
    QCOMPARE(dialog->portPosition(), position);
    QCOMPARE(control<QComboBox>(dialog, "ComboBox1")->count(),
             8 + (position >= 8 ? 1 : 0)); // Enter adds no item of its own
    f.form1->show();
    QVERIFY(f.form1->close());
    const QString name = position >= 8 ? typed + QStringLiteral("\r\n") : QString();
    QCOMPARE(f.settingsText(), QString::number(position) + QStringLiteral("\r\n") + name);
}

void TestApp::pulledPortIsReportedOnce_data()
{
    QTest::addColumn<int>("activity");
    QTest::newRow("mid-read") << 0;
    QTest::newRow("mid-write") << 1;
    QTest::newRow("idle") << 2;
}

void TestApp::pulledPortIsReportedOnce()
{
    QFETCH(int, activity);
    AppFixture f;
    const QString com1 = f.dir.filePath(QStringLiteral("COM1"));
    auto adapter = std::make_unique<PseudoTerminal>();
    QVERIFY(adapter->linkAs(com1));
    {
        QFile file(f.dir.filePath(QStringLiteral("config.rwc")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("0\r\n");
    }
    f.start();
    QCOMPARE(f.form1->portStatusText(), QStringLiteral("Порт открыт: COM1"));
    if (activity == 0) {
        control<QPushButton>(f.form1, "SpeedButton3")->click();
        QVERIFY(f.form1->Timer1.isActive());
        // A card is read; the next one never comes.
        adapter->write(QByteArray("\x1B\x00", 2) + "%B4000^IVANOV?");
        QTest::qWait(15);
        f.form1->Timer1Timer();
        QVERIFY(!control<QLineEdit>(f.form1, "Edit4")->text().isEmpty());
    } else if (activity == 1) {
        control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(1);
        control<QPushButton>(f.form1, "SpeedButton5")->click();
        QVERIFY(f.form1->Timer2.isActive());
    }
    QTest::qWait(100);
    adapter.reset(); // the adapter is pulled
    QTRY_COMPARE_WITH_TIMEOUT(int(f.boxes.size()), 1, 5000);
    QCOMPARE(f.boxes[0].title, QStringLiteral("Внимание!"));
    QCOMPARE(f.boxes[0].owner, QStringLiteral("TForm1"));
    QVERIFY2(f.boxes[0].text.startsWith(QStringLiteral("Порт COM1 пропал")), qPrintable(f.boxes[0].text));
    QCOMPARE(f.form1->portStatusText(), QStringLiteral("Порт не открыт: COM1 отключён"));
    QVERIFY(!f.form1->Timer1.isActive());
    QVERIFY(!f.form1->Timer2.isActive());
    QCOMPARE(control<QPushButton>(f.form1, "SpeedButton5")->isEnabled(), true);
    // No further message, whatever the timers do meanwhile.
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    QTest::qWait(PortStatus::WatchIntervalMs + 300);
    QCOMPARE(int(f.boxes.size()), 1);
    control<QPushButton>(f.form1, "SpeedButton4")->click();
    // Opened again in the port dialog, the port works again.
    QVERIFY(QFile::remove(com1));
    QVERIFY(f.pty.linkAs(com1));
    f.form1->SpeedButton6Click();
    control<QPushButton>(f.app->form4, "Button1")->click();
    QCOMPARE(f.form1->portStatusText(), QStringLiteral("Порт открыт: COM1"));
    control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(0);
    f.wire();
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    QCOMPARE(f.wire(), QByteArray("\x1B\x42\x4D"));
    QCOMPARE(int(f.boxes.size()), 1);
}

void TestApp::trackEditsTakeEditingKeys_data()
{
    // Keys: plain characters are typed; {Home} {End} {Left} {Del} {Bksp} {Tab} {SelectAll} {Undo}
    // are the editing keys; {Paste:text} pastes the text from the clipboard.
    QTest::addColumn<bool>("composer");
    QTest::addColumn<int>("track");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("focusLeft");
    // On the write tab only Edit3 (track 3) takes typing; Edit1 and Edit2 are read-only.
    for (const bool composer : {false, true}) {
        const char* where = composer ? "composer" : "write tab";
        const int numeric = composer ? 2 : 3;
        const auto row = [&](const char* name) -> QTestData& {
            return QTest::newRow(qPrintable(QStringLiteral("%1: %2").arg(QLatin1String(where), QLatin1String(name))))
                   << composer;
        };
        row("Delete at home") << numeric << QStringLiteral("1234") << QStringLiteral("{Home}{Del}")
                              << QStringLiteral("234") << false;
        row("arrows and backspace") << 3 << QStringLiteral("1234") << QStringLiteral("{End}{Left}{Bksp}")
                                    << QStringLiteral("124") << false;
        row("typed letters dropped") << numeric << QString() << QStringLiteral("1a?=>b2") << QStringLiteral("1=>2")
                                     << false;
        row("paste filtered") << numeric << QStringLiteral("9") << QStringLiteral("{End}{Paste:12ab=34?}")
                              << QStringLiteral("912=34") << false;
        row("select all and type") << 3 << QStringLiteral("555") << QStringLiteral("{SelectAll}7")
                                   << QStringLiteral("7") << false;
        row("undo") << numeric << QStringLiteral("12") << QStringLiteral("{End}3{Undo}") << QStringLiteral("12")
                    << false;
        row("Tab moves on") << numeric << QStringLiteral("12") << QStringLiteral("{Tab}") << QStringLiteral("12")
                            << true;
    }
    QTest::newRow("composer: track 1 paste upper case, sentinels dropped")
        << true << 1 << QString() << QStringLiteral("{Paste:%b1^smith?}") << QStringLiteral("B1^SMITH") << false;
}

void TestApp::trackEditsTakeEditingKeys()
{
    QFETCH(bool, composer);
    QFETCH(int, track);
    QFETCH(QString, start);
    QFETCH(QString, keys);
    QFETCH(QString, shown);
    QFETCH(bool, focusLeft);
    AppFixture f;
    QLineEdit* edit = nullptr;
    if (composer) {
        f.app->form3->openForTrack(track);
        edit = f.app->form3->findChild<QLineEdit*>(QStringLiteral("Edit1"));
    } else {
        f.form1->show();
        control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(1);
        control<QCheckBox>(f.form1, "CheckBox4")->setChecked(true);
        control<QCheckBox>(f.form1, "CheckBox5")->setChecked(true);
        control<QCheckBox>(f.form1, "CheckBox6")->setChecked(true);
        edit = f.form1->trackEdit(track);
    }
    QVERIFY(QTest::qWaitForWindowActive(edit->window()));
    edit->setFocus();
    edit->setText(start);
    static const QRegularExpression token(QStringLiteral("\\{(\\w+)(?::([^}]*))?\\}|(.)"));
    for (auto it = token.globalMatch(keys); it.hasNext();) {
        const auto m = it.next();
        const QString name = m.captured(1);
        if (!m.captured(3).isEmpty())
            QTest::keyClicks(edit, m.captured(3));
        else if (name == QLatin1String("Paste")) {
            QApplication::clipboard()->setText(m.captured(2));
            QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        } else if (name == QLatin1String("SelectAll"))
            QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        else if (name == QLatin1String("Undo"))
            QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
        else {
            const QHash<QString, Qt::Key> named = {
                {QStringLiteral("Home"), Qt::Key_Home},      {QStringLiteral("End"), Qt::Key_End},
                {QStringLiteral("Left"), Qt::Key_Left},      {QStringLiteral("Del"), Qt::Key_Delete},
                {QStringLiteral("Bksp"), Qt::Key_Backspace}, {QStringLiteral("Tab"), Qt::Key_Tab}};
            QVERIFY2(named.contains(name), qPrintable(name));
            QTest::keyClick(edit, named.value(name));
        }
    }
    QCOMPARE(edit->text(), shown);
    QCOMPARE(edit->hasFocus(), !focusLeft);
    // What the program puts there is shown as it is: a composed card is never altered.
    if (!composer) {
        f.form1->setTrackText(3, QStringLiteral("1?x"));
        QCOMPARE(edit->text(), QStringLiteral("1?x"));
    }
}

void TestApp::composerValuesReachScreenReaders_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("capacity");
    QTest::addColumn<QString>("letter");
    QTest::newRow("track 1, column A") << 1 << 1 << QStringLiteral("79") << QStringLiteral("A");
    QTest::newRow("track 2, column C") << 2 << 3 << QStringLiteral("40") << QStringLiteral("C");
    QTest::newRow("track 3, column Z") << 3 << 26 << QStringLiteral("107") << QStringLiteral("Z");
}

void TestApp::composerValuesReachScreenReaders()
{
    QFETCH(int, track);
    QFETCH(int, column);
    QFETCH(QString, capacity);
    QFETCH(QString, letter);
    AppFixture f;
    TForm3* composer = f.app->form3;
    composer->openForTrack(track);
    composer->findChild<QSpinBox*>(QStringLiteral("SpinEdit4"))->setValue(column);
    const auto label = [composer](const char* name) { return composer->findChild<QLabel*>(QLatin1String(name)); };
    QCOMPARE(label("Label9")->accessibleDescription(), QString::number(track));
    QCOMPARE(label("Label10")->accessibleDescription(), capacity);
    QCOMPARE(label("Label12")->accessibleDescription(), letter);
    QCOMPARE(label("Label9")->accessibleName(), QStringLiteral("Track number")); // what it is stays named
}

void TestApp::resizeIsRefused()
{
    AppFixture f;
    f.form1->show();
    const QSize size = f.form1->size();
    f.form1->resize(900, 700);
    QCOMPARE(f.form1->size(), size);
    f.form1->showMaximized();
    QTest::qWait(20);
    QVERIFY(!(f.form1->windowState() & Qt::WindowMaximized));
    QCOMPARE(f.form1->size(), size);
    QCOMPARE(f.form1->windowTitle(), QStringLiteral("R/W card for R418V Magstrip Card Terminal    KOLVA"));
    // Placed in the centre of the desktop.
    const QPoint offCentre = f.form1->geometry().center() - f.form1->screen()->availableGeometry().center();
    QVERIFY2(offCentre.manhattanLength() <= 4,
             qPrintable(QStringLiteral("%1,%2").arg(offCentre.x()).arg(offCentre.y())));
}

void TestApp::leavingTheReadTabHandsTracksOver()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    tick({control<QCheckBox>(f.form1, "CheckBox3")},
         {control<QCheckBox>(f.form1, "CheckBox1"), control<QCheckBox>(f.form1, "CheckBox2")});
    f.form1->SpeedButton3Click();
    QVERIFY(f.form1->Timer1.isActive());
    f.wire();
    control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(1);
    QVERIFY(control<QCheckBox>(f.form1, "CheckBox6")->isChecked());
    QVERIFY(!control<QCheckBox>(f.form1, "CheckBox4")->isChecked());
    QVERIFY(!control<QCheckBox>(f.form1, "CheckBox5")->isChecked());
    QCOMPARE(f.app->form2->trackChoice(), 2);
    QVERIFY(!control<QGroupBox>(f.form1, "GroupBox4")->isEnabled());
    QVERIFY(!control<QGroupBox>(f.form1, "GroupBox5")->isEnabled());
    QVERIFY(control<QGroupBox>(f.form1, "GroupBox6")->isEnabled());
    QVERIFY(!f.form1->Timer1.isActive());
    QVERIFY(f.wire().endsWith("\x1B\x30"));
}

void TestApp::leavingTheWriteTabHandsTracksBack()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(1);
    tick({control<QCheckBox>(f.form1, "CheckBox5"), control<QCheckBox>(f.form1, "CheckBox6")},
         {control<QCheckBox>(f.form1, "CheckBox4")});
    control<QLineEdit>(f.form1, "Edit4")->setText(QStringLiteral("old card"));
    f.wire();
    control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(0);
    QVERIFY(control<QCheckBox>(f.form1, "CheckBox2")->isChecked());
    QVERIFY(control<QCheckBox>(f.form1, "CheckBox3")->isChecked());
    QVERIFY(!control<QCheckBox>(f.form1, "CheckBox1")->isChecked());
    QCOMPARE(f.app->form2->trackChoice(), 4);
    QCOMPARE(control<QLineEdit>(f.form1, "Edit4")->text(), QString());
    QVERIFY(control<QPushButton>(f.form1, "SpeedButton5")->isEnabled());
    const QByteArray sent = f.wire();
    QVERIFY(sent.startsWith("\x1B\x30"));
    QVERIFY(sent.endsWith("\x1B\x30"));
    // Back on the read tab, "Читать" sends the read command of the handed-over choice.
    control<QPushButton>(f.form1, "SpeedButton3")->click();
    QCOMPARE(f.wire(), QByteArray("\x1B\x42\x5D"));
}

void TestApp::oneAndThreeTurnTwoOn()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    control<QCheckBox>(f.form1, "CheckBox3")->setChecked(true);
    QVERIFY(control<QCheckBox>(f.form1, "CheckBox2")->isChecked());
    QCOMPARE(f.app->form2->trackChoice(), 5);
    QCOMPARE(control<QLabel>(f.form1, "Label1")->text(), QStringLiteral("Чтение: Track 1 & 2 & 3"));
    // Two stop commands: the program's own tick of track 2 runs its handling first.
    QCOMPARE(f.wire(), QByteArray("\x1B\x30\x1B\x30"));
}

void TestApp::noBoxDisablesStart()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    control<QCheckBox>(f.form1, "CheckBox1")->setChecked(false);
    QVERIFY(!control<QPushButton>(f.form1, "SpeedButton3")->isEnabled());
    QCOMPARE(f.app->form2->trackChoice(), 0);
    QCOMPARE(f.wire(), QByteArray("\x1B\x30"));
    control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(1);
    QVERIFY(!control<QPushButton>(f.form1, "SpeedButton5")->isEnabled());
}

void TestApp::hintsAppearOnFirstHover()
{
    AppFixture f;
    QCOMPARE(control<QPushButton>(f.form1, "SpeedButton3")->toolTip(), QString());
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(control<QPushButton>(f.form1, "SpeedButton3"), &enter);
    QCOMPARE(control<QPushButton>(f.form1, "SpeedButton3")->toolTip(), QStringLiteral("Читать карточку"));
    QApplication::sendEvent(control<QToolButton>(f.form1, "SpeedButton12"), &enter);
    QCOMPARE(control<QToolButton>(f.form1, "SpeedButton12")->toolTip(),
             QStringLiteral("Строка для записи\nна 2 дорожку"));
}

void TestApp::accessibleNames()
{
    AppFixture f;
    const auto widgets = f.form1->findChildren<QWidget*>();
    for (QWidget* w : widgets) {
        const bool captionless = qobject_cast<QCheckBox*>(w) || qobject_cast<QLineEdit*>(w);
        if (captionless && w->objectName().startsWith(QLatin1String("CheckBox")))
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        if (qobject_cast<QLineEdit*>(w) && w->objectName().startsWith(QLatin1String("Edit")))
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
    }
    QCOMPARE(control<QCheckBox>(f.form1, "CheckBox1")->accessibleName(), QStringLiteral("Track 1"));
}

int runAppTests(int argc, char** argv)
{
    TestApp t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_app.moc"

// A card read back that differs: the texts of the differing track, as read and
// as written, each whole on a line of its own however long.
void TestApp::verificationShowsBothTextsWhole()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("journal.csv"));
    const QString written = QStringLiteral("KX0192") + QString(70, u'A');
    const QString read = QStringLiteral("KX0192") + QString(69, u'A') + u'B';
    const QString track2 = QStringLiteral("4000123400000002");
    Journal(path).append({QDateTime::currentDateTime(), 1, 1, {written, track2, {}}, Journal::Outcome::Written, {}});
    QWidget host;
    QWidget tab;
    VerifyPanel panel(&host, &tab, {[path] { return path; }, [] { return QString(); }});
    panel.resize(586, VerifyPanel::PanelHeight);
    panel.scopeBox()->setCurrentIndex(2);
    panel.switchBox()->setChecked(true);
    panel.check(3, {read, track2, {}});
    QCOMPARE(panel.outcomeLabel()->text(), QStringLiteral("РАЗЛИЧАЕТСЯ: дорожка 1"));
    const QString shown = panel.detailLabel()->text().remove(QChar(0x200B));
    QVERIFY2(
        shown.endsWith(QStringLiteral("\nДорожка 1, прочитано: «%1»\nДорожка 1, записано: «%2»").arg(read, written)),
        qPrintable(shown));
    QVERIFY(panel.detailLabel()->wordWrap());
    QVERIFY(panel.detailLabel()->minimumSizeHint().width() < panel.width() / 2); // the texts break where they must
}
