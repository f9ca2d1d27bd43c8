#include "jobsamples.h"

#include "excel/workbookreader.h"
#include "writing/journal.h"
#include "writing/journalindex.h"
#include "writing/readsfile.h"
#include "writing/verification.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using Texts = JournalIndex::Texts;

using JobSamples::writeFile;

namespace {

const QDateTime At = QDateTime::fromString(u"2025-03-14T10:00:00.000+03:00"_s, Qt::ISODateWithMs);

QByteArray journalLine(int run, int card, const Texts& t, Journal::Outcome outcome, const QString& job)
{
    Journal::Entry e{At.addSecs(run * 60 + card), run, card, {t.track1, t.track2, t.track3}, outcome, {}, job};
    return Journal::line(e);
}

// Run 1 of job a.swj writes two cards, run 2 of b.swj two more; every card is
// "sent" first, as the write loop journals it.
QByteArray sampleJournal()
{
    const QList<std::tuple<int, int, Texts, QString>> cards{
        {1, 1, {u"A1"_s, u"111"_s, {}}, u"a.swj"_s},
        {1, 2, {u"A2"_s, u"222"_s, {}}, u"a.swj"_s},
        {2, 1, {u"C1"_s, u"12=34"_s, u"5>6"_s}, u"b.swj"_s},
        {2, 2, {u"A2"_s, u"222"_s, {}}, u"b.swj"_s},
    };
    QByteArray bytes = Journal::header().toUtf8() + "\r\n";
    for (const auto& [run, card, texts, job] : cards) {
        bytes += journalLine(run, card, texts, Journal::Outcome::Sent, job);
        bytes += journalLine(run, card, texts, Journal::Outcome::Written, job);
    }
    return bytes;
}

} // namespace

class TestVerification : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void journalIndex();
    void check_data();
    void check();
    void countsAndReport();
    void readsFileReadsBack();
};

// The journal as the write loop leaves it, with an old line before the job
// column, damaged lines and a last line still being written.
void TestVerification::journalIndex()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"journal.csv"_s);
    {
        Journal journal(path);
        journal.setJob(u"jobs/new, \"quoted\".swj"_s);
        journal.append({At, 3, 1, {u"T,1"_s, u"=9"_s, u"line\nbreak"_s}, Journal::Outcome::Written, {}});
    }
    QByteArray bytes = QByteArray("2025-01-01T09:00:00.000+03:00,1,7,OLD,777,,written,\r\n") // eight fields
                       + "2025-01-01T09:00:01.000+03:00,x,8,BAD,1,,written,\r\n"             // run not a number
                       + "2025-01-01T09:00:02.000+03:00,1,9,BAD,1,,burnt,\r\n"               // no such outcome
                       + "just some words\r\n" + "\r\n" // a blank line is no damage
                       + "2025-01-01T09:00:03.000+03:00,1,10,OLD,1000,,not written,\r\n";
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    bytes += file.readAll() + "2025-01-01T09:00:04.000+03:00,4,1,HALF,1,,written"; // no line end yet
    file.close();
    QVERIFY(writeFile(path, bytes));

    const JournalIndex index = JournalIndex::read(path);
    QCOMPARE(index.size(), 2);
    QCOMPARE(index.damagedLines(), 3);
    QCOMPARE(index.lastRun(), 3);
    const JournalIndex::Card old = index.card(0);
    QCOMPARE(old.time, u"2025-01-01T09:00:00.000+03:00"_s);
    QCOMPARE(old.texts, (Texts{u"OLD"_s, u"777"_s, {}}));
    QCOMPARE(old.job, QString());
    const JournalIndex::Card fresh = index.card(1);
    QCOMPARE(fresh.run, 3);
    QCOMPARE(fresh.texts, (Texts{u"T,1"_s, u"=9"_s, u"line\nbreak"_s}));
    QCOMPARE(fresh.job, u"jobs/new, \"quoted\".swj"_s);
    QCOMPARE(Journal::read(path).last().job, fresh.job);

    QVERIFY(index.contains(u"T,1"_s, u"=9"_s, u"line\nbreak"_s));
    QVERIFY(!index.contains(u"T,1"_s, u"=9"_s, {}));
    QCOMPARE(index.withTrack1(u"OLD"_s), QList<qsizetype>{0});
    QCOMPARE(index.withTrack2(u"=9"_s), QList<qsizetype>{1});
    QCOMPARE(index.inScope({JournalIndex::Scope::LastRun, {}}), std::vector<qsizetype>{1});
    QCOMPARE(index.inScope({JournalIndex::Scope::Job, fresh.job}), std::vector<qsizetype>{1});
    QCOMPARE(index.inScope({JournalIndex::Scope::Job, u"other.swj"_s}), std::vector<qsizetype>{});

    QCOMPARE(JournalIndex::read(dir.filePath(u"none.csv"_s)).size(), 0);
}

void TestVerification::check_data()
{
    QTest::addColumn<int>("scope");
    QTest::addColumn<int>("choice");
    QTest::addColumn<QList<Texts>>("reads"); // the last is the one judged
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("run");
    QTest::addColumn<int>("card");
    QTest::addColumn<bool>("again");
    QTest::addColumn<unsigned>("differing");
    QTest::addColumn<QString>("message");
    const int all = JournalIndex::Scope::AllRuns, last = JournalIndex::Scope::LastRun;
    const int job = JournalIndex::Scope::Job;
    using O = Verification::Outcome;

    QTest::newRow("a written card") << all << 3 << QList<Texts>{{u"A1"_s, u"111"_s, {}}} << int(O::Verified) << 1 << 1
                                    << false << 0u << u"Верно: карточка 1, прогон 1, записана 14.03.2025 10:01:01"_s;
    QTest::newRow("the same card twice")
        << all << 3 << QList<Texts>{{u"A1"_s, u"111"_s, {}}, {u"A1"_s, u"111"_s, {}}} << int(O::Verified) << 1 << 1
        << true << 0u << u"Верно, прочитана повторно: карточка 1, прогон 1, записана 14.03.2025 10:01:01"_s;
    QTest::newRow("written alike in two runs: the later, then the earlier")
        << all << 3 << QList<Texts>{{u"A2"_s, u"222"_s, {}}, {u"A2"_s, u"222"_s, {}}} << int(O::Verified) << 1 << 2
        << false << 0u << u"Верно: карточка 2, прогон 1, записана 14.03.2025 10:01:02"_s;
    QTest::newRow("track 2 changed")
        << all << 3 << QList<Texts>{{u"A1"_s, u"112"_s, {}}} << int(O::Differs) << 1 << 1 << false << 2u
        << u"Отличается от записанной: карточка 1, прогон 1, записана 14.03.2025 10:01:01; дорожка 2 «112» вместо «111»"_s;
    QTest::newRow("track 1 changed")
        << all << 3 << QList<Texts>{{u"A9"_s, u"111"_s, {}}} << int(O::Differs) << 1 << 1 << false << 1u
        << u"Отличается от записанной: карточка 1, прогон 1, записана 14.03.2025 10:01:01; "
           u"дорожка 1 «A9» вместо «A1»"_s;
    QTest::newRow("an unknown card") << all << 3 << QList<Texts>{{u"Z"_s, u"999"_s, {}}} << int(O::Unknown) << 0 << 0
                                     << false << 0u << u"Нет в журнале"_s;
    QTest::newRow("an unknown card twice")
        << all << 3 << QList<Texts>{{u"Z"_s, u"999"_s, {}}, {u"Z"_s, u"999"_s, {}}} << int(O::Unknown) << 0 << 0 << true
        << 0u << u"Нет в журнале (прочитана повторно)"_s;
    QTest::newRow("track 2 alone") << all << 1 << QList<Texts>{{u"stale"_s, u"222"_s, {}}} << int(O::Verified) << 2 << 2
                                   << false << 0u << u"Верно: карточка 2, прогон 2, записана 14.03.2025 10:02:02"_s;
    QTest::newRow("numeric tracks as three tracks read them")
        << all << 5 << QList<Texts>{{u"C1"_s, u"12'34"_s, u"5=6"_s}} << int(O::Verified) << 2 << 1 << false << 0u
        << u"Верно: карточка 1, прогон 2, записана 14.03.2025 10:02:01"_s;
    QTest::newRow("track 3 changed, found by track 2")
        << all << 4 << QList<Texts>{{{}, u"12'34"_s, u"5=7"_s}} << int(O::Differs) << 2 << 1 << false << 4u
        << u"Отличается от записанной: карточка 1, прогон 2, записана 14.03.2025 10:02:01; дорожка 3 «5>7» вместо «5>6»"_s;
    QTest::newRow("track 3 alone reads no text")
        << all << 2 << QList<Texts>{{}} << int(O::NothingToRead) << 0 << 0 << false << 0u
        << u"Дорожка 3 одна читается без текста: сверять нечего"_s;
    QTest::newRow("an earlier run's card, last run") << last << 3 << QList<Texts>{{u"A1"_s, u"111"_s, {}}}
                                                     << int(O::Unknown) << 0 << 0 << false << 0u << u"Нет в журнале"_s;
    QTest::newRow("the job's card") << job << 3 << QList<Texts>{{u"A2"_s, u"222"_s, {}}} << int(O::Verified) << 1 << 2
                                    << false << 0u << u"Верно: карточка 2, прогон 1, записана 14.03.2025 10:01:02"_s;
}

// One card read after another (the last judged) against the sample journal.
void TestVerification::check()
{
    QFETCH(int, scope);
    QFETCH(int, choice);
    QFETCH(QList<Texts>, reads);
    QFETCH(int, outcome);
    QFETCH(int, run);
    QFETCH(int, card);
    QFETCH(bool, again);
    QFETCH(unsigned, differing);
    QFETCH(QString, message);

    const JournalIndex index = JournalIndex::fromBytes(sampleJournal());
    Verification verification(index, {JournalIndex::Scope::Kind(scope), u"a.swj"_s});
    verification.prepare(choice);
    Verification::Result r;
    for (const Texts& read : reads)
        r = verification.check(choice, read);
    QCOMPARE(int(r.outcome), outcome);
    QCOMPARE(r.written >= 0 ? index.card(r.written).run : 0, run);
    QCOMPARE(r.written >= 0 ? index.card(r.written).card : 0, card);
    QCOMPARE(r.again, again);
    QCOMPARE(r.differing, differing);
    QCOMPARE(r.message, message);
}

// Counts on screen and the report of what did not come back right.
void TestVerification::countsAndReport()
{
    const JournalIndex index = JournalIndex::fromBytes(sampleJournal());
    Verification verification(index, {});
    QCOMPARE(verification.notSwipedBack(), 4);
    verification.check(3, {u"A1"_s, u"111"_s, {}});
    verification.check(3, {u"A1"_s, u"111"_s, {}});
    verification.check(3, {u"A2"_s, u"2,\"2"_s, {}});
    verification.check(3, {u"Z"_s, u"999"_s, {}});
    QCOMPARE(verification.verified(), 1);
    QCOMPARE(verification.differing(), 1);
    QCOMPARE(verification.unknown(), 1);
    QCOMPARE(verification.notSwipedBack(), 2); // run 1's second card was found differing
    QCOMPARE(verification.report(), Verification::reportHeader().toUtf8() + "\r\n" +
                                        "not swiped back,2,1,2025-03-14T10:01:02.000+03:00,A2,222,,,,\r\n"
                                        "not swiped back,1,2,2025-03-14T10:02:01.000+03:00,C1,12=34,5>6,,,\r\n"
                                        "differs,2,2,2025-03-14T10:02:02.000+03:00,A2,222,,A2,\"2,\"\"2\",\r\n");
}

// The reads file as a spreadsheet program takes it; a file that cannot be
// written is told once and reading goes on.
void TestVerification::readsFileReadsBack()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"reads.csv"_s);
    ReadsFile reads(path, [] { return At; });
    const QList<ReadsFile::Read> written{
        {{}, u"Track 1 & 2"_s, u"IVANOV, IVAN"_s, u"123"_s, {}, u"verified, run 1, card 1"_s},
        {{}, u"Track 1"_s, u"say \"hi\""_s, {}, {}, {}},
        {{}, u"Track 1 & 2 & 3"_s, u"=HYPERLINK(\"x\")"_s, u"-1"_s, u"'quoted"_s, u"unknown"_s},
    };
    for (const ReadsFile::Read& r : written)
        QCOMPARE(reads.append(r), QString());

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const SheetCells sheet = WorkbookReader::readCsv(file.readAll());
    const TextRows& rows = sheet.textRows();
    const QStringList header = ReadsFile::header().split(u',');
    for (int column = 1; column <= header.size(); ++column)
        QCOMPARE(rows.text(1, column), header[column - 1]);
    for (int k = 0; k < written.size(); ++k) {
        const ReadsFile::Read& r = written[k];
        const QStringList expected{
            At.toString(Qt::ISODateWithMs), r.trackChoice, r.track1, r.track2, r.track3, r.verification};
        for (int column = 1; column <= expected.size(); ++column) {
            const QString field = rows.text(k + 2, column);
            QVERIFY2(!field.startsWith(u'=') && !field.startsWith(u'-'), qPrintable(field));
            QCOMPARE(ReadsFile::fieldText(field), expected[column - 1]);
        }
    }

    // A folder that is a file: the first card tells, the next does not.
    QVERIFY(writeFile(dir.filePath(u"plain"_s), "x"));
    ReadsFile broken(dir.filePath(u"plain/reads.csv"_s));
    QVERIFY(broken.append(written[0]).startsWith(u"Прочитанные карточки не сохраняются: "_s));
    QVERIFY(broken.failing());
    QCOMPARE(broken.append(written[1]), QString());
}

int runVerificationTests(int argc, char** argv)
{
    TestVerification t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_verification.moc"
