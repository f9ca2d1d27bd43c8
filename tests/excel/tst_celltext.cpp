#include "excel/celltext.h"
#include "excel/workbookreader.h"

#include <QTest>

// The text forms every reader shares: numbers, serial dates, ISO dates, format codes.
class TestCellText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void number_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << QStringLiteral("0");
        QTest::newRow("negative zero") << -0.0 << QStringLiteral("0");
        QTest::newRow("whole") << 12345.0 << QStringLiteral("12345");
        QTest::newRow("negative whole") << -42.0 << QStringLiteral("-42");
        QTest::newRow("sixteen digits") << 1234567890123456.0 << QStringLiteral("1234567890123456");
        QTest::newRow("no exponent for large") << 1e20 << QStringLiteral("100000000000000000000");
        QTest::newRow("fraction") << 1.5 << QStringLiteral("1,5");
        QTest::newRow("negative fraction") << -0.25 << QStringLiteral("-0,25");
        QTest::newRow("binary noise rounded") << 0.1 + 0.2 << QStringLiteral("0,3");
        QTest::newRow("rounds to whole") << 2.9999999999999996 << QStringLiteral("3");
        QTest::newRow("no exponent for small") << 1e-7 << QStringLiteral("0,0000001");
        QTest::newRow("fifteen significant") << 123456.789 << QStringLiteral("123456,789");
        QTest::newRow("third") << 1.0 / 3.0 << QStringLiteral("0,333333333333333");
    }
    void number()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(CellText::number(value), text);
    }

    void serialDateTime_data()
    {
        QTest::addColumn<double>("serial");
        QTest::addColumn<bool>("date1904");
        QTest::addColumn<QString>("text");
        QTest::newRow("date") << 45366.0 << false << QStringLiteral("15.03.2024");
        QTest::newRow("date and time") << 45366.0 + (13 * 3600 + 45 * 60 + 10) / 86400.0 << false
                                       << QStringLiteral("15.03.2024 13:45:10");
        QTest::newRow("time only") << 0.5 << false << QStringLiteral("12:00:00");
        QTest::newRow("rounds to the second") << 45366.0 + 86399.9 / 86400.0 << false << QStringLiteral("16.03.2024");
        QTest::newRow("first day") << 1.0 << false << QStringLiteral("01.01.1900");
        QTest::newRow("day that never was") << 60.0 << false << QStringLiteral("28.02.1900");
        QTest::newRow("day before it") << 59.0 << false << QStringLiteral("28.02.1900");
        QTest::newRow("time rounded to midnight") << 86399.6 / 86400.0 << false << QStringLiteral("00:00:00");
        QTest::newRow("after 2100") << 73110.0 << false << QStringLiteral("01.03.2100");
        QTest::newRow("last day") << 2958465.0 << false << QStringLiteral("31.12.9999");
        QTest::newRow("after the last day") << 2958466.0 << false << QStringLiteral("2958466");
        QTest::newRow("1904 system, after 2100") << 71648.0 << true << QStringLiteral("01.03.2100");
        QTest::newRow("after it") << 61.0 << false << QStringLiteral("01.03.1900");
        QTest::newRow("1904 system") << 0.0 << true << QStringLiteral("01.01.1904");
        QTest::newRow("1904 system date") << 43904.0 << true << QStringLiteral("15.03.2024");
        QTest::newRow("negative stays a number") << -1.5 << false << QStringLiteral("-1,5");
    }
    void serialDateTime()
    {
        QFETCH(double, serial);
        QFETCH(bool, date1904);
        QFETCH(QString, text);
        QCOMPARE(CellText::serialDateTime(serial, date1904), text);
    }

    void duration_data()
    {
        QTest::addColumn<double>("days");
        QTest::addColumn<QString>("text");
        QTest::newRow("days kept") << (255 * 3600 + 10 * 60 + 10) / 86400.0 << QStringLiteral("255:10:10");
        QTest::newRow("under a day") << 0.5 << QStringLiteral("12:00:00");
        QTest::newRow("rounded up to a day") << 86399.6 / 86400.0 << QStringLiteral("24:00:00");
        QTest::newRow("negative") << -1.0 / 24 << QStringLiteral("-01:00:00");
    }
    void duration()
    {
        QFETCH(double, days);
        QFETCH(QString, text);
        QCOMPARE(CellText::duration(days), text);
    }

    void isoDateTime_data()
    {
        QTest::addColumn<QString>("iso");
        QTest::addColumn<QString>("text");
        QTest::newRow("date") << QStringLiteral("2024-03-15") << QStringLiteral("15.03.2024");
        QTest::newRow("midnight") << QStringLiteral("2024-03-15T00:00:00") << QStringLiteral("15.03.2024");
        QTest::newRow("date time") << QStringLiteral("2024-03-15T13:45:10") << QStringLiteral("15.03.2024 13:45:10");
        QTest::newRow("space separated") << QStringLiteral("2024-03-15 13:45:10")
                                         << QStringLiteral("15.03.2024 13:45:10");
        QTest::newRow("fraction of second")
            << QStringLiteral("2024-03-15T13:45:10.123") << QStringLiteral("15.03.2024 13:45:10");
        QTest::newRow("time") << QStringLiteral("13:45:00") << QStringLiteral("13:45:00");
        QTest::newRow("not a date") << QStringLiteral("soon") << QStringLiteral("soon");
    }
    void isoDateTime()
    {
        QFETCH(QString, iso);
        QFETCH(QString, text);
        QCOMPARE(CellText::isoDateTime(iso), text);
    }

    void dateFormatCode_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("date");
        QTest::newRow("general") << QStringLiteral("General") << false;
        QTest::newRow("decimals") << QStringLiteral("0.00") << false;
        QTest::newRow("scientific") << QStringLiteral("0.00E+00") << false;
        QTest::newRow("date") << QStringLiteral("dd.mm.yyyy") << true;
        QTest::newRow("upper case") << QStringLiteral("DD.MM.YYYY") << true;
        QTest::newRow("time") << QStringLiteral("hh:mm") << true;
        QTest::newRow("elapsed") << QStringLiteral("[h]:mm:ss") << true;
        QTest::newRow("locale tag") << QStringLiteral("[$-419]d mmm yyyy") << true;
        QTest::newRow("colour is no date") << QStringLiteral("[Red]0.00") << false;
        QTest::newRow("quoted text") << QStringLiteral("0\" days\"") << false;
        QTest::newRow("escaped letter") << QStringLiteral("0\\d") << false;
        QTest::newRow("currency") << QStringLiteral("#,##0.00\\ [$руб.-419]") << false;
        for (const char* part : {"yyyy", "mmm", "dd", "hh", "ss", "dddd", "[mm]:ss", "[ss]"})
            QTest::newRow(part) << QString::fromLatin1(part) << true;
    }
    void dateFormatCode()
    {
        QFETCH(QString, code);
        QFETCH(bool, date);
        QCOMPARE(WorkbookReader::isDateFormatCode(code), date);
        const bool elapsed = code.startsWith(QLatin1Char('[')) && !code.contains(QLatin1Char('$')) && date;
        QCOMPARE(WorkbookReader::formatKind(code) == CellKind::Duration, elapsed);
    }
};

int runCellTextTests(int argc, char** argv)
{
    TestCellText test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_celltext.moc"
