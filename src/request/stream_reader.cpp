// The segment/channel stream request reader.
#include <iterator>

#include "request/reader_fields.h"
#include "tovarine.h"

extern "C" int32_t f373279(const char *text, int32_t *server, int32_t *segment, int32_t *channel,
                           int32_t *sendstate, int32_t *timeout, int32_t *features,
                           int32_t *sendtime, int32_t *cpid) {
    using namespace tovarine;
    if (text == nullptr) return 0;
    void *const outputs[] = {server,  segment,  channel,  sendstate,
                             timeout, features, sendtime, cpid};
    static_assert(std::size(outputs) == std::size(kStreamFields));
    const FieldReader reader(text, kStreamTable, outputs);
    if (reader.ok()) reader.WriteAll();
    return 0;
}
