// A growing text in local memory, for the settings' message texts and key paths. Appending
// never fails silently: once memory cannot be had the text is marked failed and stays so.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/platform.h"

namespace tovarine {

class LocalText {
public:
    LocalText() = default;
    ~LocalText() { LocalFree(data_); }
    LocalText(const LocalText &) = delete;
    LocalText &operator=(const LocalText &) = delete;

    LocalText &Append(const char *text) { return Append(text, std::strlen(text)); }
    LocalText &Append(const char *text, size_t length) {
        if (char *at = Extend(length)) std::memcpy(at, text, length);
        return *this;
    }
    LocalText &AppendNumber(long long value);

    // Room for `length` more characters at the end; the caller fills them. Null on failure.
    char *Extend(size_t length);

    const char *c_str() const { return data_ != nullptr ? data_ : ""; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool failed() const { return failed_; }
    void Clear() {
        size_ = 0;
        if (data_ != nullptr) data_[0] = 0;
    }

private:
    char *data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;  // bytes of data_, the NUL included
    bool failed_ = false;
};

}  // namespace tovarine
