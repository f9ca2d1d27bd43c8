// How long the window's event loop is held while the workbook is first read
// and while it is read again after the file changed on disk: a 1,000,000-row
// xlsx (written by xlsxwriter at bench time) is opened as "База Excel" opens it
// (started, then finished once read), a timer of the main thread fires every
// 5 ms, the window's 500 ms tick checks the file, and the file is replaced by
// another version. Prints the longest gap between two timer events while
// opening, before the change and during the reload, and how long each read took.
//
//   build/release/bench/excel/bench_reload [rows]

#include "base/error.h"
#include "excel/texcelapplication.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

// python3 - PATH ROWS FIRST: column A the row's number plus FIRST, B a name, C a card number.
const char* WriterScript = R"(
import sys, xlsxwriter
path, rows, first = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
wb = xlsxwriter.Workbook(path, {"constant_memory": True})
ws = wb.add_worksheet("Data")
for r in range(rows):
    ws.write_number(r, 0, first + r); ws.write_string(r, 1, "IVANOV %d" % r); ws.write_string(r, 2, "4000%012d" % r)
wb.close()
)";

bool writeSheet(const QString& path, int rows, int first)
{
    QProcess process;
    process.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-"), path, QString::number(rows), QString::number(first)});
    process.write(WriterScript);
    process.closeWriteChannel();
    return process.waitForFinished(1800000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 1000000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("batch.xlsx"));
    const QString next = dir.filePath(QStringLiteral("next.xlsx"));
    std::printf("writing two sheets of %d rows...\n", rows);
    std::fflush(stdout);
    if (!writeSheet(path, rows, 1) || !writeSheet(next, rows, 1000001)) {
        std::fprintf(stderr, "cannot write the sheets (python3 with xlsxwriter)\n");
        return 1;
    }
    TExcelApplication excel;
    excel.setFileCheck(TExcelApplication::FileCheck::WhenAsked);
    QElapsedTimer clock;
    clock.start();
    excel.startOpening(path);
    qint64 openedAt = -1;

    // The window: a 5 ms timer whose gaps are measured, and the 500 ms tick.
    QTimer beat;
    beat.setInterval(5);
    qint64 last = -1;
    qint64 longestOpening = 0;
    qint64 longestBefore = 0;
    qint64 longestDuring = 0;
    qint64 replacedAt = -1;
    qint64 readyAt = -1;
    QObject::connect(&beat, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        qint64& longest = openedAt < 0 ? longestOpening : replacedAt < 0 ? longestBefore : longestDuring;
        if (last >= 0)
            longest = std::max(longest, now - last);
        last = now;
    });
    QTimer tick;
    tick.setInterval(500);
    int ticksSkipped = 0;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (openedAt < 0) {
            if (!excel.ready())
                return;
            try {
                excel.finishOpening();
            } catch (const Failure& failure) {
                std::fprintf(stderr, "%s\n", qPrintable(failure.text()));
                app.exit(1);
                return;
            }
            openedAt = clock.elapsed();
            std::printf("opened in %lld ms, off the window's thread\n", static_cast<long long>(openedAt));
            // The operator saves the workbook again a second later: a new file takes the old name.
            QTimer::singleShot(1000, [&] {
                QFile::remove(path);
                QFile::rename(next, path);
                replacedAt = clock.elapsed();
            });
            return;
        }
        excel.checkFile();
        if (!excel.ready()) {
            ++ticksSkipped; // the write loop would skip this tick
            return;
        }
        if (replacedAt >= 0 && readyAt < 0 && excel.snapshot().version() > 1) {
            readyAt = clock.elapsed();
            const QString a1 = excel.ReadCellText(1, 1);
            std::printf("new version read: A1 = %s\n", qPrintable(a1));
            QTimer::singleShot(300, &app, &QCoreApplication::quit);
        }
    });
    beat.start();
    tick.start();
    if (const int code = app.exec(); code != 0)
        return code;
    std::printf("rows %d: longest gap between 5 ms timer events: %lld ms while opening, %lld ms before the change, "
                "%lld ms while reloading (limit 50 ms); reload seen and read %lld ms after the change, %d ticks "
                "skipped while it ran\n",
                rows, static_cast<long long>(longestOpening), static_cast<long long>(longestBefore),
                static_cast<long long>(longestDuring), static_cast<long long>(readyAt - replacedAt), ticksSkipped);
    return std::max(longestOpening, longestDuring) < 50 ? 0 : 2;
}
