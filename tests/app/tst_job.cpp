#include "app/batchahead.h"
#include "app/filedialogs.h"
#include "appfixture.h"

#include "app/previewwindow.h"
#include "app/tform3.h"
#include "tests/writing/jobsamples.h"
#include "writing/batchsession.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTableView>
#include <QTableWidget>
#include <QToolButton>

using namespace Qt::StringLiterals;

using JobSamples::readFile;
using JobSamples::Workbook;
using JobSamples::writeFile;

namespace {

QStringList filesIn(const QString& dir, const QString& pattern)
{
    return QDir(dir).entryList({pattern}, QDir::Files, QDir::Name);
}

// The operator's hands on the composer.
struct ComposerHands
{
    TForm3* form;

    template <typename T> T* control(const char* name) const { return ::control<T>(form, name); }
    void choose(int track, int slot, int kind)
    {
        form->openForTrack(track);
        control<QTableWidget>(QByteArray("StringGrid" + QByteArray::number(track)).constData())
            ->setCurrentCell(0, slot);
        control<QComboBox>("ComboBox1")->setCurrentIndex(kind);
    }
    void text(int track, int slot, const QString& text)
    {
        choose(track, slot, 0);
        control<QLineEdit>("Edit1")->setText(text);
        control<QPushButton>("Button1")->click();
    }
    void counter(int track, int slot, int kind, int start, int step, int digits)
    {
        choose(track, slot, kind);
        control<QSpinBox>("SpinEdit1")->setValue(start);
        control<QSpinBox>("SpinEdit2")->setValue(step);
        control<QSpinBox>("SpinEdit3")->setValue(digits);
        control<QPushButton>("Button1")->click();
    }
    void column(int track, int slot, int column, int digits)
    {
        choose(track, slot, 3);
        control<QSpinBox>("SpinEdit4")->setValue(column);
        control<QSpinBox>("SpinEdit5")->setValue(1); // the header row; the first card reads row 2
        control<QSpinBox>("SpinEdit6")->setValue(1);
        control<QComboBox>("ComboBox2")->setCurrentIndex(0);
        control<QSpinBox>("SpinEdit3")->setValue(digits);
        control<QPushButton>("Button1")->click();
    }
    void chooseWorkbook(const QString& path)
    {
        Platform::setFileChooser([path](const Platform::FileRequest&) { return path; });
        control<QToolButton>("SpeedButton1")->click();
        Platform::setFileChooser({});
    }
    // Text, counters and worksheet columns on all three tracks.
    void buildBatch(const QString& workbook)
    {
        chooseWorkbook(workbook);
        text(1, 0, u"b"_s);
        column(1, 1, 1, 1);
        counter(2, 0, 1, 1000, 1, 4);
        text(2, 1, u"="_s);
        column(2, 2, 2, 4);
        counter(3, 0, 2, 500, 5, 3);
        form->hide();
    }
};

QStringList texts(const CardTexts& card)
{
    return {card.track1, card.track2, card.track3};
}

// The track boxes of the write tab for a choice, as the operator ticks them.
void tickWriteBoxes(TForm1* form1, int choice)
{
    control<QTabWidget>(form1, "TabbedNotebook1")->setCurrentIndex(1);
    const bool on[3] = {CommandSet::choiceCarries(choice, 1), CommandSet::choiceCarries(choice, 2),
                        CommandSet::choiceCarries(choice, 3)};
    QCheckBox* boxes[3] = {control<QCheckBox>(form1, "CheckBox4"), control<QCheckBox>(form1, "CheckBox5"),
                           control<QCheckBox>(form1, "CheckBox6")};
    for (int i = 0; i < 3; ++i)
        if (on[i])
            boxes[i]->setChecked(true);
    for (int i : {0, 2, 1})
        if (!on[i])
            boxes[i]->setChecked(false);
}

// The program closed and started again in the same working directory.
void restart(AppFixture& f)
{
    f.form1->close();
    f.app.reset();
    f.app = std::make_unique<Application>(qtSerialDeviceFactory(), [&f](int ms) { f.sleeps.push_back(ms); });
    f.form1 = f.app->form1.get();
    f.start();
}

} // namespace

// Jobs in the running program: the menu, the saves as the job changes, and
// what a fresh program finds in the working directory.
class TestJobWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fileMenuItems();
    void nextCardSurvivesARestart_data();
    void nextCardSurvivesARestart();
    void refusedAtStartIsKeptAside_data();
    void refusedAtStartIsKeptAside();
    void refusedOnOpenChangesNothing_data();
    void refusedOnOpenChangesNothing();
    void saveAsNewAndOpen();
    void workbookMovedOrMissing();
    void jobChangeThatFailsChangesNothing();
    void previewListsTheBatchAhead();
    void batchAheadAsTheOperatorMeansIt();
    void batchAheadReadsTheFileAsItStands();
};

void TestJobWindow::fileMenuItems()
{
    AppFixture f;
    QStringList items;
    for (QAction* action : control<QMenu>(f.form1, "N1")->actions())
        items << (action->isSeparator() ? u"-"_s : action->text());
    QStringList expected{
        u"Новое задание"_s, u"Открыть задание…"_s, u"Сохранить задание как…"_s, u"Просмотр партии…"_s, u"-"_s,
        u"Выход"_s};
#ifdef STRIPEWELL_SHARED_BATCHES
    expected.insert(4, u"Общая партия"_s);
    QStringList shared;
    for (QAction* action : control<QMenu>(f.form1, "SharedMenu")->actions())
        shared << action->text();
    QCOMPARE(shared, QStringList({u"Опубликовать партию…"_s, u"Подключиться к партии…"_s, u"Партия в базе…"_s,
                                  u"Отключиться от партии"_s}));
#endif
    QCOMPARE(items, expected);
    QCOMPARE(control<QMenu>(f.form1, "N1")->actions().last(), control<QAction>(f.form1, "N2"));
}

void TestJobWindow::nextCardSurvivesARestart_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<int>("written");   // cards answered "written" before the program ends
    QTest::addColumn<bool>("inFlight"); // one more card sent and not answered when it ends
    // The other choices and counts: TestSession, without the window.
    QTest::newRow("all tracks, a card in flight") << 5 << 1 << true;
}

// What the window shows of a job reopened at start: the boxes of both tabs and
// the label for its track choice, the workbook connected, and the card in
// flight in the edits and the log as it goes out first.
void TestJobWindow::nextCardSurvivesARestart()
{
    QFETCH(int, choice);
    QFETCH(int, written);
    QFETCH(bool, inFlight);
    AppFixture f;
    f.linkPort(0);
    QVERIFY(writeFile(f.dir.filePath(u"cards.csv"_s), Workbook));
    f.start();
    tickWriteBoxes(f.form1, choice);
    ComposerHands{f.app->form3}.buildBatch(f.dir.filePath(u"cards.csv"_s));
    for (int card = 0; card < written; ++card) {
        f.app->session->stageCard(choice).commit();
        f.app->session->saveJob(); // what the write loop does on "written"
    }
    QStringList sentFirst;
    if (inFlight) {
        // The card goes out; the terminal (this test) never answers before the program ends.
        control<QPushButton>(f.form1, "SpeedButton5")->click();
        f.form1->Timer2Timer();
        sentFirst =
            QStringList{control<QLineEdit>(f.form1, "Edit1")->text(), control<QLineEdit>(f.form1, "Edit2")->text(),
                        control<QLineEdit>(f.form1, "Edit3")->text()};
    }
    // "Карточек в партии:": a value refused is put back and said in the log; one taken is the job's.
    auto* sizeBox = control<QLineEdit>(f.form1, "BatchSizeEdit");
    for (const char* typed : {"0x10", "7"}) {
        sizeBox->clear();
        QTest::keyClicks(sizeBox, QLatin1String(typed));
        QTest::keyClick(sizeBox, Qt::Key_Return);
    }
    QVERIFY(
        control<QPlainTextEdit>(f.form1, "Memo4")->toPlainText().endsWith(f.app->session->batchSizeRefusal(u"0x10"_s)));
    const QStringList expected = texts(f.app->session->stageCard(choice).texts);
    QVERIFY2(f.boxes.empty(), f.boxes.empty() ? "" : qPrintable(f.boxes.front().text));

    restart(f);
    QVERIFY2(f.boxes.empty(), f.boxes.empty() ? "" : qPrintable(f.boxes.front().text));
    QCOMPARE(control<QLineEdit>(f.form1, "BatchSizeEdit")->text(), u"7"_s);
    QCOMPARE(control<QLabel>(f.form1, "Label3")->text(), u"Записано карточек: 0 из 7"_s);
    QCOMPARE(texts(f.app->session->stageCard(choice).texts), expected);
    if (inFlight) {
        f.wire();
        control<QPushButton>(f.form1, "SpeedButton5")->click();
        f.form1->Timer2Timer();
        QCOMPARE(
            (QStringList{control<QLineEdit>(f.form1, "Edit1")->text(), control<QLineEdit>(f.form1, "Edit2")->text(),
                         control<QLineEdit>(f.form1, "Edit3")->text()}),
            sentFirst);
        QCOMPARE(control<QPlainTextEdit>(f.form1, "Memo4")->toPlainText(), u"1"_s + WriteLoop::sentAgainLine());
        QVERIFY(f.wire().contains(sentFirst.at(0).toLatin1()));
    }
    QCOMPARE(f.app->form2->trackChoice(), choice);
    QCOMPARE(control<QLabel>(f.form1, "Label2")->text(), u"Запись: "_s + CommandSet::trackChoiceText(choice));
    QCOMPARE(control<QCheckBox>(f.form1, "CheckBox5")->isChecked(), CommandSet::choiceCarries(choice, 2));
    QCOMPARE(control<QCheckBox>(f.form1, "CheckBox2")->isChecked(), CommandSet::choiceCarries(choice, 2));
    QVERIFY(f.app->form3->ExcelApplication1.AutoConnect);
    QCOMPARE(f.app->port.PortHandle(), ComPort::Handle::Open);
}

void TestJobWindow::refusedAtStartIsKeptAside_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("aside");
    // One file is enough for the box; every kind of refused file: TestSession.
    const JobSamples::Refused r = JobSamples::refusedFiles().first();
    QTest::newRow(r.name) << r.bytes << r.says << u"job.swj."_s + JobFile::asideReason(r.problem) + u"-*"_s;
}

// The job that was open no longer reads: the operator is told in an "Ошибка"
// box, the program starts with an empty job, and the file is renamed.
void TestJobWindow::refusedAtStartIsKeptAside()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    QFETCH(QString, aside);
    AppFixture f;
    f.linkPort(0);
    QVERIFY(writeFile(f.dir.filePath(u"job.swj"_s), bytes));
    f.start();
    QCOMPARE(int(f.boxes.size()), 1);
    QVERIFY2(f.boxes[0].text.contains(says), qPrintable(f.boxes[0].text));
    QVERIFY2(f.boxes[0].text.contains(u"начато новое задание"_s), qPrintable(f.boxes[0].text));
    QCOMPARE(f.boxes[0].title, u"Ошибка"_s);
    QCOMPARE(filesIn(f.dir.path(), aside).size(), 1); // what else it leaves: TestSession
}

void TestJobWindow::refusedOnOpenChangesNothing_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("says");
    for (const JobSamples::Refused& r : JobSamples::refusedFiles())
        QTest::newRow(r.name) << r.bytes << r.says;
}

// "Открыть задание…" on a file that is not a good job: one message, and the
// open job, its file and the refused file all stay as they were.
void TestJobWindow::refusedOnOpenChangesNothing()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, says);
    AppFixture f;
    f.linkPort(0);
    f.start();
    ComposerHands{f.app->form3}.text(2, 3, u"123"_s);
    const TemplateSet before = f.app->session->templates();
    const QByteArray saved = readFile(f.dir.filePath(u"job.swj"_s));
    QVERIFY(!saved.isEmpty());
    const QString other = f.dir.filePath(u"other.swj"_s);
    QVERIFY(writeFile(other, bytes));

    Platform::setFileChooser([other](const Platform::FileRequest&) { return other; });
    control<QAction>(f.form1, "N7")->trigger();
    Platform::setFileChooser({});
    QCOMPARE(int(f.boxes.size()), 1);
    QVERIFY2(f.boxes[0].text.contains(says), qPrintable(f.boxes[0].text));
    QCOMPARE(f.boxes[0].title, u"Ошибка"_s);
    QVERIFY(f.app->session->templates() == before);
    QCOMPARE(f.app->session->job().path(), f.dir.filePath(u"job.swj"_s));

    f.form1->close();
    QCOMPARE(readFile(other), bytes);
    QCOMPARE(readFile(f.dir.filePath(u"job.swj"_s)), saved);
    QCOMPARE(filesIn(f.dir.path(), u"*.swj*"_s), QStringList({u"job.swj"_s, u"other.swj"_s}));
}

// The menu items on the job: "Сохранить задание как…" (a name without
// extension gets ".swj"), "Новое задание" and "Открыть задание…", with the
// composer's grids following the job.
void TestJobWindow::saveAsNewAndOpen()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    ComposerHands composer{f.app->form3};
    composer.counter(2, 0, 1, 70, 10, 3);
    QVERIFY(QDir(f.dir.path()).mkdir(u"jobs"_s));
    Platform::setFileChooser([&f](const Platform::FileRequest& request) {
        const bool saving = request.mode == Platform::FileRequest::Mode::Save;
        return saving ? f.dir.filePath(u"jobs/batch"_s) : f.dir.filePath(u"jobs/batch.swj"_s);
    });
    control<QAction>(f.form1, "N8")->trigger();
    composer.counter(2, 0, 1, 80, 10, 3); // saved into the job's new file
    QCOMPARE(JobFile::read(f.dir.filePath(u"jobs/batch.swj"_s)).job->templates.track(2).slotText[0], u"80+10"_s);

    control<QAction>(f.form1, "N6")->trigger();
    QCOMPARE(ComposerHands{f.app->form3}.control<QTableWidget>("StringGrid2")->item(0, 0)->text(), QString());

    control<QAction>(f.form1, "N7")->trigger();
    Platform::setFileChooser({});
    QCOMPARE(ComposerHands{f.app->form3}.control<QTableWidget>("StringGrid2")->item(0, 0)->text(), u"80+10"_s);
    QVERIFY2(f.boxes.empty(), f.boxes.empty() ? "" : qPrintable(f.boxes.front().text));
    // What a restart finds: TestSession::saveAsNewAndOpen.
}

// A job whose workbook is gone: the window says so once in a "Внимание!" box
// at start and keeps the slots. A folder moved with its job, and the workbook
// found again when it is back: TestSession::workbookMovedOrMissing.
void TestJobWindow::workbookMovedOrMissing()
{
    AppFixture f;
    f.linkPort(0);
    QVERIFY(writeFile(f.dir.filePath(u"a/cards.csv"_s), Workbook));
    f.start();
    Platform::setFileChooser([&f](const Platform::FileRequest&) { return f.dir.filePath(u"a/batch.swj"_s); });
    control<QAction>(f.form1, "N8")->trigger();
    Platform::setFileChooser({});
    ComposerHands composer{f.app->form3};
    composer.chooseWorkbook(f.dir.filePath(u"a/cards.csv"_s));
    composer.column(1, 0, 1, 1);
    QCOMPARE(texts(f.app->session->stageCard(0).texts).first(), u"IVANOV"_s);

    f.form1->close();
    QVERIFY(QFile::rename(f.dir.filePath(u"a/cards.csv"_s), f.dir.filePath(u"cards.away"_s)));
    restart(f);
    QCOMPARE(int(f.boxes.size()), 1);
    QCOMPARE(f.boxes[0].title, u"Внимание!"_s);
    QVERIFY2(f.boxes[0].text.contains(u"не найдена"_s), qPrintable(f.boxes[0].text));
    // The slot shows the value last read, the header row's.
    QCOMPARE(ComposerHands{f.app->form3}.control<QTableWidget>("StringGrid1")->item(0, 0)->text(), u"Name"_s);
    QVERIFY(!f.app->form3->ExcelApplication1.AutoConnect);
}

// When the working directory cannot record which job is open, "Открыть
// задание…" fails with the error report and the composer keeps the open job.
// What is saved where after it: TestSession::jobChangeThatFailsChangesNothing.
void TestJobWindow::jobChangeThatFailsChangesNothing()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    ComposerHands composer{f.app->form3};
    composer.text(2, 0, u"11"_s);
    const QString other = f.dir.filePath(u"other.swj"_s);
    Job otherJob;
    otherJob.templates.track(3).slotText[0] = u"33"_s;
    JobFile::write(other, otherJob);
    const QByteArray otherBytes = readFile(other);
    QVERIFY(QDir(f.dir.path()).mkdir(u"lastjob.txt"_s)); // a folder where the pointer file goes

    Platform::setFileChooser([other](const Platform::FileRequest&) { return other; });
    control<QAction>(f.form1, "N7")->trigger();
    Platform::setFileChooser({});
    QCOMPARE(int(f.boxes.size()), 1);
    QCOMPARE(f.boxes[0].title, u"Stripewell"_s);
    QCOMPARE(composer.control<QTableWidget>("StringGrid2")->item(0, 0)->text(), u"11"_s);
    f.form1->close();
    QCOMPARE(readFile(other), otherBytes);
}

int runJobWindowTests(int argc, char** argv)
{
    TestJobWindow t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_job.moc"

// The preview from the "Файл" menu: the cards ahead with their problems, the
// filter, the CSV, and the workbook rewritten while a pre-flight runs.
void TestJobWindow::previewListsTheBatchAhead()
{
    AppFixture f;
    f.linkPort(0);
    const QString book = f.dir.filePath(u"cards.csv"_s);
    QVERIFY(writeFile(book, QByteArray(Workbook).replace("SIDOROV", "SID%ROV").replace("POPOV;1", "PETROV;12")));
    f.start();
    tickWriteBoxes(f.form1, 0);
    ComposerHands composer{f.app->form3}; // track 1 only: "B" and the name, so row 6 repeats row 3
    composer.chooseWorkbook(book);
    composer.text(1, 0, u"b"_s);
    composer.column(1, 1, 1, 1);
    composer.form->hide();

    auto* action = f.form1->findChild<QAction*>(u"PreviewAction"_s);
    QVERIFY(action && control<QMenu>(f.form1, "N1")->actions().contains(action));
    QVERIFY(control<QWidget>(f.form1, "TabSheet2")->findChild<QPushButton*>(u"PreviewButton"_s));
    action->trigger();
    PreviewWindow* preview = f.form1->previewWindow();
    QVERIFY(preview && preview->isVisible());
    QSignalSpy updated(preview, &PreviewWindow::updated);
    QVERIFY(updated.wait(5000));
    QCOMPARE(int(preview->result().cards.size()), 5);
    QCOMPARE(preview->table()->model()->rowCount(), 5);
    const auto cell = [preview](int line, int column) {
        return preview->table()->model()->index(line, column).data().toString();
    };
    QCOMPARE(cell(2, 1), u"4"_s);
    QVERIFY2(cell(2, 5).startsWith(u"Карточка 3 (строка 4, ячейка A4): "_s), qPrintable(cell(2, 5)));
    QVERIFY2(cell(4, 5).contains(u"карточки 2 (строка 3)"_s), qPrintable(cell(4, 5)));
    QCOMPARE(cell(0, 5), QString());
    QVERIFY2(preview->summary().startsWith(u"Данные кончаются на строке 7: в партии 5 карточек. Остановят запись: 1. "
                                           "Предупреждений: 1. До первой остановки можно записать карточек: 2."_s),
             qPrintable(preview->summary()));

    preview->findChild<QCheckBox*>(u"ProblemsOnly"_s)->setChecked(true);
    QCOMPARE(preview->table()->model()->rowCount(), 2);
    QCOMPARE(cell(0, 0), u"3"_s);
    preview->findChild<QCheckBox*>(u"ProblemsOnly"_s)->setChecked(false);
    preview->findChild<QPushButton*>(u"FirstProblem"_s)->click();
    QCOMPARE(preview->table()->currentIndex().row(), 2);

    const QString out = f.dir.filePath(u"batch.csv"_s);
    Platform::setFileChooser([out](const Platform::FileRequest&) { return out; });
    preview->findChild<QPushButton*>(u"SaveCsv"_s)->click();
    Platform::setFileChooser({});
    const QList<QByteArray> lines = readFile(out).split('\n');
    QCOMPARE(int(lines.size()), 7);
    QCOMPARE(lines.at(0), "Карточка,Строка,Дорожка 1,Дорожка 2,Дорожка 3,Проблема\r"_ba);
    QCOMPARE(lines.at(1), "1,2,BIVANOV,,,\r"_ba);

    // Rewritten while a pre-flight runs: the newer file wins, nothing of the older one is shown.
    preview->refresh();
    QVERIFY(writeFile(book, "Name;Code\r\nIVANOV;7\r\nPETROV;12\r\n"));
    QTRY_COMPARE_WITH_TIMEOUT((preview->checkForChanges(), int(preview->result().cards.size())), 2, 5000);
    QVERIFY(preview->result().clean());
    QCOMPARE(preview->table()->model()->rowCount(), 2);
    QVERIFY2(f.boxes.empty(), f.boxes.empty() ? "" : qPrintable(f.boxes.front().text));
}

// A counter "7+3" of four digits: no size, no question, the preview its first
// cards and a word on the size; twenty cards start at once. The preview fits
// 1024×768. The question tells what stops the run apart from what only warns.
void TestJobWindow::batchAheadAsTheOperatorMeansIt()
{
    AppFixture f;
    f.linkPort(0);
    f.start();
    tickWriteBoxes(f.form1, 0);
    ComposerHands composer{f.app->form3};
    composer.counter(1, 0, 1, 7, 3, 4);
    composer.form->hide();
    BatchSession& session = *f.app->session;
    const QString journal = f.dir.filePath(u"journal.csv"_s);
    QVERIFY(BatchAhead::confirm(f.form1, session, journal));
    QVERIFY(BatchAhead::confirm(f.form1, session, journal, 20));
    QVERIFY(f.boxes.empty());

    f.form1->findChild<QAction*>(u"PreviewAction"_s)->trigger();
    PreviewWindow* preview = f.form1->previewWindow();
    QSignalSpy updated(preview, &PreviewWindow::updated);
    QVERIFY(updated.wait(5000));
    QCOMPARE(int(preview->result().cards.size()), Preflight::CardsWithoutSize);
    QVERIFY2(preview->summary().startsWith(u"Без размера партии показаны первые 100 карточек; укажите «Карточек в "
                                           "партии», чтобы проверить всю партию."_s),
             qPrintable(preview->summary()));
    for (const QSize size : {preview->size(), preview->sizeHint(), preview->minimumSizeHint()})
        QVERIFY(size.width() <= 1000 && size.height() <= 700);
    auto* save = preview->findChild<QPushButton*>(u"SaveCsv"_s);
    QVERIFY(preview->rect().contains(QRect(save->mapTo(preview, QPoint()), save->size())));

    using P = Preflight::Problem;
    Preflight::Result result;
    result.cards.resize(6);
    result.size = 6;
    result.problems = {{P::CounterWidens, 2, 0, {}, u"Шире."_s}, {P::Character, 4, 5, u"A5"_s, u"Символ."_s}};
    QString question = BatchAhead::question(result);
    QVERIFY2(question.startsWith(u"Проверка партии. Карточек в партии: 6.\n\nЗапись остановится на карточке 4 "
                                 "(строка 5, ячейка A5): Символ.\nДо неё можно записать карточек: 3.\n\n"
                                 "Предупреждения (запись не остановится): 1.\nКарточка 2: Шире."_s),
             qPrintable(question));
    result.problems.removeLast();
    question = BatchAhead::question(result);
    QVERIFY2(!question.contains(u"остановится на"_s) && question.endsWith(u"Начать запись?"_s), qPrintable(question));
}

// "Записать" with no run and the preview closed reads the workbook as it is on
// disk: a cell mended since the last look is no longer a problem, and the run
// reads the mended cell too.
void TestJobWindow::batchAheadReadsTheFileAsItStands()
{
    AppFixture f;
    f.linkPort(0);
    const QString book = f.dir.filePath(u"cards.csv"_s);
    QVERIFY(writeFile(book, QByteArray(Workbook).replace("345", "44B4")));
    f.start();
    tickWriteBoxes(f.form1, 1);
    ComposerHands composer{f.app->form3};
    composer.chooseWorkbook(book);
    composer.column(2, 0, 2, 1);
    composer.form->hide();
    BatchSession& session = *f.app->session;
    const QString journal = f.dir.filePath(u"journal.csv"_s);
    const auto check = [&] {
        PreflightRunner::Request r = BatchAhead::request(session, journal);
        return Preflight::run({r.templates, r.choice, {}, r.sheet.lastRow()}, r.sheet);
    };
    Platform::setNextAnswer(false);
    QVERIFY(!BatchAhead::confirm(f.form1, session, journal));
    QCOMPARE(f.boxes.size(), std::size_t(1));
    QVERIFY2(f.boxes.front().text.contains(u"Запись остановится на карточке 3 (строка 4, ячейка B4): "_s) &&
                 f.boxes.front().text.contains(u"«B»"_s),
             qPrintable(f.boxes.front().text));
    f.boxes.clear();

    QVERIFY(writeFile(book, QByteArray(Workbook).replace("345", "4444"))); // the same size: the time tells
    QFile file(book);
    QVERIFY(file.open(QIODevice::ReadWrite) &&
            file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
    file.close();
    QVERIFY(BatchAhead::confirm(f.form1, session, journal));
    QVERIFY(f.boxes.empty());
    QCOMPARE(check().cards.at(2).texts[1], u"4444"_s);
    QCOMPARE(session.workbook().ReadCellText(4, 2), u"4444"_s); // what the run's card reads

    // The size typed in the box is the batch "Записать" checks: five rows do not make fifty cards.
    auto* sizeBox = control<QLineEdit>(f.form1, "BatchSizeEdit");
    QTest::keyClicks(sizeBox, u"50"_s);
    QTest::keyClick(sizeBox, Qt::Key_Return);
    Platform::setNextAnswer(false);
    f.wire(); // what went before
    control<QPushButton>(f.form1, "SpeedButton5")->click();
    QCOMPARE(f.boxes.size(), std::size_t(1));
    QVERIFY2(f.boxes.front().text.contains(u"Данные кончаются на карточке 6 из 50."_s),
             qPrintable(f.boxes.front().text));
    QVERIFY(f.wire().isEmpty());
}
