#include "link/commandset.h"

#include "base/windows1251.h"

namespace CommandSet {

namespace {

constexpr char Terminator = '?';

QByteArray numericTrackToText(QByteArrayView bytes)
{
    QByteArray text(bytes.data(), bytes.size());
    for (char& c : text) {
        if (c == '\'')
            c = '=';
        else if (c == '=')
            c = '>';
    }
    return text;
}

qsizetype firstTerminator(QByteArrayView reply)
{
    for (qsizetype k = 1; k < reply.size(); ++k) {
        if (reply[k] == Terminator)
            return k;
    }
    return -1;
}

bool startsWithEsc(QByteArrayView reply)
{
    return !reply.isEmpty() && static_cast<unsigned char>(reply[0]) == Esc;
}

// The two-track layout: first part up to the separator, second part after it
// up to the first terminator seen anywhere from index 2. The reply is complete
// only once a terminator has come after the separator: the separator alone
// arrives while the second track is still on the line.
ParsedReply parseTwoTrack(QByteArrayView reply, char separator, bool secondIsTrack1)
{
    ParsedReply result;
    if (!startsWithEsc(reply))
        return result;
    QByteArray first;
    QByteArray second;
    bool firstPart = true;
    bool separatorSeen = false;
    bool ended = false;
    bool terminatedAfterSeparator = false;
    for (qsizetype i = 2; i < reply.size(); ++i) {
        const char c = reply[i];
        if (c == separator)
            firstPart = false;
        if (firstPart)
            first.append(c);
        if (c == Terminator) {
            ended = true;
            terminatedAfterSeparator = terminatedAfterSeparator || separatorSeen;
        }
        if (separatorSeen && !ended)
            second.append(c);
        if (c == separator)
            separatorSeen = true;
    }
    if (!terminatedAfterSeparator)
        return result;
    result.complete = true;
    result.track2 = first;
    if (secondIsTrack1)
        result.track1 = second;
    else
        result.track3 = second;
    return result;
}

} // namespace

QStringList trackChoiceTexts()
{
    return {QStringLiteral("Track 1"),     QStringLiteral("Track 2"),     QStringLiteral("Track 3"),
            QStringLiteral("Track 1 & 2"), QStringLiteral("Track 2 & 3"), QStringLiteral("Track 1 & 2 & 3")};
}

QString trackChoiceText(int choice)
{
    const QStringList texts = trackChoiceTexts();
    return choice >= 0 && choice < texts.size() ? texts.at(choice) : QString();
}

bool choiceCarries(int choice, int track)
{
    static constexpr bool carries[TrackChoiceCount][3] = {
        {true, false, false}, {false, true, false}, {false, false, true},
        {true, true, false},  {false, true, true},  {true, true, true},
    };
    if (choice < 0 || choice >= TrackChoiceCount || track < 1 || track > 3)
        return false;
    return carries[choice][track - 1];
}

BoxSelection selectTracks(bool track1, bool track2, bool track3)
{
    BoxSelection s;
    s.startEnabled = track1 || track2 || track3;
    if (track1 && !track2 && track3) {
        s.turnTrack2On = true;
        s.choice = Track123;
        return s;
    }
    const int key = (track1 ? 1 : 0) | (track2 ? 2 : 0) | (track3 ? 4 : 0);
    switch (key) {
    case 1:
        s.choice = Track1;
        break;
    case 2:
        s.choice = Track2;
        break;
    case 4:
        s.choice = Track3;
        break;
    case 3:
        s.choice = Track12;
        break;
    case 6:
        s.choice = Track23;
        break;
    case 7:
        s.choice = Track123;
        break;
    default:
        break;
    }
    return s;
}

void putReadCommand(Buffer& buffer, int choice)
{
    static constexpr unsigned char table[TrackChoiceCount][2] = {
        {0x42, 0x4D}, {0x5D, 0x00}, {0x54, 0x5D}, {0x42, 0x54}, {0x42, 0x5D}, {0x42, 0x74},
    };
    if (choice < 0 || choice >= TrackChoiceCount)
        return;
    buffer[0] = Esc;
    buffer[1] = table[choice][0];
    if (choice != Track2)
        buffer[2] = table[choice][1];
}

void putStopCommand(Buffer& buffer)
{
    buffer[0] = Esc;
    buffer[1] = 0x30;
}

void putDefaultReadCommand(Buffer& buffer)
{
    buffer[0] = Esc;
    buffer[1] = 0x42;
    buffer[2] = 0x4D;
}

ParsedReply ParseSingleTrackReply(QByteArrayView reply, int choice)
{
    ParsedReply result;
    if (!startsWithEsc(reply))
        return result;
    const qsizetype k = firstTerminator(reply);
    if (k < 0)
        return result;
    result.complete = true;
    switch (choice) {
    case Track1:
        result.track1 = k > 3 ? QByteArray(reply.data() + 3, k - 3) : QByteArray();
        break;
    case Track2:
        result.track2 = k > 2 ? numericTrackToText(reply.sliced(2, k - 2)) : QByteArray();
        break;
    case Track3:
        result.track3 = k > 2 ? numericTrackToText(reply.sliced(2, k - 2)) : QByteArray();
        break;
    default:
        result.complete = false;
        break;
    }
    return result;
}

ParsedReply ParseTrack12Reply(QByteArrayView reply)
{
    return parseTwoTrack(reply, 'B', true);
}

ParsedReply ParseTrack23Reply(QByteArrayView reply)
{
    return parseTwoTrack(reply, 'A', false);
}

ParsedReply ParseTrack123Reply(QByteArrayView reply)
{
    // The markers stand in the order the reply lays them out: track 2, "A", track 3,
    // "B", track 1, "?". Tracks 2 and 3 hold no letters, so the first "A" and the
    // first "B" after it are the markers; track 1 may hold both letters (IVANOV,
    // BORISOV) and runs to the terminator.
    ParsedReply result;
    if (!startsWithEsc(reply))
        return result;
    const qsizetype a = reply.indexOf('A', 2);
    const qsizetype b = a < 0 ? -1 : reply.indexOf('B', a + 1);
    const qsizetype end = b < 0 ? -1 : reply.indexOf(Terminator, b + 1);
    if (end < 0)
        return result;
    QByteArray t3;
    for (const char c : reply.sliced(a + 1, b - a - 1)) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x41 || u > 0x59) // letters are never track 3 data
            t3.append(c);
    }
    result.complete = true;
    result.clearAll = true;
    result.track1 = reply.sliced(b + 1, end - b - 1).toByteArray();
    result.track2 = reply.sliced(2, a - 2).toByteArray();
    result.track3 = t3;
    return result;
}

ParsedReply parseReply(QByteArrayView reply, int choice)
{
    switch (choice) {
    case Track1:
    case Track2:
    case Track3:
        return ParseSingleTrackReply(reply, choice);
    case Track12:
        return ParseTrack12Reply(reply);
    case Track23:
        return ParseTrack23Reply(reply);
    case Track123:
        return ParseTrack123Reply(reply);
    default:
        return {};
    }
}

QString wireToText(const QByteArray& bytes)
{
    const qsizetype end = bytes.indexOf('\0');
    return Windows1251::decode(QByteArrayView(bytes).first(end < 0 ? bytes.size() : end));
}

QByteArray textToWire(const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (const QChar ch : text)
        bytes.append(Windows1251::encode(ch.unicode()));
    return bytes;
}

} // namespace CommandSet
