// "read": runs a request reader on a request and prints the outputs it wrote, or explains what
// became of each parameter; with --each, on one request per line.
//
// A reader writes an output only when the request names its parameter, so the tool has to tell
// written outputs from untouched ones. It calls the reader twice, with every output preset to a
// different value in each run: a written output holds the same value after both runs, an
// untouched one keeps the two different presets.
#include <tovarine.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "command.h"
#include "command_line.h"
#include "explain.h"
#include "explain_report.h"
#include "report.h"
#include "library_internals.h"
#include "request_text.h"
#include "words.h"

namespace tovarine_tool {
namespace {

constexpr int kRuns = 2;

void Preset(int32_t &value, int run) {
    value = run == 0 ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
}
// Numbers are compared by their bits, so NaNs with different payloads make distinct presets.
void Preset(double &value, int run) {
    value = std::bit_cast<double>(run == 0 ? 0x7ff8'0000'0000'0001ULL : 0x7ff8'0000'0000'0002ULL);
}
void Preset(float &value, int run) {
    value = std::bit_cast<float>(run == 0 ? 0x7fc0'0001U : 0x7fc0'0002U);
}
template <size_t N>
void Preset(char (&text)[N], int run) {
    std::memset(text, run == 0 ? 0x01 : 0x02, N);
}
void Preset(int32_t (&section)[4], int run) {
    for (int32_t &element : section) Preset(element, run);
}

using Outputs = std::vector<Output>;

void Collect(Outputs &out, std::string_view name, int32_t a, int32_t b) {
    if (a == b) out.push_back({std::string(name), a});
}
void Collect(Outputs &out, std::string_view name, double a, double b) {
    if (std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b))
        out.push_back({std::string(name), a});
}
void Collect(Outputs &out, std::string_view name, float a, float b) {
    if (std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b))
        out.push_back({std::string(name), a});
}
// A written text ends at its NUL; an untouched buffer is preset all through, without one.
template <size_t N>
void Collect(Outputs &out, std::string_view name, const char (&a)[N], const char (&b)[N]) {
    const std::string_view first(a, strnlen(a, N));
    if (first == std::string_view(b, strnlen(b, N)))
        out.push_back({std::string(name), std::string(first)});
}
// A section is written as a whole, as a copy of other record fields: of those the reader left
// alone it copies the two different presets. So it counts as written when any element came out
// the same (the group value, which the tool keeps the same in both runs, always does), and only
// those elements have a value.
void Collect(Outputs &out, std::string_view name, const int32_t (&a)[4], const int32_t (&b)[4]) {
    Section section;
    bool written = false;
    for (size_t i = 0; i < section.size(); ++i) {
        if (a[i] == b[i]) {
            section[i] = a[i];
            written = true;
        }
    }
    if (written) out.push_back({std::string(name), section});
}

// One output: its name and where it lives in the record the reader is run on.
template <class Record, class T>
struct Field {
    std::string_view name;
    T Record::*member;
};

template <class Record, class T>
constexpr Field<Record, T> Out(std::string_view name, T Record::*member) {
    return {name, member};
}

// The output fed by a reader's parameter, named as the library's field table names it (a
// parameter the reader does not read does not compile).
template <class Record, class T, size_t N>
consteval Field<Record, T> Out(const tovarine::Field (&fields)[N], std::string_view parameter,
                               T Record::*member) {
    return {tovarine::OutputNameOf(fields, parameter), member};
}

// Presets the fields, runs `call` on the record, twice, and collects the written outputs in
// the order of `fields`.
template <class Record, class... T, class Call>
Outputs Probe(const std::tuple<Field<Record, T>...> &fields, Call call) {
    const auto runs = std::make_unique<Record[]>(kRuns);
    for (int run = 0; run < kRuns; ++run) {
        Record &record = runs[run];
        std::apply([&](const auto &...f) { (Preset(record.*f.member, run), ...); }, fields);
        call(record);
    }
    Outputs outputs;
    std::apply(
        [&](const auto &...f) {
            (Collect(outputs, f.name, runs[0].*f.member, runs[1].*f.member), ...);
        },
        fields);
    return outputs;
}

struct LiveOutputs {
    int32_t server, device;
    double framerate;
    int32_t timeout, mozilla, features, sendtime, sendstate, cpid, slide_show;
};

Outputs ReadLive(const char *text) {
    using R = LiveOutputs;
    static constexpr auto kFields =
        std::tuple{Out(tovarine::kLiveFields, "server", &R::server),
                   Out(tovarine::kLiveFields, "device", &R::device),
                   Out(tovarine::kLiveFields, "framerate", &R::framerate),
                   Out(tovarine::kLiveFields, "timeout", &R::timeout),
                   Out("mozilla", &R::mozilla),
                   Out(tovarine::kLiveFields, "features", &R::features),
                   Out(tovarine::kLiveFields, "sendtime", &R::sendtime),
                   Out(tovarine::kLiveFields, "sendstate", &R::sendstate),
                   Out(tovarine::kLiveFields, "cpid", &R::cpid),
                   Out(tovarine::kLiveFields, "slide_show", &R::slide_show)};
    return Probe(kFields, [text](R &o) {
        f3121538644(text, &o.server, &o.device, &o.framerate, &o.timeout, &o.mozilla, &o.features,
                    &o.sendtime, &o.sendstate, &o.cpid, &o.slide_show);
    });
}

struct StreamOutputs {
    int32_t server, segment, channel, sendstate, timeout, features, sendtime, cpid;
};

Outputs ReadStream(const char *text) {
    using R = StreamOutputs;
    static constexpr auto kFields =
        std::tuple{Out(tovarine::kStreamFields, "server", &R::server),
                   Out(tovarine::kStreamFields, "segment", &R::segment),
                   Out(tovarine::kStreamFields, "channel", &R::channel),
                   Out(tovarine::kStreamFields, "sendstate", &R::sendstate),
                   Out(tovarine::kStreamFields, "timeout", &R::timeout),
                   Out(tovarine::kStreamFields, "features", &R::features),
                   Out(tovarine::kStreamFields, "sendtime", &R::sendtime),
                   Out(tovarine::kStreamFields, "cpid", &R::cpid)};
    return Probe(kFields, [text](R &o) {
        f373279(text, &o.server, &o.segment, &o.channel, &o.sendstate, &o.timeout, &o.features,
                &o.sendtime, &o.cpid);
    });
}

struct CameraOutputs {
    static constexpr uint32_t kBytes = tovarine::kCameraTextBytes;
    char model[kBytes], camera[kBytes], device[kBytes], number[kBytes], speed[kBytes],
        command[kBytes], button[kBytes];
};

Outputs ReadCamera(const char *text) {
    using R = CameraOutputs;
    static constexpr auto kFields = std::tuple{Out(tovarine::kCameraFields, "model", &R::model),
                                               Out(tovarine::kCameraFields, "camera", &R::camera),
                                               Out(tovarine::kCameraFields, "device", &R::device),
                                               Out(tovarine::kCameraFields, "number", &R::number),
                                               Out(tovarine::kCameraFields, "speed", &R::speed),
                                               Out(tovarine::kCameraFields, "command", &R::command),
                                               Out(tovarine::kCameraFields, "button", &R::button)};
    return Probe(kFields, [text](R &o) {
        f3221538674(text, o.model, o.camera, o.device, o.number, o.speed, o.command, o.button);
    });
}

Outputs ReadClip(const char *text) {
    using R = MediaRequest;
    static constexpr auto kFields =
        std::tuple{Out(tovarine::kClipFields, "mediatype", &R::media_kind),
                   Out(tovarine::kClipFields, "mediafile", &R::media_file),
                   Out(tovarine::kClipFields, "startmsec", &R::start_msec),
                   Out(tovarine::kClipFields, "stopmsec", &R::stop_msec),
                   Out(tovarine::kClipFields, "doburst", &R::burst),
                   Out(tovarine::kClipFields, "looping", &R::looping),
                   Out(tovarine::kClipFields, "framerate", &R::frame_rate),
                   Out(tovarine::kClipFields, "width", &R::width),
                   Out(tovarine::kClipFields, "height", &R::height),
                   Out(tovarine::kClipFields, "quality", &R::quality),
                   Out("video_section", &R::video_section),
                   Out(tovarine::kClipFields, "segment", &R::segment),
                   Out(tovarine::kClipFields, "channel", &R::channel),
                   Out("audio_section", &R::audio_section),
                   Out(tovarine::kClipFields, "features", &R::features),
                   Out(tovarine::kClipFields, "sendtime", &R::send_time),
                   Out(tovarine::kClipFields, "cpid", &R::cpid)};
    return Probe(kFields, [text](R &record) {
        // The group value is the host's own: the reader copies it into a section, never writes it.
        record.group_value = 0;
        f39260000417E(text, &record);
    });
}

struct Reader {
    std::string_view kind;
    Outputs (*read)(const char *text);
};

constexpr Reader kReaders[] = {
    {"live", ReadLive},
    {"stream", ReadStream},
    {"camera", ReadCamera},
    {"clip", ReadClip},
};

// What "read" was asked to do.
struct ReadRequest {
    std::string kind;
    std::optional<std::string> text;  // absent: standard input; with --each, a file name
    bool explain = false;
    bool each = false;
};

bool StandardInputIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stdin)) != 0;
#else
    return isatty(STDIN_FILENO) != 0;
#endif
}

#if defined(_WIN32)
constexpr const char *kEndOfInput = "Ctrl-Z, then Enter";
#else
constexpr const char *kEndOfInput = "Ctrl-D";
#endif

// Someone typing at a terminal learns what the tool waits for and how to end it.
void PromptAtTerminal(const ReadRequest &request) {
    if (!StandardInputIsTerminal()) return;
    const std::string what =
        request.each ? request.kind + " requests, one a line" : "a " + request.kind + " request";
    std::fprintf(stderr, "tovarine: reading %s from standard input; end it with %s\n", what.c_str(),
                 kEndOfInput);
}

// What the reader is handed: a NUL ends the text for the library, as it does for a server.
Capture Captured(std::string_view input) {
    Capture capture = Recognise(input);
    if (const size_t nul = capture.text.find('\0'); nul != std::string::npos) {
        capture.text.resize(nul);
    }
    return capture;
}

struct Chosen {
    const Reader &reader;
    const ReaderRules &rules;
};

Chosen Choose(const std::string &kind) {
    for (const Reader &reader : kReaders) {
        if (reader.kind == kind) return {reader, *FindReaderRules(kind)};
    }
    throw UsageError("read: unknown reader kind '" + kind + "' (live, stream, camera or clip)");
}

void ReadOne(const ReadRequest &request, const Chosen &chosen, bool json) {
    std::string input = !request.text || *request.text == "-"
                            ? (PromptAtTerminal(request), ReadAll(stdin))
                            : std::string(*request.text);
    const Capture capture = Captured(input);
    const Outputs outputs = chosen.reader.read(capture.text.c_str());
    if (request.explain) {
        const Explanation explanation = Explain(chosen.rules, capture.text.c_str());
        if (json) {
            Put(stdout,
                DumpJson(ExplanationJson(request.kind, capture, explanation, outputs)) + '\n');
        } else {
            Put(stdout, ExplanationText(capture, explanation) + "outputs:\n");
            WriteText(stdout, outputs);
        }
    } else if (json) {
        WriteJson(stdout, outputs);
    } else {
        WriteText(stdout, outputs);
    }
}

// One JSON object per request line: {"line", "form", "outputs"}, or {"line"} and the
// explanation's members.
void ReadEachLine(const ReadRequest &request, const Chosen &chosen, std::string_view line,
                  size_t number) {
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    const Capture capture = Captured(line);
    const Outputs outputs = chosen.reader.read(capture.text.c_str());
    Json json;
    if (request.explain) {
        const Explanation explanation = Explain(chosen.rules, capture.text.c_str());
        json = ExplanationJson(request.kind, capture, explanation, outputs, number);
    } else {
        json = Json::object();
        json["line"] = number;
        json["form"] = FormName(capture.form);
        json["outputs"] = ToJson(outputs);
    }
    Put(stdout, DumpJson(json) + '\n');
}

void ReadEach(const ReadRequest &request, const Chosen &chosen) {
    std::FILE *stream = stdin;
    const bool named = request.text && *request.text != "-";
    if (named) {
        stream = OpenFile(*request.text, "rb");
        if (stream == nullptr) throw std::runtime_error("cannot open '" + *request.text + "'");
    } else {
        PromptAtTerminal(request);
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> owned(named ? stream : nullptr,
                                                                 std::fclose);
    std::string pending;
    size_t number = 0;
    const bool read = ReadPieces(stream, [&](std::string_view piece) {
        pending.append(piece);
        size_t start = 0;
        for (size_t end; (end = pending.find('\n', start)) != std::string::npos; start = end + 1) {
            ReadEachLine(request, chosen, std::string_view(pending).substr(start, end - start),
                         ++number);
        }
        pending.erase(0, start);
        return true;
    });
    if (!read) throw std::runtime_error("cannot read the requests");
    if (!pending.empty()) ReadEachLine(request, chosen, pending, ++number);
}

int RunRead(const ReadRequest &request, const Invocation &invocation) {
    const Chosen chosen = Choose(request.kind);
    if (request.each) {
        ReadEach(request, chosen);
    } else {
        ReadOne(request, chosen, invocation.json);
    }
    return 0;
}

}  // namespace

void AddReadCommand(CLI::App &tool, Invocation &invocation) {
    // Shared with the callback, which runs after this function has returned.
    auto request = std::make_shared<ReadRequest>();
    CLI::App *read = AddCommand(tool, "read");
    read->add_option("KIND", request->kind, words::ArgumentHelp("read", "KIND"))->required();
    read->add_option("TEXT", request->text, words::ArgumentHelp("read", "TEXT"));
    AddFlag(*read, "--explain", request->explain);
    AddFlag(*read, "--each", request->each);
    AddJsonFlag(*read, invocation);
    read->callback([request, &invocation] {
        invocation.run = [request, &invocation] { return RunRead(*request, invocation); };
    });
}

}  // namespace tovarine_tool
