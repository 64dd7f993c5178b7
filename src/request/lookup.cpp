// The exported lookup over a parameter list a host holds. It lives apart from the list's
// building so that tools can build lists from the library's own code without a second copy of
// an export.
#include <cstring>

#include "tovarine.h"

extern "C" char *f385562(const char *name, int32_t count, char **names, char **values) {
    if (name == nullptr || names == nullptr || values == nullptr) return nullptr;
    for (int32_t i = 0; i < count; ++i) {
        if (names[i] != nullptr && std::strcmp(names[i], name) == 0) return values[i];
    }
    return nullptr;
}
