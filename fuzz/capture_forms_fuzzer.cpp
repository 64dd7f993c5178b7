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

// An output by its bits, so that NaNs and signed zeros count.
using Written = std::map<std::string, std::string>;
std::string Bits(int32_t v) { return "i" + std::to_string(v); }
std::string Bits(double v) { return "d" + std::to_string(std::bit_cast<uint64_t>(v)); }
std::string Bits(float v) { return "f" + std::to_string(std::bit_cast<uint32_t>(v)); }
std::string Bits(const std::string &v) { return "s" + v; }

// Two runs with different presets: an output holding the same value after both was written.
template <class T>
void Preset(T &v, int run) {
    if constexpr (std::is_same_v<T, int32_t>)
        v = run ? INT32_MAX : INT32_MIN;
    else if constexpr (std::is_same_v<T, double>)
        v = std::bit_cast<double>(run ? 0x7ff8000000000002ULL : 0x7ff8000000000001ULL);
    else if constexpr (std::is_same_v<T, float>)
        v = std::bit_cast<float>(run ? 0x7fc00002U : 0x7fc00001U);
    else
        std::memset(v, run ? 2 : 1, sizeof v);
}
template <class T>
void Collect(Written &out, const char *name, const T &a, const T &b) {
    if constexpr (std::is_array_v<T>) {
        const std::string first(a, strnlen(a, sizeof a));
        if (first == std::string(b, strnlen(b, sizeof b))) out[name] = Bits(first);
    } else if (Bits(a) == Bits(b)) {
        out[name] = Bits(a);
    }
}

struct Live {
    int32_t server, device;
    double framerate;
    int32_t timeout, mozilla, features, sendtime, sendstate, cpid, slide_show;
};
struct Stream {
    int32_t server, segment, channel, sendstate, timeout, features, sendtime, cpid;
};
struct Camera {
    char model[1024], camera[1024], device[1024], number[1024], speed[1024], command[1024],
        button[1024];
};

// clang-format off
#define EACH_LIVE(X) X(server) X(device) X(framerate) X(timeout) X(mozilla) X(features) \
    X(sendtime) X(sendstate) X(cpid) X(slide_show)
#define EACH_STREAM(X) X(server) X(segment) X(channel) X(sendstate) X(timeout) X(features) \
    X(sendtime) X(cpid)
#define EACH_CAMERA(X) X(model) X(camera) X(device) X(number) X(speed) X(command) X(button)
#define EACH_CLIP(X) X(media_kind) X(media_file) X(start_msec) X(stop_msec) X(burst) X(looping) \
    X(frame_rate) X(width) X(height) X(quality) X(segment) X(channel) X(features) X(send_time) \
    X(cpid)
// clang-format on
#define PRESET(f) Preset(r[run].f, run);
#define COLLECT(f) Collect(out, #f, r[0].f, r[1].f);

Written RunExport(std::string_view kind, const char *text) {
    Written out;
    if (kind == "live") {
        auto r = std::make_unique<Live[]>(2);
        for (int run = 0; run < 2; ++run) {
            EACH_LIVE(PRESET)
            Live &o = r[run];
            CHECK(f3121538644(text, &o.server, &o.device, &o.framerate, &o.timeout, &o.mozilla,
                              &o.features, &o.sendtime, &o.sendstate, &o.cpid, &o.slide_show) == 0);
        }
        EACH_LIVE(COLLECT)
    } else if (kind == "stream") {
        auto r = std::make_unique<Stream[]>(2);
        for (int run = 0; run < 2; ++run) {
            EACH_STREAM(PRESET)
            Stream &o = r[run];
            CHECK(f373279(text, &o.server, &o.segment, &o.channel, &o.sendstate, &o.timeout,
                          &o.features, &o.sendtime, &o.cpid) == 0);
        }
        EACH_STREAM(COLLECT)
    } else if (kind == "camera") {
        auto r = std::make_unique<Camera[]>(2);
        for (int run = 0; run < 2; ++run) {
            EACH_CAMERA(PRESET)
            Camera &o = r[run];
            CHECK(f3221538674(text, o.model, o.camera, o.device, o.number, o.speed, o.command,
                              o.button) == 0);
        }
        EACH_CAMERA(COLLECT)
    } else {
        auto r = std::make_unique<MediaRequest[]>(2);
        for (int run = 0; run < 2; ++run) {
            EACH_CLIP(PRESET)
            CHECK(f39260000417E(text, &r[run]) == 0);
        }
        EACH_CLIP(COLLECT)
    }
    return out;
}

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
                    out[p.output] = Bits(v);
            },
            *p.written);
        if (p.fate == Fate::kCut) CHECK(p.length > p.kept);
    }
    if (explanation.client && explanation.client->mozilla) out["mozilla"] = Bits(int32_t{1});
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
        if (FromExplanation(explanation) != RunExport(kind, handed.c_str())) {
            std::fprintf(stderr, "reader: %s\n", kind);
            Fail("the explanation and the reader's export disagree", __LINE__);
        }
    }
    g_text = nullptr;
    return 0;
}
