// Feeds arbitrary bytes to the four read-reply parsers of every track choice.
#include "link/commandset.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const int choice = data[0] % CommandSet::TrackChoiceCount;
    const QByteArrayView reply(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const CommandSet::ParsedReply parsed = CommandSet::parseReply(reply, choice);
    if (parsed.complete) {
        for (const auto& text : {parsed.track1, parsed.track2, parsed.track3}) {
            if (text && text->size() > reply.size())
                __builtin_trap();
            if (text)
                (void)CommandSet::wireToText(*text);
        }
    }
    return 0;
}
