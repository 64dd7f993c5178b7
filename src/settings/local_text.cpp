#include "settings/local_text.h"

#include <cstdint>

namespace tovarine {

char *LocalText::Extend(size_t length) {
    if (failed_) return nullptr;
    if (length > SIZE_MAX / 2 - size_ - 1) {
        failed_ = true;
        return nullptr;
    }
    const size_t needed = size_ + length + 1;
    if (needed > capacity_) {
        size_t capacity = capacity_ < 128 ? 128 : capacity_;
        while (capacity < needed) capacity *= 2;
        auto *grown = static_cast<char *>(LocalAlloc(LMEM_ZEROINIT, capacity));
        if (grown == nullptr) {
            failed_ = true;
            return nullptr;
        }
        if (data_ != nullptr) std::memcpy(grown, data_, size_);
        LocalFree(data_);
        data_ = grown;
        capacity_ = capacity;
    }
    char *at = data_ + size_;
    size_ += length;
    data_[size_] = 0;
    return at;
}

LocalText &LocalText::AppendNumber(long long value) {
    char digits[24];
    size_t count = 0;
    unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value)
                                             : static_cast<unsigned long long>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) Append("-", 1);
    while (count != 0) Append(&digits[--count], 1);
    return *this;
}

}  // namespace tovarine
