// Value codecs. None of them touches more than `size` bytes of a variable or a scratch value.
#include "settings/codecs.h"

#include <cstring>

#include "module/text.h"

namespace tovarine {
namespace {

size_t Bytes(int16_t size) { return static_cast<size_t>(size); }

// ---- Type 1: a NUL-terminated string in a char array of `size` bytes ----

// The string's length, bounded by the array's room for characters: a host string that fills
// its array without a NUL counts as its first size - 1 characters, as parse would keep them.
size_t TextLength(const void *value, int16_t size) {
    const auto *text = static_cast<const char *>(value);
    const void *nul = std::memchr(text, 0, Bytes(size) - 1);
    return nul != nullptr ? static_cast<size_t>(static_cast<const char *>(nul) - text)
                          : Bytes(size) - 1;
}

void TextParse(const char *text, void *scratch, int16_t size) {
    const size_t length = strnlen(text, Bytes(size) - 1);
    std::memcpy(scratch, text, length);
    static_cast<char *>(scratch)[length] = 0;
}

int TextDiffers(const void *scratch, const void *variable, int16_t size) {
    const size_t a = TextLength(scratch, size);
    const size_t b = TextLength(variable, size);
    return a != b || std::memcmp(scratch, variable, a) != 0;
}

void TextAssign(void *variable, const void *scratch, int16_t size) {
    std::memcpy(variable, scratch, Bytes(size));
}

size_t TextFormat(char *destination, const void *value, int16_t size) {
    const size_t length = TextLength(value, size);
    std::memcpy(destination, value, length);
    destination[length] = 0;
    return length;
}

// ---- Type 3: `size` raw bytes, as 2*size lowercase hex digits ----

void BytesParse(const char *text, void *scratch, int16_t size) {
    auto *out = static_cast<unsigned char *>(scratch);
    for (size_t i = 0; i < Bytes(size); ++i) {
        const int hi = text[0] != 0 ? text::HexDigitValue(text[0]) : -1;
        const int lo = hi >= 0 ? text::HexDigitValue(text[1]) : -1;
        if (hi < 0 || lo < 0) return;  // the rest of the scratch value stays zero
        out[i] = static_cast<unsigned char>(hi * 16 + lo);
        text += 2;
    }
}

int BytesDiffers(const void *scratch, const void *variable, int16_t size) {
    return std::memcmp(scratch, variable, Bytes(size)) != 0;
}

void BytesAssign(void *variable, const void *scratch, int16_t size) {
    std::memcpy(variable, scratch, Bytes(size));
}

size_t BytesLength(const void *, int16_t size) { return 2 * Bytes(size); }

size_t BytesFormat(char *destination, const void *value, int16_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto *in = static_cast<const unsigned char *>(value);
    for (size_t i = 0; i < Bytes(size); ++i) {
        destination[2 * i] = kDigits[in[i] >> 4];
        destination[2 * i + 1] = kDigits[in[i] & 15];
    }
    destination[2 * Bytes(size)] = 0;
    return 2 * Bytes(size);
}

// ---- Type 4: a signed 32-bit integer in the first 4 bytes, in decimal ----

int32_t LoadInteger(const void *value) {
    int32_t n;
    std::memcpy(&n, value, sizeof n);
    return n;
}

void IntegerParse(const char *text, void *scratch, int16_t) {
    const int32_t n = text::ConvertInteger(text);
    std::memcpy(scratch, &n, sizeof n);
}

int IntegerDiffers(const void *scratch, const void *variable, int16_t) {
    return LoadInteger(scratch) != LoadInteger(variable);
}

void IntegerAssign(void *variable, const void *scratch, int16_t) {
    std::memcpy(variable, scratch, sizeof(int32_t));
}

size_t IntegerFormat(char *destination, const void *value, int16_t) {
    const int32_t n = LoadInteger(value);
    // Work on the magnitude as unsigned so that the minimum formats without overflow.
    uint32_t magnitude = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
    char digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    size_t length = 0;
    if (n < 0) destination[length++] = '-';
    while (count != 0) destination[length++] = digits[--count];
    destination[length] = 0;
    return length;
}

size_t IntegerLength(const void *value, int16_t size) {
    char text[12];
    return IntegerFormat(text, value, size);
}

constexpr ValueCodec kText{TextParse, TextDiffers, TextAssign, TextLength, TextFormat};
constexpr ValueCodec kBytes{BytesParse, BytesDiffers, BytesAssign, BytesLength, BytesFormat};
constexpr ValueCodec kInteger{IntegerParse, IntegerDiffers, IntegerAssign, IntegerLength,
                              IntegerFormat};

}  // namespace

const ValueCodec *CodecFor(int16_t type, int16_t size) {
    switch (type) {
        case 1:
            return size >= 1 ? &kText : nullptr;
        case 3:
            return size >= 1 ? &kBytes : nullptr;
        case 4:
            return size >= 4 ? &kInteger : nullptr;
        default:
            return nullptr;
    }
}

}  // namespace tovarine
