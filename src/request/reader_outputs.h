// Small helpers shared by the readers: write an output only when its parameter is present and
// the host gave somewhere to write it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "request/parameter_list.h"

namespace tovarine {

inline void StoreInteger(const ParameterList &list, const char *name, int32_t *out) {
    if (const char *value = list.Find(name); value != nullptr && out != nullptr) {
        *out = ConvertInteger(value);
    }
}

inline void StoreDecimal(const ParameterList &list, const char *name, double *out) {
    if (const char *value = list.Find(name); value != nullptr && out != nullptr) {
        *out = ConvertDecimal(value);
    }
}

// Seconds in the request, milliseconds for the host.
inline void StoreTimeout(const ParameterList &list, const char *name, int32_t *out) {
    if (const char *value = list.Find(name); value != nullptr && out != nullptr) {
        *out = SaturatingMultiply(ConvertInteger(value), 1000);
    }
}

// Copies the value verbatim into a host buffer of `capacity` bytes: at most capacity - 1
// characters and a NUL.
inline void StoreText(const ParameterList &list, const char *name, char *out, size_t capacity) {
    if (const char *value = list.Find(name); value != nullptr && out != nullptr) {
        size_t length = 0;
        while (length + 1 < capacity && value[length] != 0) ++length;
        std::memcpy(out, value, length);
        out[length] = 0;
    }
}

}  // namespace tovarine
