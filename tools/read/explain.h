// Why a reader used, ignored or cut each parameter of a request text. The explanation is made
// by the library's own request code: its parameter walk and parameter list, its field tables and
// their first-wins lookup, its field reader for the values written, and the live reader's header
// scan. Nothing here restates those rules.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "report.h"

namespace tovarine_tool {

// A reader as the explanation knows it: its kind on the command line, the library's field table
// and the tool's name for each field's output, in table order.
struct ReaderRules;
const ReaderRules *FindReaderRules(std::string_view kind);

enum class Fate {
    kUsed,     // fed an output
    kCut,      // fed a text output, longer than its buffer
    kIgnored,  // fed nothing
};

enum class Reason {
    kNone,
    kNotRead,      // not a name this reader reads
    kRepeated,     // the same name met earlier: the first one wins
    kOtherCase,    // a name this reader reads, in other letter case (names are case-sensitive)
    kNoPair,       // no "=": not a pair
    kAfterBlank,   // after the first blank: not part of the parameter part
    kNoMediaType,  // the media type's value begins with neither "A"/"a" nor "V"/"v"
};

const char *FateName(Fate fate);        // used, cut, ignored
const char *ReasonName(Reason reason);  // not-read, repeated, other-case, no-pair, ...

struct ParameterFate {
    size_t index = 0;  // among the parameters, from 0
    std::string raw;   // as written
    bool pair = false;
    std::string name, raw_value, value;  // pairs in the parameter part; value decoded
    Fate fate = Fate::kIgnored;
    Reason reason = Reason::kNone;
    std::string output;            // used and cut: the output fed
    std::optional<Value> written;  // used and cut: the value written
    std::string reads;             // other case: the name the reader reads
    size_t first = 0;              // repeated: the index of the parameter that won
    size_t length = 0, kept = 0;   // cut: the decoded value's length and the length written
};

// The live reader's header scan.
struct ClientScan {
    bool mozilla = false;
    bool found = false;              // a word beginning with "User-Agent:" was found
    size_t line_number = 0;          // of the text, from 1: the line holding that word
    std::string line, header, word;  // that line, the word, the word after it
};

struct Explanation {
    std::vector<ParameterFate> parameters;
    std::optional<ClientScan> client;  // the live reader only
};

// Explains what the reader of `rules` does with `text`. Throws std::runtime_error when local
// memory for the parameter list or a long value cannot be had.
Explanation Explain(const ReaderRules &rules, const char *text);

}  // namespace tovarine_tool
