// The windows of shared batches, driven offscreen against a PostgreSQL server of the test's own.

#include "app/batchview.h"
#include "app/joindialog.h"
#include "app/publishcards.h"
#include "app/publishdialog.h"
#include "controls.h"
#include "db/pgconnection.h"
#include "db/schema.h"
#include "db/sharedbatch.h"
#include "pgserver.h"
#include "writing/csvfield.h"

#include <QFile>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

namespace {

const QString Db = QStringLiteral("bureau");
const QString Formula = QStringLiteral("=HYPERLINK(\"http://x\")");

Preflight::Result checked(int cards)
{
    Preflight::Result result;
    for (int n = 1; n <= cards; ++n)
        result.cards.append({n + 1, {n == 1 ? Formula : QStringLiteral("CARD%1").arg(n), QString(), QString()}});
    result.size = cards;
    return result;
}

QString cell(const BatchView& view, int line, int column)
{
    return view.table()->model()->index(line, column).data().toString();
}

} // namespace

class TestSharedWindows : public QObject
{
    Q_OBJECT

    ThrowawayServer m_server;
    qint64 m_batch = 0; // the batch the publish dialog published

    QString connection(const QString& user) const { return m_server.connection(user, Db); }

    std::unique_ptr<PgConnection> connect(const QString& user)
    {
        auto c = std::make_unique<PgConnection>();
        c->open(connection(user));
        c->waitIdle(10000);
        return c;
    }

private Q_SLOTS:
    void initTestCase()
    {
        const QString why = m_server.create();
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QCOMPARE(m_server.psql(QStringLiteral("CREATE DATABASE bureau")), QString());
        auto admin = connect(QStringLiteral("postgres"));
        QCOMPARE(Schema::upgrade(*admin), QString());
        QCOMPARE(m_server.psql(QStringLiteral("CREATE ROLE bureau LOGIN IN ROLE stripewell_publisher;"
                                              "CREATE ROLE desk1 LOGIN IN ROLE stripewell_station;"),
                               Db),
                 QString());
    }

    // A batch with a card that stops the run, or without a size and an end, has no whole to publish.
    void onlyAWholeCheckedBatchIsPublished()
    {
        QString refusal;
        Preflight::Result stopped = checked(3);
        stopped.problems = {{Preflight::Problem::Duplicate, 1, 2, {}, QStringLiteral("warns only")},
                            {Preflight::Problem::OverLong, 3, 4, QStringLiteral("B4"), QStringLiteral("Длинно.")}};
        QVERIFY(!cardsToPublish(stopped, &refusal));
        QCOMPARE(refusal, QStringLiteral("Партия не публикуется: карточка 3 (строка 4, ячейка B4): Длинно."));

        Preflight::Result unsized = checked(3);
        unsized.size = 0;
        unsized.partial = true;
        QVERIFY(!cardsToPublish(unsized, &refusal));
        QCOMPARE(refusal, QStringLiteral("Укажите «Карточек в партии»: у партии без размера нет конца."));

        const auto cards = cardsToPublish(checked(3), &refusal);
        QVERIFY(cards && refusal.isEmpty());
        QCOMPARE(cards->size(), 3);
        QCOMPARE(cards->at(2).seq, 3);
        QCOMPARE(cards->at(2).row, 4);
        QCOMPARE(cards->at(2).texts[0], QStringLiteral("CARD3"));
    }

    // Published from its dialog, a batch is in the join dialog's list, and OK gives it.
    void publishedBatchIsListedToJoin()
    {
        PublishDialog publish(*cardsToPublish(checked(3), nullptr), 1);
        auto* button = control<QPushButton>(&publish, "publish");
        auto* status = control<QLabel>(&publish, "status");
        control<QLineEdit>(&publish, "batchName")->setText(QStringLiteral("Пропуска"));
        publish.setConnection(connection(QStringLiteral("bureau")) + QStringLiteral(" password=secret"));
        button->click();
        QVERIFY(status->text().startsWith(QStringLiteral("Пароль в строке подключения не хранится")));
        QVERIFY(button->isEnabled());

        publish.setConnection(connection(QStringLiteral("bureau")));
        button->click();
        QVERIFY(!button->isEnabled()); // while it publishes
        QVERIFY(QTest::qWaitFor([&] { return !publish.busy(); }, 20000));
        QCOMPARE(status->text(), QStringLiteral("Партия «Пропуска» опубликована: 3 карточек."));
        QVERIFY(!button->isEnabled()); // a batch goes once
        m_batch = publish.publishedId().value_or(0);
        QVERIFY(m_batch > 0);

        JoinDialog join;
        join.setConnection(connection(QStringLiteral("desk1")));
        control<QPushButton>(&join, "showBatches")->click();
        QVERIFY(QTest::qWaitFor([&] { return !join.busy(); }, 20000));
        auto* list = control<QTreeWidget>(&join, "batches");
        QCOMPARE(list->topLevelItemCount(), 1);
        QCOMPARE(list->topLevelItem(0)->text(0), QStringLiteral("Пропуска"));
        QCOMPARE(list->topLevelItem(0)->text(1), QStringLiteral("3"));
        const auto chosen = join.selection();
        QVERIFY(chosen);
        QCOMPARE(chosen->batchId, m_batch);
        QCOMPARE(chosen->choice, 1);
        QCOMPARE(chosen->connection, connection(QStringLiteral("desk1")));
    }

    // The view follows a claim and an outcome as the database announces them, hands a
    // card in flight back after its question, and saves a text a spreadsheet would run as text.
    void batchViewFollowsTheBatch()
    {
        QVERIFY(m_batch > 0);
        BatchView view(connection(QStringLiteral("bureau")), m_batch);
        QStringList questions;
        QTemporaryDir dir;
        const QString csvPath = dir.filePath(QStringLiteral("batch.csv"));
        view.setHooks({[&](QWidget*, const QString& q) {
                           questions << q;
                           return true;
                       },
                       [&](QWidget*) { return csvPath; }});
        view.show();
        QVERIFY(QTest::qWaitFor([&] { return view.snapshot().cards.size() == 3; }, 20000));
        QCOMPARE(cell(view, 0, 2), QStringLiteral("не выдана"));

        auto desk = connect(QStringLiteral("desk1"));
        const auto claimed = [&] {
            bool done = false;
            SharedBatch::claim(*desk, m_batch, [&](auto, const QString&) { done = true; });
            return QTest::qWaitFor([&] { return done; }, 20000);
        };
        QVERIFY(claimed());
        QVERIFY(QTest::qWaitFor([&] { return cell(view, 0, 2) == QStringLiteral("в работе (desk1)"); }, 20000));
        QCOMPARE(control<QLabel>(&view, "counts")->text(),
                 QStringLiteral("Записано: 0 · в работе: 1 (desk1: 1) · не выдано: 2 · всего: 3"));

        SharedBatch::record(*desk, m_batch, 1, 1, true, {}, [](const QString&, const QString&) {});
        QVERIFY(QTest::qWaitFor([&] { return cell(view, 0, 2) == QStringLiteral("записана"); }, 20000));
        QVERIFY(claimed());
        QVERIFY(QTest::qWaitFor([&] { return view.snapshot().inFlight == 1; }, 20000));
        if (qEnvironmentVariableIsSet("STRIPEWELL_SHOT"))
            view.grab().save(qEnvironmentVariable("STRIPEWELL_SHOT"));

        view.table()->selectRow(1);
        control<QPushButton>(&view, "handBack")->click();
        QCOMPARE(questions,
                 QStringList{QStringLiteral("Карточка 2 у станции desk1. Вернуть её в партию? Сначала проверьте "
                                            "карточку, проведя её через считыватель.")});
        QVERIFY(QTest::qWaitFor([&] { return cell(view, 1, 2) == QStringLiteral("не выдана"); }, 20000));
        QVERIFY(!control<QPushButton>(&view, "handBack")->isEnabled()); // still selected, no longer in flight

        control<QPushButton>(&view, "saveCsv")->click();
        QFile file(csvPath);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(file.readAll());
        QVERIFY(text.contains(QStringLiteral("\"'=HYPERLINK(\"\"http://x\"\")\"")));
        const QList<QStringList> records = CsvField::records(text);
        QCOMPARE(records.size(), 4);
        QCOMPARE(records[1].mid(0, 6),
                 (QStringList{QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("записана"),
                              QStringLiteral("desk1"), QStringLiteral("1"), Formula}));
    }
};

QTEST_MAIN(TestSharedWindows)
#include "tst_sharedwindows.moc"
