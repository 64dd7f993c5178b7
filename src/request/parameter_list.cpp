// Building, searching and releasing a request's parameter list.
#include "request/parameter_list.h"

#include <cstring>
#include <limits>

#include "module/helpers.h"
#include "platform/platform.h"
#include "tovarine.h"

namespace tovarine {
namespace {

// A new zero-filled string block holding `length` characters of `from` and a NUL.
char *CopyText(const char *from, size_t length) {
    auto *copy = static_cast<char *>(LocalAlloc(LMEM_ZEROINIT, length + 1));
    if (copy != nullptr) std::memcpy(copy, from, length);
    return copy;
}

const char *FindLast(const char *begin, const char *end, char c) {
    for (const char *p = end; p != begin;) {
        if (*--p == c) return p;
    }
    return nullptr;
}

}  // namespace

int32_t BuildParameterList(const char *text, int32_t *count_out, char ***names_out,
                           char ***values_out) {
    *count_out = 0;
    *names_out = nullptr;
    *values_out = nullptr;

    // The parameter part ends at the first blank; tab, CR and LF are ordinary characters.
    const char *const part_end = text + std::strcspn(text, " ");

    // One slot more than there are "&", the leading ones included.
    size_t ampersands = 0;
    for (const char *p = text; (p = static_cast<const char *>(
                                    std::memchr(p, '&', static_cast<size_t>(part_end - p)))) != nullptr;
         ++p) {
        ++ampersands;
    }
    if (ampersands >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
    const auto count = static_cast<int32_t>(ampersands + 1);
    const size_t array_bytes = static_cast<size_t>(count) * sizeof(char *);

    auto **names = static_cast<char **>(LocalAlloc(LMEM_ZEROINIT, array_bytes));
    auto **values = static_cast<char **>(LocalAlloc(LMEM_ZEROINIT, array_bytes));
    if (names == nullptr || values == nullptr) {
        LocalFree(names);
        LocalFree(values);
        return 0;
    }

    const char *pos = text;
    while (pos != part_end && (*pos == '?' || *pos == '&')) ++pos;

    // Each parameter runs to the next "&". One with "=" is a pair: the name is everything
    // before its last "=", the value everything after it. Finding the last "=" first keeps a
    // parameter of many "=" linear.
    int32_t slot = 0;
    while (pos < part_end) {
        const auto *amp =
            static_cast<const char *>(std::memchr(pos, '&', static_cast<size_t>(part_end - pos)));
        const char *const param_end = amp != nullptr ? amp : part_end;
        const char *const equals = FindLast(pos, param_end, '=');
        if (equals != nullptr) {
            char *name = CopyText(pos, static_cast<size_t>(equals - pos));
            char *value = name == nullptr ? nullptr
                                          : CopyText(equals + 1,
                                                     static_cast<size_t>(param_end - equals - 1));
            if (value == nullptr) {
                // Out of local memory: the list is treated as having no parameters.
                LocalFree(name);
                ReleaseParameterList(count, names, values);
                return 0;
            }
            helpers::DecodeValue(value, static_cast<size_t>(param_end - equals - 1));
            names[slot] = name;
            values[slot] = value;
            ++slot;
        }
        pos = param_end + 1;
    }

    *count_out = count;
    *names_out = names;
    *values_out = values;
    return 0;
}

int32_t ReleaseParameterList(int32_t count, char **names, char **values) {
    for (int32_t i = 0; i < count; ++i) {
        if (names != nullptr) LocalFree(names[i]);
        if (values != nullptr) LocalFree(values[i]);
    }
    LocalFree(names);
    LocalFree(values);
    return 0;
}

const char *ParameterList::Find(const char *name) const {
    return f385562(name, count_, names_, values_);
}

}  // namespace tovarine

extern "C" char *f385562(const char *name, int32_t count, char **names, char **values) {
    if (name == nullptr || names == nullptr || values == nullptr) return nullptr;
    for (int32_t i = 0; i < count; ++i) {
        if (names[i] != nullptr && std::strcmp(names[i], name) == 0) return values[i];
    }
    return nullptr;
}
