#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The fields of the CSV files the program writes (comma separated, RFC 4180),
// made so that a spreadsheet opening them shows every text as text.
//
// A field with a comma, a quote or a line break is quoted, its quotes doubled.
// A text that a spreadsheet would take as a formula, one whose first character
// is "=", "+", "-", "@", a tab or a carriage return, is quoted with an
// apostrophe in front: =SUM(A1) is written "'=SUM(A1)". So that this stays
// unambiguous, a text that itself begins with an apostrophe gets one more in
// front as well ('A is written "''A"). Reading takes exactly one apostrophe off
// a quoted field whose apostrophe is followed by one of those characters or by
// another apostrophe; any other field reads as it stands, so files written
// before the apostrophe was added read as they always did.
namespace CsvField {

// Whether a spreadsheet would take a field beginning with `c` as a formula.
bool startsFormula(QChar c);
// The field that stands for `text` in a line.
QString encode(const QString& text);
// The text of a field: `content` with its quotes already undone, `quoted`
// whether the field began with a quote.
QString decode(const QString& content, bool quoted);
// Splits CSV text into records of decoded fields. A line end is LF or CR LF
// outside quotes; a last line without its line end was being written and does
// not count.
QList<QStringList> records(const QString& text);

} // namespace CsvField
