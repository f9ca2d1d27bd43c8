#pragma once

#include <cstdint>

// Bounds for reading untrusted workbook files. They sit well above what any card
// run needs and keep a hostile file (zip bomb, absurd repeat counts, deep XML)
// from taking the machine's memory or time.
namespace WorkbookLimits {
inline constexpr std::int64_t MaxFileBytes = 512LL * 1024 * 1024;
// Parts are parsed as they are unpacked and never held whole, so these bound
// time, not memory: a 1,048,576-row ods sheet's content.xml runs to gigabytes.
inline constexpr std::int64_t MaxEntryBytes = 4LL * 1024 * 1024 * 1024;   // one uncompressed zip entry
inline constexpr std::int64_t MaxArchiveBytes = 4LL * 1024 * 1024 * 1024; // all entries read from one archive
inline constexpr std::int64_t MaxZipEntries = 10000;
inline constexpr int MaxXmlDepth = 64;
// What the sheet may hold in memory: 16 bytes a cell (256 MB at most), two
// bytes a text character and four a text (128 + 64 MB at most).
inline constexpr std::int64_t MaxCells = 16'777'216;     // stored cells of the active sheet
inline constexpr std::int64_t MaxTextChars = 67'108'864; // all texts of the active sheet, UTF-16 units
inline constexpr std::int64_t MaxSharedStrings = 16'777'216;
inline constexpr std::int64_t MaxCsvBytes = 128LL * 1024 * 1024;
// A csv keeps its fields' bytes as they are (UTF-16 turned into UTF-8, at most
// half as long again), four bytes a field slot (the empty ones before a kept
// field count too) and eight a row that has any: 192 + 128 + 256 MB at most.
inline constexpr std::int64_t MaxCsvTextBytes = MaxCsvBytes * 3 / 2;
inline constexpr std::int64_t MaxCsvFields = 33'554'432;
inline constexpr std::int64_t MaxXlsBytes = 256LL * 1024 * 1024; // read whole, with a copy of its workbook stream
inline constexpr int Columns = 26;                               // A..Z, all a track template can name
} // namespace WorkbookLimits
