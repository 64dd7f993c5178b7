// What a command prints, and the two ways the tool prints it: name=value lines and JSON.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace tovarine_tool {

// JSON objects keep their members in the order the tool adds them.
using Json = nlohmann::ordered_json;

// A record section: four copies of record fields; an element copied from a field the reader
// left alone has no value of its own.
using Section = std::array<std::optional<int32_t>, 4>;

using Value = std::variant<int32_t, double, float, std::string, Section>;

struct Output {
    std::string name;
    Value value;
};

// Text as it may appear in a line of output: a backslash becomes "\\", a line feed "\n", a tab
// "\t", any other byte below 0x20 and 0x7f "\xNN" (two lowercase hex digits). Other bytes pass
// through, so UTF-8 text stays readable and no value can add a line of its own.
std::string EscapeText(std::string_view text);

// One JSON text on one line. Strings are written in UTF-8: valid UTF-8 passes through as
// characters, each byte that is not part of valid UTF-8 becomes U+FFFD; quotes, backslashes and
// control characters are escaped as JSON requires.
std::string DumpJson(const Json &json);

// The text on the end of `out`; throws std::runtime_error when it cannot be written.
void Put(std::FILE *out, std::string_view text);

// One value as WriteText and ToJson write it (text escaped as EscapeText does).
std::string ValueText(const Value &value);
Json ValueJson(const Value &value);

// One "name=value" line per output, both sides escaped as EscapeText does. Numbers in their
// shortest form that reads back to the same value ("inf", "-inf", "nan" when not finite); a
// section as four comma-separated elements, "-" for one without a value.
void WriteText(std::FILE *out, const std::vector<Output> &outputs);

// The outputs as one JSON object, a member per output: text a string, a number a JSON number
// (one that is not finite the string "inf", "-inf" or "nan"), a section an array with null for
// an element without a value.
Json ToJson(const std::vector<Output> &outputs);

// ToJson's object on one line.
void WriteJson(std::FILE *out, const std::vector<Output> &outputs);

}  // namespace tovarine_tool
