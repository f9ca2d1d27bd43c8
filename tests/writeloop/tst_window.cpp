#include "app/filedialogs.h"
#include "appfixture.h"
#include "simprogram.h"

#include "app/tform3.h"
#include "restartbatch.h"
#include "writing/journal.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSpinBox>
#include <QTableWidget>

#include <functional>

namespace {

// The settings file or the workbook of a run, written whole.
bool putFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The worksheet the card run reads: a header row, then one card a row.
const QByteArray Workbook = "Name;Code\r\n"
                            "IVANOV;7\r\n"
                            "PETROV;12\r\n"
                            "SIDOROV;345\r\n"
                            "KUZNETSOV;6789\r\n"
                            "POPOV;1\r\n";

// Cards 1..5 as the templates built below give them.
QByteArray expectedCards()
{
    return "BIVANOV|1000=0007|500\n"
           "BPETROV|1001=0012|495\n"
           "BSIDOROV|1002=0345|490\n"
           "BKUZNETSOV|1003=6789|485\n"
           "BPOPOV|1004=0001|480\n";
}

// Written, refused, no answer (the operator cancels and starts again), written,
// an answer without verdict; every further card is written.
const char* const Outcomes = "WNXWV";

// The files a program killed now would leave in its working directory, copied
// into another one.
void copyWorkFiles(const QString& from, const QString& to)
{
    for (const char* name : {"config.rwc", "cards.csv", "job.swj", "lastjob.txt", "journal.csv"}) {
        const QString target = QDir(to).filePath(QLatin1String(name));
        QFile::remove(target);
        QFile::copy(QDir(from).filePath(QLatin1String(name)), target);
    }
}

} // namespace

// The main window and the composer writing a run of cards to the simulator
// program across a pseudo-terminal: the operator's controls in, the wire and the
// window's log out.
class TestWindowRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void runOfCardsFromTheWindow();
    void problemAheadIsAskedBeforeTheFirstCard();
    void restartAtEachStepOfTheStart_data();
    void restartAtEachStepOfTheStart();

private:
    template <typename T> T* composerControl(const char* name) const { return control<T>(m_form3, name); }
    void chooseSlot(int track, int slot);
    void addText(int track, int slot, const QString& text);
    void addCounter(int track, int slot, int kind, int start, int step, int digits);
    void addColumn(int track, int slot, int column, int digits);
    void tick(int times = 1);
    bool tickUntil(const std::function<bool()>& done);
    int logLines() const;
    void tickUntilWritten(BatchSession& session);
    void buildTemplates(AppFixture& f, const QString& workbook);

    TForm3* m_form3 = nullptr;
    TForm1* m_form1 = nullptr;
};

void TestWindowRun::chooseSlot(int track, int slot)
{
    auto* grid = composerControl<QTableWidget>(QByteArray("StringGrid" + QByteArray::number(track)).constData());
    const QRect cell = grid->visualRect(grid->model()->index(0, slot));
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
}

void TestWindowRun::addText(int track, int slot, const QString& text)
{
    chooseSlot(track, slot);
    composerControl<QComboBox>("ComboBox1")->setCurrentIndex(0);
    composerControl<QLineEdit>("Edit1")->clear();
    QTest::keyClicks(composerControl<QLineEdit>("Edit1"), text);
    QTest::mouseClick(composerControl<QPushButton>("Button1"), Qt::LeftButton);
}

void TestWindowRun::addCounter(int track, int slot, int kind, int start, int step, int digits)
{
    chooseSlot(track, slot);
    composerControl<QComboBox>("ComboBox1")->setCurrentIndex(kind);
    composerControl<QSpinBox>("SpinEdit1")->setValue(start);
    composerControl<QSpinBox>("SpinEdit2")->setValue(step);
    composerControl<QSpinBox>("SpinEdit3")->setValue(digits);
    QTest::mouseClick(composerControl<QPushButton>("Button1"), Qt::LeftButton);
}

void TestWindowRun::addColumn(int track, int slot, int column, int digits)
{
    chooseSlot(track, slot);
    composerControl<QComboBox>("ComboBox1")->setCurrentIndex(3);
    composerControl<QSpinBox>("SpinEdit4")->setValue(column);
    composerControl<QSpinBox>("SpinEdit5")->setValue(1); // the header row; the first card reads row 2
    composerControl<QSpinBox>("SpinEdit6")->setValue(1);
    composerControl<QComboBox>("ComboBox2")->setCurrentIndex(0);
    composerControl<QSpinBox>("SpinEdit3")->setValue(digits);
    QTest::mouseClick(composerControl<QPushButton>("Button1"), Qt::LeftButton);
}

void TestWindowRun::tick(int times)
{
    for (int i = 0; i < times; ++i)
        Platform::guarded(m_form1, [this] { m_form1->Timer2Timer(); });
}

// Ticks as the running timer would until `done`. A tick listens a tenth of a
// second for the answer; one the terminal is slower with (a busy machine) is read
// on a later tick, as the timer would read it.
bool TestWindowRun::tickUntil(const std::function<bool()>& done)
{
    for (int i = 0; i < 50 && !done(); ++i)
        tick();
    return done();
}

int TestWindowRun::logLines() const
{
    const QString log = control<QPlainTextEdit>(m_form1, "Memo4")->toPlainText();
    return log.isEmpty() ? 0 : int(log.count(u'\n')) + 1;
}

// Ticks as the timer would, each once the workbook has been read.
void TestWindowRun::tickUntilWritten(BatchSession& session)
{
    QVERIFY(tickUntil([&] {
        return !session.settleWorkbook(true) ||
               control<QLabel>(m_form1, "Label3")->text() == QStringLiteral("Записано карточек: 1");
    }));
    QVERIFY(session.settleWorkbook(true));
}

void TestWindowRun::buildTemplates(AppFixture& f, const QString& workbook)
{
    Platform::setFileChooser([workbook](const Platform::FileRequest&) { return workbook; });
    control<QToolButton>(f.form1, "SpeedButton11")->click();
    QTest::mouseClick(composerControl<QToolButton>("SpeedButton1"), Qt::LeftButton);
    QTRY_VERIFY(m_form3->ExcelApplication1.AutoConnect);
    addText(1, 0, QStringLiteral("b"));
    addColumn(1, 1, 1, 1);
    control<QToolButton>(f.form1, "SpeedButton12")->click();
    addCounter(2, 0, 1, 1000, 1, 4);
    addText(2, 1, QStringLiteral("="));
    addColumn(2, 2, 2, 4);
    control<QToolButton>(f.form1, "SpeedButton13")->click();
    addCounter(3, 0, 2, 500, 5, 3);
    QTest::mouseClick(composerControl<QPushButton>("Button2"), Qt::LeftButton); // OK
    Platform::setFileChooser({});
}

void TestWindowRun::runOfCardsFromTheWindow()
{
    AppFixture f;
    m_form1 = f.form1;
    m_form3 = f.app->form3;
    const QString encoded = f.dir.filePath(QStringLiteral("encoded.txt"));
    // The ticks are driven by hand, one answer each: the card goes through at once.
    SimulatorProgram sim(f.dir.path(),
                         {QStringLiteral("--write-outcomes"), QString::fromLatin1(Outcomes),
                          QStringLiteral("--encoded"), encoded, QStringLiteral("--swipe"), QStringLiteral("0")});
    QVERIFY(putFile(f.dir.filePath(QStringLiteral("config.rwc")), "0\r\n"));
    QVERIFY(putFile(f.dir.filePath(QStringLiteral("cards.csv")), Workbook));
    f.start();
    QVERIFY(f.boxes.empty());

    control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(1);
    control<QCheckBox>(f.form1, "CheckBox5")->setChecked(true);
    control<QCheckBox>(f.form1, "CheckBox6")->setChecked(true);
    QCOMPARE(control<QLabel>(f.form1, "Label2")->text(), QStringLiteral("Запись: Track 1 & 2 & 3"));

    buildTemplates(f, f.dir.filePath(QStringLiteral("cards.csv")));
    QVERIFY2(f.boxes.empty(), f.boxes.empty() ? "" : qPrintable(f.boxes.front().text));

    control<QPushButton>(f.form1, "SpeedButton5")->click(); // a clean batch: no question, the run starts at once
    QVERIFY(f.form1->Timer2.isActive());
    QVERIFY(tickUntil([this] { return logLines() == 2; })); // card 1 written; card 2 refused
    QCOMPARE(control<QPlainTextEdit>(f.form1, "Memo4")->toPlainText(),
             QStringLiteral("1  Карточка записана\n2  Карточка НЕ записана!"));
    tick(3);                                                // card 2 again, no answer: still listening
    control<QPushButton>(f.form1, "SpeedButton9")->click(); // "Отмена"
    QCOMPARE(control<QLineEdit>(f.form1, "Edit2")->text(), QString());
    QVERIFY(control<QPushButton>(f.form1, "SpeedButton5")->isEnabled());

    control<QPushButton>(f.form1, "SpeedButton5")->click(); // the card that had no answer goes first
    tick(1);
    QCOMPARE(control<QLineEdit>(f.form1, "Edit2")->text(), QStringLiteral("1001=0012"));
    // Card 3 without verdict, card 3 again, cards 4 and 5.
    QVERIFY(tickUntil([this] { return logLines() == 6; }));
    control<QPushButton>(f.form1, "SpeedButton9")->click();
    QCOMPARE(control<QPlainTextEdit>(f.form1, "Memo4")->toPlainText(),
             QStringLiteral("1  Карточка, оставшаяся без ответа, отправлена снова\n"
                            "1  Карточка записана\n"
                            "2  Нет результата записи, карточка будет отправлена снова\n"
                            "2  Карточка записана\n"
                            "3  Карточка записана\n"
                            "4  Карточка записана"));
    QCOMPARE(control<QLabel>(f.form1, "Label3")->text(), QStringLiteral("Записано карточек: 4"));
    QVERIFY(f.boxes.empty());

    QVERIFY(sim.waitForLine("stopped"));
    QFile cards(encoded);
    QVERIFY(cards.open(QIODevice::ReadOnly));
    QCOMPARE(cards.readAll(), expectedCards());
    // The run's first bytes: the write start, then card 1's frame and ESC 'j'.
    const QByteArray wire = sim.wire();
    const QByteArray firstCard = QByteArray("\x1B%B\x1Bt") + "1000'0007A500BBIVANOV\x1D\x1B\\\x1Bj";
    QVERIFY2(wire.contains(firstCard), wire.toHex(' ').constData());

    // A text over its track's capacity in hand stops the run at the next step,
    // before any frame: the "Ошибка" box, "Записать" enabled, the edits emptied.
    const qsizetype framesBefore = sim.wire().count("\x1Bt");
    f.form1->setTrackText(3, QString(108, u'3'));
    control<QPushButton>(f.form1, "SpeedButton5")->click();
    tick(1);
    QCOMPARE(f.boxes.size(), size_t(1));
    QCOMPARE(f.boxes.front().text, QStringLiteral("Запись невозможна. Очень длинная строка!"));
    QCOMPARE(f.boxes.front().title, QStringLiteral("Ошибка"));
    QVERIFY(control<QPushButton>(f.form1, "SpeedButton5")->isEnabled());
    QVERIFY(!f.form1->Timer2.isActive());
    QCOMPARE(control<QLineEdit>(f.form1, "Edit1")->text() + control<QLineEdit>(f.form1, "Edit2")->text() +
                 control<QLineEdit>(f.form1, "Edit3")->text(),
             QString());
    QCOMPARE(sim.wire().count("\x1Bt"), framesBefore);
}

// Row 4 holds a character track 1 cannot carry: "Записать" asks first; "Нет"
// sends nothing, "Да" writes cards 1 and 2 and stops at card 3 as a run always did.
void TestWindowRun::problemAheadIsAskedBeforeTheFirstCard()
{
    AppFixture f;
    m_form1 = f.form1;
    m_form3 = f.app->form3;
    const QString encoded = f.dir.filePath(QStringLiteral("encoded.txt"));
    SimulatorProgram sim(f.dir.path(),
                         {QStringLiteral("--encoded"), encoded, QStringLiteral("--swipe"), QStringLiteral("0")});
    QVERIFY(putFile(f.dir.filePath(QStringLiteral("config.rwc")), "0\r\n"));
    QVERIFY(putFile(f.dir.filePath(QStringLiteral("cards.csv")), QByteArray(Workbook).replace("SIDOROV", "SID%ROV")));
    f.start();
    control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(1);
    control<QCheckBox>(f.form1, "CheckBox5")->setChecked(true);
    control<QCheckBox>(f.form1, "CheckBox6")->setChecked(true);
    buildTemplates(f, f.dir.filePath(QStringLiteral("cards.csv")));
    QVERIFY2(f.boxes.empty(), f.boxes.empty() ? "" : qPrintable(f.boxes.front().text));

    Platform::setNextAnswer(false);
    control<QPushButton>(f.form1, "SpeedButton5")->click();
    QCOMPARE(f.boxes.size(), std::size_t(1));
    const QString question = f.boxes.front().text;
    QVERIFY2(question.contains(QStringLiteral("Проверка партии. Данные кончаются на строке 7: в партии 5 "
                                              "карточек.\n\nЗапись остановится на карточке 3 (строка 4, ячейка A4): ")),
             qPrintable(question));
    QVERIFY2(question.contains(QStringLiteral("До неё можно записать карточек: 2.")), qPrintable(question));
    QVERIFY(!f.form1->Timer2.isActive());
    QVERIFY(control<QPushButton>(f.form1, "SpeedButton5")->isEnabled());
    QVERIFY(control<QPlainTextEdit>(f.form1, "Memo4")->toPlainText().isEmpty());

    f.boxes.clear();
    control<QPushButton>(f.form1, "SpeedButton5")->click(); // "Да"
    QCOMPARE(f.boxes.size(), std::size_t(1));
    QVERIFY(f.form1->Timer2.isActive());
    QVERIFY(tickUntil([&f] { return !f.form1->Timer2.isActive(); }));
    QCOMPARE(control<QPlainTextEdit>(f.form1, "Memo4")->toPlainText(),
             QStringLiteral("1  Карточка записана\n2  Карточка записана"));
    QVERIFY(!f.form1->Timer2.isActive());
    QCOMPARE(f.boxes.size(), std::size_t(2));
    QVERIFY2(f.boxes.back().text.contains(QStringLiteral("«%»")), qPrintable(f.boxes.back().text));
    QVERIFY(control<QPushButton>(f.form1, "SpeedButton5")->isEnabled());
    QVERIFY(sim.waitForLine("stopped"));
    QFile cards(encoded);
    QVERIFY(cards.open(QIODevice::ReadOnly));
    QCOMPARE(cards.readAll(), expectedCards().left(expectedCards().indexOf("BSIDOROV")));
}

// A program stopped at any step between its start and its first frame leaves
// its files as they stand there: a start from them sends the job's next card
// with every track of the job's choice. The job holds a card in flight that the
// journal says was written (the job catches up with the journal at start) or
// that has no answer (it goes again first). The workbook's read is held, so the
// steps do not depend on how fast the machine is; the first start goes on to
// its card as well.
void TestWindowRun::restartAtEachStepOfTheStart_data()
{
    QTest::addColumn<bool>("journalledWritten");
    QTest::newRow("card in flight journalled written") << true;
    QTest::newRow("card in flight unanswered") << false;
}

void TestWindowRun::restartAtEachStepOfTheStart()
{
    QFETCH(bool, journalledWritten);
    const int choice = 5; // "Track 1 & 2 & 3"
    QTemporaryDir books;
    const QString book = books.filePath(QStringLiteral("cards.csv"));
    QVERIFY(putFile(book, RestartBatch::workbook(20)));
    Job job = RestartBatch::job(choice);
    const QList<QByteArray> cards = RestartBatch::sequence(job.templates, choice, book, 2);
    {
        TExcelApplication excel;
        excel.openWorkbook(book);
        const ComposedCard first = composeCard(job.templates, tracksOfChoice(choice), excel);
        job.templates = first.advanced;
        job.inFlight = Job::CardInFlight{choice, first.texts};
    }
    const QList<QByteArray> expected{journalledWritten ? cards[1] : cards[0]};
    const QString encodedName = QStringLiteral("encoded.txt");

    std::vector<std::pair<QString, std::unique_ptr<QTemporaryDir>>> stops;
    {
        AppFixture f;
        m_form1 = f.form1;
        const auto stopHere = [&](const QString& step) {
            stops.emplace_back(step, std::make_unique<QTemporaryDir>());
            copyWorkFiles(f.dir.path(), stops.back().second->path());
        };
        QVERIFY(putFile(f.dir.filePath(QStringLiteral("config.rwc")), "0\r\n"));
        QVERIFY(QFile::copy(book, f.dir.filePath(QStringLiteral("cards.csv"))));
        JobFile::write(f.dir.filePath(QStringLiteral("job.swj")), job);
        Journal journal(f.dir.filePath(QStringLiteral("journal.csv")));
        journal.setJob(QStringLiteral("job.swj"));
        journal.append({{}, 1, 1, job.inFlight->texts, Journal::Outcome::Sent, {}});
        if (journalledWritten)
            journal.append({{}, 1, 1, job.inFlight->texts, Journal::Outcome::Written, {}});
        SimulatorProgram sim(f.dir.path(), {QStringLiteral("--encoded"), f.dir.filePath(encodedName),
                                            QStringLiteral("--swipe"), QStringLiteral("0")});
        QSemaphore bookRead;
        f.app->session->workbook().loader().setAfterRead([&bookRead](const QString&) { bookRead.acquire(); });
        const auto letBookGo = qScopeGuard([&bookRead] { bookRead.release(1000); });

        f.start();
        stopHere(QStringLiteral("job reopened, workbook being read"));
        control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(1);
        stopHere(QStringLiteral("write tab, workbook being read"));
        if (!journalledWritten) {
            // The card in flight needs no look ahead: the run starts, and its ticks wait for the book.
            control<QPushButton>(f.form1, "SpeedButton5")->click();
            tick(3);
            QCOMPARE(sim.wire().count("\x1Bt"), 0);
            stopHere(QStringLiteral("\"Записать\" pressed, workbook being read"));
        }
        bookRead.release(1000);
        QVERIFY(f.app->session->settleWorkbook(true));
        QVERIFY(f.app->session->workbook().hasWorkbook());
        stopHere(QStringLiteral("workbook read"));
        if (journalledWritten) {
            control<QPushButton>(f.form1, "SpeedButton5")->click();
            QVERIFY(f.form1->Timer2.isActive());
            stopHere(QStringLiteral("\"Записать\" pressed"));
        }
        tickUntilWritten(*f.app->session);
        QCOMPARE(RestartBatch::encoded(f.dir.filePath(encodedName)), expected);
        QVERIFY2(f.boxes.empty(), f.boxes.empty() ? "" : qPrintable(f.boxes.front().text));
    }

    for (const auto& [step, files] : stops) {
        AppFixture f;
        m_form1 = f.form1;
        copyWorkFiles(files->path(), f.dir.path());
        SimulatorProgram sim(f.dir.path(), {QStringLiteral("--encoded"), f.dir.filePath(encodedName),
                                            QStringLiteral("--swipe"), QStringLiteral("0")});
        f.start();
        control<QTabWidget>(f.form1, "TabbedNotebook1")->setCurrentIndex(1);
        control<QPushButton>(f.form1, "SpeedButton5")->click();
        tickUntilWritten(*f.app->session);
        const QList<QByteArray> encoded = RestartBatch::encoded(f.dir.filePath(encodedName));
        QVERIFY2(encoded == expected, qPrintable(QStringLiteral("stopped at \"%1\": encoded %2, expected %3")
                                                     .arg(step, QString::fromLatin1(encoded.join(' ')),
                                                          QString::fromLatin1(expected.join(' ')))));
        QVERIFY2(f.boxes.empty(), f.boxes.empty() ? "" : qPrintable(f.boxes.front().text));
    }
}

int runWindowTests(int argc, char** argv)
{
    TestWindowRun t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_window.moc"
