// The media clip request reader, which fills the host's MediaRequest record.
#include <cstddef>
#include <cstring>

#include "request/reader_outputs.h"
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
    const ParameterList list(text);
    StoreText(list, "mediafile", record->media_file, sizeof record->media_file);
    StoreInteger(list, "startmsec", &record->start_msec);
    StoreInteger(list, "looping", &record->looping);
    StoreInteger(list, "stopmsec", &record->stop_msec);
    if (const char *value = list.Find("doburst"); value != nullptr) {
        record->burst = NarrowToFloat(ConvertDecimal(value));
    }
    StoreInteger(list, "cpid", &record->cpid);
    StoreInteger(list, "features", &record->features);
    StoreInteger(list, "sendtime", &record->send_time);
    StoreDecimal(list, "framerate", &record->frame_rate);
    StoreInteger(list, "width", &record->width);
    StoreInteger(list, "height", &record->height);
    StoreInteger(list, "quality", &record->quality);
    StoreInteger(list, "segment", &record->segment);
    StoreInteger(list, "channel", &record->channel);

    // The media type comes last, so a section receives the stream values of this request
    // wherever "mediatype" stands in it.
    if (const char *type = list.Find("mediatype"); type != nullptr) {
        const int32_t group[4] = {record->features, record->send_time, record->group_value,
                                  record->cpid};
        if (type[0] == 'A' || type[0] == 'a') {
            record->media_kind = 2;
            std::memcpy(record->audio_section, group, sizeof group);
        } else if (type[0] == 'V' || type[0] == 'v') {
            record->media_kind = 1;
            std::memcpy(record->video_section, group, sizeof group);
        }
    }
    return 0;
}
