// The camera control request reader: every value reaches the host as text.
#include "request/reader_fields.h"
#include "tovarine.h"

extern "C" int32_t f3221538674(const char *text, char *model, char *camera, char *device,
                               char *number, char *speed, char *command, char *button) {
    using namespace tovarine;
    if (text == nullptr) return 0;
    void *const outputs[] = {model, camera, device, number, speed, command, button};
    static_assert(std::size(outputs) == std::size(kCameraFields));
    const FieldReader reader(text, kCameraTable, outputs);
    if (reader.ok()) reader.WriteAll();
    return 0;
}
