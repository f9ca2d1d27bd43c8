#pragma once

#include <cstdint>

// Bounds for reading untrusted workbook files. They sit well above what any card
// run needs and keep a hostile file (zip bomb, absurd repeat counts, deep XML)
// from taking the machine's memory or time.
namespace WorkbookLimits {
inline constexpr std::int64_t MaxFileBytes = 512LL * 1024 * 1024;
inline constexpr std::int64_t MaxEntryBytes = 256LL * 1024 * 1024;   // one uncompressed zip entry
inline constexpr std::int64_t MaxArchiveBytes = 512LL * 1024 * 1024; // all entries read from one archive
inline constexpr std::int64_t MaxZipEntries = 10000;
inline constexpr int MaxXmlDepth = 64;
inline constexpr std::int64_t MaxCells = 4'000'000;          // stored cells of the active sheet
inline constexpr std::int64_t MaxTextChars = 48'000'000;     // all texts of the active sheet, UTF-16 units
inline constexpr std::int64_t MaxSharedStrings = 4'000'000;
inline constexpr std::int64_t MaxCsvBytes = 128LL * 1024 * 1024;
inline constexpr int Columns = 26; // A..Z, all a track template can name
} // namespace WorkbookLimits
