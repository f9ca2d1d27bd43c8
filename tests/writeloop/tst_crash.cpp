// The program killed at random moments of a run and started again, against the
// simulator program on a pseudo-terminal: the cards the terminal encoded are
// the job's sequence with no gap, and a card comes twice only when a kill fell
// while it was in flight. A sized batch stops itself after its last card,
// wherever the kills fell.

#include "restartbatch.h"
#include "simprogram.h"

#include "link/commandset.h"
#include "tools/simcard.h"
#include "writing/journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

class TestCrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedAndResumed_data();
    void killedAndResumed();
    void sizedBatchStopsItselfAcrossAKill();

private:
    bool startProgram(QProcess& program, const QString& dir, int start);
    bool keepLines(QProcess& program, int start);
    bool waitForLine(QProcess& program, int start, const QString& line);
    QList<QByteArray> prepare(const QTemporaryDir& dir, const Job& job, int cards);
    QString failureReport(const QByteArray& card, const QString& journalPath) const;
    QStringList m_boxes;
    QStringList m_transcript; // every line of every start, for a failure to show
};

// Takes the lines the program printed: message boxes, and everything for the
// transcript. True when the program said it started its run.
bool TestCrash::keepLines(QProcess& program, int start)
{
    bool started = false;
    while (program.canReadLine()) {
        const QByteArray line = program.readLine().trimmed();
        m_transcript << u"start %1: %2"_s.arg(start).arg(QString::fromUtf8(line));
        if (line.startsWith("box "))
            m_boxes << QString::fromUtf8(line);
        started = started || line.startsWith("started");
    }
    return started;
}

// The journal's lines around the first one of the card's track texts, and what
// each start of the program printed (its track choice, its log).
QString TestCrash::failureReport(const QByteArray& card, const QString& journalPath) const
{
    QFile file(journalPath);
    QList<QByteArray> lines;
    if (file.open(QIODevice::ReadOnly))
        lines = file.readAll().split('\n');
    const QByteArray track1 = card.left(card.indexOf('|'));
    qsizetype at = 0;
    while (at < lines.size() && (track1.isEmpty() || !lines[at].contains(track1)))
        ++at;
    QStringList report{u"journal around %1:"_s.arg(QString::fromLatin1(track1))};
    for (qsizetype i = std::max<qsizetype>(0, at - 4); i < std::min(lines.size(), at + 5); ++i)
        report << u"  "_s + QString::fromUtf8(lines[i]);
    report << u"the program's starts:"_s;
    for (const QString& line : m_transcript)
        report << u"  "_s + line;
    return report.join(u'\n');
}

bool TestCrash::startProgram(QProcess& program, const QString& dir, int start)
{
    program.setWorkingDirectory(dir);
    program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(STRIPEWELL_OPERATOR_PATH), {});
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 10000) {
        program.waitForReadyRead(100);
        if (keepLines(program, start))
            return true;
    }
    return false;
}

// Waits for a line of this start of the program, printed before or from now on.
bool TestCrash::waitForLine(QProcess& program, int start, const QString& line)
{
    const QString wanted = u"start %1: %2"_s.arg(start).arg(line);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 60000) {
        program.waitForReadyRead(20);
        keepLines(program, start);
        if (m_transcript.contains(wanted))
            return true;
    }
    return false;
}

// The working directory of a run: the workbook, config.rwc choosing COM1 and
// the job. Returns the cards the job gives.
QList<QByteArray> TestCrash::prepare(const QTemporaryDir& dir, const Job& job, int cards)
{
    const QString book = dir.filePath(u"cards.csv"_s);
    QFile csv(book);
    if (csv.open(QIODevice::WriteOnly))
        csv.write(RestartBatch::workbook(cards));
    csv.close();
    QFile config(dir.filePath(u"config.rwc"_s));
    if (config.open(QIODevice::WriteOnly))
        config.write("0\r\n");
    config.close();
    JobFile::write(dir.filePath(u"job.swj"_s), job);
    return RestartBatch::sequence(job.templates, job.trackChoice, book, cards);
}

void TestCrash::killedAndResumed_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("kills");
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("outcomes"); // the simulator's answers; empty: every card written
    QTest::newRow("all tracks, every card written") << 1u << 12 << 5 << QString();
    QTest::newRow("tracks 2 and 3, refusals, slow and split answers") << 2u << 12 << 4 << u"WNWDWPWQWV*"_s;
}

void TestCrash::killedAndResumed()
{
    QFETCH(quint32, seed);
    QFETCH(int, kills);
    QFETCH(int, choice);
    QFETCH(QString, outcomes);
    m_boxes.clear();
    m_transcript.clear();
    QTemporaryDir dir;
    const QList<QByteArray> expected = prepare(dir, RestartBatch::job(choice), 400);

    const QString encoded = dir.filePath(u"encoded.txt"_s);
    // Cards go through quickly, so that every stretch between two kills can write some.
    QStringList options{u"--encoded"_s, encoded, u"--swipe"_s, u"100"_s};
    if (!outcomes.isEmpty())
        options << u"--write-outcomes"_s << outcomes;
    SimulatorProgram sim(dir.path(), options);

    QRandomGenerator random(seed);
    for (int kill = 0; kill <= kills; ++kill) {
        QProcess program;
        QVERIFY2(startProgram(program, dir.path(), kill), qPrintable(u"start %1"_s.arg(kill)));
        // The last start runs long enough to show the run goes on; every other is killed at a random moment.
        QTest::qWait(kill == kills ? 4000 : int(random.bounded(100, 2500)));
        program.kill();
        QVERIFY(program.waitForFinished(5000));
        keepLines(program, kill);
    }
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(u'\n')));

    // Walk the encoded list along the expected sequence: each card is the next
    // one, or the one before it again (a card in flight at a kill).
    const QList<QByteArray> cards = RestartBatch::encoded(encoded);
    // The journal's cards in flight at a kill: a "sent" line that no outcome followed.
    QSet<QByteArray> inFlightAtKill;
    std::optional<Journal::Entry> sent;
    for (const Journal::Entry& e : Journal::read(dir.filePath(u"journal.csv"_s))) {
        if (sent && e.outcome == Journal::Outcome::Sent)
            inFlightAtKill.insert(
                SimCard{e.texts.track1.toLatin1(), e.texts.track2.toLatin1(), e.texts.track3.toLatin1()}.toLine());
        sent = e.outcome == Journal::Outcome::Sent ? std::optional<Journal::Entry>(e) : std::nullopt;
    }
    int next = 0;
    int repeats = 0;
    for (qsizetype i = 0; i < cards.size(); ++i) {
        if (next < expected.size() && cards[i] == expected[next]) {
            ++next;
        } else if (next > 0 && cards[i] == expected[next - 1]) {
            QVERIFY2(inFlightAtKill.contains(cards[i]), cards[i].constData());
            ++repeats;
        } else {
            QFAIL(qPrintable(u"card %1 of the encoded list is %2, expected %3\n%4"_s.arg(i + 1).arg(
                QString::fromLatin1(cards[i]), QString::fromLatin1(expected.value(next)),
                failureReport(cards[i], dir.filePath(u"journal.csv"_s)))));
        }
    }
    qInfo("%d cards encoded, %d distinct, %d repeated across %d kills", int(cards.size()), next, repeats, kills);
    QVERIFY2(repeats <= kills, qPrintable(u"%1 repeats for %2 kills"_s.arg(repeats).arg(kills)));
    QVERIFY2(next >= kills / 2, "the runs made too little progress to mean anything");
}

// A batch of 5: killed once its card 3 is written, the program started again
// writes cards 4 and 5 and stops itself; started once more, it writes nothing.
void TestCrash::sizedBatchStopsItselfAcrossAKill()
{
    m_boxes.clear();
    m_transcript.clear();
    QTemporaryDir dir;
    Job job = RestartBatch::job(5);
    job.batch = {5, 0};
    const QList<QByteArray> expected = prepare(dir, job, 20).first(5);
    const QString encoded = dir.filePath(u"encoded.txt"_s);
    SimulatorProgram sim(dir.path(), {u"--encoded"_s, encoded, u"--swipe"_s, u"100"_s});
    const QString done = u"box Внимание!: Партия записана: 5 карточек."_s;
    const QStringList untilKilled{u"log 3  Карточка записана"_s, done, done};
    for (int start = 0; start < untilKilled.size(); ++start) {
        QProcess program;
        QVERIFY2(startProgram(program, dir.path(), start), qPrintable(m_transcript.join(u'\n')));
        // The next card would go at the next step, half a second on: the kill comes first.
        QVERIFY2(waitForLine(program, start, untilKilled[start]), qPrintable(m_transcript.join(u'\n')));
        program.kill();
        QVERIFY(program.waitForFinished(5000));
        keepLines(program, start);
    }
    QCOMPARE(RestartBatch::encoded(encoded), expected);
    QCOMPARE(m_boxes, QStringList({done, done}));
    QCOMPARE(JobFile::read(dir.filePath(u"job.swj"_s)).job->batch, (Job::Batch{5, 5}));
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TestCrash t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_crash.moc"
