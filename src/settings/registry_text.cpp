// The text values of one open registry key, read in one enumeration.
#include "settings/registry_text.h"

#include <cstdint>
#include <cstring>

#include "module/text.h"
#include "settings/settings_root.h"

namespace tovarine {
namespace {

// Names up to this many characters and data up to this many bytes (less the NUL kept back) are
// read into buffers on the stack; longer ones into local memory of their size.
constexpr DWORD kShortChars = 256;

// Whether two names are the same name to the registry: ASCII letters in either case are.
bool SameName(const char *a, const char *b) { return text::EqualIgnoringCase(a, b); }

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
    slots_ = 0;
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
            // The same value again with room for it: for its data when that is what did not
            // fit, else for the longest name. A value that keeps growing is passed over.
            bool retry = false, grown = false;
            if (++attempts <= 4) {
                if (bytes >= data.bytes() && bytes < 0x7FFFFFFFu) {
                    retry = true;
                    grown = data.Grow(bytes + 1);
                } else if (name.bytes() < kValueNameChars) {
                    retry = true;
                    grown = name.Grow(kValueNameChars);
                }
            }
            if (retry && !grown) {
                Clear();
                return false;
            }
            if (!retry) {
                ++index;
                attempts = 0;
            }
            continue;
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
    // An open-addressing table at most half full, of entry positions plus one (0: empty).
    slots_ = 4;
    while (slots_ < 2 * count) slots_ *= 2;
    index_ = static_cast<size_t *>(LocalAlloc(LMEM_ZEROINIT, slots_ * sizeof(size_t)));
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
    for (size_t at = 0, placed = 0; placed < count; ++placed, at = next(next(at))) {
        size_t *slot = Slot(entries + at);
        *slot = at + 1;  // of two names that differ only in letter case, the later one is kept
    }
    return true;
}

size_t *StoredTexts::Slot(const char *name) const {
    const char *entries = entries_.c_str();
    uint32_t hash = 2166136261u;  // FNV-1a over the upper-cased name
    for (const char *c = name; *c != 0; ++c) {
        hash = (hash ^ static_cast<unsigned char>(text::AsciiUpper(*c))) * 16777619u;
    }
    for (size_t i = hash & (slots_ - 1);; i = (i + 1) & (slots_ - 1)) {
        if (index_[i] == 0 || SameName(entries + index_[i] - 1, name)) return &index_[i];
    }
}

const char *StoredTexts::Find(const char *name) const {
    if (name == nullptr || index_ == nullptr) return nullptr;
    const size_t at = *Slot(name);
    if (at == 0) return nullptr;
    const char *entry = entries_.c_str() + at - 1;
    return entry + std::strlen(entry) + 1;
}

}  // namespace tovarine
