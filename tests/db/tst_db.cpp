// The shared batches against a real PostgreSQL server of the test's own.

#include "base/error.h"
#include "db/pgconnection.h"
#include "db/schema.h"
#include "db/sharedbatch.h"
#include "db/stationfeed.h"
#include "pgserver.h"

#include <QFile>
#include <QScopeGuard>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace {

const QString Db = QStringLiteral("bureau");

// Waits in the event loop until `done` is true.
bool settle(const std::function<bool()>& done, int ms = 20000)
{
    return QTest::qWaitFor(done, ms);
}

QList<SharedBatch::Card> counterCards(int count, const QString& tail = {})
{
    QList<SharedBatch::Card> cards;
    for (int n = 1; n <= count; ++n)
        cards.append(
            {n, n + 1, {QStringLiteral("CARD%1").arg(n), QStringLiteral("%1=%2").arg(n).arg(tail), QString()}});
    return cards;
}

} // namespace

class TestDb : public QObject
{
    Q_OBJECT

    ThrowawayServer m_server;
    qint64 m_nextName = 0;
    // Servers on loopback TCP, made when a test first asks: [0] without TLS, [1] with TLS only.
    std::unique_ptr<ThrowawayServer> m_loopback[2];

    ThrowawayServer* loopback(bool tls)
    {
        auto& server = m_loopback[tls];
        if (!server) {
            server = std::make_unique<ThrowawayServer>();
            QString why = server->create(tls ? ThrowawayServer::Tcp::Tls : ThrowawayServer::Tcp::Plain);
            if (why.isEmpty() && tls)
                why = server->psql(QStringLiteral("CREATE ROLE desk_pw LOGIN PASSWORD 'ink-Well7'"));
            if (!why.isEmpty()) {
                qWarning("%s", qPrintable(why));
                server.reset();
            }
        }
        return server.get();
    }

    std::unique_ptr<PgConnection> connect(const QString& user)
    {
        auto c = std::make_unique<PgConnection>();
        c->open(m_server.connection(user, Db));
        c->waitIdle(10000);
        return c;
    }

    qint64 publish(const QList<SharedBatch::Card>& cards, QString* error = nullptr, QString name = {})
    {
        auto bureau = connect(QStringLiteral("bureau"));
        std::optional<qint64> id;
        bool done = false;
        if (name.isEmpty())
            name = QStringLiteral("batch %1").arg(++m_nextName);
        SharedBatch::publish(*bureau, name, 1, cards, [&](std::optional<qint64> got, const QString& why) {
            id = got;
            if (error)
                *error = why;
            done = true;
        });
        settle([&] { return done; });
        return id.value_or(0);
    }

    std::optional<SharedBatch::Card> claim(PgConnection& station, qint64 batch, QString* error = nullptr)
    {
        std::optional<SharedBatch::Card> card;
        bool done = false;
        SharedBatch::claim(station, batch, [&](std::optional<SharedBatch::Card> got, const QString& why) {
            card = got;
            if (error)
                *error = why;
            done = true;
        });
        settle([&] { return done; });
        return card;
    }

    QString record(PgConnection& station, qint64 batch, int seq, int attempt, bool written, QString* error = nullptr)
    {
        QString state;
        bool done = false;
        SharedBatch::record(station, batch, seq, attempt, written, {}, [&](const QString& got, const QString& why) {
            state = got;
            if (error)
                *error = why;
            done = true;
        });
        settle([&] { return done; });
        return state;
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString why = m_server.create();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QCOMPARE(m_server.psql(QStringLiteral("CREATE DATABASE bureau")), QString());
        // The program's own command sets the database up; run again, it finds nothing to do.
        QProcess init;
        init.start(qEnvironmentVariable("STRIPEWELL_BINARY_DIR") + QStringLiteral("/app/stripewell"),
                   {QStringLiteral("--init-database"), m_server.connection(QStringLiteral("postgres"), Db)});
        QVERIFY(init.waitForFinished(60000));
        QVERIFY2(init.exitCode() == 0, init.readAllStandardError().constData());
        auto admin = connect(QStringLiteral("postgres"));
        QVERIFY2(admin->isOpen(), "the superuser did not connect");
        QCOMPARE(Schema::upgrade(*admin), QString());
        QCOMPARE(m_server.psql(QStringLiteral("CREATE ROLE bureau LOGIN IN ROLE stripewell_publisher;"
                                              "CREATE ROLE desk1 LOGIN IN ROLE stripewell_station;"
                                              "CREATE ROLE desk2 LOGIN IN ROLE stripewell_station;"
                                              "CREATE ROLE desk3 LOGIN IN ROLE stripewell_station;"
                                              "CREATE ROLE desk4 LOGIN IN ROLE stripewell_station;"),
                               Db),
                 QString());
    }

    // Texts a worksheet may give travel as values, never as SQL, and come back byte for byte.
    void textsComeBackAsPublished()
    {
        const QString awkward = QStringLiteral("O'Brien\t\\N \"x\"; DROP TABLE stripewell.card; -- Жук\r\n");
        const qint64 batch = publish({{1, 7, {awkward, QStringLiteral("\\."), QString()}}});
        QVERIFY(batch > 0);
        auto desk = connect(QStringLiteral("desk1"));
        const auto card = claim(*desk, batch);
        QVERIFY(card);
        QCOMPARE(card->texts[0], awkward);
        QCOMPARE(card->texts[1], QStringLiteral("\\."));
        QCOMPARE(card->row, 7);
    }

    // Four stations claim at once in one event loop: every card goes to exactly one of them.
    void everyCardToExactlyOneStation()
    {
        const int count = 400;
        const qint64 batch = publish(counterCards(count));
        QVERIFY(batch > 0);
        QList<std::shared_ptr<PgConnection>> desks;
        QMap<int, QString> takenBy;
        int doubles = 0;
        int finished = 0;
        std::function<void(int)> next = [&](int d) {
            SharedBatch::claim(*desks[d], batch, [&, d](std::optional<SharedBatch::Card> card, const QString& why) {
                QVERIFY2(why.isEmpty(), qPrintable(why));
                if (!card) {
                    ++finished;
                    return;
                }
                doubles += takenBy.contains(card->seq);
                takenBy[card->seq] = desks[d]->user();
                SharedBatch::record(*desks[d], batch, card->seq, 1, true, {},
                                    [&, d](const QString& state, const QString&) {
                                        QCOMPARE(state, QStringLiteral("written"));
                                        next(d);
                                    });
            });
        };
        for (int d = 1; d <= 4; ++d)
            desks.append(connect(QStringLiteral("desk%1").arg(d)));
        for (int d = 0; d < 4; ++d)
            next(d);
        QVERIFY(settle([&] { return finished == 4; }, 60000));
        QCOMPARE(doubles, 0);
        QCOMPARE(takenBy.size(), count);
        QCOMPARE(takenBy.firstKey(), 1);
        QCOMPARE(takenBy.lastKey(), count);
        QVERIFY2(QSet<QString>(takenBy.cbegin(), takenBy.cend()).size() > 1, "one station took every card");
    }

    // A station gone mid-card keeps it: its next claim resends it, no other station takes it;
    // "not written" keeps it with the station; an outcome sent twice counts once.
    void cardInFlightStaysWithItsStation()
    {
        const qint64 batch = publish(counterCards(3));
        auto desk1 = connect(QStringLiteral("desk1"));
        QCOMPARE(claim(*desk1, batch)->seq, 1);
        desk1.reset(); // killed with the card on the line
        auto desk2 = connect(QStringLiteral("desk2"));
        QCOMPARE(claim(*desk2, batch)->seq, 2);
        desk1 = connect(QStringLiteral("desk1"));
        const auto again = claim(*desk1, batch);
        QCOMPARE(again->seq, 1);
        QVERIFY(again->resumed);
        QCOMPARE(record(*desk1, batch, 1, 1, false), QStringLiteral("inflight"));
        QCOMPARE(claim(*desk1, batch)->attempts, 1);
        QCOMPARE(record(*desk1, batch, 1, 2, true), QStringLiteral("written"));
        QCOMPARE(record(*desk1, batch, 1, 2, true), QStringLiteral("written"));
        QCOMPARE(claim(*desk1, batch)->seq, 3);
        QVERIFY(!claim(*desk1, batch + 1000));

        auto bureau = connect(QStringLiteral("bureau"));
        bool handed = false;
        SharedBatch::handBack(*bureau, batch, 2, [&](bool ok, const QString&) { handed = ok; });
        QVERIFY(settle([&] { return handed; }));
        QCOMPARE(claim(*desk1, batch)->seq, 3); // its own card first
        QCOMPARE(record(*desk1, batch, 3, 1, true), QStringLiteral("written"));
        QCOMPARE(claim(*desk1, batch)->seq, 2);
    }

    // A station may claim, record its own cards and read; nothing else.
    void stationRightsAreNarrow_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("delete") << QStringLiteral("DELETE FROM stripewell.card");
        QTest::newRow("update") << QStringLiteral("UPDATE stripewell.card SET state = 'free'");
        QTest::newRow("publish") << QStringLiteral(
            "INSERT INTO stripewell.batch (name, choice, size) VALUES ('x', 1, 1)");
        QTest::newRow("schema") << QStringLiteral("CREATE TABLE stripewell.mine (a int)");
        QTest::newRow("hand back") << QStringLiteral("SELECT stripewell.hand_back(1, 1)");
        QTest::newRow("another's card") << QStringLiteral("SELECT stripewell.record_outcome(%1, 2, 9, true, '')");
    }
    void stationRightsAreNarrow()
    {
        QFETCH(QString, sql);
        const qint64 batch = publish(counterCards(2));
        auto desk1 = connect(QStringLiteral("desk1"));
        auto desk2 = connect(QStringLiteral("desk2"));
        QCOMPARE(claim(*desk1, batch)->seq, 1);
        QCOMPARE(claim(*desk2, batch)->seq, 2);
        PgResult result;
        bool done = false;
        desk1->plain((sql.contains(QLatin1String("%1")) ? sql.arg(batch) : sql).toUtf8(), [&](const PgResult& r) {
            result = r;
            done = true;
        });
        QVERIFY(settle([&] { return done; }));
        QVERIFY2(!result.ok, qPrintable(sql));
        QVERIFY2(result.error.contains(QLatin1String("permission denied")) ||
                     result.error.contains(QLatin1String("not held")),
                 qPrintable(result.error));
        QCOMPARE(record(*desk2, batch, 2, 1, true), QStringLiteral("written"));
    }

    // A batch goes in whole or not at all.
    void publishIsAllOrNothing()
    {
        QString error;
        publish(counterCards(2), &error, QStringLiteral("twice"));
        QCOMPARE(error, QString());
        QCOMPARE(publish(counterCards(2), &error, QStringLiteral("twice")), 0);
        QVERIFY(error.contains(QStringLiteral("duplicate")));
        auto broken = counterCards(50);
        broken[49].seq = 0; // refused by the table: the 49 before it go too
        QCOMPARE(publish(broken, &error, QStringLiteral("broken")), 0);
        QVERIFY(!error.isEmpty());
        auto bureau = connect(QStringLiteral("bureau"));
        QList<SharedBatch::Summary> batches;
        bool done = false;
        SharedBatch::list(*bureau, [&](const QList<SharedBatch::Summary>& got, const QString&) {
            batches = got;
            done = true;
        });
        QVERIFY(settle([&] { return done; }));
        for (const auto& b : batches)
            QVERIFY(b.name != QStringLiteral("broken"));
    }

    // A station's line as libpq makes it: verify-full takes only the bureau's CA and the
    // name in the server's certificate, and never falls back to plain text; a password
    // comes from a password file only its owner may read.
    void tlsAsTheConnectionAsks_data()
    {
        QTest::addColumn<bool>("tls");         // the server's
        QTest::addColumn<QString>("options");  // {ca}, {other}: the CAs' files
        QTest::addColumn<QString>("user");     // any but postgres gives its password
        QTest::addColumn<int>("passFileMode"); // 0: no password file
        QTest::addColumn<QString>("refusal");  // a part of why; empty: connects, encrypted
        const QString full = QStringLiteral("host=localhost sslmode=verify-full sslrootcert={ca}");
        const QString su = QStringLiteral("postgres");
        const QString desk = QStringLiteral("desk_pw");
        QTest::newRow("verify-full") << true << full << su << 0 << QString();
        QTest::newRow("another CA") << true << QStringLiteral("host=localhost sslmode=verify-full sslrootcert={other}")
                                    << su << 0 << QStringLiteral("certificate verify failed");
        QTest::newRow("the address, not the name")
            << true << QStringLiteral("host=127.0.0.1 sslmode=verify-full sslrootcert={ca}") << su << 0
            << QStringLiteral(
                   "server certificate for \"localhost\" (and 1 other name) does not match host name \"127.0.0.1\"");
        QTest::newRow("require, no root")
            << true << QStringLiteral("host=localhost sslmode=require") << su << 0 << QString();
        QTest::newRow("server without TLS")
            << false << full << su << 0 << QStringLiteral("server does not support SSL, but SSL was required");
        QTest::newRow("password file") << true << full << desk << 0600 << QString();
        QTest::newRow("no password file") << true << full << desk << 0 << QStringLiteral("no password supplied");
        QTest::newRow("password file others read")
            << true << full << desk << 0644 << QStringLiteral("no password supplied");
    }
    void tlsAsTheConnectionAsks()
    {
        QFETCH(bool, tls);
        QFETCH(QString, options);
        QFETCH(QString, user);
        QFETCH(int, passFileMode);
        QFETCH(QString, refusal);
        ThrowawayServer* server = loopback(tls);
        QVERIFY2(server, "no server on loopback TCP");
        const ThrowawayServer* withCa = loopback(true);
        options.replace(QStringLiteral("{ca}"), withCa->caFile())
            .replace(QStringLiteral("{other}"), withCa->otherCaFile());

        QTemporaryDir dir;
        const QString passFile = dir.filePath(QStringLiteral("pgpass"));
        if (passFileMode) {
            QFile file(passFile);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(QStringLiteral("localhost:%1:*:desk_pw:ink-Well7\n").arg(server->port()).toUtf8());
            file.close();
            QCOMPARE(::chmod(passFile.toLocal8Bit().constData(), passFileMode), 0);
        }
        const bool hadPassFile = qEnvironmentVariableIsSet("PGPASSFILE");
        const QByteArray oldPassFile = qgetenv("PGPASSFILE");
        qputenv("PGPASSFILE", passFile.toLocal8Bit()); // with no file there, no ~/.pgpass either
        const auto restore = qScopeGuard([&] {
            if (hadPassFile)
                qputenv("PGPASSFILE", oldPassFile);
            else
                qunsetenv("PGPASSFILE");
        });

        PgConnection line;
        QSignalSpy failed(&line, &PgConnection::failed);
        line.open(server->tcpConnection(user, options));
        QVERIFY(settle([&] { return line.isOpen() || !failed.isEmpty(); }));
        if (!refusal.isEmpty()) {
            QVERIFY(!line.isOpen());
            const QString why = failed.first().first().toString();
            QVERIFY2(why.contains(refusal), qPrintable(why));
            return;
        }
        QVERIFY2(line.isOpen(), failed.isEmpty() ? "" : qPrintable(failed.first().first().toString()));
        QCOMPARE(line.user(), user);
        QVERIFY(line.encrypted());
        // An answer of many TLS records comes whole.
        PgResult answer;
        bool done = false;
        line.plain("SELECT ssl, repeat(md5(g::text), 1000) FROM pg_stat_ssl, generate_series(1, 50) g"
                   " WHERE pid = pg_backend_pid()",
                   [&](const PgResult& r) {
                       answer = r;
                       done = true;
                   });
        QVERIFY(settle([&] { return done; }));
        QCOMPARE(answer.rows.size(), 50);
        QCOMPARE(answer.rows.last().value(0), QStringLiteral("t"));
        QCOMPARE(answer.rows.last().value(1).size(), 32000);
    }

    // The server gone: what is queued fails at once with the reason, and a new connection works once it is back.
    void serverGoneAndBack()
    {
        const qint64 batch = publish(counterCards(2));
        auto desk = connect(QStringLiteral("desk3"));
        QSignalSpy failed(desk.get(), &PgConnection::failed);
        m_server.stop();
        QString error = QStringLiteral("unset");
        QVERIFY(!claim(*desk, batch, &error));
        QVERIFY(!error.isEmpty());
        QVERIFY(settle([&] { return !failed.isEmpty(); }));
        QCOMPARE(m_server.start(), QString());
        desk = connect(QStringLiteral("desk3"));
        QCOMPARE(claim(*desk, batch)->seq, 1);
    }

    // The database gone mid-card: the station finishes it, keeps its outcome on
    // disk, claims nothing; back, the outcome goes first, then the next card.
    // A station started again sends what its outbox kept before it claims.
    void stationRidesOutAnOutage()
    {
        QTemporaryDir dir;
        const QString outbox = dir.filePath(QStringLiteral("outbox.json"));
        const qint64 batch = publish(counterCards(3));
        StationFeed feed(m_server.connection(QStringLiteral("desk4"), Db), batch, outbox);
        feed.start();
        feed.requestCard();
        QVERIFY(settle([&] { return feed.ready().has_value(); }));
        QCOMPARE(feed.take().seq, 1);
        m_server.stop();
        QVERIFY(settle([&] { return !feed.connected(); }));
        feed.outcome(true);
        feed.requestCard();
        QCOMPARE(StationFeed::readOutbox(outbox).size(), 1);
        QVERIFY(feed.status().startsWith(QStringLiteral("База данных недоступна")));
        QTest::qWait(300);
        QVERIFY(!feed.ready());
        QCOMPARE(m_server.start(), QString());
        QVERIFY(settle([&] { return feed.ready().has_value(); }));
        QVERIFY(feed.outbox().isEmpty());
        QCOMPARE(feed.take().seq, 2);
        feed.outcome(false, QStringLiteral("no answer"));
        QVERIFY(settle([&] { return feed.outbox().isEmpty(); }));

        // Card 2's second attempt was written, then the station stopped before sending it.
        const QString kept =
            QStringLiteral(R"([{"batch":%1,"seq":2,"attempt":2,"written":true,"note":""}])").arg(batch);
        QFile file(outbox);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(kept.toUtf8()) > 0);
        file.close();
        StationFeed again(m_server.connection(QStringLiteral("desk4"), Db), batch, outbox);
        again.start();
        again.requestCard();
        QVERIFY(settle([&] { return again.ready().has_value(); }));
        QCOMPARE(again.take().seq, 3);
        again.outcome(true);
        again.requestCard();
        QVERIFY(settle([&] { return again.exhausted(); }));

        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("[{\"batch\":1}]") > 0);
        file.close();
        QVERIFY_THROWS_EXCEPTION(Failure, StationFeed::readOutbox(outbox));
    }
};

QTEST_GUILESS_MAIN(TestDb)
#include "tst_db.moc"
