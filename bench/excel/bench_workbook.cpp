// Speed and memory of the workbook readers against what an operator or a
// developer would use instead, on the same files in the same run: openpyxl
// (read-only) for xlsx, xlrd for xls, Python's csv module for csv, LibreOffice's
// headless conversion to csv for ods, and liborcus's tools for xlsx, ods and csv,
// when they are installed. The sheets (5 columns: a number, a name, a 16-digit
// card number, a fraction, a date) are written at bench time into a temporary
// folder, 10,000 / 100,000 / 1,000,000 rows (65,535 for xls). Every read, ours
// and the peers', runs in a process of its own, so that each peak memory is its own.
//
//   build/release/bench/excel/bench_workbook [rows,rows,...] [formats,...]
//   build/release/bench/excel/bench_workbook --open FILE [--no-texts]   (one read of ours)

#include "base/error.h"
#include "excel/texcelapplication.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
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
print("%.4f %d %d" % (time.process_time() - begin, cells, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss))
)";

// A tool's read measured from outside: python3 - TOOL ARGS...; prints
// "seconds status peak_kb", the processor time of the tool and all it started.
const char* CommandScript = R"(
import resource, subprocess, sys
done = subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
use = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.4f %d %d" % (use.ru_utime + use.ru_stime, done.returncode, use.ru_maxrss))
)";

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
int openOnce(const QString& path, bool withoutTexts)
{
    const long before = peakRssKb();
    const double start = cpuSeconds();
    try {
        TExcelApplication excel;
        excel.openWorkbook(path);
        const double opened = cpuSeconds();
        qint64 cells = 0;
        for (int row = 1; !withoutTexts; ++row) {
            int here = 0;
            for (int column = 1; column <= 5; ++column)
                here += !excel.ReadCellText(row, column).isEmpty();
            if (here == 0)
                break;
            cells += here;
        }
        std::printf("%.4f %lld %ld %ld %.4f\n", cpuSeconds() - start, static_cast<long long>(cells), peakRssKb(),
                    before, opened - start);
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

struct Reading
{
    double seconds = 0;
    double peakMb = 0;
    double spread = 0; // of a median: the slowest run less the fastest
};

// One read by a peer of the file at `path`; nothing when it failed.
struct Peer
{
    const char* name;
    std::function<std::optional<Reading>(const QString& path)> read;
};

std::optional<Reading> readByPython(const QString& format, const QString& path)
{
    QByteArray answer;
    if (!run(QString::fromLatin1(Python), {QStringLiteral("-"), format, path}, PeerScript, &answer))
        return std::nullopt;
    const QList<QByteArray> a = answer.split(' ');
    return Reading{a.value(0).toDouble(), a.value(2).toDouble() / 1024.0};
}

// `program` with `arguments`, timed by CommandScript; `accepted` tells a read from a failure.
std::optional<Reading> readByCommand(const QString& program, const QStringList& arguments,
                                     const std::function<bool(int)>& accepted)
{
    QByteArray answer;
    if (!run(QString::fromLatin1(Python), QStringList{QStringLiteral("-"), program} + arguments, CommandScript,
             &answer))
        return std::nullopt;
    const QList<QByteArray> a = answer.split(' ');
    if (!accepted(a.value(1).toInt()))
        return std::nullopt;
    return Reading{a.value(0).toDouble(), a.value(2).toDouble() / 1024.0};
}

// What an operator or a developer would read the format with instead, where installed.
QList<Peer> peersOf(const QString& format, const QString& scratch)
{
    QList<Peer> peers;
    if (format != QLatin1String("ods"))
        peers << Peer{format == QLatin1String("xlsx")  ? "openpyxl"
                      : format == QLatin1String("xls") ? "xlrd"
                                                       : "python csv",
                      [format](const QString& path) { return readByPython(format, path); }};
    if (format == QLatin1String("ods")) {
        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (!soffice.isEmpty())
            peers << Peer{
                "LibreOffice", [soffice, scratch](const QString& path) {
                    // Converting the sheet to csv; soffice answers 0 even when it could not
                    // load the file: only its output says it did.
                    const QString csv =
                        scratch + QLatin1Char('/') + QFileInfo(path).completeBaseName() + QStringLiteral(".csv");
                    QFile::remove(csv);
                    return readByCommand(
                        soffice,
                        {QStringLiteral("-env:UserInstallation=file://") + scratch + QStringLiteral("/profile"),
                         QStringLiteral("--headless"), QStringLiteral("--convert-to"), QStringLiteral("csv"),
                         QStringLiteral("--outdir"), scratch, path},
                        [csv](int status) { return status == 0 && QFileInfo(csv).size() > 0; });
                }};
    }
    if (format != QLatin1String("xls")) {
        const QString orcus = QStandardPaths::findExecutable(QStringLiteral("orcus-") + format);
        if (!orcus.isEmpty())
            peers << Peer{"orcus", [orcus, scratch](const QString& path) {
                              // Loads the document into its model and writes nothing; with that
                              // output format the tool answers 1 after a good load, 0 never.
                              return readByCommand(
                                  orcus,
                                  {QStringLiteral("-f"), QStringLiteral("none"), QStringLiteral("-o"), scratch, path},
                                  [](int status) { return status == 0 || status == 1; });
                          }};
    }
    return peers;
}

// Runs `once` up to five times while the runs are short and answers the median
// run: on a shared machine one run can take twice another. Nothing when a run failed.
std::optional<Reading> median(const std::function<std::optional<Reading>()>& once)
{
    QElapsedTimer spent;
    spent.start();
    QList<Reading> runs;
    do {
        const std::optional<Reading> reading = once();
        if (!reading)
            return std::nullopt;
        runs << *reading;
    } while (runs.size() < 5 && spent.elapsed() * (runs.size() + 1) / runs.size() < 20000);
    std::sort(runs.begin(), runs.end(), [](const Reading& a, const Reading& b) { return a.seconds < b.seconds; });
    Reading middle = runs[runs.size() / 2];
    middle.spread = runs.back().seconds - runs.front().seconds;
    return middle;
}

bool writeSheet(const QString& format, const QString& path, int rows)
{
    return run(QString::fromLatin1(Python), {QStringLiteral("-"), format, path, QString::number(rows)}, WriterScript,
               nullptr);
}

// Each peer's time on a one-row sheet of the format: its start-up, taken off its times.
QList<Reading> startUps(const QString& format, const QList<Peer>& peers, QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("one_row.") + format);
    QList<Reading> startUp;
    const bool written = writeSheet(format, path, 1);
    for (const Peer& peer : peers)
        startUp << (written ? median([&] { return peer.read(path); }) : std::nullopt).value_or(Reading{});
    return startUp;
}

void benchOne(const QString& self, const QString& format, int rows, const QList<Peer>& peers,
              const QList<Reading>& startUp, QTemporaryDir& dir)
{
    const QString path = dir.filePath(QStringLiteral("bench_%1.%2").arg(rows).arg(format));
    if (!writeSheet(format, path, rows)) {
        std::printf("%-5s %8d  could not write the sheet (python3-xlsxwriter, python3-xlwt needed)\n",
                    qPrintable(format), rows);
        return;
    }
    // One run reads every text as well; the open alone is the median of runs of its own.
    const auto ours = [&](bool texts) -> std::optional<QByteArray> {
        QByteArray answer;
        QStringList arguments = {QStringLiteral("--open"), path};
        if (!texts)
            arguments << QStringLiteral("--no-texts");
        if (!run(self, arguments, {}, &answer) || answer.startsWith("failed")) {
            std::printf("%-5s %8d  ours failed: %s\n", qPrintable(format), rows, answer.constData());
            return std::nullopt;
        }
        return answer;
    };
    const std::optional<QByteArray> withTexts = ours(true);
    if (!withTexts)
        return;
    const QByteArray first = *withTexts;
    const std::optional<Reading> open = median([&]() -> std::optional<Reading> {
        const std::optional<QByteArray> answer = ours(false);
        if (!answer)
            return std::nullopt;
        return Reading{answer->split(' ').value(4).toDouble(), 0};
    });
    if (!open)
        return;
    const QList<QByteArray> o = first.split(' ');
    const double cells = o.value(1).toDouble();
    const double bytesPerCell = (o.value(2).toDouble() - o.value(3).toDouble()) * 1024.0 / std::max(1.0, cells);
    std::printf("%-5s %8d %6.1f MB | ours %8.4f s (every text %7.3f s) %6.1f MB %4.0f B/cell |", qPrintable(format),
                rows, QFileInfo(path).size() / 1e6, open->seconds, o.value(0).toDouble(),
                o.value(2).toDouble() / 1024.0, bytesPerCell);
    double fastest = -1;
    for (qsizetype k = 0; k < peers.size(); ++k) {
        const std::optional<Reading> reading = median([&] { return peers[k].read(path); });
        if (!reading) {
            std::printf(" %s failed |", peers[k].name);
            continue;
        }
        const double seconds = reading->seconds - startUp[k].seconds;
        if (seconds <= startUp[k].spread) {
            // LibreOffice's start-up takes seconds and varies by more than a small sheet's read.
            std::printf(" %s within its start-up's spread (%.1f s, %.1f s) |", peers[k].name, startUp[k].seconds,
                        startUp[k].spread);
            continue;
        }
        const double ratio = seconds / std::max(open->seconds, 0.0001);
        fastest = fastest < 0 ? ratio : std::min(fastest, ratio);
        std::printf(" %s %.4f s %.0f MB %.1fx |", peers[k].name, seconds, reading->peakMb, ratio);
    }
    if (fastest >= 0)
        std::printf(" fastest peer %.1fx\n", fastest);
    else
        std::printf(" no peer installed\n");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc >= 3 && QByteArrayView(argv[1]) == "--open")
        return openOnce(QString::fromLocal8Bit(argv[2]), argc == 4 && QByteArrayView(argv[3]) == "--no-texts");
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
    std::printf("Processor seconds (user + system) of a read in a process of its own, the median of up to five runs\n"
                "(fewer when they are long). Ours: the whole sheet read into memory, what the peers do; one more run\n"
                "then takes the text of every cell of A..E through ReadCellText (a stat of the file and a lookup\n"
                "each). Peers: openpyxl, xlrd and Python's csv read every value with their modules loaded before\n"
                "the clock starts; orcus loads the document into its model; LibreOffice converts the sheet to csv.\n"
                "Each peer's time on a one-row sheet of the format (its start-up) is taken off its times; a read\n"
                "within the spread of that start-up is not compared. B/cell:\n"
                "our peak memory over the start, per cell. A ratio is the peer's time over ours.\n");
    for (const QString& format : formats) {
        QTemporaryDir scratch;
        const QList<Peer> peers = peersOf(format, scratch.path());
        const QList<Reading> startUp = startUps(format, peers, dir);
        QList<int> done;
        for (int rows : sizes) {
            if (format == QLatin1String("xls"))
                rows = std::min(rows, 65535); // the format's last row is 65,536
            if (!done.contains(rows))
                benchOne(self, format, rows, peers, startUp, dir);
            done << rows;
        }
    }
    return 0;
}
