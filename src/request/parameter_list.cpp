// Building, searching and releasing a request's parameter list, by the walk the readers use.
#include "request/parameter_list.h"

#include <cstring>
#include <limits>

#include "module/text.h"
#include "platform/platform.h"
#include "request/reader_fields.h"
#include "tovarine.h"

namespace tovarine {

// The list lives in one zero-filled local-heap block: the names array, the values array, then
// every name and value string with its NUL. Releasing the names array releases all of it.
int32_t BuildParameterList(const char *text, int32_t *count_out, char ***names_out,
                           char ***values_out) {
    *count_out = 0;
    *names_out = nullptr;
    *values_out = nullptr;

    // A first walk finds the part's end and its "&"; one slot more than there are "&", the
    // leading ones included.
    const WalkEnd part = ForEachParameter(text, [](const Parameter &) { return true; });
    const char *const part_end = part.end;
    if (part.ampersands >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) return 0;
    const auto count = static_cast<int32_t>(part.ampersands + 1);

    const char *start = text;
    while (start != part_end && (*start == '?' || *start == '&')) ++start;

    // Each pair's name and value with their NULs take the parameter's characters plus one (its
    // "=" makes room for one NUL), so the parameter part plus one byte holds them all.
    const size_t string_bytes = static_cast<size_t>(part_end - start) + 1;
    const size_t array_bytes = 2 * static_cast<size_t>(count) * sizeof(char *);
    if (string_bytes > std::numeric_limits<size_t>::max() - array_bytes) return 0;
    void *block = LocalAlloc(LMEM_ZEROINIT, array_bytes + string_bytes);
    if (block == nullptr) return 0;  // no local memory: the list has no parameters

    auto **names = static_cast<char **>(block);
    char **values = names + count;
    char *strings = reinterpret_cast<char *>(values + count);
    int32_t slot = 0;
    ForEachParameter(text, [&](const Parameter &p) {
        if (p.equals == nullptr) return true;
        const auto name_length = static_cast<size_t>(p.equals - p.name);
        const auto value_length = static_cast<size_t>(p.end - p.equals - 1);
        std::memcpy(strings, p.name, name_length);
        names[slot] = strings;
        strings += name_length + 1;
        std::memcpy(strings, p.equals + 1, value_length);
        values[slot] = strings;
        strings += value_length + 1;
        text::DecodeValue(values[slot], value_length);
        ++slot;
        return true;
    });

    *count_out = count;
    *names_out = names;
    *values_out = values;
    return 0;
}

int32_t ReleaseParameterList(int32_t count, char **names, char **values) {
    // The strings and the values array live in the names array's block.
    (void)count;
    (void)values;
    LocalFree(names);
    return 0;
}

const char *ParameterList::Find(const char *name) const {
    // Pairs fill the slots from 0 upward and every slot after the last one is empty, so the
    // search ends at the first empty slot with the same result as the exported lookup.
    // Each value follows its name's NUL in the list's block, so a name's length is known without
    // reading it: compare lengths first, then the bytes.
    const size_t length = std::strlen(name);
    for (int32_t i = 0; i < count_ && names_[i] != nullptr; ++i) {
        if (static_cast<size_t>(values_[i] - names_[i]) == length + 1 &&
            std::memcmp(names_[i], name, length) == 0) {
            return values_[i];
        }
    }
    return nullptr;
}

}  // namespace tovarine
