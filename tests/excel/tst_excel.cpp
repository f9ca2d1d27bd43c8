#include "base/error.h"
#include "excel/texcelapplication.h"
#include "excel/workbooklimits.h"
#include "excel/workbookreader.h"
#include "trickle.h"
#include "zipwriter.h"

#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <cstring>

using namespace Qt::StringLiterals;

namespace {

QString fixture(const QString& name)
{
    const QString source = qEnvironmentVariable("STRIPEWELL_SOURCE_DIR");
    const QString folder =
        source.isEmpty() ? QStringLiteral(STRIPEWELL_EXCEL_FIXTURES) : source + QStringLiteral("/tests/excel/fixtures");
    return folder + QLatin1Char('/') + name;
}

const QString Multiline = QStringLiteral("Первая строка\nвторая строка");

// The failure text of a call, or an empty text when it did not fail.
template <typename Call> QString failureOf(Call call)
{
    try {
        call();
    } catch (const Failure& failure) {
        return failure.text();
    }
    return {};
}

QByteArray contentTypes()
{
    return "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"/>";
}

QByteArray workbookXml(const QByteArray& extra = {})
{
    return "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
           "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">" +
           extra + "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";
}

QByteArray workbookRels(const QByteArray& target)
{
    return "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet\" "
           "Target=\"" +
           target +
           "\"/>"
           "<Relationship Id=\"rId2\" "
           "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings\" "
           "Target=\"sharedStrings.xml\"/></Relationships>";
}

QByteArray sheetXml(const QByteArray& rows)
{
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" + rows +
           "</sheetData></worksheet>";
}

// A minimal xlsx package with the given sheet rows and shared strings.
QList<QPair<QString, QByteArray>> xlsxPackage(const QByteArray& rows, const QByteArray& shared = {},
                                              const QByteArray& sheetTarget = "worksheets/sheet1.xml")
{
    return {{QStringLiteral("[Content_Types].xml"), contentTypes()},
            {QStringLiteral("xl/workbook.xml"), workbookXml()},
            {QStringLiteral("xl/_rels/workbook.xml.rels"), workbookRels(sheetTarget)},
            {QStringLiteral("xl/sharedStrings.xml"),
             "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" + shared + "</sst>"},
            {QStringLiteral("xl/worksheets/sheet1.xml"), sheetXml(rows)}};
}

QByteArray odsContent(const QByteArray& tables)
{
    return "<office:document-content xmlns:office=\"urn:oasis:names:tc:opendocument:xmlns:office:1.0\" "
           "xmlns:table=\"urn:oasis:names:tc:opendocument:xmlns:table:1.0\" "
           "xmlns:text=\"urn:oasis:names:tc:opendocument:xmlns:text:1.0\"><office:body><office:spreadsheet>" +
           tables + "</office:spreadsheet></office:body></office:document-content>";
}

QList<QPair<QString, QByteArray>> odsPackage(const QByteArray& tables)
{
    return {{QStringLiteral("mimetype"), "application/vnd.oasis.opendocument.spreadsheet"},
            {QStringLiteral("content.xml"), odsContent(tables)}};
}

} // namespace

// The workbook source against files from the real producers and hand-made hostile ones.
class TestWorkbook : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.isValid()); }

    void producers_data();
    void producers();
    void dates_data();
    void dates();
    void patchedXls_data();
    void patchedXls();
    void formulaWithoutValue_data();
    void formulaWithoutValue();
    void pandasFrame();
    void rowLimits_data();
    void rowLimits();
    void badArguments_data();
    void badArguments();
    void csv_data();
    void csv();
    void csvInUtf16();
    void csvInPieces_data();
    void csvInPieces();
    void handMadeXlsx_data();
    void handMadeXlsx();
    void handMadeOds_data();
    void handMadeOds();
    void corruptFiles_data();
    void corruptFiles();
    void autoConnectOnlyForOpenedWorkbook();
    void openingReplacesEarlierWorkbook();
    void fileChangingBetweenReads();
    void fileBrokenThenMended();
    void readWithoutWorkbook();
    void rewrittenWhileReloading();

private:
    QString write(const QString& name, const QByteArray& bytes);
    QString zipFile(const QString& name, const QList<QPair<QString, QByteArray>>& entries);
    QTemporaryDir m_dir;
};

QString TestWorkbook::write(const QString& name, const QByteArray& bytes)
{
    const QString path = m_dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write a test file");
    return path;
}

QString TestWorkbook::zipFile(const QString& name, const QList<QPair<QString, QByteArray>>& entries)
{
    const QString path = m_dir.filePath(name);
    QFile::remove(path);
    if (!writeZip(path, entries))
        qFatal("cannot write a test zip");
    return path;
}

// Every producer wrote the same active sheet "Данные" after a decoy first sheet.
void TestWorkbook::producers_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    struct Expected
    {
        const char* tag;
        int row;
        int column;
        QString text;
        QStringList only; // the producers that wrote it; all when empty
    };
    const QStringList formulaValues = {QStringLiteral("xlsxwriter.xlsx"),  QStringLiteral("xlsxwriter_inline.xlsx"),
                                       QStringLiteral("libreoffice.ods"),  QStringLiteral("libreoffice.xls"),
                                       QStringLiteral("libreoffice.xlsx"), QStringLiteral("biff5.xls")};
    const QStringList notXlwt = QStringList(formulaValues) << QStringLiteral("openpyxl.xlsx");
    const QStringList notLibreOffice = {QStringLiteral("openpyxl.xlsx"), QStringLiteral("xlsxwriter.xlsx"),
                                        QStringLiteral("xlsxwriter_inline.xlsx"), QStringLiteral("xlwt.xls"),
                                        QStringLiteral("biff5.xls")};
    // LibreOffice's xls export stores 0 as the result of a text formula it did not recompute.
    QStringList textFormulaValues = formulaValues;
    textFormulaValues.removeAll(QStringLiteral("libreoffice.xls"));
    const QList<Expected> cells = {
        {"header", 1, 1, QStringLiteral("Имя"), {}},
        {"cyrillic", 2, 1, QStringLiteral("Иванов"), {}},
        {"whole number", 2, 2, QStringLiteral("12345"), {}},
        {"date", 2, 3, QStringLiteral("15.03.2024"), {}},
        {"multi-line", 3, 1, Multiline, {}},
        {"fraction", 3, 2, QStringLiteral("1,5"), {}},
        {"date and time", 3, 3, QStringLiteral("15.03.2024 13:45:10"), notXlwt},
        {"rich text", 4, 1, QStringLiteral("ABC"), {}},
        {"negative", 4, 2, QStringLiteral("-42"), {}},
        {"time", 4, 3, QStringLiteral("13:45:00"), notXlwt},
        {"true", 5, 1, QStringLiteral("TRUE"), {}},
        {"false", 5, 2, QStringLiteral("FALSE"), {}},
        {"formula number", 5, 3, QStringLiteral("24690"), formulaValues},
        {"empty row", 6, 1, QString(), {}},
        {"empty cell", 6, 3, QString(), {}},
        {"digits as text", 7, 1, QStringLiteral("0012"), {}},
        {"sixteen digits", 7, 2, QStringLiteral("1234567890123456"),
         QStringList(notLibreOffice) << QStringLiteral("libreoffice.xls") << QStringLiteral("libreoffice.ods")},
        // LibreOffice keeps 15 significant digits when it writes xlsx.
        {"sixteen digits rounded", 7, 2, QStringLiteral("1234567890123460"), {QStringLiteral("libreoffice.xlsx")}},
        {"binary fraction", 7, 3, QStringLiteral("0,3"), notXlwt},
        {"formula text", 8, 1, QStringLiteral("abcd"), textFormulaValues},
        {"formula error", 8, 2, QStringLiteral("#DIV/0!"), formulaValues},
        {"formula boolean", 8, 3, QStringLiteral("TRUE"), formulaValues},
        {"after formulas", 8, 4, QStringLiteral("end"), formulaValues},
        {"column Z", 9, 26, QStringLiteral("zed"), {}},
        {"column Y empty", 9, 25, QString(), {}},
        {"row past data", 10, 1, QString(), {}},
        {"far past data", 60000, 2, QString(), {}},
    };
    const QStringList files = QStringList(notXlwt) << QStringLiteral("xlwt.xls");
    for (const QString& file : files) {
        for (const Expected& cell : cells) {
            if (cell.only.isEmpty() || cell.only.contains(file))
                QTest::addRow("%s %s", qPrintable(file), cell.tag) << file << cell.row << cell.column << cell.text;
        }
    }
}

// One cell of a fixture file, from the data row.
static void compareFixtureCell()
{
    QFETCH(QString, file);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, text);
    TExcelApplication excel;
    QString got;
    const QString failure = failureOf([&] {
        excel.openWorkbook(fixture(file));
        got = excel.ReadCellText(row, column);
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(got, text);
}

void TestWorkbook::producers()
{
    compareFixtureCell();
}

// The same sheet of dates and times from four producers: every date from its
// serial in both directions of 1 March 1900, one-part date formats, elapsed
// time with its days, a time rounded up to midnight, an empty-text formula,
// and a chart on the sheet whose cached numbers are no cells.
void TestWorkbook::dates_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    const QString noon = QStringLiteral("15.03.2024 12:00:00");
    const QList<QPair<const char*, QString>> rows = {
        {"never expires", QStringLiteral("31.12.9999")},
        {"after 2100", QStringLiteral("01.03.2100")},
        {"serial 60", QStringLiteral("28.02.1900")},
        {"rounded to midnight", QStringLiteral("00:00:00")},
        {"elapsed hours", QStringLiteral("255:10:10")},
        {"yyyy", noon},
        {"mmm", noon},
        {"dd", noon},
        {"hh", noon},
        {"ss", noon},
        {"dddd", noon},
        {"first of March 1900", QStringLiteral("01.03.1900")},
    };
    for (const char* file : {"dates.xlsx", "dates.xls", "dates_xlwt.xls", "dates.ods"}) {
        for (int i = 0; i < rows.size(); ++i)
            QTest::addRow("%s %s", file, rows[i].first) << QString::fromLatin1(file) << i + 1 << 1 << rows[i].second;
        if (QByteArrayView(file) == "dates_xlwt.xls")
            continue;
        // xlsxwriter writes ="" without t="str", as openpyxl writes a formula it did not compute.
        if (QByteArrayView(file) != "dates.xlsx")
            QTest::addRow("%s empty-text formula", file) << QString::fromLatin1(file) << 13 << 1 << QString();
        QTest::addRow("%s after it", file)
            << QString::fromLatin1(file) << 13 << 2 << QStringLiteral("after the empty text");
        QTest::addRow("%s chart data", file) << QString::fromLatin1(file) << 23 << 3 << QStringLiteral("9");
        QTest::addRow("%s no chart cache as cells", file) << QString::fromLatin1(file) << 24 << 3 << QString();
    }
}

void TestWorkbook::dates()
{
    compareFixtureCell();
}

// xls files changed in a few bytes: what writers do (a stream named in
// capitals, a formula whose result is an empty text, a chart sheet saved as
// the active one) and what a damaged file holds; none may read past a record.
void TestWorkbook::patchedXls_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    auto fixtureBytes = [](const char* name) {
        QFile file(fixture(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    auto patched = [](QByteArray bytes, const char* findHex, qsizetype at, const char* replaceHex) {
        const qsizetype found = bytes.indexOf(QByteArray::fromHex(findHex));
        if (found < 0)
            qFatal("patch not found: %s", findHex);
        bytes.replace(found + at, qsizetype(std::strlen(replaceHex) / 2), QByteArray::fromHex(replaceHex));
        return bytes;
    };
    const QByteArray xlwt = fixtureBytes("xlwt.xls");
    const QByteArray office = fixtureBytes("libreoffice.xls");
    QTest::newRow("stream named in capitals")
        << patched(xlwt, "57006f0072006b0062006f006f006b00", 0, "57004f0052004b0042004f004f004b00") << 1 << 1
        << QStringLiteral("Имя");
    // LibreOffice's A8 formula ="ab"&"cd" turned into one whose stored result is an empty text.
    QTest::newRow("empty-text formula result")
        << patched(office, "070000000f000000000000000000", 6, "030000000000ffff") << 8 << 1 << QString();
    // The active sheet's BOUNDSHEET says chart sheet: none of its records are cells.
    QTest::newRow("chart sheet active") << patched(office, "85001400ce070000", 9, "02") << 2 << 2 << QString();
    QTest::newRow("cell written twice keeps the first")
        << patched(xlwt, "7e020a0003000100", 4, "01") << 2 << 2 << QStringLiteral("12345");
    QTest::newRow("date past 9999 stays a number")
        << patched(xlwt, "bd00120001000100", 16, "021bb700") << 2 << 3 << QStringLiteral("3000000");
    QTest::newRow("cell record in the globals ignored")
        << patched(xlwt, "42000200b004", 0, "0302") << 1 << 1 << QStringLiteral("Имя");
    QTest::newRow("text outside the dimensions")
        << patched(xlwt, "fd000a000000000011000100", 0, "04020a003b00") << 60 << 1 << QString(QChar(u'\0'));
    QTest::newRow("other sheet without its BOF")
        << patched(xlwt, "85001600a8040000", 4, "a9040000") << 1 << 1 << QStringLiteral("Имя");
    QTest::newRow("text cut at its record")
        << patched(xlwt, "fd000a0008001900", 0, "0402") << 9 << 26 << QString(QChar(u'\0'));
}

void TestWorkbook::patchedXls()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, text);
    TExcelApplication excel;
    QString got;
    const QString failure = failureOf([&] {
        excel.openWorkbook(write(QStringLiteral("patched.xls"), bytes));
        got = excel.ReadCellText(row, column);
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(got, text);
}

// A script that writes formulas stores no result; the cell must not read as empty.
void TestWorkbook::formulaWithoutValue_data()
{
    QTest::addColumn<QString>("file");
    QTest::newRow("openpyxl") << QStringLiteral("openpyxl.xlsx");
    QTest::newRow("xlwt") << QStringLiteral("xlwt.xls");
}

void TestWorkbook::formulaWithoutValue()
{
    QFETCH(QString, file);
    TExcelApplication excel;
    excel.openWorkbook(fixture(file));
    const QString text = failureOf([&] { excel.ReadCellText(5, 3); });
    QVERIFY2(text.contains(QStringLiteral("C5")) && text.contains(QStringLiteral("формулу")), qPrintable(text));
    QCOMPARE(excel.ReadCellText(5, 1), QStringLiteral("TRUE"));
}

void TestWorkbook::pandasFrame()
{
    TExcelApplication excel;
    excel.openWorkbook(fixture(QStringLiteral("pandas.xlsx")));
    QCOMPARE(excel.ReadCellText(1, 1), QStringLiteral("Карта"));
    QCOMPARE(excel.ReadCellText(2, 1), QStringLiteral("4000123412341234"));
    QCOMPARE(excel.ReadCellText(2, 2), QStringLiteral("100"));
    QCOMPARE(excel.ReadCellText(3, 2), QStringLiteral("250,75"));
    QCOMPARE(excel.ReadCellText(3, 3), QStringLiteral("31.01.2028"));
    QCOMPARE(excel.ReadCellText(4, 1), QString());
}

void TestWorkbook::rowLimits_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("lastRow");
    QTest::newRow("xlsx") << QStringLiteral("xlsxwriter.xlsx") << 1048576;
    QTest::newRow("ods") << QStringLiteral("libreoffice.ods") << 1048576;
    QTest::newRow("xls") << QStringLiteral("libreoffice.xls") << 65536;
}

void TestWorkbook::rowLimits()
{
    QFETCH(QString, file);
    QFETCH(int, lastRow);
    TExcelApplication excel;
    excel.openWorkbook(fixture(file));
    QCOMPARE(excel.ReadCellText(lastRow, 1), QString());
    const QString text = failureOf([&] { excel.ReadCellText(lastRow + 1, 1); });
    QVERIFY2(text.contains(QString::number(lastRow + 1)) && text.contains(QString::number(lastRow)), qPrintable(text));
    QVERIFY(excel.AutoConnect);
}

void TestWorkbook::badArguments_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::newRow("row 0") << 0 << 1;
    QTest::newRow("negative row") << -3 << 1;
    QTest::newRow("column 0") << 1 << 0;
    QTest::newRow("column 27") << 1 << 27;
}

void TestWorkbook::badArguments()
{
    QFETCH(int, row);
    QFETCH(int, column);
    TExcelApplication excel;
    excel.openWorkbook(fixture(QStringLiteral("comma_utf8.csv")));
    QVERIFY(!failureOf([&] { excel.ReadCellText(row, column); }).isEmpty());
}

void TestWorkbook::csv_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    // More decimal commas than semicolons: the semicolons split every line evenly.
    QTest::newRow("decimal commas") << QStringLiteral("decimal_commas.csv") << 2 << 2 << QStringLiteral("2,5");
    QTest::newRow("decimal commas header") << QStringLiteral("decimal_commas.csv") << 1 << 3 << QStringLiteral("Итог");
    QTest::newRow("decimal commas last") << QStringLiteral("decimal_commas.csv") << 3 << 3 << QStringLiteral("1 234,5");
    for (const char* name : {"semicolon_1251.csv", "comma_utf8.csv", "tab_utf8_bom.csv"}) {
        const QString file = QString::fromLatin1(name);
        QTest::addRow("%s header", name) << file << 1 << 1 << QStringLiteral("Имя");
        QTest::addRow("%s digits", name) << file << 2 << 2 << QStringLiteral("12345");
        QTest::addRow("%s delimiter in quotes", name) << file << 2 << 3 << QStringLiteral("с ; точкой с запятой");
        QTest::addRow("%s leading zeros", name) << file << 3 << 2 << QStringLiteral("0012");
        QTest::addRow("%s line break in quotes", name) << file << 3 << 3 << Multiline;
        QTest::addRow("%s empty field", name) << file << 4 << 1 << QString();
        QTest::addRow("%s after the multi-line row", name) << file << 4 << 2 << QStringLiteral("7");
        QTest::addRow("%s doubled quotes", name) << file << 4 << 3 << QStringLiteral("в \"кавычках\"");
        QTest::addRow("%s past data", name) << file << 5 << 1 << QString();
        QTest::addRow("%s far past data", name) << file << 2000000 << 1 << QString();
    }
}

void TestWorkbook::csv()
{
    compareFixtureCell();
}

// Excel's "Unicode text": UTF-16 with a byte order mark, fields split by tabs.
void TestWorkbook::csvInUtf16()
{
    QFile source(fixture(QStringLiteral("tab_utf8_bom.csv")));
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(source.readAll().mid(3));
    QByteArray little("\xFF\xFE");
    QByteArray big("\xFE\xFF");
    for (const QChar c : text) {
        little += char(c.unicode() & 0xFF) + QByteArray(1, char(c.unicode() >> 8));
        big += char(c.unicode() >> 8) + QByteArray(1, char(c.unicode() & 0xFF));
    }
    for (const QByteArray& bytes : {little, big}) {
        TExcelApplication excel;
        excel.openWorkbook(write(QStringLiteral("unicode.txt"), bytes));
        QCOMPARE(excel.ReadCellText(1, 1), QStringLiteral("Имя"));
        QCOMPARE(excel.ReadCellText(2, 3), QStringLiteral("с ; точкой с запятой"));
        QCOMPARE(excel.ReadCellText(3, 3), Multiline);
    }
}

void TestWorkbook::csvInPieces_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QByteArray>("lead");          // a line of the same delimiters; none: not led
    QTest::addColumn<QList<QStringList>>("table"); // rows from 1, columns from A; none: as read whole
    const QList<std::pair<const char*, QByteArray>> fixtures = {{"semicolon_1251.csv", "x;x;x\r\n"},
                                                                {"comma_utf8.csv", "x,x,x\r\n"},
                                                                {"tab_utf8_bom.csv", "x\tx\tx\r\n"},
                                                                {"decimal_commas.csv", "x;x;x\r\n"}};
    for (const auto& [name, lead] : fixtures) {
        QFile file(fixture(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QTest::newRow(name) << file.readAll() << lead << QList<QStringList>{};
    }
    QTest::newRow("line ends, quotes, an empty line")
        << QByteArray("a;\"b\r\nc\";\r\n\r\n;x;\"\"\"q\"\"\"\rlast;\"z\"\n") << QByteArray("x;x\n")
        << QList<QStringList>{{u"a"_s, u"b\nc"_s}, {}, {QString(), u"x"_s, u"\"q\""_s}, {u"last"_s, u"z"_s}, {}};
    QStringList wide;
    QByteArray wideLine;
    for (int column = 1; column <= 30; ++column) {
        wideLine += QByteArray::number(column) + (column < 30 ? ";" : "");
        if (column <= WorkbookLimits::Columns)
            wide << QString::number(column);
    }
    QTest::newRow("columns past Z, no line end") << wideLine << QByteArray("x;x\n") << QList<QStringList>{wide};
    const QString unicode = u"Имя\tНомер\r\n1\t\"a\r\nб 😀\"\r\n"_s;
    QTest::newRow("UTF-16, units and surrogate pairs cut between pieces")
        << QByteArray(QStringEncoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom)(unicode)) << QByteArray()
        << QList<QStringList>{{u"Имя"_s, u"Номер"_s}, {u"1"_s, u"a\nб 😀"_s}};
    // The one byte that is not UTF-8 comes last: every field reads as Windows-1251.
    QList<QStringList> cyrillic(200, QStringList{QStringLiteral("имя"), QStringLiteral("Ёж")});
    cyrillic << QStringList{QStringLiteral("А"), QStringLiteral("я")};
    QTest::newRow("Windows-1251 seen only at the end")
        << QByteArray("\xE8\xEC\xFF;\xA8\xE6\r\n").repeated(200) + "\xC0;\xFF\r\n"
        << QByteArray("x;x\r\n") << cyrillic;
}

// However the file arrives, in pieces of a byte or more, it reads the same:
// as it is (its start is read whole to judge the delimiter by), and led by
// more than 64 KB of other lines, so that its rows reach the parser in the
// pieces the file hands out.
void TestWorkbook::csvInPieces()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QByteArray, lead);
    QFETCH(QList<QStringList>, table);
    const int rows = table.isEmpty() ? 8 : static_cast<int>(table.size());
    const SheetCells asItIs = WorkbookReader::readCsv(bytes);
    for (int row = 1; table.size() < rows; ++row) {
        QStringList line;
        for (int column = 1; column <= WorkbookLimits::Columns; ++column)
            line << asItIs.textRows().text(row, column);
        table << line;
    }
    QList<std::pair<QByteArray, int>> layouts = {{bytes, 0}};
    if (!lead.isEmpty()) {
        const int copies = static_cast<int>(70000 / lead.size()) + 1;
        const QByteArray bom = bytes.startsWith("\xEF\xBB\xBF") ? QByteArray("\xEF\xBB\xBF") : QByteArray();
        layouts.append({bom + lead.repeated(copies) + bytes.mid(bom.size()), copies});
    }
    for (const auto& [file, skipped] : layouts) {
        const SheetCells whole = WorkbookReader::readCsv(file);
        for (const qint64 piece : {1, 2, 3, 7, 64}) {
            Trickle device(file, piece);
            const SheetCells cells = WorkbookReader::readCsv(device);
            for (int row = 1; row <= rows; ++row) {
                for (int column = 1; column <= WorkbookLimits::Columns; ++column) {
                    const QString expected = table[row - 1].value(column - 1);
                    QCOMPARE(cells.textRows().text(skipped + row, column), expected);
                    QCOMPARE(whole.textRows().text(skipped + row, column), expected);
                }
            }
            QCOMPARE(cells.textRows().text(skipped + rows + 1, 1), QString());
        }
    }
}

// Forms that the producers above do not write but others (Excel among them) do.
void TestWorkbook::handMadeXlsx_data()
{
    QTest::addColumn<QByteArray>("rows");
    QTest::addColumn<QByteArray>("shared");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("text");
    const QByteArray relative = "worksheets/sheet1.xml";
    QTest::newRow("no cell references")
        << QByteArray("<row><c><v>1</v></c><c><v>2</v></c></row><row><c/><c><v>4</v></c></row>") << QByteArray()
        << relative << QStringLiteral("B2") << QStringLiteral("4");
    QTest::newRow("phonetic run left out")
        << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>")
        << QByteArray("<si><r><t>漢</t></r><r><t>字</t></r><rPh sb=\"0\" eb=\"1\"><t>かんじ</t></rPh></si>") << relative
        << QStringLiteral("A1") << QStringLiteral("漢字");
    QTest::newRow("absolute target") << QByteArray("<row r=\"1\"><c r=\"A1\"><v>7</v></c></row>") << QByteArray()
                                     << QByteArray("/xl/worksheets/sheet1.xml") << QStringLiteral("A1")
                                     << QStringLiteral("7");
    QTest::newRow("target through ..") << QByteArray("<row r=\"1\"><c r=\"A1\"><v>8</v></c></row>") << QByteArray()
                                       << QByteArray("../xl/worksheets/sheet1.xml") << QStringLiteral("A1")
                                       << QStringLiteral("8");
    QTest::newRow("ISO date cell") << QByteArray(
                                          "<row r=\"1\"><c r=\"A1\" t=\"d\"><v>2024-03-15T00:00:00</v></c></row>")
                                   << QByteArray() << relative << QStringLiteral("A1") << QStringLiteral("15.03.2024");
    QTest::newRow("error cell") << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"e\"><v>#N/A</v></c></row>") << QByteArray()
                                << relative << QStringLiteral("A1") << QStringLiteral("#N/A");
    QTest::newRow("exponent in file") << QByteArray("<row r=\"1\"><c r=\"A1\"><v>1.2345E+4</v></c></row>")
                                      << QByteArray() << relative << QStringLiteral("A1") << QStringLiteral("12345");
    QTest::newRow("column past Z ignored")
        << QByteArray("<row r=\"1\"><c r=\"AA1\"><v>1</v></c><c r=\"Z1\"><v>2</v></c></row>") << QByteArray()
        << relative << QStringLiteral("Z1") << QStringLiteral("2");
    QTest::newRow("cells out of order")
        << QByteArray("<row r=\"3\"><c r=\"A3\"><v>3</v></c></row><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")
        << QByteArray() << relative << QStringLiteral("A1") << QStringLiteral("1");
    QTest::newRow("escaped characters") << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>")
                                        << QByteArray("<si><t>a_x000D_\nb_x0009_c_x005F_x0041_ _x00e9_</t></si>")
                                        << relative << QStringLiteral("A1") << QStringLiteral("a\nb\tc_x0041_ \u00e9");
    QTest::newRow("XML line ends")
        << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a\r\nb\rc&#13;d</t></is></c></row>")
        << QByteArray() << relative << QStringLiteral("A1") << QStringLiteral("a\nb\nc\rd");
    QTest::newRow("entry names with backslashes")
        << QByteArray("<row r=\"1\"><c r=\"A1\"><v>9</v></c></row>") << QByteArray()
        << QByteArray("worksheets\\sheet1.xml") << QStringLiteral("A1") << QStringLiteral("9");
    QTest::newRow("Excel's empty-text formula")
        << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"str\"><f>\"\"</f><v></v></c></row>") << QByteArray() << relative
        << QStringLiteral("A1") << QString();
    QTest::newRow("entity reference")
        << QByteArray("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a&amp;b</t></is></c></row>") << QByteArray()
        << relative << QStringLiteral("A1") << QStringLiteral("a&b");
}

void TestWorkbook::handMadeXlsx()
{
    QFETCH(QByteArray, rows);
    QFETCH(QByteArray, shared);
    QFETCH(QByteArray, target);
    QFETCH(QString, cell);
    QFETCH(QString, text);
    auto entries = xlsxPackage(rows, shared, target);
    if (target.contains('\\')) {
        for (auto& entry : entries)
            entry.first.replace(QLatin1Char('/'), QLatin1Char('\\'));
    }
    TExcelApplication excel;
    excel.openWorkbook(zipFile(QStringLiteral("hand.xlsx"), entries));
    const int column = cell.at(0).unicode() - 'A' + 1;
    QCOMPARE(excel.ReadCellText(cell.mid(1).toInt(), column), text);
}

void TestWorkbook::handMadeOds_data()
{
    QTest::addColumn<QByteArray>("tables");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<QString>("text");
    const QByteArray repeated =
        "<table:table table:name=\"T\"><table:table-row table:number-rows-repeated=\"3\">"
        "<table:table-cell/><table:table-cell table:number-columns-repeated=\"2\" "
        "office:value-type=\"float\" office:value=\"5\"><text:p>5</text:p></table:table-cell>"
        "</table:table-row><table:table-row table:number-rows-repeated=\"1048572\"/>"
        "<table:table-row><table:table-cell office:value-type=\"string\"><text:p>a<text:s text:c=\"2\"/>b"
        "<text:line-break/>c</text:p><office:annotation><text:p>comment</text:p></office:annotation>"
        "</table:table-cell></table:table-row></table:table>";
    QTest::newRow("repeated cell") << repeated << 3 << 3 << QStringLiteral("5");
    QTest::newRow("before repeat") << repeated << 2 << 1 << QString();
    QTest::newRow("after repeats") << repeated << 4 << 2 << QString();
    QTest::newRow("spaces and breaks, no comment") << repeated << 1048576 << 1 << QStringLiteral("a  b\nc");
    QTest::newRow("XML line ends")
        << QByteArray("<table:table table:name=\"T\"><table:table-row><table:table-cell><text:p>a\r\nb</text:p>"
                      "</table:table-cell></table:table-row></table:table>")
        << 1 << 1 << QStringLiteral("a\nb");
    QTest::newRow("first table when no settings")
        << QByteArray("<table:table table:name=\"A\"><table:table-row><table:table-cell "
                      "office:value-type=\"string\"><text:p>one</text:p></table:table-cell>"
                      "</table:table-row></table:table><table:table table:name=\"B\"/>")
        << 1 << 1 << QStringLiteral("one");
}

void TestWorkbook::handMadeOds()
{
    QFETCH(QByteArray, tables);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(QString, text);
    TExcelApplication excel;
    excel.openWorkbook(zipFile(QStringLiteral("hand.ods"), odsPackage(tables)));
    QCOMPARE(excel.ReadCellText(row, column), text);
}

void TestWorkbook::corruptFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    auto fixtureBytes = [](const char* name) {
        QFile file(fixture(QString::fromLatin1(name)));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray xlsx = fixtureBytes("xlsxwriter.xlsx");
    const QByteArray xls = fixtureBytes("libreoffice.xls");
    const QByteArray ods = fixtureBytes("libreoffice.ods");
    QTest::newRow("empty") << QStringLiteral("empty.xlsx") << QByteArray() << QStringLiteral("пуст");
    QTest::newRow("text named xlsx") << QStringLiteral("text.xlsx") << QByteArray("hello")
                                     << QStringLiteral("повреждён");
    QTest::newRow("unknown") << QStringLiteral("picture.png") << QByteArray("\x89PNG....") << QStringLiteral("формат");
    const auto zipBytes = [this](const QList<QPair<QString, QByteArray>>& entries) {
        QFile file(zipFile(QStringLiteral("made.zip"), entries));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    QList<QPair<QString, QByteArray>> encrypted = odsPackage("<table:table table:name=\"T\"/>");
    encrypted[1].second = "\x8f\x12 encrypted bytes";
    encrypted.append({QStringLiteral("META-INF/manifest.xml"),
                      "<manifest:manifest xmlns:manifest=\"urn:oasis:names:tc:opendocument:xmlns:manifest:1.0\">"
                      "<manifest:file-entry manifest:full-path=\"content.xml\"><manifest:encryption-data/>"
                      "</manifest:file-entry></manifest:manifest>"});
    QTest::newRow("ods with a password") << QStringLiteral("secret.ods") << zipBytes(encrypted)
                                         << QStringLiteral("защищена паролем");
    // Expansions that ods repeats and text:s ask for are counted before they are made.
    QTest::newRow("ods repeats past the cell bound")
        << QStringLiteral("repeats.ods")
        << zipBytes(
               odsPackage("<table:table table:name=\"T\"><table:table-row table:number-rows-repeated=\"1048576\">"
                          "<table:table-cell table:number-columns-repeated=\"26\"><text:p>x</text:p></table:table-cell>"
                          "</table:table-row></table:table>"))
        << QStringLiteral("слишком много ячеек");
    QByteArray spaces = "<table:table table:name=\"T\">";
    for (int row = 0; row < 14; ++row)
        spaces += "<table:table-row><table:table-cell><text:p>" +
                  QByteArray("<text:s text:c=\"1000\"/>").repeated(5000) +
                  "</text:p></table:table-cell></table:table-row>";
    QTest::newRow("ods spaces past the text bound")
        << QStringLiteral("spaces.ods") << zipBytes(odsPackage(spaces + "</table:table>"))
        << QStringLiteral("слишком много текста");
    QTest::newRow("xlsb")
        << QStringLiteral("binary.xlsb")
        << zipBytes({{QStringLiteral("[Content_Types].xml"), contentTypes()},
                     {QStringLiteral("_rels/.rels"),
                      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                      "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                      "relationships/officeDocument\" Target=\"xl/workbook.bin\"/></Relationships>"},
                     {QStringLiteral("xl/workbook.bin"), QByteArray("\x83\x01\x00", 3)}})
        << QStringLiteral("формат не поддерживается");
    QTest::newRow("text document as ods")
        << QStringLiteral("letter.ods")
        << zipBytes({{QStringLiteral("mimetype"), "application/vnd.oasis.opendocument.text"},
                     {QStringLiteral("content.xml"), "<x/>"}})
        << QStringLiteral("формат не поддерживается");
    QTest::newRow("Excel 4 worksheet") << QStringLiteral("old.xls") << QByteArray("\x09\x04\x06\x00\x00\x00\x10\x00", 8)
                                       << QStringLiteral("формат не поддерживается");
    // Only its size is looked at: the file is sparse.
    QTest::newRow("csv past its size limit")
        << QStringLiteral("huge.csv") << QByteArray("a;b\n") << QStringLiteral("более 128 МБ");
    QTest::newRow("truncated xlsx") << QStringLiteral("cut.xlsx") << xlsx.left(xlsx.size() / 2)
                                    << QStringLiteral("повреждён");
    QTest::newRow("truncated ods") << QStringLiteral("cut.ods") << ods.left(ods.size() - 100)
                                   << QStringLiteral("повреждён");
    QTest::newRow("truncated xls") << QStringLiteral("cut.xls") << xls.left(1536) << QStringLiteral("повреждён");
    QTest::newRow("xls header only") << QStringLiteral("head.xls") << xls.left(512) << QStringLiteral("повреждён");
    const QByteArray xlwt = fixtureBytes("xlwt.xls");
    QTest::newRow("xls cut inside its last sector") << QStringLiteral("short.xls") << xlwt.left(xlwt.size() - 100)
                                                    << QStringLiteral("составной файл: сектор за концом файла");
    auto patched = [&](const char* findHex, qsizetype at, const char* replaceHex) {
        QByteArray bytes = xlwt;
        const qsizetype found = bytes.indexOf(QByteArray::fromHex(findHex));
        if (found >= 0)
            bytes.replace(found + at, qsizetype(std::strlen(replaceHex) / 2), QByteArray::fromHex(replaceHex));
        return bytes;
    };
    // Refused by the compound-file reader before any record is read.
    QTest::newRow("xls directory name too long")
        << QStringLiteral("name.xls") << patched("57006f0072006b0062006f006f006b00", 64, "f8ff")
        << QStringLiteral("имя в каталоге длиннее 64 байт");
    QTest::newRow("xls root entry larger than the file")
        << QStringLiteral("root.xls") << patched("52006f006f007400200045006e00740072007900", 0x78, "00ffffff")
        << QStringLiteral("больше файла");
    QTest::newRow("xls active sheet not at its offset")
        << QStringLiteral("offset.xls") << patched("85001600a8040000", 30, "f0") << QStringLiteral("не найден");
    QByteArray garbledXls = xls;
    for (qsizetype i = 0x30; i < 0x34; ++i)
        garbledXls[i] = '\x7f';
    QTest::newRow("xls directory out of file")
        << QStringLiteral("dir.xls") << garbledXls << QStringLiteral("повреждён");
}

void TestWorkbook::corruptFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const QString path = write(name, bytes);
    if (name == QLatin1String("huge.csv"))
        QVERIFY(QFile::resize(path, WorkbookLimits::MaxCsvBytes + 1));
    TExcelApplication excel;
    const QString text = failureOf([&] { excel.openWorkbook(path); });
    QVERIFY2(text.contains(QDir::toNativeSeparators(path)), qPrintable(text));
    QVERIFY2(text.contains(reason), qPrintable(text));
    QVERIFY(!excel.AutoConnect);
    QVERIFY(!excel.hasWorkbook());
}

void TestWorkbook::autoConnectOnlyForOpenedWorkbook()
{
    TExcelApplication excel;
    QVERIFY(!excel.AutoConnect);
    QVERIFY(!excel.AutoQuit);
    const QString missing = m_dir.filePath(QStringLiteral("missing.xlsx"));
    const QString text = failureOf([&] { excel.openWorkbook(missing); });
    QVERIFY2(text.contains(QStringLiteral("не найден")), qPrintable(text));
    QVERIFY(!excel.AutoConnect);
    excel.startOpening(fixture(QStringLiteral("libreoffice.ods")));
    QVERIFY(!excel.AutoConnect); // not before the file has read
    QVERIFY(excel.opening());
    excel.finishOpening();
    QVERIFY(excel.AutoConnect);
    QVERIFY(excel.AutoQuit);
    QCOMPARE(excel.workbookPath(), fixture(QStringLiteral("libreoffice.ods")));
    excel.release();
    QVERIFY(!excel.AutoConnect);
    QVERIFY(!excel.hasWorkbook());
}

void TestWorkbook::openingReplacesEarlierWorkbook()
{
    TExcelApplication excel;
    excel.openWorkbook(fixture(QStringLiteral("pandas.xlsx")));
    excel.openWorkbook(fixture(QStringLiteral("xlwt.xls")));
    QCOMPARE(excel.ReadCellText(1, 1), QStringLiteral("Имя"));
    const QString bad = write(QStringLiteral("bad.ods"), QByteArray("PK\x03\x04 broken"));
    QVERIFY(!failureOf([&] { excel.openWorkbook(bad); }).isEmpty());
    QVERIFY(!excel.hasWorkbook());
    QVERIFY(!failureOf([&] { excel.ReadCellText(1, 1); }).isEmpty());
}

void TestWorkbook::fileChangingBetweenReads()
{
    const QString path = m_dir.filePath(QStringLiteral("live.xlsx"));
    QFile::remove(path);
    QVERIFY(QFile::copy(fixture(QStringLiteral("pandas.xlsx")), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    TExcelApplication excel;
    excel.openWorkbook(path);
    QCOMPARE(excel.ReadCellText(1, 1), QStringLiteral("Карта"));
    // An operator saves another version of the sheet (same name, other contents).
    zipFile(QStringLiteral("live.xlsx"),
            xlsxPackage("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>новое</t></is></c></row>"));
    QCOMPARE(excel.ReadCellText(1, 1), QStringLiteral("новое"));
    QCOMPARE(excel.ReadCellText(2, 1), QString());
}

void TestWorkbook::fileBrokenThenMended()
{
    const QString path = write(QStringLiteral("live.csv"), "a;b\r\n1;2\r\n");
    TExcelApplication excel;
    excel.openWorkbook(path);
    QCOMPARE(excel.ReadCellText(2, 2), QStringLiteral("2"));
    // Half written: the program that saves it has not finished.
    const QString xlsx =
        zipFile(QStringLiteral("live.xlsx"), xlsxPackage("<row r=\"1\"><c r=\"A1\"><v>5</v></c></row>"));
    excel.openWorkbook(xlsx);
    QFile file(xlsx);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    file.close();
    write(QStringLiteral("live.xlsx"), whole.left(whole.size() - 30));
    const QString text = failureOf([&] { excel.ReadCellText(1, 1); });
    QVERIFY2(text.contains(QStringLiteral("live.xlsx")), qPrintable(text));
    QVERIFY(!failureOf([&] { excel.ReadCellText(1, 1); }).isEmpty()); // no stale value on the second try either
    write(QStringLiteral("live.xlsx"), whole);
    QCOMPARE(excel.ReadCellText(1, 1), QStringLiteral("5"));
    QVERIFY(excel.AutoConnect);
}

void TestWorkbook::readWithoutWorkbook()
{
    TExcelApplication excel;
    QVERIFY(!failureOf([&] { excel.ReadCellText(1, 1); }).isEmpty());
}

// The window checks the file once a tick and never waits: the reload runs on the
// loader's thread, and a read made while it runs waits for it. A file saved again
// while it is being read is read again before anyone sees the version in between.
void TestWorkbook::rewrittenWhileReloading()
{
    QSemaphore hasRead;
    QSemaphore goOn;
    std::atomic_int reads = 0;
    TExcelApplication excel;
    excel.setFileCheck(TExcelApplication::FileCheck::WhenAsked);
    const QString path = write(QStringLiteral("reload.csv"), "a;first\r\n");
    excel.openWorkbook(path);
    QCOMPARE(excel.ReadCellText(1, 2), u"first"_s);
    excel.loader().setAfterRead([&](const QString&) {
        if (reads++ == 0) {
            hasRead.release();
            goOn.acquire();
        }
    });
    write(QStringLiteral("reload.csv"), "a;second version\r\n");
    QCOMPARE(excel.ReadCellText(1, 2), u"first"_s); // not checked yet: the window checks at its tick
    excel.checkFile();
    hasRead.acquire(); // the reload has read the second version
    QVERIFY(!excel.ready());
    write(QStringLiteral("reload.csv"), "a;third, the last\r\n");
    goOn.release();
    QCOMPARE(excel.ReadCellText(1, 2), u"third, the last"_s); // waited for it; never the second version
    QVERIFY(excel.ready());
    QCOMPARE(reads.load(), 2);

    // A snapshot keeps the version it was taken of, for a reader on another thread.
    const SheetSnapshot snapshot = excel.snapshot();
    write(QStringLiteral("reload.csv"), "a;fourth\r\n");
    excel.checkFile();
    QCOMPARE(excel.ReadCellText(1, 2), u"fourth"_s);
    QCOMPARE(snapshot.cellText(1, 2), u"third, the last"_s);
    QVERIFY(excel.snapshot().version() > snapshot.version());

    // A file that stops reading fails the read, and reads again once mended.
    write(QStringLiteral("reload.csv"), "");
    excel.checkFile();
    QVERIFY(failureOf([&] { excel.ReadCellText(1, 2); }).contains(u"не читается"_s));
    write(QStringLiteral("reload.csv"), "a;mended\r\n");
    excel.checkFile();
    QCOMPARE(excel.ReadCellText(1, 2), u"mended"_s);
    excel.loader().setAfterRead({});
}

int runWorkbookTests(int argc, char** argv)
{
    TestWorkbook test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_excel.moc"
