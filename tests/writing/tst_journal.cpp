#include "excel/texcelapplication.h"
#include "writing/csvfield.h"
#include "writing/journal.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

Journal::Entry entry(int card, const QString& text)
{
    Journal::Entry e;
    e.time = QDateTime::fromString(u"2026-03-02T10:15:00.000+03:00"_s, Qt::ISODateWithMs);
    e.run = 1;
    e.card = card;
    e.texts = {text, text, text};
    e.outcome = Journal::Outcome::Refused;
    e.note = text;
    return e;
}

// Texts a spreadsheet would run, and texts that look like the protection itself.
QStringList trickyTexts()
{
    return {uR"(=HYPERLINK("HTTP://EXAMPLE.COM","X"))"_s,
            u"+1"_s,
            u"-2"_s,
            u"@SUM(1+1)"_s,
            u"\tTAB"_s,
            u"\rCR"_s,
            u"'"_s,
            u"'A"_s,
            u"''=1+1"_s,
            u"'=1+1"_s,
            u"A=1+1"_s,
            uR"(=A,"B")"_s};
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fields_data();
    void fields();
    void filesWrittenBeforeReadAsTheyWere();
    void spreadsheetShowsText();
};

void TestJournal::fields_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("field");
    QTest::newRow("=") << uR"(=HYPERLINK("HTTP://EXAMPLE.COM","X"))"_s
                       << uR"x("'=HYPERLINK(""HTTP://EXAMPLE.COM"",""X"")")x"_s;
    QTest::newRow("+") << u"+1"_s << u"\"'+1\""_s;
    QTest::newRow("-") << u"-2"_s << u"\"'-2\""_s;
    QTest::newRow("@") << u"@SUM(1+1)"_s << u"\"'@SUM(1+1)\""_s;
    QTest::newRow("tab") << u"\tX"_s << u"\"'\tX\""_s;
    QTest::newRow("carriage return") << u"\rX\r\n"_s << u"\"'\rX\r\n\""_s;
    QTest::newRow("apostrophe") << u"'A"_s << u"\"''A\""_s;
    QTest::newRow("apostrophe, formula") << u"'=1+1"_s << u"\"''=1+1\""_s;
    QTest::newRow("lone apostrophe") << u"'"_s << u"\"''\""_s;
    QTest::newRow("formula sign inside") << u"A=1+1"_s << u"A=1+1"_s;
    QTest::newRow("comma and quote") << u"A,\"B\""_s << u"\"A,\"\"B\"\"\""_s;
    QTest::newRow("empty") << QString() << QString();
}

// Each field is written as the table says and reads back to the exact text,
// in every text column of a journal line.
void TestJournal::fields()
{
    QFETCH(QString, text);
    QFETCH(QString, field);
    QCOMPARE(CsvField::encode(text), field);

    QTemporaryDir dir;
    Journal journal(dir.filePath(u"journal.csv"_s));
    journal.append(entry(1, text));
    journal.append(entry(2, u"after"_s));
    const QList<Journal::Entry> read = Journal::read(journal.path());
    QCOMPARE(read.size(), 2);
    QCOMPARE(read[0].texts.track1, text);
    QCOMPARE(read[0].texts.track2, text);
    QCOMPARE(read[0].texts.track3, text);
    QCOMPARE(read[0].note, text);
    QCOMPARE(read[1].note, u"after"_s);
}

// A journal as the program wrote it before fields were protected: an
// apostrophe it holds, quoted or not, is part of the text.
void TestJournal::filesWrittenBeforeReadAsTheyWere()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"journal.csv"_s);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("time,run,card,track1,track2,track3,outcome,note\r\n"
               "2026-03-02T10:15:00.000+03:00,4,1,'=X,'A,\"'A,B\",written,=SUM(A1)\r\n"
               "2026-03-02T10:15:01.000+03:00,4,2,\"'\",,-1,sent,\r\n");
    file.close();
    const QList<Journal::Entry> read = Journal::read(path);
    QCOMPARE(read.size(), 2);
    QCOMPARE(read[0].texts.track1, u"'=X"_s);
    QCOMPARE(read[0].texts.track2, u"'A"_s);
    QCOMPARE(read[0].texts.track3, u"'A,B"_s);
    QCOMPARE(read[0].note, u"=SUM(A1)"_s);
    QCOMPARE(read[1].texts.track1, u"'"_s);
    QCOMPARE(read[1].texts.track3, u"-1"_s);
    Journal journal(path);
    QCOMPARE(journal.nextRun(), 5);
}

// The real thing: LibreOffice Calc opens a journal with formula evaluation on
// (as a spreadsheet that runs formulas would) and saves it as a workbook. Every
// cell is a text cell showing the text as framed behind the apostrophe; a
// formula would show its result instead.
void TestJournal::spreadsheetShowsText()
{
    const QString soffice = QStandardPaths::findExecutable(u"soffice"_s);
    if (soffice.isEmpty())
        QSKIP("LibreOffice (soffice) is not installed");
    QTemporaryDir dir;
    Journal journal(dir.filePath(u"journal.csv"_s));
    const QStringList texts = trickyTexts();
    for (int i = 0; i < texts.size(); ++i)
        journal.append(entry(i + 1, texts[i]));

    QProcess office;
    office.setWorkingDirectory(dir.path());
    // Its own profile, so that an office another user runs is left alone.
    office.start(soffice, {u"-env:UserInstallation=file://"_s + dir.filePath(u"profile"_s), u"--headless"_s,
                           u"--norestore"_s, u"--convert-to"_s, u"ods"_s,
                           // comma, double quote, UTF-8, from line 1, evaluate formulas
                           u"--infilter=CSV:44,34,76,1,,0,false,true,false,false,false,false,true"_s, u"--outdir"_s,
                           dir.path(), journal.path()});
    QVERIFY(office.waitForFinished(240000));
    QVERIFY2(QFile::exists(dir.filePath(u"journal.ods"_s)), office.readAllStandardError().constData());

    TExcelApplication book;
    book.openWorkbook(dir.filePath(u"journal.ods"_s));
    QCOMPARE(book.ReadCellText(1, 4), u"track1"_s);
    for (int i = 0; i < texts.size(); ++i) {
        QString shown = texts[i];
        if (!shown.isEmpty() && (CsvField::startsFormula(shown[0]) || shown[0] == u'\''))
            shown.prepend(u'\'');
        shown.replace(u'\r', u'\n'); // a line break in a cell is a new paragraph
        for (int column : {4, 5, 6, 8})
            QCOMPARE(book.ReadCellText(i + 2, column), shown);
    }
}

int runJournalTests(int argc, char** argv)
{
    TestJournal t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_journal.moc"
