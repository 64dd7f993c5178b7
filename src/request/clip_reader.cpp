// The media clip request reader, which fills the host's MediaRequest record.
#include <cstddef>
#include <cstring>

#include "request/reader_fields.h"
#include "request/reader_steps.h"
#include "tovarine.h"

// The record's layout is part of the interface: hosts compiled against it expect these offsets.
static_assert(offsetof(MediaRequest, media_kind) == 0);
static_assert(offsetof(MediaRequest, media_file) == 4);
static_assert(offsetof(MediaRequest, start_msec) == 260);
static_assert(offsetof(MediaRequest, stop_msec) == 264);
static_assert(offsetof(MediaRequest, burst) == 268);
static_assert(offsetof(MediaRequest, looping) == 276);
static_assert(offsetof(MediaRequest, frame_rate) == 288);
static_assert(offsetof(MediaRequest, width) == 296);
static_assert(offsetof(MediaRequest, height) == 300);
static_assert(offsetof(MediaRequest, quality) == 304);
static_assert(offsetof(MediaRequest, video_section) == 316);
static_assert(offsetof(MediaRequest, segment) == 352);
static_assert(offsetof(MediaRequest, channel) == 364);
static_assert(offsetof(MediaRequest, audio_section) == 372);
static_assert(offsetof(MediaRequest, features) == 392);
static_assert(offsetof(MediaRequest, send_time) == 396);
static_assert(offsetof(MediaRequest, group_value) == 400);
static_assert(offsetof(MediaRequest, cpid) == 404);
static_assert(sizeof(MediaRequest) == 408);

extern "C" int32_t f39260000417E(const char *text, MediaRequest *record) {
    using namespace tovarine;
    if (text == nullptr || record == nullptr) return 0;
    MediaRequest &r = *record;
    void *const outputs[] = {r.media_file, &r.start_msec, &r.looping,   &r.stop_msec,  &r.burst,
                             &r.cpid,      &r.features,   &r.send_time, &r.frame_rate, &r.width,
                             &r.height,    &r.quality,    &r.segment,   &r.channel,    record};
    static_assert(std::size(outputs) == std::size(kClipFields));
    static_assert(kClipFields[0].capacity == sizeof r.media_file);
    constexpr size_t kMediaType = std::size(kClipFields) - 1;
    static_assert(kClipFields[kMediaType].output == Output::kMediaKind);
    const FieldReader reader(text, kClipTable, outputs);
    if (!reader.ok()) return 0;
    reader.WriteAll();

    // The section receives the stream values as the record holds them now.
    if (reader.Found(kMediaType)) {
        const int32_t group[4] = {r.features, r.send_time, r.group_value, r.cpid};
        const int32_t kind = MediaKindOf(reader.FirstByte(kMediaType));
        if (kind == kAudioKind) {
            r.media_kind = kind;
            std::memcpy(r.audio_section, group, sizeof group);
        } else if (kind == kVideoKind) {
            r.media_kind = kind;
            std::memcpy(r.video_section, group, sizeof group);
        }
    }
    return 0;
}
