#pragma once

#include "excel/sheetcells.h"

#include <QByteArray>
#include <QString>

class QIODevice;
class ZipArchive;

// Reads the active worksheet of a workbook file into a SheetCells. Every
// problem (unreadable, corrupt, unsupported, password-protected, too big) is a
// Failure whose text is the reason, without the file name.
namespace WorkbookReader {
inline constexpr std::int64_t XlsxRows = 1048576;
inline constexpr std::int64_t OdsRows = 1048576;
inline constexpr std::int64_t XlsRows = 65536;

SheetCells readFile(const QString& path);

// The format readers behind readFile.
SheetCells readXlsx(ZipArchive& archive);
SheetCells readOds(ZipArchive& archive);
SheetCells readXls(const QByteArray& bytes);
SheetCells readCsv(QIODevice& device); // read in pieces, refused by its size before any is read
SheetCells readCsv(const QByteArray& bytes);

// How a number format shows a number: as a number, as a date or time of day
// (DateTime), or as elapsed time that keeps its days ([h]:mm:ss, Duration).
CellKind formatKind(QStringView code);
CellKind builtinFormatKind(int id);
inline bool isDateFormatCode(QStringView code)
{
    return formatKind(code) != CellKind::Number;
}
} // namespace WorkbookReader
