// The text values of one open registry key, read in one enumeration.
#include "settings/registry_text.h"

#include <algorithm>
#include <cstring>

#include "settings/settings_root.h"

namespace tovarine {
namespace {

// Names up to this many characters and data up to this many bytes (less the NUL kept back) are
// read into buffers on the stack; longer ones into local memory of their size.
constexpr DWORD kShortChars = 256;

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Compares two names as the registry does: ASCII letters in either case are the same.
int CompareNames(const char *a, const char *b) {
    for (;; ++a, ++b) {
        const auto x = static_cast<unsigned char>(Upper(*a));
        const auto y = static_cast<unsigned char>(Upper(*b));
        if (x != y) return x < y ? -1 : 1;
        if (x == 0) return 0;
    }
}

// A buffer on the stack that can be replaced by a larger one in local memory, released when it
// goes out of scope.
template <DWORD kStackBytes>
class GrowableBuffer {
public:
    GrowableBuffer() = default;
    ~GrowableBuffer() { LocalFree(heap_); }
    GrowableBuffer(const GrowableBuffer &) = delete;
    GrowableBuffer &operator=(const GrowableBuffer &) = delete;

    BYTE *data() { return heap_ != nullptr ? heap_ : stack_; }
    DWORD bytes() const { return bytes_; }
    // Replaces the buffer by one of `bytes` bytes; false, leaving it as it was, when none can be
    // had.
    bool Grow(DWORD bytes) {
        auto *grown = static_cast<BYTE *>(LocalAlloc(LMEM_FIXED, bytes));
        if (grown == nullptr) return false;
        LocalFree(heap_);
        heap_ = grown;
        bytes_ = bytes;
        return true;
    }

private:
    BYTE stack_[kStackBytes];
    BYTE *heap_ = nullptr;
    DWORD bytes_ = kStackBytes;
};

}  // namespace

void StoredTexts::Clear() {
    entries_.Clear();
    LocalFree(index_);
    index_ = nullptr;
    count_ = 0;
}

bool StoredTexts::Read(HKEY key) {
    Clear();
    GrowableBuffer<kShortChars> name;
    GrowableBuffer<kShortChars> data;
    int attempts = 0;  // reads of the current value that found it larger than the buffer
    size_t count = 0;
    for (DWORD index = 0;;) {
        DWORD name_chars = name.bytes();
        DWORD type = REG_NONE;
        // One byte is kept back so that a text stored without its NUL still ends in one.
        DWORD bytes = data.bytes() - 1;
        const LONG rc = RegEnumValueA(key, index, reinterpret_cast<char *>(name.data()),
                                      &name_chars, nullptr, &type, data.data(), &bytes);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_MORE_DATA) {
            bool grown = false, passed_over = ++attempts > 4;
            if (passed_over) {
            } else if (bytes >= data.bytes() && bytes < 0x7FFFFFFFu) {
                grown = data.Grow(bytes + 1);  // the data did not fit: room for it
            } else if (name.bytes() < kValueNameChars) {
                grown = name.Grow(kValueNameChars);  // the name did not: room for the longest
            } else {
                passed_over = true;
            }
            if (passed_over) {  // a value that keeps growing, or will not fit: passed over
                ++index;
                attempts = 0;
                continue;
            }
            if (!grown) {
                Clear();
                return false;
            }
            continue;  // the same value again, with room for it
        }
        if (rc != ERROR_SUCCESS) {
            Clear();
            return false;
        }
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            const char *value_name = reinterpret_cast<const char *>(name.data());
            data.data()[bytes] = 0;
            const char *text = reinterpret_cast<const char *>(data.data());
            const size_t name_length = std::strlen(value_name);
            const size_t text_length = std::strlen(text);
            if (char *at = entries_.Extend(name_length + 1 + text_length + 1)) {
                std::memcpy(at, value_name, name_length + 1);
                std::memcpy(at + name_length + 1, text, text_length + 1);
            }
            ++count;
        }
        ++index;
        attempts = 0;
    }
    if (entries_.failed()) {
        Clear();
        return false;
    }
    if (count == 0) return true;
    index_ = static_cast<size_t *>(LocalAlloc(LMEM_FIXED, count * sizeof(size_t)));
    if (index_ == nullptr) {
        Clear();
        return false;
    }
    const char *entries = entries_.c_str();
    const size_t size = entries_.size();
    // Past the NUL that ends the name or text at `at`.
    const auto next = [entries, size](size_t at) {
        return static_cast<size_t>(
                   static_cast<const char *>(std::memchr(entries + at, 0, size - at)) - entries) +
               1;
    };
    for (size_t at = 0; count_ < count; ++count_) {
        index_[count_] = at;
        at = next(next(at));
    }
    std::sort(index_, index_ + count_, [entries](size_t a, size_t b) {
        const int order = CompareNames(entries + a, entries + b);
        return order != 0 ? order < 0 : a < b;
    });
    return true;
}

const char *StoredTexts::Find(const char *name) const {
    if (name == nullptr || count_ == 0) return nullptr;
    const char *entries = entries_.c_str();
    // The last entry whose name is not after `name`.
    const size_t *end = std::upper_bound(
        index_, index_ + count_, name,
        [entries](const char *n, size_t at) { return CompareNames(n, entries + at) < 0; });
    if (end == index_) return nullptr;
    const char *entry = entries + end[-1];
    if (CompareNames(name, entry) != 0) return nullptr;
    return entry + std::strlen(entry) + 1;
}

}  // namespace tovarine
