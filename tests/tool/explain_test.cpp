// The explanation of "read --explain" against what the readers' exports actually write, on the
// readers' fuzz corpus and on generated texts; and the capture forms the tool recognises.
#include <gtest/gtest.h>

#include <bit>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "explain.h"
#include "request_text.h"
#include "tovarine.h"

namespace tovarine_tool {
namespace {

// An output, compared by its bits, so that NaNs and signed zeros count.
struct Bits {
    std::string repr;
    bool operator==(const Bits &) const = default;
};
Bits BitsOf(int32_t v) { return {"i" + std::to_string(v)}; }
Bits BitsOf(double v) { return {"d" + std::to_string(std::bit_cast<uint64_t>(v))}; }
Bits BitsOf(float v) { return {"f" + std::to_string(std::bit_cast<uint32_t>(v))}; }
Bits BitsOf(const std::string &v) { return {"s" + v}; }
void PrintTo(const Bits &bits, std::ostream *out) { *out << bits.repr; }

using Written = std::map<std::string, Bits>;  // by the tool's output name

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
        if (first == std::string(b, strnlen(b, sizeof b))) out[name] = BitsOf(first);
    } else if (BitsOf(a) == BitsOf(b)) {
        out[name] = BitsOf(a);
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
#define EACH_LIVE(X)                                                                      \
    X(server) X(device) X(framerate) X(timeout) X(mozilla) X(features) X(sendtime) X(sendstate) \
    X(cpid) X(slide_show)
#define EACH_STREAM(X)                                                                      \
    X(server) X(segment) X(channel) X(sendstate) X(timeout) X(features) X(sendtime) X(cpid)
#define EACH_CAMERA(X) X(model) X(camera) X(device) X(number) X(speed) X(command) X(button)
#define EACH_CLIP(X)                                                                    \
    X(media_kind, media_kind) X(media_file, media_file) X(start_msec, start_msec)       \
    X(stop_msec, stop_msec) X(burst, burst) X(looping, looping) X(frame_rate, frame_rate) \
    X(width, width) X(height, height) X(quality, quality) X(segment, segment)           \
    X(channel, channel) X(features, features) X(send_time, send_time) X(cpid, cpid)
// clang-format on

Written RunExport(const std::string &kind, const char *text) {
    Written out;
#define PRESET(f) Preset(r[run].f, run);
#define COLLECT(f) Collect(out, #f, r[0].f, r[1].f);
    if (kind == "live") {
        auto r = std::make_unique<Live[]>(2);
        for (int run = 0; run < 2; ++run) {
            EACH_LIVE(PRESET)
            Live &o = r[run];
            f3121538644(text, &o.server, &o.device, &o.framerate, &o.timeout, &o.mozilla,
                        &o.features, &o.sendtime, &o.sendstate, &o.cpid, &o.slide_show);
        }
        EACH_LIVE(COLLECT)
    } else if (kind == "stream") {
        auto r = std::make_unique<Stream[]>(2);
        for (int run = 0; run < 2; ++run) {
            EACH_STREAM(PRESET)
            Stream &o = r[run];
            f373279(text, &o.server, &o.segment, &o.channel, &o.sendstate, &o.timeout, &o.features,
                    &o.sendtime, &o.cpid);
        }
        EACH_STREAM(COLLECT)
    } else if (kind == "camera") {
        auto r = std::make_unique<Camera[]>(2);
        for (int run = 0; run < 2; ++run) {
            EACH_CAMERA(PRESET)
            Camera &o = r[run];
            f3221538674(text, o.model, o.camera, o.device, o.number, o.speed, o.command, o.button);
        }
        EACH_CAMERA(COLLECT)
    } else {
        auto r = std::make_unique<MediaRequest[]>(2);
#define PRESET2(name, f) PRESET(f)
#define COLLECT2(name, f) Collect(out, #name, r[0].f, r[1].f);
        for (int run = 0; run < 2; ++run) {
            EACH_CLIP(PRESET2)
            f39260000417E(text, &r[run]);
        }
        EACH_CLIP(COLLECT2)
    }
    return out;
}

// What the explanation says was written, with the client flag as the live reader's output.
Written FromExplanation(const Explanation &explanation) {
    Written out;
    for (const ParameterFate &p : explanation.parameters) {
        if (p.fate == Fate::kIgnored) continue;
        EXPECT_EQ(out.count(p.output), 0u) << "two parameters fed " << p.output;
        std::visit(
            [&](const auto &v) {
                if constexpr (std::is_same_v<std::decay_t<decltype(v)>, Section>) {
                    ADD_FAILURE() << "a parameter fed a section";
                } else {
                    out[p.output] = BitsOf(v);
                }
            },
            *p.written);
        if (p.fate == Fate::kCut) {
            EXPECT_GT(p.length, p.kept);
        }
    }
    if (explanation.client && explanation.client->mozilla) out["mozilla"] = BitsOf(1);
    return out;
}

void ExpectAgreement(const std::string &text) {
    SCOPED_TRACE("text: \"" + text.substr(0, 200) + "\"");
    for (const char *kind : {"live", "stream", "camera", "clip"}) {
        const Explanation explanation = Explain(*FindReaderRules(kind), text.c_str());
        EXPECT_EQ(FromExplanation(explanation), RunExport(kind, text.c_str())) << kind;
    }
}

TEST(Explanation, AgreesWithTheReadersOnTheFuzzCorpus) {
    int files = 0;
    for (const auto &entry : std::filesystem::directory_iterator(READERS_CORPUS)) {
        std::ifstream in(entry.path(), std::ios::binary);
        std::stringstream data;
        data << in.rdbuf();
        const std::string bytes = data.str();
        ExpectAgreement(bytes.substr(0, bytes.find('\0')));  // the reader sees up to the NUL
        ++files;
    }
    EXPECT_GT(files, 5);
}

// Texts as the differential test makes them (random characters and words), and parameter
// parts built from the readers' names, their other-case forms, repeats, values long enough to
// be cut, and header blocks with and without a Mozilla client.
std::string Generate(std::mt19937 &rng) {
    static const char kAlphabet[] = "&&&===??%%  ++--..0123456789aAvVrReE\t\r\n";
    static const char *const kNames[] = {
        "server", "Server",   "timeout",  "TIMEOUT", "framerate", "channel",   "segment",
        "model",  "Model",    "camera",   "button",  "mediatype", "mediafile", "doburst",
        "cpid",   "features", "sendtime", "x",       "",          "server=a"};
    static const char *const kValues[] = {"1",     "-7",         "r",   "R9",   "video",
                                          "Audio", "%41",        "%00", "%2B+", "1e400",
                                          "",      "2147483648", "0.1"};
    static const char *const kHeaders[] = {"User-Agent:", "user-agent:x", "Mozilla/5.0", "mozilla",
                                           "curl/8",      "\r\n",         " ",           "\t",
                                           "timeout=3",   "HTTP/1.1",     "Host:"};
    std::string text;
    if (rng() % 3 == 0) {
        for (const size_t length = rng() % 61; text.size() < length;) {
            text += kAlphabet[rng() % (sizeof kAlphabet - 1)];
        }
        return text;
    }
    text = std::string(rng() % 3, "?&"[rng() % 2]);
    for (unsigned k = 0, count = rng() % 9; k < count; ++k) {
        if (k != 0) text += '&';
        text += kNames[rng() % std::size(kNames)];
        if (rng() % 10 == 0) continue;  // no pair
        text += '=';
        if (rng() % 12 == 0) {
            text += std::string(250 + rng() % 1100, "A%+"[rng() % 3]);
            if (text.back() == '%') text += "41";
        } else {
            text += kValues[rng() % std::size(kValues)];
        }
    }
    if (rng() % 2 == 0) {
        text += ' ';
        for (unsigned k = 0, count = rng() % 8; k < count; ++k) {
            text += kHeaders[rng() % std::size(kHeaders)];
            text += " \r\n"[rng() % 3];
        }
    }
    return text;
}

TEST(Explanation, AgreesWithTheReadersOnGeneratedTexts) {
    std::mt19937 rng(20261208);
    int cut = 0, repeated = 0, other_case = 0, mozilla = 0;
    for (int n = 0; n < 3000 && !HasFailure(); ++n) {
        const std::string text = Generate(rng);
        ExpectAgreement(text);
        for (const char *kind : {"live", "camera", "clip"}) {
            const Explanation e = Explain(*FindReaderRules(kind), text.c_str());
            for (const ParameterFate &p : e.parameters) {
                cut += p.fate == Fate::kCut;
                repeated += p.reason == Reason::kRepeated;
                other_case += p.reason == Reason::kOtherCase;
            }
            mozilla += e.client && e.client->mozilla;
        }
    }
    // The generator must keep reaching the interesting paths.
    EXPECT_GT(cut, 30);
    EXPECT_GT(repeated, 300);
    EXPECT_GT(other_case, 300);
    EXPECT_GT(mozilla, 30);
}

TEST(CaptureForms, HandTheLibraryWhatAServerWould) {
    const struct {
        const char *input, *form, *text;
        size_t blank_lines;
    } cases[] = {
        {"http://cams.example.net:8080/live?server=2&timeout=30", "url", "?server=2&timeout=30", 0},
        {"https://h/live?server=2#frag\n", "url", "?server=2", 0},
        {"http://h/live\n", "url", "", 0},
        {"/live?server=2&timeout=30\r\n", "path-query", "?server=2&timeout=30", 0},
        {"live?server=2", "path-query", "?server=2", 0},
        {"model=a?b&speed=1\n", "query", "model=a?b&speed=1", 0},
        {"?server=2\r\n", "query", "?server=2", 0},
        {"GET /live?server=2\r\n", "request-line", "?server=2", 0},
        {"GET /live?server=2&x=1 HTTP/1.1", "request-line", "?server=2&x=1 HTTP/1.1", 0},
        {"GET /live HTTP/1.0\r\nX: server=5\r\n\r\n", "raw-request",
         " HTTP/1.0\r\nX: server=5\r\n\r\n", 0},
        {"\r\n\nGET /live?server=2 HTTP/1.1\r\nUser-Agent: Mozilla/5.0\r\n\r\n", "raw-request",
         "?server=2 HTTP/1.1\r\nUser-Agent: Mozilla/5.0\r\n\r\n", 2},
        {"10.1.2.3 - - [08/Dec/2026:10:00:00 +0000] \"GET /live?server=2 HTTP/1.1\" 200 512\n",
         "common-log", "?server=2 HTTP/1.1", 0},
        {"10.1.2.3 - joe smith [08/Dec/2026:10:00:00 +0000] \"GET /live?a=%22 HTTP/1.1\" 200 - "
         "\"http://r/?x=1\" \"Mozilla/5.0 \\\"q\\\" \\x41\"",
         "combined-log", "?a=%22 HTTP/1.1\r\nUser-Agent: Mozilla/5.0 \"q\" A\r\n\r\n", 0},
        {"10.1.2.3 - - [08/Dec/2026:10:00:00 +0000] \"-\" 400 0 \"-\" \"-\"", "combined-log", "",
         0},
        {"10.1.2.3 - - [08/Dec/2026:10:00:00 +0000] \"GET /?a=1\" 200 0 \"-\" \"Mozilla\"",
         "combined-log", "?a=1", 0},
        {"\nserver=2", "query", "\nserver=2", 0},
    };
    for (const auto &c : cases) {
        const Capture capture = Recognise(c.input);
        EXPECT_STREQ(FormName(capture.form), c.form) << c.input;
        EXPECT_EQ(capture.text, c.text) << c.input;
        EXPECT_EQ(capture.blank_lines, c.blank_lines) << c.input;
    }
}

}  // namespace
}  // namespace tovarine_tool
