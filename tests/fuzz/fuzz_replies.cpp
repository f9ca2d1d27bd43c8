// Feeds arbitrary bytes, cut into pieces anywhere, through the read poll's reply
// joining and the parser of every track choice: a reply whole or in pieces reads
// the same, nothing is read past what arrived, and a broken reply is given up.
#include "link/commandset.h"
#include "reading/replyassembler.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int choice = data[0] % CommandSet::TrackChoiceCount;
    const int cut = data[1]; // where each piece ends, as a byte count
    const QByteArrayView bytes(reinterpret_cast<const char*>(data + 2), qsizetype(size - 2));

    const CommandSet::ParsedReply whole = CommandSet::parseReply(bytes, choice);
    if (whole.complete) {
        for (const auto& text : {whole.track1, whole.track2, whole.track3}) {
            if (text && text->size() > bytes.size())
                __builtin_trap();
            if (text)
                (void)CommandSet::wireToText(*text);
        }
    }

    ReplyAssembler assembler;
    qint64 now = 0;
    for (qsizetype at = 0; at < bytes.size();) {
        const qsizetype piece = std::min<qsizetype>(bytes.size() - at, 1 + cut);
        const QByteArray joined = assembler.feed(bytes.sliced(at, piece), now += 100);
        if (joined.size() > ReplyAssembler::Limit)
            __builtin_trap();
        if (!joined.isEmpty() && joined.front() != char(CommandSet::Esc))
            __builtin_trap(); // a joined reply always begins with its ESC
        if (CommandSet::parseReply(joined, choice).complete)
            assembler.reset();
        at += piece;
    }
    // However it ended, a quiet second later nothing is left waiting for ever.
    if (assembler.stale(now + ReplyAssembler::QuietLimitMs))
        assembler.reset();
    if (assembler.stale(now + 10 * ReplyAssembler::QuietLimitMs))
        __builtin_trap();
    return 0;
}
