// "read": runs a request reader on a request and prints the outputs it wrote.
//
// A reader writes an output only when the request names its parameter, so the tool has to tell
// written outputs from untouched ones. It calls the reader twice, with every output preset to a
// different value in each run: a written output holds the same value after both runs, an
// untouched one keeps the two different presets.
#include <tovarine.h>

#include <CLI/CLI.hpp>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <tuple>

#include "command.h"
#include "report.h"
#include "request_text.h"

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

void Collect(Outputs &out, const char *name, int32_t a, int32_t b) {
    if (a == b) out.push_back({name, a});
}
void Collect(Outputs &out, const char *name, double a, double b) {
    if (std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b)) out.push_back({name, a});
}
void Collect(Outputs &out, const char *name, float a, float b) {
    if (std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b)) out.push_back({name, a});
}
// A written text ends at its NUL; an untouched buffer is preset all through, without one.
template <size_t N>
void Collect(Outputs &out, const char *name, const char (&a)[N], const char (&b)[N]) {
    const std::string_view first(a, strnlen(a, N));
    if (first == std::string_view(b, strnlen(b, N))) out.push_back({name, std::string(first)});
}
// A section is written as a whole, as a copy of other record fields: of those the reader left
// alone it copies the two different presets. So it counts as written when any element came out
// the same (the group value, which the tool keeps the same in both runs, always does), and only
// those elements have a value.
void Collect(Outputs &out, const char *name, const int32_t (&a)[4], const int32_t (&b)[4]) {
    Section section;
    bool written = false;
    for (size_t i = 0; i < section.size(); ++i) {
        if (a[i] == b[i]) {
            section[i] = a[i];
            written = true;
        }
    }
    if (written) out.push_back({name, section});
}

// One output: its name and where it lives in the record the reader is run on.
template <class Record, class T>
struct Field {
    const char *name;
    T Record::*member;
};

template <class Record, class T>
constexpr Field<Record, T> Out(const char *name, T Record::*member) {
    return {name, member};
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
        std::tuple{Out("server", &R::server),       Out("device", &R::device),
                   Out("framerate", &R::framerate), Out("timeout", &R::timeout),
                   Out("mozilla", &R::mozilla),     Out("features", &R::features),
                   Out("sendtime", &R::sendtime),   Out("sendstate", &R::sendstate),
                   Out("cpid", &R::cpid),           Out("slide_show", &R::slide_show)};
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
    static constexpr auto kFields = std::tuple{
        Out("server", &R::server),       Out("segment", &R::segment), Out("channel", &R::channel),
        Out("sendstate", &R::sendstate), Out("timeout", &R::timeout), Out("features", &R::features),
        Out("sendtime", &R::sendtime),   Out("cpid", &R::cpid)};
    return Probe(kFields, [text](R &o) {
        f373279(text, &o.server, &o.segment, &o.channel, &o.sendstate, &o.timeout, &o.features,
                &o.sendtime, &o.cpid);
    });
}

struct CameraOutputs {
    char model[1024], camera[1024], device[1024], number[1024], speed[1024], command[1024],
        button[1024];
};

Outputs ReadCamera(const char *text) {
    using R = CameraOutputs;
    static constexpr auto kFields = std::tuple{
        Out("model", &R::model),   Out("camera", &R::camera), Out("device", &R::device),
        Out("number", &R::number), Out("speed", &R::speed),   Out("command", &R::command),
        Out("button", &R::button)};
    return Probe(kFields, [text](R &o) {
        f3221538674(text, o.model, o.camera, o.device, o.number, o.speed, o.command, o.button);
    });
}

Outputs ReadClip(const char *text) {
    using R = MediaRequest;
    static constexpr auto kFields = std::tuple{Out("media_kind", &R::media_kind),
                                               Out("media_file", &R::media_file),
                                               Out("start_msec", &R::start_msec),
                                               Out("stop_msec", &R::stop_msec),
                                               Out("burst", &R::burst),
                                               Out("looping", &R::looping),
                                               Out("frame_rate", &R::frame_rate),
                                               Out("width", &R::width),
                                               Out("height", &R::height),
                                               Out("quality", &R::quality),
                                               Out("video_section", &R::video_section),
                                               Out("segment", &R::segment),
                                               Out("channel", &R::channel),
                                               Out("audio_section", &R::audio_section),
                                               Out("features", &R::features),
                                               Out("send_time", &R::send_time),
                                               Out("cpid", &R::cpid)};
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
    std::optional<std::string> text;  // absent: standard input
};

int RunRead(const ReadRequest &request, const Invocation &invocation) {
    const Reader *reader = nullptr;
    for (const Reader &candidate : kReaders) {
        if (candidate.kind == request.kind) reader = &candidate;
    }
    if (reader == nullptr) {
        throw UsageError("read: unknown reader kind '" + request.kind +
                         "' (live, stream, camera or clip)");
    }
    std::string input =
        !request.text || *request.text == "-" ? ReadAll(stdin) : std::string(*request.text);
    const std::string text = RequestText(std::move(input));
    const Outputs outputs = reader->read(text.c_str());
    if (invocation.json) {
        WriteJson(stdout, outputs);
    } else {
        WriteText(stdout, outputs);
    }
    return 0;
}

constexpr const char *kReadHelp =
    "\nRuns a request reader of the library on TEXT, or on standard input when TEXT is \"-\"\n"
    "or absent, and prints every output the reader wrote, in the reader's argument order.\n"
    "Outputs it left alone (their parameter is absent) are not printed.\n"
    "KIND  live    live video request      (server device framerate timeout mozilla\n"
    "                                       features sendtime sendstate cpid slide_show)\n"
    "      stream  segment/channel stream  (server segment channel sendstate timeout\n"
    "                                       features sendtime cpid)\n"
    "      camera  camera control request  (model camera device number speed command\n"
    "                                       button, as text)\n"
    "      clip    media clip request      (the MediaRequest record: media_kind media_file\n"
    "                                       start_msec stop_msec burst looping frame_rate\n"
    "                                       width height quality video_section segment\n"
    "                                       channel audio_section features send_time cpid)\n"
    "A whole HTTP request (request line \"METHOD TARGET HTTP/...\", header lines after it)\n"
    "is handed over from the \"?\" of its target on, header lines included, as a server\n"
    "does; without a \"?\", from the blank after the target. Any other text is handed over\n"
    "as it is, less one trailing line end.\n"
    "The record's group value is 0; a section copies it. A section element copied from a\n"
    "field the request left unset is shown as \"-\" (null in JSON).\n"
    "\nExamples:\n"
    "  tovarine read live 'server=2&device=1&timeout=30'\n"
    "  tovarine read camera --json < captured-request.txt\n"
    "  tovarine read stream -- '-not-an-option'\n";

}  // namespace

void AddReadCommand(CLI::App &tool, Invocation &invocation) {
    // Shared with the callback, which runs after this function has returned.
    auto request = std::make_shared<ReadRequest>();
    CLI::App *read = tool.add_subcommand("read", "runs a request reader on a request");
    read->footer(kReadHelp);
    read->add_option("KIND", request->kind, "live, stream, camera or clip")->required();
    read->add_option("TEXT", request->text, "the request; \"-\" or absent: standard input");
    AddJsonFlag(*read, invocation);
    read->callback([request, &invocation] {
        invocation.run = [request, &invocation] { return RunRead(*request, invocation); };
    });
}

}  // namespace tovarine_tool
