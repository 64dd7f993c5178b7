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
#include "reader_outputs.h"
#include "request_text.h"
#include "tovarine.h"
#include "words.h"

namespace reader_outputs {
void PrintTo(const Bits &bits, std::ostream *out) { *out << bits.repr; }
}  // namespace reader_outputs

namespace tovarine_tool {
namespace {

using namespace reader_outputs;

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
        EXPECT_EQ(FromExplanation(explanation),
                  RunExport(kind, text.c_str(), [](int32_t rc) { EXPECT_EQ(rc, 0); }))
            << kind;
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

// The help of read (and with it the manual) names every reason the explanation gives.
TEST(Explanation, EveryReasonIsInTheHelpOfRead) {
    const std::string details = words::CommandAt("read").details;
    for (int reason = static_cast<int>(Reason::kNotRead);
         reason <= static_cast<int>(Reason::kNoMediaType); ++reason) {
        const std::string name = ReasonName(static_cast<Reason>(reason));
        EXPECT_NE(details.find(name), std::string::npos) << name;
    }
}

}  // namespace
}  // namespace tovarine_tool
