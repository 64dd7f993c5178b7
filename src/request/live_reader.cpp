// The live video request reader. It also tells whether the request's client is a Mozilla one.
#include <iterator>

#include "request/client_header.h"
#include "request/reader_fields.h"
#include "tovarine.h"

extern "C" int32_t f3121538644(const char *text, int32_t *server, int32_t *device,
                               double *framerate, int32_t *timeout, int32_t *mozilla,
                               int32_t *features, int32_t *sendtime, int32_t *sendstate,
                               int32_t *cpid, int32_t *slide_show) {
    using namespace tovarine;
    if (text == nullptr) return 0;
    // The client is read from the text as it was on entry: an output the host placed over the
    // text's header part may change it once written.
    const bool names_mozilla = mozilla != nullptr && NamesMozilla(FindClientHeader(text));
    {
        void *const outputs[] = {server,   device,    framerate, timeout,   features,
                                 sendtime, sendstate, cpid,      slide_show};
        static_assert(std::size(outputs) == std::size(kLiveFields));
        const FieldReader reader(text, kLiveTable, outputs);
        if (reader.ok()) reader.WriteAll();
    }
    // The flag is only ever set, never cleared: hosts preset it.
    if (names_mozilla) *mozilla = 1;
    return 0;
}
