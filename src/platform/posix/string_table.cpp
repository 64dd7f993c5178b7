// The library's string table on POSIX, from the same source as the Windows resource.
#include <cstring>

#include "res/strings.h"
#include "win32.h"

namespace {

struct StringResource {
    UINT id;
    const char *text;
};

constexpr StringResource kStrings[] = {
    {IDS_SAVING_AS, IDS_SAVING_AS_TEXT},
    {IDS_WILL_BE, IDS_WILL_BE_TEXT},
};

}  // namespace

int LoadStringA(HINSTANCE, UINT id, LPSTR buffer, int buffer_chars) {
    if (buffer == nullptr || buffer_chars <= 0) return 0;
    buffer[0] = 0;
    for (const StringResource &resource : kStrings) {
        if (resource.id != id) continue;
        size_t length = std::strlen(resource.text);
        if (length > static_cast<size_t>(buffer_chars - 1))
            length = static_cast<size_t>(buffer_chars - 1);
        std::memcpy(buffer, resource.text, length);
        buffer[length] = 0;
        return static_cast<int>(length);
    }
    return 0;
}
