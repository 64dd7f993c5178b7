// The camera control request reader: every value reaches the host as text.
#include "request/reader_outputs.h"
#include "tovarine.h"

namespace {
constexpr size_t kCameraBufferBytes = 1024;
}

extern "C" int32_t f3221538674(const char *text, char *model, char *camera, char *device,
                               char *number, char *speed, char *command, char *button) {
    using namespace tovarine;
    if (text == nullptr) return 0;
    const ParameterList list(text);
    StoreText(list, "model", model, kCameraBufferBytes);
    StoreText(list, "camera", camera, kCameraBufferBytes);
    StoreText(list, "device", device, kCameraBufferBytes);
    StoreText(list, "number", number, kCameraBufferBytes);
    StoreText(list, "speed", speed, kCameraBufferBytes);
    StoreText(list, "command", command, kCameraBufferBytes);
    StoreText(list, "button", button, kCameraBufferBytes);
    return 0;
}
