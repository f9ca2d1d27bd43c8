#include "app/messages.h"
#include "app/tform3.h"
#include "app/tform6.h"
#include "base/error.h"
#include "controls.h"
#include "link/comport.h"
#include "writing/batchsession.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QPushButton>
#include <QTimer>

#include <QTest>

#include <vector>

// The error guard and the About window.
class TestPlatform : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { Platform::setMessageRecorder({}); }
    void escapingErrorBecomesTheCommonReport();
    void ticksDoNotPileUpBoxes();
    void aboutWindow();
    void qtDialogsSpeakRussian();
};

void TestPlatform::escapingErrorBecomesTheCommonReport()
{
    std::vector<Platform::MessageRecord> boxes;
    Platform::setMessageRecorder([&](const Platform::MessageRecord& r) { boxes.push_back(r); });
    QWidget owner;
    owner.setObjectName(QStringLiteral("Owner"));
    bool before = false, after = false;
    Platform::guarded(&owner, [&] {
        before = true;
        throw Failure(QStringLiteral("Ячейка не читается."));
        after = true;
    });
    QVERIFY(before);
    QVERIFY(!after);
    QCOMPARE(int(boxes.size()), 1);
    QCOMPARE(boxes[0].text, QStringLiteral("Ячейка не читается."));
    QCOMPARE(boxes[0].title, QStringLiteral("Stripewell"));
    QCOMPARE(boxes[0].owner, QStringLiteral("Owner"));
    QVERIFY(boxes[0].icon == Platform::MessageIcon::Error);
}

void TestPlatform::ticksDoNotPileUpBoxes()
{
    int ticks = 0;
    std::vector<Platform::MessageRecord> boxes;
    const auto tick = [&] {
        ++ticks;
        throw Failure(QStringLiteral("bad counter"));
    };
    // While the first report is open, the loop's next tick arrives from the box's event loop.
    Platform::setMessageRecorder([&](const Platform::MessageRecord& r) {
        boxes.push_back(r);
        Platform::guarded(nullptr, tick);
    });
    Platform::guarded(nullptr, tick);
    QCOMPARE(ticks, 1);
    QCOMPARE(int(boxes.size()), 1);
    // Once it is closed, the next tick runs again.
    Platform::guarded(nullptr, tick);
    QCOMPARE(ticks, 2);
}

void TestPlatform::aboutWindow()
{
    TForm6 about(nullptr);
    QCOMPARE(about.windowTitle(), QStringLiteral("О программе..."));
    QCOMPARE(control<QLabel>(&about, "Label1")->text(), QStringLiteral("Stripewell"));
    QCOMPARE(control<QLabel>(&about, "Label6")->text(), QStringLiteral("5.0.3"));
    QCOMPARE(control<QLabel>(&about, "Label8")->text(), QStringLiteral("Windows 95\\98\\NT"));
    QCOMPARE(control<QLabel>(&about, "Label3")->text(), QStringLiteral("Запись и чтение"));
    QCOMPARE(control<QLabel>(&about, "Label10")->text(), QStringLiteral("магнитных карточек"));
    QVERIFY(control<QLabel>(&about, "Label9")->text().contains(QLatin1String("example.com")));
    QCOMPARE(control<QLabel>(&about, "Label9")->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(about.size(), QSize(277, 278));
    QVERIFY(about.windowFlags() & Qt::WindowStaysOnTopHint);
    about.show();
    control<QPushButton>(&about, "Button1")->click();
    QVERIFY(!about.isVisible());
}

void TestPlatform::qtDialogsSpeakRussian()
{
    QDialogButtonBox buttons(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QCOMPARE(buttons.button(QDialogButtonBox::Cancel)->text(), QStringLiteral("Отмена"));
    // The workbook dialog of the composer's "База Excel".
    ComPort port{SerialDeviceFactory{}};
    BatchSession session(port, Sleeper{});
    TForm3 composer(session);
    QString title;
    QStringList filters;
    QString acceptText;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        acceptText = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->text();
        dialog->reject();
    });
    composer.SpeedButton1Click();
    QCOMPARE(title, QStringLiteral("Открыть базу Excel"));
    QCOMPARE(filters,
             (QStringList{QStringLiteral("Все таблицы (*.xlsx *.xlsm *.ods *.xls *.csv)"),
                          QStringLiteral("Книги Excel (*.xlsx *.xlsm)"), QStringLiteral("Книги Excel 97–2003 (*.xls)"),
                          QStringLiteral("OpenDocument (*.ods)"), QStringLiteral("Текст CSV (*.csv)"),
                          QStringLiteral("Все файлы (*)")}));
    QCOMPARE(acceptText.remove(QLatin1Char('&')), QStringLiteral("Открыть"));
    QVERIFY(!composer.ExcelApplication1.AutoConnect);
}

int runPlatformTests(int argc, char** argv)
{
    TestPlatform t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_platform.moc"
