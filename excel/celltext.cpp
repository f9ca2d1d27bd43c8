#include "excel/celltext.h"

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <cmath>

namespace CellText {

QString number(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("#NUM!");
    if (value == 0.0)
        return QStringLiteral("0");
    if (value == std::floor(value))
        return QString::number(value, 'f', 0);
    // Fifteen significant digits, as spreadsheets keep, written out without an exponent.
    const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value))));
    const int decimals = std::clamp(14 - magnitude, 0, 30);
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    if (text == QLatin1String("-0"))
        return QStringLiteral("0");
    text.replace(QLatin1Char('.'), QLatin1Char(','));
    return text;
}

static QString dateText(const QDate& date)
{
    return date.toString(QStringLiteral("dd.MM.yyyy"));
}

static QString timeText(const QTime& time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

QString serialDateTime(double serial, bool date1904)
{
    // Beyond the years 1900..9999 a spreadsheet shows no date either; keep the number.
    if (!std::isfinite(serial) || serial < 0 || serial >= 2958466.0)
        return number(serial);
    auto seconds = static_cast<std::int64_t>(std::llround(serial * 86400.0));
    const std::int64_t days = seconds / 86400;
    seconds %= 86400;
    const QTime time = QTime(0, 0).addSecs(static_cast<int>(seconds));
    // A time of day without a date wraps at midnight when rounded up to it
    // (23:59:59.6 is 00:00:00), as a time format shows it.
    if (serial < 1.0 && !date1904)
        return timeText(time);
    if (days >= 2958466)
        return number(serial);
    QDate date;
    if (date1904)
        date = QDate(1904, 1, 1).addDays(days);
    else if (days < 60)
        date = QDate(1899, 12, 31).addDays(days);
    else
        // Serials from 61 on count from 30.12.1899 because 1900-based serials
        // give 60 to a 29 February 1900 that never was; 60 itself reads as the
        // day it follows, 28.02.1900, as LibreOffice shows it.
        date = QDate(1899, 12, 30).addDays(days);
    return seconds == 0 ? dateText(date) : dateText(date) + QLatin1Char(' ') + timeText(time);
}

QString duration(double days)
{
    if (!std::isfinite(days) || std::fabs(days) > 1e9)
        return number(days);
    std::int64_t seconds = std::llround(days * 86400.0);
    const bool negative = seconds < 0;
    seconds = std::abs(seconds);
    return QStringLiteral("%1%2:%3:%4")
        .arg(negative ? QStringLiteral("-") : QString())
        .arg(seconds / 3600, 2, 10, QLatin1Char('0'))
        .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString isoDateTime(QStringView iso)
{
    const QString text = iso.trimmed().toString();
    if (text.size() <= 10) {
        const QDate date = QDate::fromString(text, Qt::ISODate);
        if (date.isValid())
            return dateText(date);
    }
    const QTime onlyTime = QTime::fromString(text.left(8), QStringLiteral("HH:mm:ss"));
    if (text.size() >= 8 && text.at(2) == QLatin1Char(':') && onlyTime.isValid())
        return timeText(onlyTime);
    const QDateTime dateTime = QDateTime::fromString(text.left(19), Qt::ISODate);
    if (!dateTime.isValid())
        return text;
    if (dateTime.time() == QTime(0, 0))
        return dateText(dateTime.date());
    return dateText(dateTime.date()) + QLatin1Char(' ') + timeText(dateTime.time());
}

QString boolean(bool value)
{
    return value ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
}

QString columnName(int column)
{
    if (column < 1 || column > 26)
        return QString::number(column);
    return QString(QLatin1Char(static_cast<char>('A' + column - 1)));
}

QString cellName(std::int64_t row, int column)
{
    return columnName(column) + QString::number(row);
}

} // namespace CellText
