#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// The terminal's read and stop commands, the track choice, and the parsers that
// take a read reply apart. Everything here works on plain bytes so that a test
// can drive it without a port or a window.
namespace CommandSet {

constexpr int BufferSize = 200; // the port's send and receive buffers
using Buffer = std::array<unsigned char, BufferSize>;

constexpr unsigned char Esc = 0x1B;
constexpr int ReadCommandLength = 3;
constexpr int StopCommandLength = 2;

// Track choice: an index into these texts.
enum TrackChoice { Track1 = 0, Track2, Track3, Track12, Track23, Track123 };
constexpr int TrackChoiceCount = 6;
QStringList trackChoiceTexts();
QString trackChoiceText(int choice);
bool choiceCarries(int choice, int track);

// What the three track boxes of a tab make of the track choice.
struct BoxSelection
{
    std::optional<int> choice; // empty when no box is ticked: the choice stays as it was
    bool turnTrack2On = false; // tracks 1 and 3 alone: the program ticks track 2 as well
    bool startEnabled = false; // the tab's start button
};
BoxSelection selectTracks(bool track1, bool track2, bool track3);

// Writes the read command of `choice` into the buffer. For "Track 2" index 2 is
// left alone: the terminal gets whatever byte is there.
void putReadCommand(Buffer& buffer, int choice);
// ESC "0"; only indices 0 and 1 change.
void putStopCommand(Buffer& buffer);
// 1B 42 4D, the read command of "Track 1".
void putDefaultReadCommand(Buffer& buffer);

// The texts a complete reply gives. A track that the reply does not set is empty
// (std::nullopt), and its edit keeps what it shows.
struct ParsedReply
{
    bool complete = false;
    bool clearAll = false; // the three-track reply clears every edit before it sets them
    std::optional<QByteArray> track1;
    std::optional<QByteArray> track2;
    std::optional<QByteArray> track3;
};

// `reply` holds only the bytes that arrived for this reply, from its ESC on.
ParsedReply ParseSingleTrackReply(QByteArrayView reply, int choice);
ParsedReply ParseTrack12Reply(QByteArrayView reply);
ParsedReply ParseTrack23Reply(QByteArrayView reply);
ParsedReply ParseTrack123Reply(QByteArrayView reply);
// The parser of the track choice.
ParsedReply parseReply(QByteArrayView reply, int choice);

// Terminal bytes as an edit shows them: up to the first zero byte, Windows-1251.
QString wireToText(const QByteArray& bytes);
// Text back to Windows-1251 bytes; characters without a code become '?'.
QByteArray textToWire(const QString& text);

} // namespace CommandSet
