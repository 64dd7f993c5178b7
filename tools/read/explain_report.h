// How the tool prints an explanation: lines for a person, or one JSON object.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "explain.h"
#include "report.h"
#include "request_text.h"

namespace tovarine_tool {

// The explanation as lines: the form and the text handed over, one line per parameter
// ("#INDEX RAW: FATE ..."), and for the live reader one line on the client header. A text
// longer than 80 bytes shows its first 64 and its length.
std::string ExplanationText(const Capture &capture, const Explanation &explanation);

// The explanation as one JSON object:
//   {"reader": KIND, "form": FORM, "blank_lines": N, "text": HANDED,
//    "parameters": [{"index", "raw", then for pairs in the parameter part "name", "raw_value",
//                    "value" (decoded), "fate": "used"|"cut"|"ignored",
//                    used and cut: "output", "written"; cut: "length", "kept";
//                    ignored: "reason": "not-read"|"repeated"|"other-case"|"no-pair"|
//                    "after-blank"|"no-media-type"; repeated: "first"; other-case: "reads"}],
//    "client": {"mozilla", "found", and when found "line_number", "line", "header", "word"}
//              (live only),
//    "outputs": {the outputs the reader wrote, as --json prints them}}
// With a line number (--each), "line" comes first.
Json ExplanationJson(std::string_view kind, const Capture &capture, const Explanation &explanation,
                     const std::vector<Output> &outputs, std::optional<size_t> line = std::nullopt);

}  // namespace tovarine_tool
