// The live video and segment/channel stream request readers.
#include "module/helpers.h"
#include "request/reader_outputs.h"
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
        const ParameterList list(text);
        StoreInteger(list, "server", server);
        StoreInteger(list, "device", device);
        StoreDecimal(list, "framerate", framerate);
        StoreTimeout(list, "timeout", timeout);
        StoreInteger(list, "features", features);
        StoreInteger(list, "sendtime", sendtime);
        StoreInteger(list, "sendstate", sendstate);
        StoreInteger(list, "cpid", cpid);
        StoreInteger(list, "slide_show", slide_show);
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
    const ParameterList list(text);
    StoreInteger(list, "server", server);
    StoreInteger(list, "segment", segment);
    // Only the first character counts: "R" or "r" asks for the channel.
    if (const char *value = list.Find("channel"); value != nullptr && channel != nullptr) {
        *channel = (value[0] == 'R' || value[0] == 'r') ? 1 : 0;
    }
    StoreInteger(list, "sendstate", sendstate);
    StoreTimeout(list, "timeout", timeout);
    StoreInteger(list, "features", features);
    StoreInteger(list, "sendtime", sendtime);
    StoreInteger(list, "cpid", cpid);
    return 0;
}
