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
    std::int64_t days = seconds / 86400;
    seconds %= 86400;
    const QTime time = QTime(0, 0).addSecs(static_cast<int>(seconds));
    if (days == 0 && !date1904)
        return timeText(time);
    QString date;
    if (date1904) {
        date = dateText(QDate(1904, 1, 1).addDays(days));
    } else if (days == 60) {
        date = QStringLiteral("29.02.1900"); // the day that 1900-based serials count, though it never was
    } else {
        date = dateText(QDate(1899, 12, days < 60 ? 31 : 30).addDays(days));
    }
    return seconds == 0 ? date : date + QLatin1Char(' ') + timeText(time);
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
