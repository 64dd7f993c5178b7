// The text values of one open registry key, read in one enumeration.
#include "settings/registry_text.h"

#include <cstring>
#include <memory>

namespace tovarine {
namespace {

constexpr DWORD kValueNameChars = 16384;  // the registry's value-name limit and its NUL
constexpr DWORD kFirstDataBytes = 256;

std::string Fold(const char *name) {
    std::string folded(name);
    for (char &c : folded) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return folded;
}

// A zero-filled local-heap block that is released when it goes out of scope.
class LocalBlock {
public:
    explicit LocalBlock(SIZE_T bytes)
        : data_(static_cast<BYTE *>(LocalAlloc(LMEM_ZEROINIT, bytes))), bytes_(bytes) {}
    ~LocalBlock() { LocalFree(data_); }
    LocalBlock(const LocalBlock &) = delete;
    LocalBlock &operator=(const LocalBlock &) = delete;
    BYTE *data() const { return data_; }
    SIZE_T bytes() const { return data_ != nullptr ? bytes_ : 0; }

private:
    BYTE *data_;
    SIZE_T bytes_;
};

}  // namespace

bool StoredTexts::Read(HKEY key) {
    texts_.clear();
    LocalBlock name(kValueNameChars);
    if (name.data() == nullptr) return false;
    std::unique_ptr<LocalBlock> data = std::make_unique<LocalBlock>(kFirstDataBytes);
    int attempts = 0;  // reads of the current value that found it larger than the buffer
    for (DWORD index = 0;;) {
        if (data->data() == nullptr) {
            texts_.clear();
            return false;
        }
        DWORD name_chars = kValueNameChars;
        DWORD type = REG_NONE;
        // One byte is kept back so that a text stored without its NUL still ends in one.
        DWORD bytes = static_cast<DWORD>(data->bytes() - 1);
        const LONG rc = RegEnumValueA(key, index, reinterpret_cast<char *>(name.data()),
                                      &name_chars, nullptr, &type, data->data(), &bytes);
        if (rc == ERROR_NO_MORE_ITEMS) return true;
        if (rc == ERROR_MORE_DATA && ++attempts <= 4 && bytes >= data->bytes() &&
            bytes < 0x7FFFFFFFu) {
            data = std::make_unique<LocalBlock>(static_cast<SIZE_T>(bytes) + 1);
            continue;  // the same value again, with room for it
        }
        if (rc != ERROR_SUCCESS) {
            if (rc == ERROR_MORE_DATA) {  // a value that keeps growing: passed over
                ++index;
                attempts = 0;
                continue;
            }
            texts_.clear();
            return false;
        }
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            const char *text = reinterpret_cast<const char *>(data->data());
            data->data()[bytes] = 0;
            texts_.insert_or_assign(Fold(reinterpret_cast<const char *>(name.data())),
                                    std::string(text, std::strlen(text)));
        }
        ++index;
        attempts = 0;
    }
}

const std::string *StoredTexts::Find(const char *name) const {
    if (name == nullptr) return nullptr;
    folded_.assign(name);
    for (char &c : folded_) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    const auto found = texts_.find(folded_);
    return found != texts_.end() ? &found->second : nullptr;
}

}  // namespace tovarine
