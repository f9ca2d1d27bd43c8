// Pre-flight of a batch of 100,000 cards, three worksheet slots each, from a
// 100,001-row xlsx (written by xlsxwriter at bench time), against a journal of
// 1,000,000 cards held as a set of texts. The pre-flight runs on a thread of its
// own, as the window runs it, while a 5 ms timer of the main thread measures how
// long the event loop is ever held. Prints the pre-flight's processor time.
//
//   build/release/bench/writing/bench_preflight [cards] [journal entries]

#include "base/error.h"
#include "excel/texcelapplication.h"
#include "writing/preflight.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <ctime>
#include <thread>

namespace {

// python3 - PATH ROWS: A the row's number, B a name, C a 16-digit card number.
const char* WriterScript = R"(
import sys, xlsxwriter
path, rows = sys.argv[1], int(sys.argv[2])
wb = xlsxwriter.Workbook(path, {"constant_memory": True})
ws = wb.add_worksheet("Data")
for r in range(rows):
    ws.write_number(r, 0, r + 1); ws.write_string(r, 1, "IVANOV %d" % r); ws.write_string(r, 2, "4000%012d" % r)
wb.close()
)";

bool writeSheet(const QString& path, int rows)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-"), path, QString::number(rows)});
    process.write(WriterScript);
    process.closeWriteChannel();
    return process.waitForFinished(1800000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void excelSlot(TrackTemplate& t, int slot, int column)
{
    t.slotText[slot] = QStringLiteral("preview");
    t.SegmentKind[slot] = ExcelSegment;
    t.ExcelDirection[slot] = ExcelRowRises;
    t.ExcelColumn[slot] = column;
    t.ExcelRow[slot] = 1;
    t.ExcelStep[slot] = 1;
}

// Track 1 the name and "^", track 2 the card number and "=2512", track 3 the row's number in six digits.
TemplateSet batchTemplates()
{
    TemplateSet set;
    excelSlot(set.track(1), 0, 2);
    set.track(1).slotText[1] = QStringLiteral("^");
    excelSlot(set.track(2), 0, 3);
    set.track(2).slotText[1] = QStringLiteral("=2512");
    excelSlot(set.track(3), 0, 1);
    set.track(3).DigitCount = 6;
    return set;
}

QString key(const QString& t1, const QString& t2, const QString& t3)
{
    return t1 + QLatin1Char('\x1f') + t2 + QLatin1Char('\x1f') + t3;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int cards = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;
    const int entries = argc > 2 ? QByteArray(argv[2]).toInt() : 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("batch.xlsx"));
    if (!writeSheet(path, cards + 1)) {
        std::fprintf(stderr, "cannot write the sheet (python3 with xlsxwriter)\n");
        return 1;
    }
    TExcelApplication excel;
    try {
        excel.openWorkbook(path);
    } catch (const Failure& failure) {
        std::fprintf(stderr, "%s\n", qPrintable(failure.text()));
        return 1;
    }
    // The journal: cards of earlier batches, and every hundredth card of this one.
    QSet<QString> journal;
    journal.reserve(entries);
    for (int i = 0; i < entries; ++i) {
        const int row = i % 100 == 0 ? i / 100 + 2 : cards + 10 + i;
        journal.insert(key(QStringLiteral("IVANOV %1^").arg(row - 1),
                           QStringLiteral("4000%1=2512").arg(row - 1, 12, 10, QLatin1Char('0')),
                           QStringLiteral("%1").arg(row, 6, 10, QLatin1Char('0'))));
    }
    const SheetSnapshot sheet = excel.snapshot();
    Preflight::Input input{batchTemplates(), 5, {}, sheet.lastRow()};
    input.alreadyWritten = [&journal](const QString& t1, const QString& t2, const QString& t3) {
        return journal.contains(key(t1, t2, t3));
    };

    QElapsedTimer clock;
    QTimer beat;
    beat.setInterval(5);
    qint64 last = -1;
    qint64 longest = 0;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        if (last >= 0)
            longest = std::max(longest, now - last);
        last = now;
    });
    Preflight::Result result;
    double cpu = 0;
    double wall = 0;
    int reports = 0;
    std::thread worker;
    QTimer::singleShot(200, [&] {
        worker = std::thread([&] {
            SheetSnapshot cells = sheet;
            QElapsedTimer own;
            own.start();
            const double start = threadCpuSeconds();
            result = Preflight::run(input, cells, nullptr, [&](int, int) { ++reports; });
            cpu = threadCpuSeconds() - start;
            wall = double(own.nsecsElapsed()) / 1e9;
            QMetaObject::invokeMethod(&app, [&app] { QTimer::singleShot(200, &app, &QCoreApplication::quit); });
        });
    });
    clock.start();
    beat.start();
    app.exec();
    worker.join();
    qsizetype written = 0;
    for (const Preflight::Issue& issue : result.problems)
        written += issue.kind == Preflight::Problem::AlreadyWritten;
    std::printf("pre-flight of %lld cards (3 worksheet slots each, %d journal entries): %.3f s processor, %.3f s wall "
                "(limit 1 s processor); %lld problems (%lld already written), ends: %s; %d progress reports; "
                "longest gap between 5 ms timer events of the main thread: %lld ms\n",
                static_cast<long long>(result.cards.size()), entries, cpu, wall,
                static_cast<long long>(result.problems.size()), static_cast<long long>(written),
                result.end ? qPrintable(result.end->message) : "limit", reports, static_cast<long long>(longest));
    return cpu < 1.0 ? 0 : 2;
}
