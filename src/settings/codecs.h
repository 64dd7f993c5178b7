// The value codecs of the settings: for each type code, how a value is parsed from its stored
// text, compared, assigned and formatted back to text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tovarine {

struct ValueCodec {
    // Converts stored text into the zero-filled scratch value of `size` bytes.
    void (*parse)(const char *text, void *scratch, int16_t size);
    // Nonzero when the two values differ.
    int (*differs)(const void *scratch, const void *variable, int16_t size);
    // Copies the scratch value into the host's variable.
    void (*assign)(void *variable, const void *scratch, int16_t size);
    // Characters that format writes for `value`, not counting the NUL.
    size_t (*formatted_length)(const void *value, int16_t size);
    // Writes the text form and a NUL at `destination` (room for formatted_length + 1 bytes);
    // returns the characters written, not counting the NUL. parse reads every text it writes
    // back to an equal value.
    size_t (*format)(char *destination, const void *value, int16_t size);
};

// The codec of a type code (1 text, 3 bytes, 4 signed 32-bit integer), or null when the code
// has none or `size` is below what the codec needs (4 bytes for type 4, 1 for types 1 and 3).
const ValueCodec *CodecFor(int16_t type, int16_t size);

}  // namespace tovarine
