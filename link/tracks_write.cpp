#include "link/tracks_write.h"

#include "link/commandset.h"
#include "link/comport.h"

#include <algorithm>

namespace Tracks_Write {

namespace {

constexpr char Esc = char(CommandSet::Esc);
constexpr char Gs = 0x1D;

} // namespace

bool trackHolds(int track, char16_t c)
{
    if (track == 1)
        return c >= 0x20 && c <= 0x5F && c != u'%' && c != u'?';
    return c >= 0x30 && c <= 0x3E;
}

qsizetype firstCharacterNotHeld(int track, const QString& text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!trackHolds(track, text[i].unicode()))
            return i;
    }
    return -1;
}

QString characterName(QChar c)
{
    const char16_t u = c.unicode();
    if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0))
        return QStringLiteral("с кодом 0x") + QString::number(u, 16).toUpper().rightJustified(2, u'0');
    return QStringLiteral("«%1»").arg(c);
}

QString asTrackTakes(int track, const QString& text)
{
    return track == 1 ? text.toUpper() : text;
}

QString characterProblem(int track, const QString& text)
{
    const qsizetype at = firstCharacterNotHeld(track, text);
    if (at < 0)
        return {};
    return QStringLiteral("дорожка %1 не может нести символ %2").arg(track).arg(characterName(text[at]));
}

bool overCapacity(const TrackTexts& texts)
{
    for (int t = 1; t <= 3; ++t) {
        if (texts[t - 1].size() > Capacity[t])
            return true;
    }
    return false;
}

QByteArray numericTrackBytes(const QString& text)
{
    QByteArray bytes = CommandSet::textToWire(text);
    for (char& c : bytes) {
        if (c == '=')
            c = 0x27;
        else if (c == '>')
            c = 0x3D;
    }
    return bytes;
}

QByteArray buildFrame(int choice, const TrackTexts& texts)
{
    for (int t = 1; t <= 3; ++t) {
        if (CommandSet::choiceCarries(choice, t) && texts[t - 1].isEmpty())
            return {};
    }
    if (choice < 0 || choice >= CommandSet::TrackChoiceCount)
        return {};
    QByteArray frame;
    frame.reserve(7 + texts[0].size() + texts[1].size() + texts[2].size());
    frame.append(Esc).append('t');
    if (CommandSet::choiceCarries(choice, 2))
        frame.append(numericTrackBytes(texts[1]));
    if (CommandSet::choiceCarries(choice, 3))
        frame.append('A').append(numericTrackBytes(texts[2]));
    if (CommandSet::choiceCarries(choice, 1))
        frame.append('B').append(CommandSet::textToWire(texts[0]));
    frame.append(Gs).append(Esc).append('\\');
    return frame;
}

int delayAfterFrameMs(int choice)
{
    static constexpr int delays[CommandSet::TrackChoiceCount] = {200, 100, 100, 100, 10, 100};
    return choice >= 0 && choice < CommandSet::TrackChoiceCount ? delays[choice] : 0;
}

void sendWriteStart(ComPort& port)
{
    port.sendCommand("\x1b%B");
}

void sendCard(ComPort& port, const Sleeper& sleeper, int choice, const QByteArray& frame)
{
    port.sendFrame(frame);
    // The terminal's pause counts from the frame's last byte on the line, not from
    // the moment the driver took the frame: a full frame is a quarter of a second
    // on the line. A real port drains when the bytes have gone; a pseudo-terminal
    // drains at once, so the frame's own line time is waited out as well.
    port.DrainPort();
    if (sleeper)
        sleeper(port.msUntilSent() + delayAfterFrameMs(choice) + PauseMarginMs);
    port.sendCommand("\x1bj");
}

Verdict verdictOf(QByteArrayView answer)
{
    if (answer.size() < AnswerLength || answer[0] != Esc)
        return Verdict::NoVerdict;
    if (answer[3] == 'p' && answer[2] != 'q')
        return Verdict::Written;
    if (answer[3] == 'q' || answer[2] == 'q')
        return Verdict::NotWritten;
    return Verdict::NoVerdict;
}

} // namespace Tracks_Write
