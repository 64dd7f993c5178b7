// The four readers on realistic requests (corpus.h), each done four ways:
//   library    the export, through the public header, as a host calls it
//   baseline   the same job with no allocation: one pass over the parameter part for the spans of
//              the names looked up, each value decoded into a stack buffer when it is read
//   uriparser  uriDissectQueryMallocA on the query, a walk of its list, uriFreeQueryListA
//   boost_url  the target parsed as a relative reference, its params with "+" as space, find()
//              per name, the decoded value
// All but the library share the conversions and the User-Agent word test below, written from
// the readers' rules. Before anything is timed, every way runs on every request and its outputs
// must equal the library's byte for byte; the program stops at the first difference.
// readers/<reader>/<way> reports CPU time per request as per_request; bench/report.py tabulates
// it with the ratios of the library to the others.
#include <benchmark/benchmark.h>
#include <uriparser/Uri.h>

#include <algorithm>
#include <boost/url/parse.hpp>
#include <boost/url/url_view.hpp>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "corpus.h"
#include "tovarine.h"

namespace {

// ---- Conversions and the header test, shared by the three implementations of the benchmark.

// White space, and the separators of words: space, tab, LF, VT, FF, CR.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int32_t Integer(const char *p) {
    constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;
    while (IsSpace(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    int64_t magnitude = 0;
    for (; IsDigit(*p); ++p) {
        if (magnitude <= kLimit) magnitude = magnitude * 10 + (*p - '0');
    }
    magnitude = std::min(magnitude, negative ? kLimit : kLimit - 1);
    return static_cast<int32_t>(negative ? -magnitude : magnitude);
}

// The number's span is read by the grammar (exponent letter e, E, d or D); from_chars converts.
double Decimal(const char *p) {
    while (IsSpace(*p)) ++p;
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') ++p;
    const char *begin = p, *end = p;
    while (IsDigit(*end)) ++end;
    if (*end == '.' && (end > begin || IsDigit(end[1]))) {  // digits on one side at least
        for (++end; IsDigit(*end);) ++end;
    }
    if (end == begin) return 0.0;
    const char *letter = nullptr;
    if (*end == 'e' || *end == 'E' || *end == 'd' || *end == 'D') {
        const char *q = end + 1 + (end[1] == '+' || end[1] == '-');
        if (IsDigit(*q)) {
            letter = end;
            for (end = q; IsDigit(*end);) ++end;
        }
    }
    std::string copy;  // a "d" exponent: the number with "e" in its place
    if (letter != nullptr && (*letter == 'd' || *letter == 'D')) {
        copy.assign(begin, end);
        copy[static_cast<size_t>(letter - begin)] = 'e';
        begin = copy.data();
        end = begin + copy.size();
    }
    double value = 0.0;
    if (std::from_chars(begin, end, value).ec == std::errc::result_out_of_range) {
        value = std::strtod(std::string(begin, end).c_str(), nullptr);  // infinity or zero
    }
    return negative ? -value : value;
}

int32_t Timeout(const char *p) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(int64_t{Integer(p)} * 1000, INT32_MIN, INT32_MAX));
}

// Rounds to nearest: from halfway between FLT_MAX and the next power of two on, an infinity.
float Narrow(double value) {
    if (std::fabs(value) >= double{FLT_MAX} + 0x1p103) {
        return value > 0 ? std::numeric_limits<float>::infinity()
                         : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(std::clamp<double>(value, -FLT_MAX, FLT_MAX));
}

bool StartsWithFolded(const char *word, const char *lower_prefix) {
    for (; *lower_prefix != 0; ++word, ++lower_prefix) {
        const char c = (*word >= 'A' && *word <= 'Z') ? static_cast<char>(*word + 32) : *word;
        if (c != *lower_prefix) return false;
    }
    return true;
}

// The first word of the whole text that begins with "User-Agent:" decides: the client is a
// Mozilla one when the next word begins with "Mozilla".
bool MozillaClient(const char *p) {
    for (;;) {
        while (IsSpace(*p)) ++p;
        if (*p == 0) return false;
        const bool header = StartsWithFolded(p, "user-agent:");
        while (*p != 0 && !IsSpace(*p)) ++p;
        if (header) {
            while (IsSpace(*p)) ++p;
            return StartsWithFolded(p, "mozilla");
        }
    }
}

const char *PartEnd(const char *text) { return text + std::strcspn(text, " "); }

// ---- The readers' rules, over any way of looking values up: Params(text, names) and Get(i),
// the decoded i-th name's value (NUL-terminated, valid until the next Get) or null.

void Store(const char *v, int32_t *out) {
    if (v != nullptr && out != nullptr) *out = Integer(v);
}
void Store(const char *v, double *out) {
    if (v != nullptr && out != nullptr) *out = Decimal(v);
}
void StoreTimeout(const char *v, int32_t *out) {
    if (v != nullptr && out != nullptr) *out = Timeout(v);
}
void StoreText(const char *v, char *out, size_t capacity) {
    if (v == nullptr || out == nullptr) return;
    const size_t length = strnlen(v, capacity - 1);
    std::memcpy(out, v, length);
    out[length] = 0;
}

template <class Params>
int32_t Live(const char *text, int32_t *server, int32_t *device, double *framerate,
             int32_t *timeout, int32_t *mozilla, int32_t *features, int32_t *sendtime,
             int32_t *sendstate, int32_t *cpid, int32_t *slide_show) {
    static constexpr std::string_view kNames[] = {"server",    "device",   "framerate",
                                                  "timeout",   "features", "sendtime",
                                                  "sendstate", "cpid",     "slide_show"};
    if (text == nullptr) return 0;
    {
        Params p(text, kNames);
        Store(p.Get(0), server);
        Store(p.Get(1), device);
        Store(p.Get(2), framerate);
        StoreTimeout(p.Get(3), timeout);
        Store(p.Get(4), features);
        Store(p.Get(5), sendtime);
        Store(p.Get(6), sendstate);
        Store(p.Get(7), cpid);
        Store(p.Get(8), slide_show);
    }
    if (mozilla != nullptr && MozillaClient(text)) *mozilla = 1;
    return 0;
}

template <class Params>
int32_t Stream(const char *text, int32_t *server, int32_t *segment, int32_t *channel,
               int32_t *sendstate, int32_t *timeout, int32_t *features, int32_t *sendtime,
               int32_t *cpid) {
    static constexpr std::string_view kNames[] = {"server",  "segment",  "channel",  "sendstate",
                                                  "timeout", "features", "sendtime", "cpid"};
    if (text == nullptr) return 0;
    Params p(text, kNames);
    Store(p.Get(0), server);
    Store(p.Get(1), segment);
    if (const char *v = p.Get(2); v != nullptr && channel != nullptr) {
        *channel = (v[0] == 'R' || v[0] == 'r') ? 1 : 0;
    }
    Store(p.Get(3), sendstate);
    StoreTimeout(p.Get(4), timeout);
    Store(p.Get(5), features);
    Store(p.Get(6), sendtime);
    Store(p.Get(7), cpid);
    return 0;
}

template <class Params>
int32_t Camera(const char *text, char *model, char *camera, char *device, char *number, char *speed,
               char *command, char *button) {
    static constexpr std::string_view kNames[] = {"model", "camera",  "device", "number",
                                                  "speed", "command", "button"};
    if (text == nullptr) return 0;
    Params p(text, kNames);
    char *outs[] = {model, camera, device, number, speed, command, button};
    for (size_t i = 0; i < 7; ++i) StoreText(p.Get(i), outs[i], 1024);
    return 0;
}

template <class Params>
int32_t Clip(const char *text, MediaRequest *r) {
    static constexpr std::string_view kNames[] = {"mediafile", "doburst",  "framerate", "mediatype",
                                                  "startmsec", "looping",  "stopmsec",  "cpid",
                                                  "features",  "sendtime", "width",     "height",
                                                  "quality",   "segment",  "channel"};
    if (text == nullptr || r == nullptr) return 0;
    Params p(text, kNames);
    StoreText(p.Get(0), r->media_file, sizeof r->media_file);
    if (const char *v = p.Get(1)) r->burst = Narrow(Decimal(v));
    Store(p.Get(2), &r->frame_rate);
    int32_t *const ints[] = {&r->start_msec, &r->looping,   &r->stop_msec, &r->cpid,
                             &r->features,   &r->send_time, &r->width,     &r->height,
                             &r->quality,    &r->segment,   &r->channel};
    for (size_t i = 0; i < 11; ++i) Store(p.Get(4 + i), ints[i]);
    // The media type last: its section gets this request's values.
    if (const char *type = p.Get(3)) {
        const int32_t group[4] = {r->features, r->send_time, r->group_value, r->cpid};
        const char t = static_cast<char>(type[0] | 0x20);
        if (t == 'a' || t == 'v') {
            r->media_kind = t == 'a' ? 2 : 1;
            std::memcpy(t == 'a' ? r->audio_section : r->video_section, group, sizeof group);
        }
    }
    return 0;
}

// ---- The three ways of looking values up.

// No allocation: one pass records where the first value of each name is, Get decodes it.
class Baseline {
public:
    template <size_t N>
    Baseline(const char *text, const std::string_view (&names)[N]) {
        static_assert(N <= kMaxNames);
        const char *p = text, *const end = PartEnd(text);
        while (p != end && (*p == '?' || *p == '&')) ++p;
        for (size_t missing = N; p < end && missing > 0;) {
            const auto *amp = static_cast<const char *>(std::memchr(p, '&', end - p));
            const char *const param_end = amp != nullptr ? amp : end;
            const char *equals = param_end;
            while (equals != p && *--equals != '=') {
            }
            if (*equals == '=') {
                const std::string_view name(p, static_cast<size_t>(equals - p));
                for (size_t i = 0; i < N; ++i) {
                    if (begin_[i] == nullptr && names[i] == name) {
                        begin_[i] = equals + 1;
                        end_[i] = param_end;
                        --missing;
                        break;
                    }
                }
            }
            p = param_end + 1;
        }
    }

    // "+" is a space, "%" and two hex digits that byte unless it is NUL; any other "%" stays.
    // The copy is cut at the buffer's size (values of the corpus are far shorter).
    const char *Get(size_t i) {
        const char *in = begin_[i], *const end = end_[i];
        if (in == nullptr) return nullptr;
        char *out = buffer_, *const out_end = buffer_ + sizeof buffer_ - 1;
        for (; in != end && out != out_end; ++out) {
            int byte = -1;
            if (*in == '%' && end - in > 2) {
                const int hi = Hex(in[1]), lo = Hex(in[2]);
                if (hi >= 0 && lo >= 0) byte = hi * 16 + lo;
            }
            if (byte > 0) {
                *out = static_cast<char>(byte);
                in += 3;
            } else {
                *out = *in == '+' ? ' ' : *in;
                ++in;
            }
        }
        *out = 0;
        return buffer_;
    }

private:
    static constexpr size_t kMaxNames = 15;
    static int Hex(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        c = static_cast<char>(c | 0x20);
        return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    }
    const char *begin_[kMaxNames] = {};
    const char *end_[kMaxNames] = {};
    char buffer_[1024];
};

class Uriparser {
public:
    template <size_t N>
    Uriparser(const char *text, const std::string_view (&names)[N]) {
        const char *first = text + (*text == '?');
        if (uriDissectQueryMallocA(&list_, nullptr, first, PartEnd(text)) != URI_SUCCESS) {
            list_ = nullptr;
        }
        for (const UriQueryListA *item = list_; item != nullptr; item = item->next) {
            if (item->value == nullptr) continue;  // "name" without "=": no pair
            for (size_t i = 0; i < N; ++i) {
                if (values_[i] == nullptr && names[i] == item->key) {
                    values_[i] = item->value;
                    break;
                }
            }
        }
    }
    ~Uriparser() { uriFreeQueryListA(list_); }
    Uriparser(const Uriparser &) = delete;
    Uriparser &operator=(const Uriparser &) = delete;

    const char *Get(size_t i) const { return values_[i]; }

private:
    UriQueryListA *list_ = nullptr;
    const char *values_[15] = {};
};

class BoostUrl {
public:
    // The text is read as a request target. (parse_query of 1.81 would not do: its view of the
    // query runs on to the text's NUL, over the request line and the header lines.)
    template <size_t N>
    BoostUrl(const char *text, const std::string_view (&names)[N]) : names_(names) {
        const boost::urls::string_view target(text, static_cast<size_t>(PartEnd(text) - text));
        if (auto parsed = boost::urls::parse_relative_ref(target)) {
            url_ = *parsed;
            params_ = url_.params(boost::urls::encoding_opts(true));  // "+" is a space
        }
    }
    BoostUrl(const BoostUrl &) = delete;  // params_ refers to url_
    BoostUrl &operator=(const BoostUrl &) = delete;

    const char *Get(size_t i) {
        const boost::urls::string_view name(names_[i].data(), names_[i].size());
        for (auto it = params_.find(name); it != params_.end();
             it = params_.find(std::next(it), name)) {
            if (auto param = *it; param.has_value) {
                value_ = std::move(param.value);
                return value_.c_str();
            }
        }
        return nullptr;
    }

private:
    const std::string_view *names_;
    boost::urls::url_view url_;
    boost::urls::params_view params_;
    std::string value_;
};

// ---- Benchmarks and the check that precedes them.

struct LiveOut {
    int32_t server, device;
    double framerate;
    int32_t timeout, mozilla, features, sendtime, sendstate, cpid, slide_show;
};
void Call(decltype(&f3121538644) f, const char *t, LiveOut &o) {
    f(t, &o.server, &o.device, &o.framerate, &o.timeout, &o.mozilla, &o.features, &o.sendtime,
      &o.sendstate, &o.cpid, &o.slide_show);
}
struct StreamOut {
    int32_t v[8];
};
void Call(decltype(&f373279) f, const char *t, StreamOut &o) {
    f(t, &o.v[0], &o.v[1], &o.v[2], &o.v[3], &o.v[4], &o.v[5], &o.v[6], &o.v[7]);
}
struct CameraOut {
    char v[7][1024];
};
void Call(decltype(&f3221538674) f, const char *t, CameraOut &o) {
    f(t, o.v[0], o.v[1], o.v[2], o.v[3], o.v[4], o.v[5], o.v[6]);
}
void Call(decltype(&f39260000417E) f, const char *t, MediaRequest &o) { f(t, &o); }

constexpr const char *kWays[] = {"library", "baseline", "uriparser", "boost_url"};

// Outputs start from `preset` (a pattern that no reader writes), so an output written by one
// way and not by another shows as a difference too.
template <class Fn, class Out>
void Register(const char *reader, const std::vector<std::string> &corpus, const Fn (&ways)[4]) {
    auto preset = std::make_unique<Out>();
    std::memset(preset.get(), 0x5a, sizeof(Out));
    if constexpr (std::is_same_v<Out, LiveOut>) preset->mozilla = 0;
    if constexpr (std::is_same_v<Out, MediaRequest>) preset->group_value = 4242;
    auto expected = std::make_unique<Out>(), got = std::make_unique<Out>();
    for (size_t n = 0; n < corpus.size(); ++n) {
        const std::string &text = corpus[n];
        const size_t pairs =
            static_cast<size_t>(std::count(text.begin(), text.begin() + text.find(' '), '='));
        if (text.size() < 150 || text.size() > 900 || pairs < 3 || pairs > 12) {
            std::fprintf(stderr, "readers/%s: request %zu has %zu bytes, %zu parameters\n", reader,
                         n, text.size(), pairs);
            std::exit(1);
        }
        *expected = *preset;
        Call(ways[0], text.c_str(), *expected);
        for (size_t w = 1; w < 4; ++w) {
            *got = *preset;
            Call(ways[w], text.c_str(), *got);
            const auto *g = reinterpret_cast<const unsigned char *>(got.get());
            const auto *e = reinterpret_cast<const unsigned char *>(expected.get());
            if (const auto at = std::mismatch(g, g + sizeof(Out), e).first; at != g + sizeof(Out)) {
                std::fprintf(stderr,
                             "readers/%s/%s: outputs differ from the library's at byte %zu"
                             " (%#x, library %#x) on:\n%s\n",
                             reader, kWays[w], static_cast<size_t>(at - g), *at, e[at - g],
                             text.c_str());
                std::exit(1);
            }
        }
    }
    for (size_t w = 0; w < 4; ++w) {
        const std::string name = std::string("readers/") + reader + '/' + kWays[w];
        benchmark::RegisterBenchmark(
            name.c_str(), [&corpus, fn = ways[w], start = *preset](benchmark::State &state) {
                auto out = std::make_unique<Out>(start);
                for (auto _ : state) {
                    for (const std::string &text : corpus) Call(fn, text.c_str(), *out);
                    benchmark::ClobberMemory();
                }
                state.counters["per_request"] = benchmark::Counter(
                    static_cast<double>(corpus.size()),
                    benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
            });
    }
}

// The hostile shapes of corpus.h through the live reader of every way (the library's export,
// the baseline and the two URL libraries), ns per byte of text. Outputs are not compared here:
// the URL libraries split some of these texts differently; what is measured is the cost.
void RegisterPeers() {
    using tovarine::corpus::Shape;
    const std::pair<const char *, Shape> shapes[] = {{"params", Shape::kParams},
                                                     {"equals", Shape::kEquals},
                                                     {"ampersands", Shape::kAmpersands},
                                                     {"headers", Shape::kHeaders}};
    using Fn = decltype(&f3121538644);
    static const Fn ways[] = {f3121538644, Live<Baseline>, Live<Uriparser>, Live<BoostUrl>};
    for (const auto &[shape_name, shape] : shapes) {
        for (const size_t size : {1u << 10, 1u << 20, 16u << 20}) {
            for (size_t w = 0; w < 4; ++w) {
                const std::string name = std::string("peers/") + shape_name + '/' + kWays[w] + '/' +
                                         std::to_string(size);
                auto *b = benchmark::RegisterBenchmark(
                    name.c_str(), [shape = shape, size, fn = ways[w]](benchmark::State &state) {
                        const std::string text = tovarine::corpus::Build(shape, size);
                        LiveOut out{};
                        for (auto _ : state) {
                            Call(fn, text.c_str(), out);
                            benchmark::ClobberMemory();
                        }
                        state.counters["ns_per_byte"] = benchmark::Counter(
                            static_cast<double>(size) * 1e-9,  // inverted: ns per byte
                            benchmark::Counter::kIsIterationInvariantRate |
                                benchmark::Counter::kInvert);
                    });
                b->MinTime(0.2);
            }
        }
    }
}

[[maybe_unused]] const bool registered = [] {
    static const auto live = tovarine::corpus::LiveRequests(),
                      stream = tovarine::corpus::StreamRequests(),
                      camera = tovarine::corpus::CameraRequests(),
                      clip = tovarine::corpus::ClipRequests();
    Register<decltype(&f3121538644), LiveOut>(
        "live", live, {f3121538644, Live<Baseline>, Live<Uriparser>, Live<BoostUrl>});
    Register<decltype(&f373279), StreamOut>(
        "stream", stream, {f373279, Stream<Baseline>, Stream<Uriparser>, Stream<BoostUrl>});
    Register<decltype(&f3221538674), CameraOut>(
        "camera", camera, {f3221538674, Camera<Baseline>, Camera<Uriparser>, Camera<BoostUrl>});
    Register<decltype(&f39260000417E), MediaRequest>(
        "clip", clip, {f39260000417E, Clip<Baseline>, Clip<Uriparser>, Clip<BoostUrl>});
    RegisterPeers();
    return true;
}();

}  // namespace
