// A request's parameters as a list, the pairs found by the walk of request/reader_fields.h:
// count slots, with a name array and a value array of count pointers each, and every name and
// value string, all in one zero-filled local-heap block that the list owns (the names array is
// its start). The readers do not build it; the lookup export's tests and tools use it.
#pragma once

#include <cstdint>

namespace tovarine {

// Splits the parameter part of `text` (up to the first blank) into name and value pairs and
// stores the new list through the three outputs. Values are decoded; names are not. When local
// memory cannot be had the list is empty: count 0 and both arrays null. Returns 0.
int32_t BuildParameterList(const char *text, int32_t *count, char ***names, char ***values);

// Frees every string of the list and both arrays. Returns 0.
int32_t ReleaseParameterList(int32_t count, char **names, char **values);

// Owns the list of one text from its construction to its destruction. The readers never build
// one: the tool's explanation and the tests do.
class ParameterList {
public:
    explicit ParameterList(const char *text) {
        BuildParameterList(text, &count_, &names_, &values_);
    }
    ~ParameterList() { ReleaseParameterList(count_, names_, values_); }
    ParameterList(const ParameterList &) = delete;
    ParameterList &operator=(const ParameterList &) = delete;

    // The first value whose name equals `name`, or null.
    const char *Find(const char *name) const;

    int32_t count() const { return count_; }
    char **names() const { return names_; }
    char **values() const { return values_; }

private:
    int32_t count_ = 0;
    char **names_ = nullptr;
    char **values_ = nullptr;
};

}  // namespace tovarine
