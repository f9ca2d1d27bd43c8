// Soak of shared batches without windows: stations' feeds on one batch against
// a throwaway server, with stations killed at random mid-card and started again
// from their outbox, and the server stopped and started mid-run. Counts every
// card the stations "encoded" and says how many went twice or never.
//
//   bench_stations [stations=16] [cards=20000] [kill per mille=5]

#include "db/pgconnection.h"
#include "db/schema.h"
#include "db/sharedbatch.h"
#include "db/stationfeed.h"
#include "pgserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

struct Station
{
    QString role;
    QString outbox;
    std::unique_ptr<StationFeed> feed;
    bool onLine = false; // holds a taken card not yet answered
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int stations = argc > 1 ? std::atoi(argv[1]) : 16;
    const int cards = argc > 2 ? std::atoi(argv[2]) : 20000;
    const int killPerMille = argc > 3 ? std::atoi(argv[3]) : 5;

    ThrowawayServer server;
    if (const QString why = server.create(); !why.isEmpty()) {
        std::fprintf(stderr, "server: %s\n", qPrintable(why));
        return 1;
    }
    QString roles = QStringLiteral("CREATE DATABASE bureau;");
    server.psql(roles);
    {
        PgConnection admin;
        admin.open(server.connection(QStringLiteral("postgres"), QStringLiteral("bureau")));
        admin.waitIdle(10000);
        if (const QString why = Schema::upgrade(admin); !why.isEmpty()) {
            std::fprintf(stderr, "schema: %s\n", qPrintable(why));
            return 1;
        }
    }
    roles = QStringLiteral("CREATE ROLE bureau LOGIN IN ROLE stripewell_publisher;");
    for (int s = 0; s < stations; ++s)
        roles += QStringLiteral("CREATE ROLE desk%1 LOGIN IN ROLE stripewell_station;").arg(s);
    server.psql(roles, QStringLiteral("bureau"));

    QList<SharedBatch::Card> batch;
    for (int n = 1; n <= cards; ++n)
        batch.append({n, 0, {QStringLiteral("CARD%1").arg(n, 6, 10, QLatin1Char('0')), QString(), QString()}});
    PgConnection bureau;
    bureau.open(server.connection(QStringLiteral("bureau"), QStringLiteral("bureau")));
    qint64 batchId = 0;
    QElapsedTimer clock;
    clock.start();
    SharedBatch::publish(bureau, QStringLiteral("soak"), 0, batch, [&](std::optional<qint64> id, const QString& why) {
        batchId = id.value_or(-1);
        if (why.size())
            std::fprintf(stderr, "publish: %s\n", qPrintable(why));
    });
    while (batchId == 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents | QEventLoop::AllEvents);
    if (batchId < 0)
        return 1;
    std::printf("published %d cards in %lld ms\n", cards, clock.elapsed());

    QTemporaryDir dir;
    QList<int> encoded(cards + 1, 0);
    std::vector<Station> desks(stations);
    int kills = 0;
    auto random = QRandomGenerator::global();
    std::function<void(Station&)> startFeed;
    // One attempt at the card on the line: the terminal takes its time, the
    // station may die before it answers; "not written" sends the same card again.
    std::function<void(Station&, SharedBatch::Card)> attempt = [&](Station& desk, SharedBatch::Card card) {
        QTimer::singleShot(int(random->bounded(3)), desk.feed.get(), [&, card] {
            if (int(random->bounded(1000)) < killPerMille) {
                ++kills;
                QTimer::singleShot(0, [&] { startFeed(desk); });
                desk.feed.release()->deleteLater(); // its connection goes with it, the card still its station's
                return;
            }
            const bool written = random->bounded(100) < 97;
            encoded[card.seq] += written;
            desk.feed->outcome(written);
            if (!written)
                return attempt(desk, card);
            desk.onLine = false;
            desk.feed->requestCard();
        });
    };
    startFeed = [&](Station& desk) {
        desk.feed =
            std::make_unique<StationFeed>(server.connection(desk.role, QStringLiteral("bureau")), batchId, desk.outbox);
        desk.onLine = false;
        QObject::connect(desk.feed.get(), &StationFeed::changed, desk.feed.get(), [&] {
            if (desk.onLine || !desk.feed->ready())
                return;
            desk.onLine = true;
            attempt(desk, desk.feed->take());
        });
        desk.feed->start();
        desk.feed->requestCard();
    };
    for (int s = 0; s < stations; ++s) {
        desks[s].role = QStringLiteral("desk%1").arg(s);
        desks[s].outbox = dir.filePath(desks[s].role + QStringLiteral(".json"));
        startFeed(desks[s]);
    }

    clock.restart();
    bool restarted = false;
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        const int done = int(std::count_if(encoded.cbegin() + 1, encoded.cend(), [](int n) { return n > 0; }));
        if (!restarted && done > cards / 2) {
            restarted = true;
            server.stop();
            QTimer::singleShot(3000, [&server] { server.start(); });
            std::printf("server stopped at %d cards written, started again 3 s later\n", done);
        }
        bool quiet = true;
        for (const Station& desk : desks)
            quiet = quiet && desk.feed && !desk.onLine && desk.feed->exhausted() && desk.feed->outbox().isEmpty();
        if (qEnvironmentVariableIsSet("SOAK_DEBUG") && clock.elapsed() % 1000 < 100)
            for (const Station& desk : desks)
                std::printf("%s: %s online=%d ready=%d ex=%d outbox=%d\n", qPrintable(desk.role),
                            desk.feed ? qPrintable(desk.feed->status()) : "-", desk.onLine,
                            desk.feed && desk.feed->ready().has_value(), desk.feed && desk.feed->exhausted(),
                            desk.feed ? int(desk.feed->outbox().size()) : -1);
        if (quiet || clock.elapsed() > 600000)
            QCoreApplication::quit();
    });
    look.start(100);
    QCoreApplication::exec();
    const double seconds = clock.elapsed() / 1000.0;
    int doubles = 0;
    int skipped = 0;
    for (int n = 1; n <= cards; ++n) {
        doubles += encoded[n] > 1;
        skipped += encoded[n] == 0;
    }
    std::printf("%d stations, %d cards in %.1f s (%.0f cards/s), %d stations killed mid-card: %d encoded twice, %d "
                "never\n",
                stations, cards, seconds, cards / seconds, kills, doubles, skipped);
    // What the database holds: every card written, each by one outcome "written".
    PgConnection check;
    check.open(server.connection(QStringLiteral("postgres"), QStringLiteral("bureau")));
    check.waitIdle(10000);
    QStringList counts;
    check.plain("SELECT (SELECT count(*) FROM stripewell.card WHERE state = 'written'),"
                " (SELECT count(*) FROM stripewell.outcome WHERE written),"
                " (SELECT count(*) FROM stripewell.outcome WHERE NOT written)",
                [&](const PgResult& r) { counts = r.rows.value(0); });
    check.waitIdle(10000);
    std::printf("database: %s cards written, %s outcomes \"written\", %s \"not written\"\n",
                qPrintable(counts.value(0)), qPrintable(counts.value(1)), qPrintable(counts.value(2)));
    const bool exact = counts.value(0).toInt() == cards && counts.value(1).toInt() == cards;
    return doubles || skipped || !exact ? 1 : 0;
}
