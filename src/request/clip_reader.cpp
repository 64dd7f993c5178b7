// The media clip request reader, which fills the host's MediaRequest record.
#include <cstddef>
#include <cstring>

#include "request/reader_fields.h"
#include "tovarine.h"

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
