#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// The Windows-1251 code page: what the terminal sends and takes, and what a
// Russian-locale Windows program writes into text files.
namespace Windows1251 {
// The character of one byte; 0 for the one byte (0x98) the code page leaves unassigned.
char16_t toUnicode(unsigned char byte);
// Bytes as text; the unassigned byte becomes U+FFFD.
QString decode(QByteArrayView bytes);
// A character's byte, or '?' when the code page has none.
char encode(char16_t u);
} // namespace Windows1251
