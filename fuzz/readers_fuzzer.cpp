// The request readers and the lookup on any text, against the plain model of
// tests/support/request_model.h. Every host output lies between guard bytes in an arena preset
// with a pattern; after a call the arena must equal the preset with exactly the fields the model
// names changed, so a wrong value, a stray write and a write to an absent output all abort.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "platform/posix/local_heap.h"
#include "request/conversions.h"
#include "request/parameter_list.h"
#include "request_model.h"
#include "tovarine.h"

namespace {

using namespace tovarine::model;
const char *g_text = "";  // the input, for the report

[[noreturn]] void Fail(const char *what, int line) {
    std::fprintf(stderr, "readers_fuzzer.cpp:%d: %s\n  text: \"%.300s\"\n", line, what, g_text);
    std::abort();
}
#define CHECK(condition) ((condition) ? void() : Fail(#condition, __LINE__))

template <class T>
struct Guarded {
    unsigned char lead[16];
    T value;
    unsigned char tail[16];
};
struct Arena {
    Guarded<int32_t> integer[10];
    Guarded<double> decimal;
    Guarded<char[1024]> camera[7];
    Guarded<MediaRequest> clip;
} got, want;
auto *const g_got = reinterpret_cast<unsigned char *>(&got);
auto *const g_want = reinterpret_cast<unsigned char *>(&want);

void Preset(unsigned seed) {
    for (size_t i = 0; i < sizeof got; ++i)
        g_got[i] = g_want[i] = static_cast<unsigned char>(seed + i * 151);
}

void Compare(const char *reader) {
    const size_t at =
        static_cast<size_t>(std::mismatch(g_got, g_got + sizeof got, g_want).first - g_got);
    if (at == sizeof got) return;
    std::fprintf(stderr, "%s: arena byte %zu is %#x, the model's %#x\n", reader, at, g_got[at],
                 g_want[at]);
    Fail("output differs from the model", __LINE__);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    auto copy = std::make_unique<char[]>(size + 1);  // exactly sized: a read past the NUL is caught
    std::memcpy(copy.get(), data, size);
    copy[size] = 0;
    const char *const text = g_text = copy.get();
    const Slots slots = List(text);
    const int64_t blocks = tovarine::local_heap::LiveBlocks();
    {
        // The list, the lookup (first occurrence wins) and the conversions of every value.
        const tovarine::ParameterList list(text);
        CHECK(list.count() == static_cast<int32_t>(slots.size()));
        for (size_t i = 0; i < slots.size(); ++i) {
            const auto &slot = slots[i];
            const char *name = list.names()[i];
            char *value = list.values()[i];
            CHECK(slot ? name && value && slot->first == name && slot->second == value
                       : !name && !value);
            if (!slot) continue;
            const auto first = std::find_if(slots.begin(), slots.end(),
                                            [&](auto &s) { return s && s->first == name; });
            CHECK(f385562(name, list.count(), list.names(), list.values()) ==
                  list.values()[first - slots.begin()]);
            CHECK(tovarine::ConvertInteger(value) == Integer(value));
            const double decimal = tovarine::ConvertDecimal(value), expected = Decimal(value);
            CHECK(std::memcmp(&decimal, &expected, sizeof decimal) == 0);
        }
    }

    const auto find = [&](const char *name) {
        const std::string *value = name != nullptr ? Find(slots, name) : nullptr;
        return value != nullptr ? value->c_str() : nullptr;
    };
    const auto cut = [&](char *out, size_t capacity, const char *name) {
        if (const char *value = find(name)) {
            const size_t length = std::min(std::strlen(value), capacity - 1);
            std::memcpy(out, value, length), out[length] = 0;
        }
    };
    // The integer outputs of a reader, in the order of its arguments (null: done apart).
    const auto integers = [&](std::initializer_list<const char *> names) {
        int k = 0;
        for (const char *name : names) {
            if (const char *value = find(name)) want.integer[k].value = Integer(value);
            ++k;
        }
    };
    const auto timeout = [&](int k) {
        if (const char *value = find("timeout")) want.integer[k].value = Timeout(value);
    };
    int32_t *o[10];
    for (int k = 0; k < 10; ++k) o[k] = &got.integer[k].value;
    const unsigned seed = static_cast<unsigned>(size * 7 + (size != 0 ? data[0] : 0));

    Preset(seed);
    CHECK(f3121538644(text, o[0], o[1], &got.decimal.value, o[2], o[3], o[4], o[5], o[6], o[7],
                      o[8]) == 0);
    integers({"server", "device", nullptr, nullptr, "features", "sendtime", "sendstate", "cpid",
              "slide_show"});
    timeout(2);
    if (MozillaClient(text)) want.integer[3].value = 1;
    if (const char *value = find("framerate")) want.decimal.value = Decimal(value);
    Compare("f3121538644");

    Preset(seed);
    CHECK(f373279(text, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7]) == 0);
    integers({"server", "segment", nullptr, "sendstate", nullptr, "features", "sendtime", "cpid"});
    timeout(4);
    if (const char *value = find("channel"))
        want.integer[2].value = value[0] == 'R' || value[0] == 'r';
    Compare("f373279");

    Preset(seed);
    auto &c = got.camera;
    CHECK(f3221538674(text, c[0].value, c[1].value, c[2].value, c[3].value, c[4].value, c[5].value,
                      c[6].value) == 0);
    const char *const kCamera[] = {"model", "camera",  "device", "number",
                                   "speed", "command", "button"};
    for (int k = 0; k < 7; ++k) cut(want.camera[k].value, 1024, kCamera[k]);
    Compare("f3221538674");

    Preset(seed);
    CHECK(f39260000417E(text, &got.clip.value) == 0);
    MediaRequest &r = want.clip.value;
    cut(r.media_file, sizeof r.media_file, "mediafile");
    const std::pair<const char *, int32_t *> kFields[] = {
        {"startmsec", &r.start_msec}, {"stopmsec", &r.stop_msec}, {"looping", &r.looping},
        {"width", &r.width},          {"height", &r.height},      {"quality", &r.quality},
        {"segment", &r.segment},      {"channel", &r.channel},    {"features", &r.features},
        {"sendtime", &r.send_time},   {"cpid", &r.cpid}};
    for (const auto &[name, field] : kFields)
        if (const char *value = find(name)) *field = Integer(value);
    if (const char *value = find("framerate")) r.frame_rate = Decimal(value);
    if (const char *value = find("doburst")) r.burst = static_cast<float>(Decimal(value));
    // The media type picks the section, which gets the values as they are after this request.
    const char *type = find("mediatype");
    if (type != nullptr && type[0] != 0 && std::strchr("AaVv", type[0]) != nullptr) {
        const bool audio = type[0] == 'A' || type[0] == 'a';
        const int32_t group[4] = {r.features, r.send_time, r.group_value, r.cpid};
        r.media_kind = audio ? 2 : 1;
        std::memcpy(audio ? r.audio_section : r.video_section, group, sizeof group);
    }
    Compare("f39260000417E");
    CHECK(tovarine::local_heap::LiveBlocks() == blocks);
    return 0;
}
