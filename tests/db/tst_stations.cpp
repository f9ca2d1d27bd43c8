// Three stations on one shared batch, end to end at real pace: three programs
// (the program with a scripted operator), three simulator programs on three
// pseudo-terminals, one server of the test's own. One station is killed
// mid-run and started again; the server is stopped for 5 s and started again.
// Every card of the batch is encoded, and twice only where a kill fell while
// it was on the line; every outcome is in the database.

#include "db/pgconnection.h"
#include "db/schema.h"
#include "db/sharedbatch.h"
#include "pgserver.h"
#include "simprogram.h"
#include "writing/job.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int Cards = 60;
const QString Db = u"bureau"_s;

QList<QByteArray> lines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QByteArray> all = file.readAll().split('\n');
    all.removeAll(QByteArray());
    return all;
}

// One desk: its working directory with the job that joined the batch, its terminal, its program.
struct Station
{
    QTemporaryDir dir;
    std::unique_ptr<SimulatorProgram> sim;
    std::unique_ptr<QProcess> program;
    QByteArray output;

    QString encoded() const { return dir.filePath(u"encoded.txt"_s); }

    void start()
    {
        program = std::make_unique<QProcess>();
        program->setWorkingDirectory(dir.path());
        program->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        program->setProcessEnvironment(env);
        program->start(QStringLiteral(STRIPEWELL_OPERATOR_PATH), {});
        program->waitForStarted();
    }
    void kill()
    {
        program->kill();
        program->waitForFinished(5000);
        output += program->readAll();
    }
    void take() { output += program->readAll(); }
};

} // namespace

class TestStations : public QObject
{
    Q_OBJECT

    ThrowawayServer m_server;

private Q_SLOTS:
    void threeStationsOneBatch();
};

void TestStations::threeStationsOneBatch()
{
    QVERIFY2(m_server.create().isEmpty(), "no server");
    QCOMPARE(m_server.psql(u"CREATE DATABASE bureau"_s), QString());
    {
        PgConnection admin;
        admin.open(m_server.connection(u"postgres"_s, Db));
        admin.waitIdle(10000);
        QCOMPARE(Schema::upgrade(admin), QString());
    }
    QCOMPARE(m_server.psql(u"CREATE ROLE bureau LOGIN IN ROLE stripewell_publisher;"
                           "CREATE ROLE desk1 LOGIN IN ROLE stripewell_station;"
                           "CREATE ROLE desk2 LOGIN IN ROLE stripewell_station;"
                           "CREATE ROLE desk3 LOGIN IN ROLE stripewell_station;"_s,
                           Db),
             QString());

    // A counter on track 2: "1001=0001", "1002=0002", ...
    QList<SharedBatch::Card> cards;
    QSet<QByteArray> batch;
    for (int n = 1; n <= Cards; ++n) {
        const QString track2 = u"%1=%2"_s.arg(1000 + n).arg(n, 4, 10, QLatin1Char('0'));
        cards.append({n, 0, {QString(), track2, QString()}});
        batch.insert("|" + track2.toLatin1() + "|");
    }
    PgConnection bureau;
    bureau.open(m_server.connection(u"bureau"_s, Db));
    qint64 id = 0;
    SharedBatch::publish(bureau, u"May"_s, 1, cards,
                         [&](std::optional<qint64> got, const QString&) { id = got.value_or(-1); });
    QVERIFY(QTest::qWaitFor([&] { return id != 0; }, 10000));
    QVERIFY(id > 0);

    Station stations[3];
    for (int s = 0; s < 3; ++s) {
        Station& st = stations[s];
        QFile config(st.dir.filePath(u"config.rwc"_s));
        QVERIFY(config.open(QIODevice::WriteOnly) && config.write("0\r\n") == 3);
        config.close();
        Job job;
        job.trackChoice = 1;
        job.shared = Job::Shared{m_server.connection(u"desk%1"_s.arg(s + 1), Db), id, u"May"_s};
        JobFile::write(st.dir.filePath(u"job.swj"_s), job);
        st.sim = std::make_unique<SimulatorProgram>(st.dir.path(),
                                                    QStringList{u"--encoded"_s, st.encoded(), u"--swipe"_s, u"100"_s});
        st.start();
    }
    const auto encodedSoFar = [&] {
        QList<QByteArray> all;
        for (const Station& st : stations)
            all += lines(st.encoded());
        return all;
    };
    const auto distinct = [&] {
        const QList<QByteArray> all = encodedSoFar();
        return QSet<QByteArray>(all.cbegin(), all.cend()).size();
    };

    // Station 2 killed with a card on the line, and started again.
    QVERIFY(QTest::qWaitFor([&] { return distinct() >= 12; }, 60000));
    stations[1].kill();
    const int onLineAtKill = int(lines(stations[1].encoded()).size());
    stations[1].start();
    // The server stopped for 5 s: each station finishes its card and claims nothing meanwhile.
    QVERIFY(QTest::qWaitFor([&] { return distinct() >= 30; }, 60000));
    m_server.stop();
    QTest::qWait(5000);
    QCOMPARE(m_server.start(), QString());

    const bool all = QTest::qWaitFor([&] { return distinct() == Cards; }, 120000);
    for (Station& st : stations)
        st.take();
    QVERIFY2(all, qPrintable(u"%1 of %2 cards encoded\n"_s.arg(distinct()).arg(Cards) +
                             QString::fromUtf8(stations[0].output + stations[1].output + stations[2].output)));
    QTest::qWait(1500); // the last outcomes reach the database

    const QList<QByteArray> encoded = encodedSoFar();
    QCOMPARE(QSet<QByteArray>(encoded.cbegin(), encoded.cend()), batch);
    // A card comes twice only at the station killed while it was on the line.
    const qsizetype twice = encoded.size() - Cards;
    QVERIFY2(twice <= 1, qPrintable(u"%1 cards encoded twice"_s.arg(twice)));
    if (twice == 1) {
        const QList<QByteArray> killed = lines(stations[1].encoded());
        QVERIFY(onLineAtKill > 0 && killed.count(killed.value(onLineAtKill - 1)) == 2);
    }

    PgConnection check;
    check.open(m_server.connection(u"postgres"_s, Db));
    check.waitIdle(10000);
    QStringList counts;
    check.plain("SELECT count(*) FILTER (WHERE state = 'written'), count(DISTINCT station) FROM stripewell.card",
                [&](const PgResult& r) { counts = r.rows.value(0); });
    check.waitIdle(10000);
    QCOMPARE(counts, QStringList({QString::number(Cards), u"3"_s}));
    for (Station& st : stations)
        st.kill();
    qInfo("%d cards encoded by three stations, %d twice", int(encoded.size()), int(twice));
}

QTEST_GUILESS_MAIN(TestStations)
#include "tst_stations.moc"
