// The capture forms of "read" on any input, and the text they hand over through --explain's walk
// of every reader. Checked on every input:
//  - the empty lines counted before the capture are there; the query form hands the input less
//    one line end; a URL or a path?query hands its query from "?" (a URL's without its
//    fragment); a request line with a version hands a tail of the input;
//  - every reader's explanation of that text (cut at a NUL, as a server sees it) agrees with
//    what the reader's export writes: each output fed by exactly one parameter, with the value
//    the export wrote, and the outputs no parameter fed left untouched;
//  - a repeated name points back to the parameter that won, a cut value was longer than what
//    was kept.
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "explain.h"
#include "reader_outputs.h"
#include "request_text.h"
#include "tovarine.h"

namespace {

using namespace tovarine_tool;

const std::string *g_text = nullptr;  // the text handed over, for the report

[[noreturn]] void Fail(const char *what, int line) {
    std::fprintf(stderr, "capture_forms_fuzzer.cpp:%d: %s\n", line, what);
    if (g_text != nullptr) std::fprintf(stderr, "  text: \"%.300s\"\n", g_text->c_str());
    std::abort();
}
#define CHECK(condition) ((condition) ? void() : Fail(#condition, __LINE__))

using namespace reader_outputs;

// What the explanation says was written, with the client flag as the live reader's output.
Written FromExplanation(const Explanation &explanation) {
    Written out;
    const auto &parameters = explanation.parameters;
    for (size_t i = 0; i < parameters.size(); ++i) {
        const ParameterFate &p = parameters[i];
        CHECK(p.index == i);
        if (p.reason == Reason::kRepeated) {
            CHECK(p.first < i && parameters[p.first].name == p.name);
            CHECK(parameters[p.first].reason != Reason::kRepeated);
        }
        if (p.fate == Fate::kIgnored) {
            CHECK(!p.written.has_value());
            continue;
        }
        CHECK(out.count(p.output) == 0);  // one parameter feeds an output
        CHECK(p.written.has_value() && !std::holds_alternative<Section>(*p.written));
        std::visit(
            [&](const auto &v) {
                if constexpr (!std::is_same_v<std::decay_t<decltype(v)>, Section>)
                    out[p.output] = BitsOf(v);
            },
            *p.written);
        if (p.fate == Fate::kCut) CHECK(p.length > p.kept);
    }
    if (explanation.client && explanation.client->mozilla) out["mozilla"] = BitsOf(int32_t{1});
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    Capture capture = Recognise(input);

    size_t skipped = 0;
    for (size_t n = 0; n < capture.blank_lines; ++n) {
        const size_t end = input.substr(skipped).starts_with("\r\n") ? 2 : 1;
        CHECK(skipped + end <= input.size() && input[skipped + end - 1] == '\n');
        skipped += end;
    }
    const std::string_view text = capture.text;
    switch (capture.form) {
        case Form::kQuery: {
            std::string_view whole = input;
            if (whole.ends_with("\r\n"))
                whole.remove_suffix(2);
            else if (whole.ends_with('\n'))
                whole.remove_suffix(1);
            CHECK(text == whole);
            break;
        }
        case Form::kUrl:
            CHECK(text.empty() || (text[0] == '?' && input.find(text) != std::string_view::npos));
            CHECK(text.find('#') == std::string_view::npos);
            break;
        case Form::kPathQuery:
            CHECK(!text.empty() && text[0] == '?' && input.find(text) != std::string_view::npos);
            break;
        case Form::kRawRequest:
        case Form::kRequestLine:
            if (!capture.version.empty()) CHECK(input.ends_with(text));
            break;
        case Form::kCommonLog:
        case Form::kCombinedLog:
            break;
    }

    // The readers see the text up to a NUL, as a server hands it.
    std::string handed(text.substr(0, text.find('\0')));
    g_text = &handed;
    for (const char *kind : {"live", "stream", "camera", "clip"}) {
        const Explanation explanation = Explain(*FindReaderRules(kind), handed.c_str());
        CHECK(explanation.client.has_value() == (std::string_view(kind) == "live"));
        if (FromExplanation(explanation) !=
            RunExport(kind, handed.c_str(), [](int32_t rc) { CHECK(rc == 0); })) {
            std::fprintf(stderr, "reader: %s\n", kind);
            Fail("the explanation and the reader's export disagree", __LINE__);
        }
    }
    g_text = nullptr;
    return 0;
}
