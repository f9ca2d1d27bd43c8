// The program killed at random moments of a run and started again, against the
// simulator program on a pseudo-terminal: the cards the terminal encoded are
// the job's sequence with no gap, and a card comes twice only when a kill fell
// while it was in flight.

#include "simprogram.h"

#include "excel/texcelapplication.h"
#include "link/commandset.h"
#include "tools/simcard.h"
#include "writing/composetracktext.h"
#include "writing/job.h"
#include "writing/journal.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QSet>
#include <QTest>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

QByteArray workbook(int rows)
{
    QByteArray csv = "Name;Code\r\n";
    for (int row = 1; row <= rows; ++row)
        csv += "CARD" + QByteArray::number(row) + ';' + QByteArray::number(row * 7) + "\r\n";
    return csv;
}

// Text, worksheet columns and counters on all three tracks.
Job batchJob(int choice)
{
    Job job;
    TrackTemplate& t1 = job.templates.track(1);
    t1.DigitCount = 1;
    t1.slotText[0] = u"B"_s;
    t1.SegmentKind[1] = ExcelSegment;
    t1.slotText[1] = u"Name"_s;
    t1.ExcelColumn[1] = 1;
    t1.ExcelRow[1] = 1;
    t1.ExcelStep[1] = 1;
    t1.ExcelDirection[1] = ExcelRowRises;
    TrackTemplate& t2 = job.templates.track(2);
    t2.DigitCount = 4;
    t2.SegmentKind[0] = RisingCounterSegment;
    t2.slotText[0] = u"1000+1"_s;
    t2.slotText[1] = u"="_s;
    t2.SegmentKind[2] = ExcelSegment;
    t2.slotText[2] = u"Code"_s;
    t2.ExcelColumn[2] = 2;
    t2.ExcelRow[2] = 1;
    t2.ExcelStep[2] = 1;
    t2.ExcelDirection[2] = ExcelRowRises;
    TrackTemplate& t3 = job.templates.track(3);
    t3.DigitCount = 4;
    t3.SegmentKind[0] = FallingCounterSegment;
    t3.slotText[0] = u"9000-3"_s;
    job.workbook = u"cards.csv"_s;
    job.trackChoice = choice;
    return job;
}

// The cards the job gives, in order, as the simulator lists them.
QList<QByteArray> sequence(const Job& job, const QString& book, int count)
{
    TExcelApplication excel;
    excel.openWorkbook(book);
    TemplateSet templates = job.templates;
    QList<QByteArray> cards;
    for (int i = 0; i < count; ++i) {
        const ComposedCard card = composeCard(templates, tracksOfChoice(job.trackChoice), excel);
        cards << (card.texts.track1 + u'|' + card.texts.track2 + u'|' + card.texts.track3).toLatin1();
        templates = card.advanced;
    }
    return cards;
}

QList<QByteArray> encodedCards(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> lines = file.readAll().split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestCrash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void killedAndResumed_data();
    void killedAndResumed();

private:
    bool startProgram(QProcess& program, const QString& dir);
    QStringList m_boxes;
};

bool TestCrash::startProgram(QProcess& program, const QString& dir)
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
        while (program.canReadLine()) {
            const QByteArray line = program.readLine().trimmed();
            if (line.startsWith("box "))
                m_boxes << QString::fromUtf8(line);
            if (line.startsWith("started"))
                return true;
        }
    }
    return false;
}

void TestCrash::killedAndResumed_data()
{
    QTest::addColumn<quint32>("seed");
    QTest::addColumn<int>("kills");
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("outcomes"); // the simulator's answers; empty: every card written
    QTest::newRow("all tracks, every card written") << 1u << 12 << 5 << QString();
    QTest::newRow("tracks 2 and 3, refusals, slow and split answers")
        << 2u << 12 << 4 << u"WNWDWPWQWV*"_s;
}

void TestCrash::killedAndResumed()
{
    QFETCH(quint32, seed);
    QFETCH(int, kills);
    QFETCH(int, choice);
    QFETCH(QString, outcomes);
    m_boxes.clear();
    QTemporaryDir dir;
    const QString book = dir.filePath(u"cards.csv"_s);
    QFile csv(book);
    QVERIFY(csv.open(QIODevice::WriteOnly));
    csv.write(workbook(400));
    csv.close();
    QFile config(dir.filePath(u"config.rwc"_s));
    QVERIFY(config.open(QIODevice::WriteOnly));
    config.write("0\r\n");
    config.close();
    const Job job = batchJob(choice);
    JobFile::write(dir.filePath(u"job.swj"_s), job);
    const QList<QByteArray> expected = sequence(job, book, 400);

    const QString encoded = dir.filePath(u"encoded.txt"_s);
    // Cards go through quickly, so that every stretch between two kills can write some.
    QStringList options{u"--encoded"_s, encoded, u"--swipe"_s, u"100"_s};
    if (!outcomes.isEmpty())
        options << u"--write-outcomes"_s << outcomes;
    SimulatorProgram sim(dir.path(), options);

    QRandomGenerator random(seed);
    for (int kill = 0; kill <= kills; ++kill) {
        QProcess program;
        QVERIFY2(startProgram(program, dir.path()), qPrintable(u"start %1"_s.arg(kill)));
        // The last start runs long enough to show the run goes on; every other is killed at a random moment.
        QTest::qWait(kill == kills ? 4000 : int(random.bounded(100, 2500)));
        program.kill();
        QVERIFY(program.waitForFinished(5000));
        while (program.canReadLine()) {
            const QByteArray line = program.readLine().trimmed();
            if (line.startsWith("box "))
                m_boxes << QString::fromUtf8(line);
        }
    }
    QVERIFY2(m_boxes.isEmpty(), qPrintable(m_boxes.join(u'\n')));

    // Walk the encoded list along the expected sequence: each card is the next
    // one, or the one before it again (a card in flight at a kill).
    const QList<QByteArray> cards = encodedCards(encoded);
    // The journal's cards in flight at a kill: a "sent" line that no outcome followed.
    QSet<QByteArray> inFlightAtKill;
    std::optional<Journal::Entry> sent;
    for (const Journal::Entry& e : Journal::read(dir.filePath(u"journal.csv"_s))) {
        if (sent && e.outcome == Journal::Outcome::Sent)
            inFlightAtKill.insert(SimCard{e.texts.track1.toLatin1(), e.texts.track2.toLatin1(),
                                          e.texts.track3.toLatin1()}.toLine());
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
            QFAIL(qPrintable(u"card %1 of the encoded list is %2, expected %3"_s.arg(i + 1).arg(
                QString::fromLatin1(cards[i]), QString::fromLatin1(expected.value(next)))));
        }
    }
    qInfo("%d cards encoded, %d distinct, %d repeated across %d kills", int(cards.size()), next, repeats, kills);
    QVERIFY2(repeats <= kills, qPrintable(u"%1 repeats for %2 kills"_s.arg(repeats).arg(kills)));
    QVERIFY2(next >= kills / 2, "the runs made too little progress to mean anything");
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TestCrash t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_crash.moc"
