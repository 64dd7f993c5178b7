// The live video and segment/channel stream request readers.
#include <cstring>

#include "module/helpers.h"
#include "request/reader_fields.h"
#include "tovarine.h"

namespace {

// The first word of the whole text that begins with "User-Agent:" is the header; the client
// is a Mozilla one when the word after it begins with "Mozilla". Words start at the text's
// start and after each run of separators. Such a word holds its ":" ten bytes in, so only the
// ":" of the text are visited (strchr), in order; the first one that closes "User-Agent" at a
// word's start belongs to the first such word.
bool NamesMozillaClient(const char *text) {
    using tovarine::helpers::HasPrefix;
    using tovarine::helpers::IsWordSeparator;
    using tovarine::helpers::NextWord;
    constexpr size_t kColumn = sizeof "User-Agent" - 1;
    for (const char *colon = std::strchr(text, ':'); colon != nullptr;
         colon = std::strchr(colon + 1, ':')) {
        if (static_cast<size_t>(colon - text) < kColumn) continue;
        const char *const word = colon - kColumn;
        if ((word == text || IsWordSeparator(word[-1])) && HasPrefix(word, "User-Agent:")) {
            return HasPrefix(NextWord(word), "Mozilla") != 0;
        }
    }
    return false;
}

}  // namespace

extern "C" int32_t f3121538644(const char *text, int32_t *server, int32_t *device,
                               double *framerate, int32_t *timeout, int32_t *mozilla,
                               int32_t *features, int32_t *sendtime, int32_t *sendstate,
                               int32_t *cpid, int32_t *slide_show) {
    using namespace tovarine;
    if (text == nullptr) return 0;
    {
        void *const outputs[] = {server,   device,    framerate, timeout,   features,
                                 sendtime, sendstate, cpid,      slide_show};
        static_assert(std::size(outputs) == std::size(kLiveFields));
        const FieldReader reader(text, kLiveTable, outputs);
        if (reader.ok()) reader.WriteAll();
    }
    // The flag is only ever set, never cleared: hosts preset it.
    if (mozilla != nullptr && NamesMozillaClient(text)) *mozilla = 1;
    return 0;
}

extern "C" int32_t f373279(const char *text, int32_t *server, int32_t *segment, int32_t *channel,
                           int32_t *sendstate, int32_t *timeout, int32_t *features,
                           int32_t *sendtime, int32_t *cpid) {
    using namespace tovarine;
    if (text == nullptr) return 0;
    void *const outputs[] = {server, segment, channel, sendstate, timeout, features, sendtime,
                             cpid};
    static_assert(std::size(outputs) == std::size(kStreamFields));
    const FieldReader reader(text, kStreamTable, outputs);
    if (reader.ok()) reader.WriteAll();
    return 0;
}
