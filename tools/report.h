// What a reader wrote, and the two ways the tool prints it.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace tovarine_tool {

// A record section: four copies of record fields; an element copied from a field the reader
// left alone has no value of its own.
using Section = std::array<std::optional<int32_t>, 4>;

using Value = std::variant<int32_t, double, float, std::string, Section>;

struct Output {
    std::string name;
    Value value;
};

// One "name=value" line per output. Text is written as it is; numbers in their shortest form
// that reads back to the same value ("inf", "-inf", "nan" when not finite); a section as four
// comma-separated elements, "-" for one without a value.
void WriteText(std::FILE *out, const std::vector<Output> &outputs);

// One JSON object on one line. Text becomes a JSON string with every byte below 0x20, 0x7f and
// every byte from 0x80 up written as \u00XX (each byte one character); a number that is not
// finite becomes the string "inf", "-inf" or "nan"; a section an array with null for an element
// without a value.
void WriteJson(std::FILE *out, const std::vector<Output> &outputs);

}  // namespace tovarine_tool
