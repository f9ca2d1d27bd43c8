#include "app/filedialogs.h"
#include "controls.h"
#include "fakecells.h"

#include "app/messages.h"
#include "app/tform3.h"
#include "app/tracktextvalidator.h"
#include "link/comport.h"
#include "writing/batchsession.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <memory>

#ifdef Q_OS_WIN
#include <thread>
#include <windows.h>
#endif

using namespace Qt::StringLiterals;

// The composer driven through its controls, as the operator uses it.
class TestComposer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void openingShowsTheTrack_data();
    void openingShowsTheTrack();
    void kindSelectorShowsItsControls_data();
    void kindSelectorShowsItsControls();
    void addTextAndCounters();
    void capacityGoesNegative();
    void deleteEmptiesSlotAndEdits();
    void clickLoadsTheSlot();
    void keyFilter_data();
    void keyFilter();
    void columnLetterFollowsTheSpinEdit();
    void excelAddWithoutWorkbookIsRefused();
    void excelPreviewAgainstWorkbook_data();
    void excelPreviewAgainstWorkbook();
    void cancelledWorkbookChoiceDisconnects();
    void unreadableWorkbookGoesToTheErrorReport();
    void failingReadGoesToTheErrorReport();
    void stagedCardChangesNothingUntilCommitted();
    void okHidesAndStopsTheTimer();
#ifdef Q_OS_WIN
    void keyboardLayoutPerThread();
#endif

private:
    template <typename T> T* control(const char* name) const
    {
        return ::control<T>(m_form.get(), name);
    }
    QString label(const char* name) const
    {
        return control<QLabel>(name)->text();
    }
    void chooseKind(int item)
    {
        control<QComboBox>("ComboBox1")->setCurrentIndex(item);
    }
    void clickSlot(int track, int slot);
    void add()
    {
        QTest::mouseClick(control<QPushButton>("Button1"), Qt::LeftButton);
    }
    QString slotText(int track, int slot) const;
    void openWorkbook(const QByteArray& csv);

    ComPort m_port{SerialDeviceFactory{}};
    QTemporaryDir m_workDir;
    std::unique_ptr<BatchSession> m_session;
    std::unique_ptr<TForm3> m_form;
    FakeCells m_cells;
    QList<Platform::MessageRecord> m_messages;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestComposer::init()
{
    m_messages.clear();
    Platform::setMessageRecorder([this](const Platform::MessageRecord& record) { m_messages.append(record); });
    m_cells = FakeCells();
    m_session = std::make_unique<BatchSession>(m_port, Sleeper{});
    m_session->setWorkDir(m_workDir.path());
    m_form = std::make_unique<TForm3>(*m_session);
    m_session->setCellSource(&m_cells);
}

void TestComposer::cleanup()
{
    m_form.reset();
    m_session.reset();
    Platform::setFileChooser({});
    Platform::setMessageRecorder(nullptr);
}

void TestComposer::clickSlot(int track, int slot)
{
    auto* grid = control<QTableWidget>(QByteArray("StringGrid" + QByteArray::number(track)).constData());
    const QRect cell = grid->visualRect(grid->model()->index(0, slot));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

QString TestComposer::slotText(int track, int slot) const
{
    auto* grid = control<QTableWidget>(QByteArray("StringGrid" + QByteArray::number(track)).constData());
    return grid->item(0, slot)->text();
}

void TestComposer::openWorkbook(const QByteArray& csv)
{
    m_dir = std::make_unique<QTemporaryDir>();
    const QString path = m_dir->filePath(u"cards.csv"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(csv);
    file.close();
    Platform::setFileChooser([path](const Platform::FileRequest&) { return path; });
    m_session->setCellSource(nullptr);
    QTest::mouseClick(control<QToolButton>("SpeedButton1"), Qt::LeftButton);
    QTRY_VERIFY(m_form->ExcelApplication1.AutoConnect); // read off the window's thread
    QVERIFY(m_form->ExcelApplication1.hasWorkbook());
}

void TestComposer::openingShowsTheTrack_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<QString>("capacity");
    QTest::newRow("track 1") << 1 << u"79"_s;
    QTest::newRow("track 2") << 2 << u"40"_s;
    QTest::newRow("track 3") << 3 << u"107"_s;
}

void TestComposer::openingShowsTheTrack()
{
    QFETCH(int, track);
    QFETCH(QString, capacity);
    control<QLineEdit>("Edit1")->setText(u"LEFT OVER"_s);
    control<QLabel>("Label11")->setText(u"old"_s);
    m_form->openForTrack(track);
    QVERIFY(m_form->isVisible());
    QCOMPARE(m_form->windowTitle(), u"Запись"_s);
    QCOMPARE(m_form->size(), QSize(427, 238));
    QCOMPARE(m_session->templates().CurrentTrack, quint8(track));
    QCOMPARE(label("Label9"), QString::number(track));
    QCOMPARE(label("Label10"), capacity);
    QCOMPARE(label("Label11"), QString());
    QCOMPARE(label("Label12"), u"A"_s);
    QCOMPARE(control<QLineEdit>("Edit1")->text(), QString());
    for (int t = 1; t <= 3; ++t)
        QCOMPARE(control<QTableWidget>(QByteArray("StringGrid" + QByteArray::number(t)).constData())->isVisible(),
                 t == track);
    QVERIFY(m_form->findChild<QTimer*>(u"Timer1"_s)->isActive());
}

void TestComposer::kindSelectorShowsItsControls_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QString>("sign");
    const QStringList counter{u"Label3"_s, u"SpinEdit1"_s, u"Label2"_s, u"SpinEdit2"_s, u"Label4"_s, u"SpinEdit3"_s};
    QTest::newRow("text") << 0 << QStringList{u"Edit1"_s} << u"увеличить на:"_s;
    QTest::newRow("+") << 1 << counter << u" + "_s;
    QTest::newRow("-") << 2 << counter << u" - "_s;
    QTest::newRow("Excel") << 3 << QStringList{u"Label5"_s,    u"SpinEdit4"_s, u"Label6"_s,      u"SpinEdit5"_s,
                                               u"ComboBox2"_s, u"SpinEdit6"_s, u"SpeedButton1"_s}
                           << u"увеличить на:"_s;
}

void TestComposer::kindSelectorShowsItsControls()
{
    QFETCH(int, item);
    QFETCH(QStringList, shown);
    QFETCH(QString, sign);
    m_form->openForTrack(1);
    chooseKind(3);
    chooseKind(item);
    const QStringList switched{u"Edit1"_s,     u"Label3"_s,    u"SpinEdit1"_s, u"Label2"_s,      u"SpinEdit2"_s,
                               u"Label4"_s,    u"SpinEdit3"_s, u"Label5"_s,    u"SpinEdit4"_s,   u"Label6"_s,
                               u"SpinEdit5"_s, u"ComboBox2"_s, u"SpinEdit6"_s, u"SpeedButton1"_s};
    for (const QString& name : switched)
        QCOMPARE(m_form->findChild<QWidget*>(name)->isVisible(), shown.contains(name));
    if (item != 0 && item != 3)
        QCOMPARE(label("Label2"), sign);
    QVERIFY(control<QLabel>("Label12")->isVisible());

    // A typed text that is no item changes nothing.
    control<QComboBox>("ComboBox1")->setEditText(u"Тек"_s);
    for (const QString& name : switched)
        QCOMPARE(m_form->findChild<QWidget*>(name)->isVisible(), shown.contains(name));
}

void TestComposer::addTextAndCounters()
{
    m_form->openForTrack(2);
    QTest::keyClicks(control<QLineEdit>("Edit1"), u"123"_s);
    add();
    QCOMPARE(slotText(2, 0), u"123"_s);
    clickSlot(2, 1);
    chooseKind(1);
    control<QSpinBox>("SpinEdit1")->setValue(100);
    control<QSpinBox>("SpinEdit2")->setValue(1);
    control<QSpinBox>("SpinEdit3")->setValue(6);
    add();
    QCOMPARE(slotText(2, 1), u"100+1"_s);
    QCOMPARE(label("Label10"), u"32"_s);
    clickSlot(2, 2);
    chooseKind(2);
    control<QSpinBox>("SpinEdit1")->setValue(5);
    control<QSpinBox>("SpinEdit2")->setValue(10);
    add();
    QCOMPARE(slotText(2, 2), u"5-10"_s);
    const TrackTemplate& t = m_session->templates().track(2);
    QCOMPARE(t.SegmentKind[0], quint8(TextSegment));
    QCOMPARE(t.SegmentKind[1], quint8(RisingCounterSegment));
    QCOMPARE(t.SegmentKind[2], quint8(FallingCounterSegment));
    QCOMPARE(t.DigitCount, 6);
    QCOMPARE(label("Label10"), u"28"_s);
    QVERIFY(m_messages.isEmpty());
}

void TestComposer::capacityGoesNegative()
{
    m_form->openForTrack(2);
    control<QLineEdit>("Edit1")->setText(QString(39, u'1'));
    add();
    clickSlot(2, 8);
    control<QLineEdit>("Edit1")->setText(u"22"_s);
    add();
    QCOMPARE(label("Label10"), u"-1"_s);
    clickSlot(2, 4);
    // A slot's text puts into the edit what typing could not; it counts all the same.
    TrackTextValidator::setTextAsIs(control<QLineEdit>("Edit1"), u"ab"_s);
    add();
    QCOMPARE(label("Label10"), u"-3"_s);
    QVERIFY(m_messages.isEmpty());
}

void TestComposer::deleteEmptiesSlotAndEdits()
{
    m_form->openForTrack(3);
    clickSlot(3, 3);
    chooseKind(2);
    control<QSpinBox>("SpinEdit1")->setValue(50);
    control<QSpinBox>("SpinEdit2")->setValue(5);
    add();
    clickSlot(3, 3);
    QCOMPARE(label("Label11"), u"50-5"_s);
    QCOMPARE(label("Label10"), u"103"_s);
    QTest::mouseClick(control<QPushButton>("Button3"), Qt::LeftButton);
    QCOMPARE(slotText(3, 3), QString());
    QCOMPARE(label("Label10"), u"107"_s);
    QCOMPARE(label("Label11"), QString());
    QCOMPARE(control<QLineEdit>("Edit1")->text(), QString());
    QCOMPARE(m_session->templates().track(3).SegmentKind[3], quint8(FallingCounterSegment));
}

void TestComposer::clickLoadsTheSlot()
{
    m_form->openForTrack(1);
    QApplication::setActiveWindow(m_form.get());
    clickSlot(1, 5);
    QTest::keyClicks(control<QLineEdit>("Edit1"), u"card"_s);
    add();
    control<QLineEdit>("Edit1")->clear();
    control<QSpinBox>("SpinEdit1")->setValue(3);
    clickSlot(1, 0);
    clickSlot(1, 5);
    QCOMPARE(label("Label11"), u"CARD"_s);
    QCOMPARE(control<QLineEdit>("Edit1")->text(), u"CARD"_s);
    QVERIFY(control<QLineEdit>("Edit1")->hasFocus());
    QCOMPARE(control<QSpinBox>("SpinEdit1")->value(), 3);
    clickSlot(1, 6);
    QCOMPARE(label("Label11"), QString());
    QCOMPARE(control<QLineEdit>("Edit1")->text(), QString());
}

void TestComposer::keyFilter_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("shown");
    QTest::newRow("track 1") << 1 << u"a?b%=5"_s << u"AB=5"_s;
    QTest::newRow("track 2") << 2 << u"a?=5:;<>/ Z"_s << u"=5:;<>"_s;
    QTest::newRow("track 3") << 3 << u"?9x="_s << u"9="_s;
}

void TestComposer::keyFilter()
{
    QFETCH(int, track);
    QFETCH(QString, typed);
    QFETCH(QString, shown);
    m_form->openForTrack(track);
    auto* edit = control<QLineEdit>("Edit1");
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), shown);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QCOMPARE(edit->text(), shown.chopped(1));
}

void TestComposer::columnLetterFollowsTheSpinEdit()
{
    m_form->openForTrack(1);
    chooseKind(3);
    auto* column = control<QSpinBox>("SpinEdit4");
    column->setValue(26);
    QCOMPARE(label("Label12"), u"Z"_s);
    QTest::keyClicks(column, u"5"_s);
    QCOMPARE(column->value(), 26);
    QTest::keyClick(column, Qt::Key_Backspace);
    QCOMPARE(column->value(), 26);
    QTest::keyClick(column, Qt::Key_Down);
    QCOMPARE(column->value(), 25);
    QCOMPARE(label("Label12"), u"Y"_s);
}

void TestComposer::excelAddWithoutWorkbookIsRefused()
{
    m_form->openForTrack(2);
    control<QLineEdit>("Edit1")->setText(u"12"_s);
    add();
    chooseKind(3);
    control<QSpinBox>("SpinEdit3")->setValue(9);
    add();
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].text, u"База даных не подключна"_s);
    QCOMPARE(m_messages[0].title, u"Error!"_s);
    QCOMPARE(m_messages[0].icon, Platform::MessageIcon::Error);
    QCOMPARE(m_messages[0].owner, u"TForm3"_s);
    QCOMPARE(slotText(2, 0), u"12"_s);
    QCOMPARE(m_session->templates().track(2).DigitCount, 9);
    QVERIFY(m_cells.reads.isEmpty());
}

void TestComposer::excelPreviewAgainstWorkbook_data()
{
    QTest::addColumn<int>("track");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("direction"); // ComboBox2 item
    QTest::addColumn<QString>("preview");
    QTest::addColumn<bool>("warned");
    QTest::newRow("+ track 1") << 1 << 5 << 1 << 0 << u"e5"_s << false;
    QTest::newRow("+ track 2") << 2 << 5 << 1 << 0 << u"e5"_s << false;
    QTest::newRow("+ track 3") << 3 << 5 << 1 << 0 << u"e6"_s << false;
    QTest::newRow("- row 1 step 1") << 2 << 1 << 1 << 1 << u"e1"_s << true;
    QTest::newRow("- row 10 step 0") << 3 << 10 << 0 << 1 << u"e10"_s << false;
    QTest::newRow("- row 6 step 4") << 1 << 6 << 4 << 1 << u"e2"_s << false;
}

void TestComposer::excelPreviewAgainstWorkbook()
{
    QFETCH(int, track);
    QFETCH(int, row);
    QFETCH(int, step);
    QFETCH(int, direction);
    QFETCH(QString, preview);
    QFETCH(bool, warned);
    QByteArray csv;
    for (int r = 1; r <= 12; ++r)
        csv += "a" + QByteArray::number(r) + ",b,c,d,e" + QByteArray::number(r) + "\n";
    m_form->openForTrack(track);
    openWorkbook(csv);
    chooseKind(3);
    for (int i = 0; i < 4; ++i)
        QTest::keyClick(control<QSpinBox>("SpinEdit4"), Qt::Key_Up);
    QCOMPARE(label("Label12"), u"E"_s);
    control<QSpinBox>("SpinEdit5")->setValue(row);
    control<QSpinBox>("SpinEdit6")->setValue(step);
    control<QComboBox>("ComboBox2")->setCurrentIndex(direction);
    add();
    QCOMPARE(slotText(track, 0), preview);
    const TrackTemplate& t = m_session->templates().track(track);
    QCOMPARE(t.SegmentKind[0], quint8(ExcelSegment));
    QCOMPARE(t.ExcelRow[0], row);
    QCOMPARE(t.ExcelColumn[0], 5);
    QCOMPARE(int(t.ExcelDirection[0]), direction == 0 ? 1 : 0);
    QCOMPARE(m_messages.size(), warned ? 1 : 0);
    if (warned) {
        QCOMPARE(m_messages[0].text, u"Номер строки должен быть больше 0"_s);
        QCOMPARE(m_messages[0].title, u"Внимание!"_s);
        QCOMPARE(m_messages[0].icon, Platform::MessageIcon::Warning);
    }
    QCOMPARE(label("Label10"), QString::number(TemplateSet::capacity(track) - preview.size()));
}

void TestComposer::cancelledWorkbookChoiceDisconnects()
{
    m_form->openForTrack(1);
    openWorkbook("x\n");
    Platform::setFileChooser([](const Platform::FileRequest&) { return QString(); });
    QTest::mouseClick(control<QToolButton>("SpeedButton1"), Qt::LeftButton);
    QVERIFY(!m_form->ExcelApplication1.AutoConnect);
    QVERIFY(m_form->ExcelApplication1.AutoQuit);
    QVERIFY(!m_form->ExcelApplication1.hasWorkbook());
    QVERIFY(m_messages.isEmpty());
}

void TestComposer::unreadableWorkbookGoesToTheErrorReport()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"missing.xlsx"_s);
    Platform::setFileChooser([path](const Platform::FileRequest&) { return path; });
    m_form->openForTrack(1);
    QTest::mouseClick(control<QToolButton>("SpeedButton1"), Qt::LeftButton);
    QTRY_COMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].icon, Platform::MessageIcon::Error);
    QVERIFY(!m_messages[0].text.isEmpty());
    QVERIFY(!m_form->ExcelApplication1.hasWorkbook());
    chooseKind(3);
    add();
    QCOMPARE(m_messages.size(), 2);
    QCOMPARE(m_messages[1].text, u"База даных не подключна"_s);
}

void TestComposer::failingReadGoesToTheErrorReport()
{
    m_form->ExcelApplication1.AutoConnect = true;
    for (int r = 1; r <= 3; ++r)
        m_cells.set(r, 1, u"v%1"_s.arg(r));
    m_form->openForTrack(1);
    chooseKind(3);
    control<QComboBox>("ComboBox2")->setCurrentIndex(0);
    control<QSpinBox>("SpinEdit6")->setValue(0);
    control<QSpinBox>("SpinEdit3")->setValue(2);
    add(); // row 1, step 0 rising: the preview asks for row 0
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].text, u"Cell 0,1 cannot be read"_s);
    QCOMPARE(m_messages[0].icon, Platform::MessageIcon::Error);
    QCOMPARE(slotText(1, 0), u"v1"_s);
    QCOMPARE(m_session->templates().track(1).SegmentKind[0], quint8(ExcelSegment));
    QCOMPARE(m_session->templates().track(1).DigitCount, 2);
    QCOMPARE(label("Label10"), u"79"_s);
    QVERIFY(m_form->isVisible());
}

void TestComposer::stagedCardChangesNothingUntilCommitted()
{
    m_form->openForTrack(3);
    chooseKind(1);
    control<QSpinBox>("SpinEdit1")->setValue(7);
    control<QSpinBox>("SpinEdit2")->setValue(3);
    control<QSpinBox>("SpinEdit3")->setValue(4);
    add();
    m_form->openForTrack(2);
    control<QSpinBox>("SpinEdit3")->setValue(8);

    const StagedCard card = m_session->stageCard(2); // "Track 3"
    QCOMPARE(card.texts.track3, u"0007"_s);
    QCOMPARE(slotText(3, 0), u"7+3"_s);
    QCOMPARE(m_session->templates().track(3).slotText[0], u"7+3"_s);
    card.commit();
    QCOMPARE(slotText(3, 0), u"10+3"_s);
    QCOMPARE(control<QSpinBox>("SpinEdit3")->value(), 4);
    QCOMPARE(m_session->templates().CurrentTrack, quint8(2));

    // A worksheet slot whose cell cannot be read when the card is composed.
    m_form->ExcelApplication1.AutoConnect = true;
    for (int r = 2; r <= 4; ++r)
        m_cells.set(r, 1, u"5"_s);
    m_form->openForTrack(3);
    clickSlot(3, 1);
    chooseKind(3);
    control<QSpinBox>("SpinEdit5")->setValue(2);
    control<QComboBox>("ComboBox2")->setCurrentIndex(0);
    add();
    QCOMPARE(m_session->templates().track(3).SegmentKind[1], quint8(ExcelSegment));
    QVERIFY(!m_session->templates().track(3).slotText[1].isEmpty());
    m_cells.failAtRead = int(m_cells.reads.size());
    const TemplateSet before = m_session->templates();
    QVERIFY_THROWS_EXCEPTION(Failure, m_session->stageCard(5));
    QCOMPARE(m_session->templates(), before);
}

void TestComposer::okHidesAndStopsTheTimer()
{
    m_form->openForTrack(1);
    auto* timer = m_form->findChild<QTimer*>(u"Timer1"_s);
    QVERIFY(timer->isActive());
    QCOMPARE(timer->interval(), 100);
    m_form->Timer1Timer();
    QTest::mouseClick(control<QPushButton>("Button2"), Qt::LeftButton);
    QVERIFY(!m_form->isVisible());
    QVERIFY(!timer->isActive());
}

#ifdef Q_OS_WIN
namespace {

quint16 threadLayout()
{
    return LOWORD(reinterpret_cast<quintptr>(GetKeyboardLayout(0)));
}

} // namespace

// On Windows the lock is the thread's own keyboard layout.
void TestComposer::keyboardLayoutPerThread()
{
    const HKL russian = LoadKeyboardLayoutA("00000419", KLF_ACTIVATE);
    if (!russian || threadLayout() != 0x0419)
        QSKIP("this system cannot switch to the Russian layout");
    // A tick of the composer's timer locks the user-interface thread's layout, active or not.
    m_form->show();
    m_form->Timer1Timer();
    QCOMPARE(threadLayout(), quint16(0x0409));
    // Another thread of the program keeps its own layout: the lock is the thread's.
    quint16 other = 0;
    std::thread([&other] {
        LoadKeyboardLayoutA("00000419", KLF_ACTIVATE);
        other = threadLayout();
    }).join();
    QCOMPARE(other, quint16(0x0419));
    QCOMPARE(threadLayout(), quint16(0x0409));
    // The operator switches to Russian while the composer is shown; the next tick takes it back.
    ActivateKeyboardLayout(russian, 0);
    QCOMPARE(threadLayout(), quint16(0x0419));
    m_form->Timer1Timer();
    QCOMPARE(threadLayout(), quint16(0x0409));
    m_form->hide(); // nothing is given back on Windows
    QCOMPARE(threadLayout(), quint16(0x0409));
}
#endif

QTEST_MAIN(TestComposer)
#include "tst_composer.moc"
