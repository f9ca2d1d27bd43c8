// Speed and memory of the workbook readers against what an operator would use
// instead, on the same files in the same run: openpyxl (read-only) for xlsx,
// xlrd for xls, Python's csv module for csv, and LibreOffice's headless
// conversion to csv for ods, when they are installed. The sheets (5 columns:
// a number, a name, a 16-digit card number, a fraction, a date) are written at
// bench time into a temporary folder, 10,000 / 100,000 / 1,000,000 rows
// (65,535 for xls). Every read, ours and the peers', runs in a process of its
// own, so that each peak memory is its own.
//
//   build/release/bench/excel/bench_workbook [rows,rows,...] [formats,...]
//   build/release/bench/excel/bench_workbook --open FILE   (one read of ours)

#include "excel/texcelapplication.h"
#include "link/error.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <numeric>
#include <sys/resource.h>

namespace {

const char* Python = "/usr/bin/python3";

// Writes the sheet: python3 - FORMAT PATH ROWS.
const char* WriterScript = R"(
import csv, datetime, sys, zipfile
fmt, path, rows = sys.argv[1], sys.argv[2], int(sys.argv[3])
start = datetime.date(2024, 1, 1)
def row(r):
    return (r + 1, "Иванов %d" % r, "4000%012d" % r, r * 1.25, start + datetime.timedelta(days=r % 3000))
if fmt == "xlsx":
    import xlsxwriter
    wb = xlsxwriter.Workbook(path, {"constant_memory": True})
    ws = wb.add_worksheet("Данные")
    date = wb.add_format({"num_format": "dd.mm.yyyy"})
    for r in range(rows):
        a, b, c, d, e = row(r)
        ws.write_number(r, 0, a); ws.write_string(r, 1, b); ws.write_string(r, 2, c)
        ws.write_number(r, 3, d); ws.write_datetime(r, 4, datetime.datetime.combine(e, datetime.time()), date)
    wb.close()
elif fmt == "xls":
    import xlwt
    wb = xlwt.Workbook(encoding="utf-8")
    ws = wb.add_sheet("Данные")
    date = xlwt.easyxf(num_format_str="DD.MM.YYYY")
    for r in range(rows):
        a, b, c, d, e = row(r)
        ws.write(r, 0, a); ws.write(r, 1, b); ws.write(r, 2, c); ws.write(r, 3, d); ws.write(r, 4, e, date)
    wb.save(path)
elif fmt == "csv":
    with open(path, "w", newline="", encoding="utf-8") as f:
        w = csv.writer(f, delimiter=";")
        for r in range(rows):
            a, b, c, d, e = row(r)
            w.writerow([a, b, c, str(d).replace(".", ","), e.strftime("%d.%m.%Y")])
else:  # ods, as LibreOffice writes it
    ns = ('xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
          'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
          'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
          'xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0"')
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(zipfile.ZipInfo("mimetype"), "application/vnd.oasis.opendocument.spreadsheet")
        z.writestr("META-INF/manifest.xml", '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" '
                   'manifest:version="1.2"><manifest:file-entry manifest:full-path="/" manifest:version="1.2" '
                   'manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/><manifest:file-entry '
                   'manifest:full-path="content.xml" manifest:media-type="text/xml"/></manifest:manifest>')
        with z.open("content.xml", "w", force_zip64=True) as out:
            out.write(('<?xml version="1.0" encoding="UTF-8"?><office:document-content %s><office:body>'
                       '<office:spreadsheet><table:table table:name="Данные">' % ns).encode())
            part = []
            for r in range(rows):
                a, b, c, d, e = row(r)
                part.append('<table:table-row>'
                    '<table:table-cell office:value-type="float" office:value="%d" calcext:value-type="float"><text:p>%d</text:p></table:table-cell>'
                    '<table:table-cell office:value-type="string" calcext:value-type="string"><text:p>%s</text:p></table:table-cell>'
                    '<table:table-cell office:value-type="string" calcext:value-type="string"><text:p>%s</text:p></table:table-cell>'
                    '<table:table-cell office:value-type="float" office:value="%r" calcext:value-type="float"><text:p>%s</text:p></table:table-cell>'
                    '<table:table-cell office:value-type="date" office:date-value="%s" calcext:value-type="date"><text:p>%s</text:p></table:table-cell>'
                    '</table:table-row>' % (a, a, b, c, d, str(d).replace(".", ","), e.isoformat(), e.strftime("%d.%m.%Y")))
                if len(part) == 10000:
                    out.write("".join(part).encode()); part = []
            out.write(("".join(part) + '</table:table></office:spreadsheet></office:body></office:document-content>').encode())
)";

// Each peer reads every cell of the sheet: python3 - FORMAT PATH; prints "seconds cells peak_kb".
const char* PeerScript = R"(
import resource, sys, time
fmt, path = sys.argv[1], sys.argv[2]
# The modules are loaded before the clock starts, as ours are.
if fmt == "xlsx":
    import openpyxl
elif fmt == "xls":
    import xlrd
else:
    import csv
begin = time.process_time()
cells = 0
if fmt == "xlsx":
    wb = openpyxl.load_workbook(path, read_only=True)
    for values in wb.active.iter_rows(values_only=True):
        cells += sum(1 for v in values if v is not None)
elif fmt == "xls":
    wb = xlrd.open_workbook(path)
    ws = wb.sheet_by_index(0)
    for r in range(ws.nrows):
        cells += sum(1 for v in ws.row_values(r) if v != "")
elif fmt == "csv":
    with open(path, newline="", encoding="utf-8") as f:
        for values in csv.reader(f, delimiter=";"):
            cells += len(values)
print("%.3f %d %d" % (time.process_time() - begin, cells, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss))
)";

const char* PeerName(const QString& format)
{
    if (format == QLatin1String("xlsx"))
        return "openpyxl";
    if (format == QLatin1String("xls"))
        return "xlrd";
    if (format == QLatin1String("csv"))
        return "python csv";
    return "LibreOffice";
}

long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Processor time (user and system) of this process: on a shared machine wall
// time measures the neighbours as much as the reader.
double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// One read of ours: open the file and take the text of every cell of A..E.
int openOnce(const QString& path)
{
    const long before = peakRssKb();
    const double start = cpuSeconds();
    try {
        TExcelApplication excel;
        excel.openWorkbook(path);
        const double opened = cpuSeconds();
        qint64 cells = 0;
        for (int row = 1; !qEnvironmentVariableIsSet("BENCH_OPEN_ONLY"); ++row) {
            int here = 0;
            for (int column = 1; column <= 5; ++column)
                here += !excel.ReadCellText(row, column).isEmpty();
            if (here == 0)
                break;
            cells += here;
        }
        std::printf("%.4f %lld %ld %ld %.4f\n", cpuSeconds() - start, static_cast<long long>(cells), peakRssKb(), before,
                    opened - start);
    } catch (const Failure& failure) {
        std::printf("failed %s\n", failure.text().toUtf8().constData());
        return 1;
    }
    return 0;
}

bool run(const QString& program, const QStringList& arguments, const QByteArray& input, QByteArray* output)
{
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(1800000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(program), process.readAllStandardError().right(400).constData());
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput().trimmed();
    return true;
}

// LibreOffice converting the sheet to csv, start-up included: what an operator without us would run.
bool libreOffice(const QString& path, double* seconds)
{
    const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
    if (soffice.isEmpty())
        return false;
    QTemporaryDir out;
    QElapsedTimer timer;
    timer.start();
    if (!run(soffice, {QStringLiteral("-env:UserInstallation=file://") + out.filePath(QStringLiteral("profile")),
                       QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("csv"),
                       QStringLiteral("--outdir"), out.path(), path},
             {}, nullptr))
        return false;
    *seconds = timer.nsecsElapsed() / 1e9;
    // soffice answers 0 even when it could not load the file: only its output says it did.
    const QString csv = out.filePath(QFileInfo(path).completeBaseName() + QStringLiteral(".csv"));
    return QFileInfo(csv).size() > 0;
}

// Runs `once` (which answers the seconds it measured, or a negative number
// when it failed) up to five times while the runs are short, and answers the
// median run's index: on a shared machine one run can take twice another.
template <typename Once> int medianRun(Once once, QList<double>& seconds)
{
    QElapsedTimer spent;
    spent.start();
    do {
        const double taken = once();
        if (taken < 0)
            return -1;
        seconds << taken;
    } while (seconds.size() < 5 && spent.elapsed() * (seconds.size() + 1) / seconds.size() < 20000);
    QList<int> order(seconds.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return seconds[a] < seconds[b]; });
    return order[order.size() / 2];
}

void benchOne(const QString& self, const QString& format, int rows, QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("bench_%1.%2").arg(rows).arg(format));
    if (!run(QString::fromLatin1(Python), {QStringLiteral("-"), format, path, QString::number(rows)}, WriterScript, nullptr)) {
        std::printf("%-5s %8d  could not write the sheet (python3-xlsxwriter, python3-xlwt needed)\n", qPrintable(format), rows);
        return;
    }
    QList<QByteArray> ourRuns;
    QList<double> ourTimes;
    const int ourMedian = medianRun([&] {
        QByteArray ours;
        if (!run(self, {QStringLiteral("--open"), path}, {}, &ours) || ours.startsWith("failed")) {
            std::printf("%-5s %8d  ours failed: %s\n", qPrintable(format), rows, ours.constData());
            return -1.0;
        }
        ourRuns << ours;
        return ours.split(' ').value(4).toDouble();
    }, ourTimes);
    if (ourMedian < 0)
        return;
    const QList<QByteArray> o = ourRuns[ourMedian].split(' ');
    const double ourSeconds = o.value(0).toDouble();
    const double openSeconds = o.value(4).toDouble();
    const double cells = o.value(1).toDouble();
    const double ourMb = o.value(2).toDouble() / 1024.0;
    const double bytesPerCell = (o.value(2).toDouble() - o.value(3).toDouble()) * 1024.0 / std::max(1.0, cells);
    QList<double> peerTimes;
    double peerMb = 0;
    const int peerMedian = medianRun([&] {
        double seconds = 0;
        if (format == QLatin1String("ods"))
            return libreOffice(path, &seconds) ? seconds : -1.0;
        QByteArray answer;
        if (!run(QString::fromLatin1(Python), {QStringLiteral("-"), format, path}, PeerScript, &answer))
            return -1.0;
        peerMb = std::max(peerMb, answer.split(' ').value(2).toDouble() / 1024.0);
        return answer.split(' ').value(0).toDouble();
    }, peerTimes);
    std::printf("%-5s %8d %7.1f MB | ours %7.4f s (open %7.4f s) %6.1f MB %4.0f B/cell | %-11s ", qPrintable(format), rows,
                QFileInfo(path).size() / 1e6, ourSeconds, openSeconds, ourMb, bytesPerCell, PeerName(format));
    if (peerMedian >= 0) {
        const double peerSeconds = peerTimes[peerMedian];
        std::printf("%8.4f s %7.1f MB | %5.1f x (runs %lld/%lld)\n", peerSeconds, peerMb,
                    peerSeconds / std::max(openSeconds, 0.0001), static_cast<long long>(ourTimes.size()),
                    static_cast<long long>(peerTimes.size()));
    } else {
        std::printf("   not installed or failed\n");
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && QByteArrayView(argv[1]) == "--open")
        return openOnce(QString::fromLocal8Bit(argv[2]));
    QList<int> sizes = {10000, 100000, 1000000};
    QStringList formats = {QStringLiteral("xlsx"), QStringLiteral("ods"), QStringLiteral("xls"), QStringLiteral("csv")};
    if (argc > 1) {
        sizes.clear();
        for (const QString& size : QString::fromLatin1(argv[1]).split(QLatin1Char(',')))
            sizes << size.toInt();
    }
    if (argc > 2)
        formats = QString::fromLatin1(argv[2]).split(QLatin1Char(','));
    if (!QFileInfo::exists(QString::fromLatin1(Python))) {
        std::printf("skipped: %s is needed to write the sheets\n", Python);
        return 0;
    }
    QTemporaryDir dir;
    const QString self = QCoreApplication::applicationFilePath();
    std::printf("processor seconds (user + system) of each read in a process of its own. Ours: open (the whole sheet\n"
                "read into memory, what the peers do) and, after it, the text of every cell of A..E through\n"
                "ReadCellText (a stat of the file and a lookup each); the peers read every value; LibreOffice\n"
                "(wall time, start-up included) converts the sheet to csv. B/cell: peak memory over the start,\n"
                "per cell. The ratio is the peer's time over our open. Each side is the median of up to five\n"
                "runs (fewer when they are long); the peers' modules are loaded before their clock starts.\n");
    std::printf("format    rows    file | ours: open + every text (open alone), peak RSS, B/cell | peer: seconds, peak RSS | peer/open\n");
    for (const QString& format : formats) {
        QList<int> done;
        for (int rows : sizes) {
            if (format == QLatin1String("xls"))
                rows = std::min(rows, 65535); // the format's last row is 65,536
            if (!done.contains(rows))
                benchOne(self, format, rows, dir);
            done << rows;
        }
    }
    return 0;
}
