// The live video and segment/channel stream request readers.
#include "module/helpers.h"
#include "request/reader_fields.h"
#include "tovarine.h"

namespace {

// The first word of the whole text that begins with "User-Agent:" is the header; the client
// is a Mozilla one when the word after it begins with "Mozilla".
bool NamesMozillaClient(const char *text) {
    using tovarine::helpers::HasPrefix;
    using tovarine::helpers::NextWord;
    for (const char *word = text; *word != 0; word = NextWord(word)) {
        if (HasPrefix(word, "User-Agent:")) return HasPrefix(NextWord(word), "Mozilla") != 0;
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
        const FieldReader reader(text, kLiveFields, std::size(kLiveFields), outputs);
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
    const FieldReader reader(text, kStreamFields, std::size(kStreamFields), outputs);
    if (reader.ok()) reader.WriteAll();
    return 0;
}
