/* A C11 host of the library: the header must compile as strict C, the record must have the
 * layout hosts rely on, and every export must be reachable and behave from C. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>
#include <tovarine.h>

#define LAYOUT(field, offset) \
    _Static_assert(offsetof(MediaRequest, field) == (offset), "MediaRequest." #field)
LAYOUT(media_kind, 0);
LAYOUT(media_file, 4);
LAYOUT(start_msec, 260);
LAYOUT(stop_msec, 264);
LAYOUT(burst, 268);
LAYOUT(looping, 276);
LAYOUT(frame_rate, 288);
LAYOUT(width, 296);
LAYOUT(height, 300);
LAYOUT(quality, 304);
LAYOUT(video_section, 316);
LAYOUT(segment, 352);
LAYOUT(channel, 364);
LAYOUT(audio_section, 372);
LAYOUT(features, 392);
LAYOUT(send_time, 396);
LAYOUT(group_value, 400);
LAYOUT(cpid, 404);
_Static_assert(sizeof(MediaRequest) == 408, "sizeof MediaRequest");

static int failures;
#define CHECK(cond)                                                                  \
    do {                                                                             \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                              \
        }                                                                            \
    } while (0)

int main(void) {
    CHECK(f9832144782(5) == 0);
    CHECK(f9832144782(0) == 5);

    char *names[] = {"a", "b"}, *values[] = {"1", "2"};
    CHECK(f385562("b", 2, names, values) == values[1]);
    CHECK(f385562(NULL, 2, names, values) == NULL);

    int32_t server = -1, device = -1, timeout = -1, mozilla = 0;
    double framerate = -1.0;
    CHECK(f3121538644("?server=2&timeout=3 HTTP/1.1\r\nUser-Agent: Mozilla/5.0\r\n", &server,
                      &device, &framerate, &timeout, &mozilla, NULL, NULL, NULL, NULL, NULL) == 0);
    CHECK(server == 2 && timeout == 3000 && mozilla == 1);
    CHECK(device == -1 && framerate == -1.0); /* absent: left alone */

    int32_t segment = -1, channel = -1, stream_timeout = -1;
    CHECK(f373279("?segment=7&channel=Right&timeout=2 HTTP/1.1", NULL, &segment, &channel, NULL,
                  &stream_timeout, NULL, NULL, NULL) == 0);
    CHECK(segment == 7 && channel == 1 && stream_timeout == 2000);

    static char model[1024] = "unset", command[1024] = "unset", button[1024] = "unset";
    CHECK(f3221538674("?model=ptz%2D1&command=zoom+in HTTP/1.1", model, NULL, NULL, NULL, NULL,
                      command, button) == 0);
    CHECK(strcmp(model, "ptz-1") == 0 && strcmp(command, "zoom in") == 0);
    CHECK(strcmp(button, "unset") == 0);

    MediaRequest record;
    memset(&record, 0xAB, sizeof record);
    record.group_value = 42;
    CHECK(f39260000417E("?mediatype=video&mediafile=clip.avi&width=640&features=3&cpid=9",
                        &record) == 0);
    CHECK(record.media_kind == 1 && record.width == 640 &&
          strcmp(record.media_file, "clip.avi") == 0);
    const int32_t section[4] = {3, record.send_time, 42, 9};
    CHECK(memcmp(record.video_section, section, sizeof section) == 0);
    CHECK(record.reserved1[0] == 0xAB && record.reserved7[3] == 0xAB);

    return failures == 0 ? 0 : 1;
}
