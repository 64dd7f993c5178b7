// The numeric conversions the readers apply to parameter values. Each reads exactly its grammar,
// independent of the process's locale.
#pragma once

#include <cstdint>

#include "module/text.h"

namespace tovarine {

// The integer conversion is the module's, shared with the integer codec.
using text::ConvertInteger;

// Decimal conversion: leading white space, optional sign, digits with an optional "." (digits
// on at least one side), an optional exponent (e, E, d or D, optional sign, digits). No number
// gives 0.0; beyond the range of a double gives an infinity, underflow a zero of that sign.
// The text must be writable: a "d" exponent letter is read as "e" by changing it for the length
// of the call; the text is as it was on return. Allocates nothing, so it cannot fail.
double ConvertDecimal(char *value);

// Saturating product, used for the time-out (seconds to milliseconds).
int32_t SaturatingMultiply(int32_t value, int32_t factor);

// The 32-bit value nearest to `value`; infinity beyond the range of a float.
float NarrowToFloat(double value);

}  // namespace tovarine
