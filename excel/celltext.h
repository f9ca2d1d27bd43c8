#pragma once

#include "excel/sheetcells.h"

#include <QString>

// The text forms of cell values, one place for every format so that the same
// sheet saved as xlsx, ods or xls gives the same texts (see docs/workbooks.md).
namespace CellText {
// Whole numbers as plain digits; fractions with a decimal comma, at most
// 15 significant digits, never an exponent.
QString number(double value);
// A spreadsheet serial day number: "dd.MM.yyyy", "HH:mm:ss" when the date part
// is zero, "dd.MM.yyyy HH:mm:ss" when both parts are present.
QString serialDateTime(double serial, bool date1904);
// Elapsed time in days as "H:mm:ss" with all its hours (at least two digits): "255:10:10".
QString duration(double days);
// "yyyy-MM-dd", "yyyy-MM-ddTHH:mm:ss", "HH:mm:ss" (ISO forms that files store) in the forms above.
QString isoDateTime(QStringView iso);
QString boolean(bool value);
// "A".."Z" for 1..26.
QString columnName(int column);
// "B7"
QString cellName(std::int64_t row, int column);
} // namespace CellText
