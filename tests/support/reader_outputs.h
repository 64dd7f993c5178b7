// What each reader's export writes for a text, by the tool's output name: the explanation's
// test and fuzzer compare it with what --explain says was written. Each output is read after
// two runs with different presets, so that only outputs the export wrote are kept, and compared
// by its bits, so that NaNs and signed zeros count.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

#include "tovarine.h"

namespace reader_outputs {

struct Bits {
    std::string repr;
    bool operator==(const Bits &) const = default;
};
inline Bits BitsOf(int32_t v) { return {"i" + std::to_string(v)}; }
inline Bits BitsOf(double v) { return {"d" + std::to_string(std::bit_cast<uint64_t>(v))}; }
inline Bits BitsOf(float v) { return {"f" + std::to_string(std::bit_cast<uint32_t>(v))}; }
inline Bits BitsOf(const std::string &v) { return {"s" + v}; }

using Written = std::map<std::string, Bits>;  // by the tool's output name

// The preset of run 0 or 1: an output holding the same value after both was written.
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
#define READER_OUTPUTS_LIVE(X) X(server) X(device) X(framerate) X(timeout) X(mozilla) \
    X(features) X(sendtime) X(sendstate) X(cpid) X(slide_show)
#define READER_OUTPUTS_STREAM(X) X(server) X(segment) X(channel) X(sendstate) X(timeout) \
    X(features) X(sendtime) X(cpid)
#define READER_OUTPUTS_CAMERA(X) X(model) X(camera) X(device) X(number) X(speed) X(command) \
    X(button)
#define READER_OUTPUTS_CLIP(X) X(media_kind) X(media_file) X(start_msec) X(stop_msec) X(burst) \
    X(looping) X(frame_rate) X(width) X(height) X(quality) X(segment) X(channel) X(features) \
    X(send_time) X(cpid)
// clang-format on

// What the export of reader `kind` ("live", "stream", "camera" or "clip") writes for `text`;
// `check` is given each call's result.
template <class Check>
Written RunExport(std::string_view kind, const char *text, Check check) {
    Written out;
#define READER_OUTPUTS_PRESET(f) Preset(r[run].f, run);
#define READER_OUTPUTS_COLLECT(f) Collect(out, #f, r[0].f, r[1].f);
    if (kind == "live") {
        auto r = std::make_unique<Live[]>(2);
        for (int run = 0; run < 2; ++run) {
            READER_OUTPUTS_LIVE(READER_OUTPUTS_PRESET)
            Live &o = r[run];
            check(f3121538644(text, &o.server, &o.device, &o.framerate, &o.timeout, &o.mozilla,
                              &o.features, &o.sendtime, &o.sendstate, &o.cpid, &o.slide_show));
        }
        READER_OUTPUTS_LIVE(READER_OUTPUTS_COLLECT)
    } else if (kind == "stream") {
        auto r = std::make_unique<Stream[]>(2);
        for (int run = 0; run < 2; ++run) {
            READER_OUTPUTS_STREAM(READER_OUTPUTS_PRESET)
            Stream &o = r[run];
            check(f373279(text, &o.server, &o.segment, &o.channel, &o.sendstate, &o.timeout,
                          &o.features, &o.sendtime, &o.cpid));
        }
        READER_OUTPUTS_STREAM(READER_OUTPUTS_COLLECT)
    } else if (kind == "camera") {
        auto r = std::make_unique<Camera[]>(2);
        for (int run = 0; run < 2; ++run) {
            READER_OUTPUTS_CAMERA(READER_OUTPUTS_PRESET)
            Camera &o = r[run];
            check(f3221538674(text, o.model, o.camera, o.device, o.number, o.speed, o.command,
                              o.button));
        }
        READER_OUTPUTS_CAMERA(READER_OUTPUTS_COLLECT)
    } else {
        auto r = std::make_unique<MediaRequest[]>(2);
        for (int run = 0; run < 2; ++run) {
            READER_OUTPUTS_CLIP(READER_OUTPUTS_PRESET)
            check(f39260000417E(text, &r[run]));
        }
        READER_OUTPUTS_CLIP(READER_OUTPUTS_COLLECT)
    }
#undef READER_OUTPUTS_PRESET
#undef READER_OUTPUTS_COLLECT
    return out;
}

}  // namespace reader_outputs
