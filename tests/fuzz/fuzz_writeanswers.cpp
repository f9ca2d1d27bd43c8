// The write side's untrusted bytes: any answer after ESC 'j', in any pieces, is
// judged only from a whole four-byte answer, and any three texts either are
// refused before framing or make a frame the terminal takes apart into exactly
// the texts that went in.
#include "link/commandset.h"
#include "tools/terminalsimulator.h"
#include "writing/cardtexts.h"

#include <cstddef>
#include <cstdint>

namespace {

QString texts(const uint8_t*& data, size_t& size)
{
    const size_t n = size == 0 ? 0 : std::min<size_t>(data[0], size - 1);
    QString text;
    for (size_t i = 1; i <= n; ++i)
        text.append(QChar(char16_t(data[i])));
    data += size == 0 ? 0 : n + 1;
    size -= size == 0 ? 0 : n + 1;
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const int choice = data[0] % CommandSet::TrackChoiceCount;
    ++data;
    --size;
    CardTexts card;
    card.track1 = texts(data, size).toUpper();
    card.track2 = texts(data, size);
    card.track3 = texts(data, size);

    // The verdict reads only the first four bytes of an answer that begins with ESC.
    const QByteArrayView answer(reinterpret_cast<const char*>(data), qsizetype(size));
    const Tracks_Write::Verdict verdict = Tracks_Write::verdictOf(answer);
    if (verdict != Tracks_Write::Verdict::NoVerdict && (answer.size() < 4 || answer[0] != '\x1b'))
        __builtin_trap();

    bool held = true;
    for (int t = 1; t <= 3; ++t) {
        if (CommandSet::choiceCarries(choice, t) && !Tracks_Write::characterProblem(t, card.track(t)).isEmpty())
            held = false;
    }
    if (!held || Tracks_Write::overCapacity(card))
        return 0; // refused before a frame is built
    const QByteArray frame = Tracks_Write::buildFrame(choice, card);
    if (frame.isEmpty())
        return 0; // an empty carried text: nothing is sent
    const TerminalSimulator::Frame parsed = TerminalSimulator::decodeFrame(frame);
    if (!parsed.ok())
        __builtin_trap();
    for (int t = 1; t <= 3; ++t) {
        const QByteArray expected = CommandSet::choiceCarries(choice, t) ? card.track(t).toLatin1() : QByteArray();
        const QByteArray got = t == 1 ? parsed.card.track1 : t == 2 ? parsed.card.track2 : parsed.card.track3;
        if (got != expected)
            __builtin_trap();
    }
    return 0;
}
