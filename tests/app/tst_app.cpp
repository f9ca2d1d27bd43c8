#include "appfixture.h"
#include "diskfaults.h"

#include "link/comport.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>

#include <sys/stat.h>

namespace {

QByteArray sendBuffer(const ComPort& port)
{
    return QByteArray(reinterpret_cast<const char*>(port.SendBuffer.data()), 3);
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
    void startUpOpensTheRememberedPort();
    void settingsFileFailures_data();
    void settingsFileFailures();
    void noSelectionFailsToOpen();
    void closeSendsStopThenWritesSettings();
    void closeStillEndsWhenSettingsCannotBeWritten();
    void fullDiskKeepsTheSettings();
    void unreadableSettingsFileKeepsItsPort();
    void portDialog();
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
    QCOMPARE(f.app->form4->ui->ComboBox1->currentText(), QStringLiteral("COM8"));
    QCOMPARE(sendBuffer(f.app->port), QByteArray("\x1B\x42\x4D"));
    QCOMPARE(f.ui->Label1->text(), QStringLiteral("Чтение: Track 1"));
    QCOMPARE(f.ui->Label2->text(), QStringLiteral("Запись: Track 1"));
    QVERIFY(f.ui->GroupBox4->isEnabled());
    QVERIFY(!f.ui->GroupBox5->isEnabled());
    QVERIFY(!f.ui->GroupBox6->isEnabled());
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
    QCOMPARE(f.ui->Label1->text(), QStringLiteral("Чтение:"));
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
    QVERIFY2(f.boxes[0].text.contains(QLatin1String("Permission denied")), qPrintable(f.boxes[0].text));
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
    QCOMPARE(f.app->form4->ui->ComboBox1->currentText(), QString());
    QCOMPARE(int(f.boxes.size()), 1);
    QCOMPARE(f.boxes[0].text, QStringLiteral("Не могу открыть порт."));
    QCOMPARE(f.boxes[0].title, QStringLiteral("Error!"));
    QCOMPARE(f.boxes[0].owner, QStringLiteral("TForm4"));
    QVERIFY(!f.app->form4->isVisible());
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
    f.app->form4->ui->ComboBox1->setEditText(QStringLiteral("/dev/ttyUSB3"));
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
    QCOMPARE(f.boxes[0].text, QStringLiteral("Cannot write file \"%1\". No space left on device.").arg(path));
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
    dialog->ui->ComboBox1->setEditText(f.pty.slavePath());
    f.app->port.SendBuffer[0] = 0x55;
    dialog->ui->Button1->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Open);
    QCOMPARE(sendBuffer(f.app->port), QByteArray("\x1B\x42\x4D"));
    // Failure: the dialog says so and stays open.
    f.form1->SpeedButton6Click();
    dialog->ui->ComboBox1->setEditText(QStringLiteral("/dev/no-such-port"));
    dialog->ui->Button1->click();
    QVERIFY(dialog->isVisible());
    QCOMPARE(int(f.boxes.size()), 1);
    QCOMPARE(f.boxes[0].owner, QStringLiteral("TForm4"));
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Failed);
    // Cancel keeps the box's choice although the port does not change.
    dialog->ui->ComboBox1->setCurrentIndex(2);
    dialog->ui->Button2->click();
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->portPosition(), 2);
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Failed);
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
}

void TestApp::leavingTheReadTabHandsTracksOver()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    tick({f.ui->CheckBox3}, {f.ui->CheckBox1, f.ui->CheckBox2});
    f.form1->SpeedButton3Click();
    QVERIFY(f.form1->Timer1.isActive());
    f.wire();
    f.ui->TabbedNotebook1->setCurrentIndex(1);
    QVERIFY(f.ui->CheckBox6->isChecked());
    QVERIFY(!f.ui->CheckBox4->isChecked());
    QVERIFY(!f.ui->CheckBox5->isChecked());
    QCOMPARE(f.app->form2->trackChoice(), 2);
    QVERIFY(!f.ui->GroupBox4->isEnabled());
    QVERIFY(!f.ui->GroupBox5->isEnabled());
    QVERIFY(f.ui->GroupBox6->isEnabled());
    QVERIFY(!f.form1->Timer1.isActive());
    QVERIFY(f.wire().endsWith("\x1B\x30"));
}

void TestApp::leavingTheWriteTabHandsTracksBack()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    f.ui->TabbedNotebook1->setCurrentIndex(1);
    tick({f.ui->CheckBox5, f.ui->CheckBox6}, {f.ui->CheckBox4});
    f.ui->Edit4->setText(QStringLiteral("old card"));
    f.wire();
    f.ui->TabbedNotebook1->setCurrentIndex(0);
    QVERIFY(f.ui->CheckBox2->isChecked());
    QVERIFY(f.ui->CheckBox3->isChecked());
    QVERIFY(!f.ui->CheckBox1->isChecked());
    QCOMPARE(f.app->form2->trackChoice(), 4);
    QCOMPARE(f.ui->Edit4->text(), QString());
    QVERIFY(f.ui->SpeedButton5->isEnabled());
    const QByteArray sent = f.wire();
    QVERIFY(sent.startsWith("\x1B\x30"));
    QVERIFY(sent.endsWith("\x1B\x30"));
    // Back on the read tab, "Читать" sends the read command of the handed-over choice.
    f.ui->SpeedButton3->click();
    QCOMPARE(f.wire(), QByteArray("\x1B\x42\x5D"));
}

void TestApp::oneAndThreeTurnTwoOn()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    f.ui->CheckBox3->setChecked(true);
    QVERIFY(f.ui->CheckBox2->isChecked());
    QCOMPARE(f.app->form2->trackChoice(), 5);
    QCOMPARE(f.ui->Label1->text(), QStringLiteral("Чтение: Track 1 & 2 & 3"));
    // Two stop commands: the program's own tick of track 2 runs its handling first.
    QCOMPARE(f.wire(), QByteArray("\x1B\x30\x1B\x30"));
}

void TestApp::noBoxDisablesStart()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    f.ui->CheckBox1->setChecked(false);
    QVERIFY(!f.ui->SpeedButton3->isEnabled());
    QCOMPARE(f.app->form2->trackChoice(), 0);
    QCOMPARE(f.wire(), QByteArray("\x1B\x30"));
    f.ui->TabbedNotebook1->setCurrentIndex(1);
    QVERIFY(!f.ui->SpeedButton5->isEnabled());
}

void TestApp::hintsAppearOnFirstHover()
{
    AppFixture f;
    QCOMPARE(f.ui->SpeedButton3->toolTip(), QString());
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(f.ui->SpeedButton3, &enter);
    QCOMPARE(f.ui->SpeedButton3->toolTip(), QStringLiteral("Читать карточку"));
    QApplication::sendEvent(f.ui->SpeedButton12, &enter);
    QCOMPARE(f.ui->SpeedButton12->toolTip(), QStringLiteral("Строка для записи\nна 2 дорожку"));
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
    QCOMPARE(f.ui->CheckBox1->accessibleName(), QStringLiteral("Track 1"));
}

int runAppTests(int argc, char** argv)
{
    TestApp t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_app.moc"
