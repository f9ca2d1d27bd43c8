// Speed and memory of the workbook source on a large sheet: a 200,000-row by
// 5-column xlsx written by xlsxwriter (shared strings, numbers, dates), opened
// and read one column through; then one cell read many times. openpyxl in
// read-only mode reads the same column in the same run for comparison.
//
//   build/release/bench/excel/bench_workbook [rows]

#include "excel/texcelapplication.h"
#include "link/error.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {

const char* Python = "/usr/bin/python3";

const char* WriterScript = R"(
import datetime, sys, xlsxwriter
rows = int(sys.argv[2])
wb = xlsxwriter.Workbook(sys.argv[1])
ws = wb.add_worksheet("Данные")
date = wb.add_format({"num_format": "dd.mm.yyyy"})
start = datetime.datetime(2024, 1, 1)
for r in range(rows):
    ws.write_number(r, 0, r + 1)
    ws.write_string(r, 1, "Иванов %d" % r)
    ws.write_string(r, 2, "4000%012d" % r)
    ws.write_number(r, 3, r * 1.25)
    ws.write_datetime(r, 4, start + datetime.timedelta(days=r % 3000), date)
wb.close()
)";

const char* OpenpyxlScript = R"(
import sys, time
try:
    import openpyxl
except ImportError:
    print("missing"); sys.exit(0)
begin = time.perf_counter()
wb = openpyxl.load_workbook(sys.argv[1], read_only=True)
ws = wb.active
count = sum(1 for (value,) in ws.iter_rows(min_col=2, max_col=2, values_only=True) if value is not None)
print("%.3f %d" % (time.perf_counter() - begin, count))
)";

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

bool runPython(const char* script, const QStringList& arguments, QByteArray* output)
{
    QProcess process;
    process.start(QString::fromLatin1(Python), QStringList{QStringLiteral("-c"), QString::fromUtf8(script)} + arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "%s\n", process.readAllStandardError().constData());
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput().trimmed();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rows = argc > 1 ? std::atoi(argv[1]) : 200000;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bench.xlsx"));
    if (!QFileInfo::exists(QString::fromLatin1(Python))
        || !runPython(WriterScript, {path, QString::number(rows)}, nullptr)) {
        std::printf("skipped: %s with xlsxwriter is needed to write the sheet\n", Python);
        return 0;
    }
    std::printf("sheet: %d rows x 5 columns, %.1f MB xlsx\n", rows, QFileInfo(path).size() / 1e6);

    const long rssBefore = peakRssKb();
    TExcelApplication excel;
    QElapsedTimer timer;
    timer.start();
    try {
        excel.openWorkbook(path);
        const qint64 openNs = timer.nsecsElapsed();
        qint64 characters = 0;
        for (int row = 1; row <= rows; ++row)
            characters += excel.ReadCellText(row, 2).size();
        const qint64 totalNs = timer.nsecsElapsed();
        std::printf("open: %.3f s, read column B (%d cells, %lld chars): %.3f s, total %.3f s\n", openNs / 1e9, rows,
                    static_cast<long long>(characters), (totalNs - openNs) / 1e9, totalNs / 1e9);

        constexpr int Repeats = 200000;
        timer.restart();
        for (int i = 0; i < Repeats; ++i)
            characters += excel.ReadCellText(1 + (i * 7919) % rows, 1 + i % 5).size();
        std::printf("single ReadCellText: %.2f us on average (%d reads of scattered cells)\n",
                    timer.nsecsElapsed() / 1e3 / Repeats, Repeats);
        std::printf("peak RSS: %.1f MB (before opening: %.1f MB)\n", peakRssKb() / 1024.0, rssBefore / 1024.0);

        QByteArray openpyxl;
        if (!runPython(OpenpyxlScript, {path}, &openpyxl) || openpyxl == "missing") {
            std::printf("openpyxl: skipped (not installed)\n");
        } else {
            const double seconds = openpyxl.split(' ').value(0).toDouble();
            std::printf("openpyxl read-only, same column: %.3f s; ratio openpyxl / ours: %.1f x\n", seconds,
                        seconds / (totalNs / 1e9));
        }
    } catch (const Failure& failure) {
        std::printf("failed: %s\n", failure.text().toUtf8().constData());
        return 1;
    }
    return 0;
}
