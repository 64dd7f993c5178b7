/* The typed calls of tovarine_host.h against the exports they wrap: for every request of a
 * table, a record filled through a typed call must hold, field by field, what the export writes
 * into separate variables preset the same way; and the settings calls must save, load and
 * select as their exports do. Built as C99 and, through host_kit_test.cpp, as C++11, on Linux
 * and for the DLL under Wine, with -Wconversion -Wshadow -pedantic.
 *
 * Every request gives each parameter a different value, so that a call passing two outputs in
 * the wrong order shows as a difference. */
#include <stdio.h>
#include <string.h>
#include <tovarine_host.h>

static int checks;
static int failures;
#define CHECK(cond)                                                                  \
    do {                                                                             \
        ++checks;                                                                    \
        if (!(cond)) {                                                               \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++failures;                                                              \
        }                                                                            \
    } while (0)
#define SAME(a, b) CHECK(memcmp(&(a), &(b), sizeof(a)) == 0)

/* The version macros are usable in #if and agree with the text. */
#if !defined(TOVARINE_VERSION_MAJOR) || !defined(TOVARINE_VERSION_MINOR) || \
    !defined(TOVARINE_VERSION_PATCH) || TOVARINE_VERSION_MAJOR < 0
#error "tovarine.h does not give the library's version"
#endif

static void check_version(void) {
    char text[64];
    snprintf(text, sizeof text, "%d.%d.%d", TOVARINE_VERSION_MAJOR, TOVARINE_VERSION_MINOR,
             TOVARINE_VERSION_PATCH);
    CHECK(strcmp(text, TOVARINE_VERSION_STRING) == 0);
}

/* The constants have the values of the Windows interfaces they stand for. */
static void check_constants(void) {
    CHECK(TOVARINE_IDOK == 1 && TOVARINE_IDYES == 6 && TOVARINE_IDNO == 7);
    CHECK(TOVARINE_MB_OK == 0 && TOVARINE_MB_YESNO == 4 && TOVARINE_MB_ICONERROR == 0x10 &&
          TOVARINE_MB_ICONQUESTION == 0x20);
    CHECK(TOVARINE_SETTING_TEXT == 1 && TOVARINE_SETTING_BYTES == 3 && TOVARINE_SETTING_INT32 == 4);
#if defined(_WIN32)
    CHECK(TOVARINE_IDOK == IDOK && TOVARINE_IDYES == IDYES && TOVARINE_IDNO == IDNO);
    CHECK(TOVARINE_MB_OK == MB_OK && TOVARINE_MB_YESNO == MB_YESNO &&
          TOVARINE_MB_ICONERROR == MB_ICONERROR && TOVARINE_MB_ICONQUESTION == MB_ICONQUESTION);
#endif
}

static const char *const kLiveRequests[] = {
    "?server=2&device=3&framerate=29.97&timeout=4&features=5&sendtime=6&sendstate=7&cpid=8"
    "&slide_show=9 HTTP/1.1\r\nUser-Agent: Mozilla/5.0 (X11)\r\n\r\n",
    "?slide_show=19&cpid=18&sendstate=17&sendtime=16&features=15&timeout=14&framerate=13"
    "&device=12&server=11 HTTP/1.1\r\nuser-agent: curl/8.0\r\n\r\n",
    "?server=1&timeout=99999999&framerate=1e400 HTTP/1.1\r\n\r\n",
    "?device=21 HTTP/1.1\r\nUSER-AGENT: mozilla/4.0\r\n\r\n",
    "",
    NULL,
};

static void check_live(void) {
    size_t i;
    for (i = 0; i < sizeof kLiveRequests / sizeof kLiveRequests[0]; ++i) {
        tovarine_live_outputs typed;
        int32_t server, device, timeout, mozilla, features, sendtime, sendstate, cpid, slide_show;
        double framerate;
        memset(&typed, 0x5A, sizeof typed);
        memset(&server, 0x5A, sizeof server);
        memset(&device, 0x5A, sizeof device);
        memset(&framerate, 0x5A, sizeof framerate);
        memset(&timeout, 0x5A, sizeof timeout);
        memset(&mozilla, 0x5A, sizeof mozilla);
        memset(&features, 0x5A, sizeof features);
        memset(&sendtime, 0x5A, sizeof sendtime);
        memset(&sendstate, 0x5A, sizeof sendstate);
        memset(&cpid, 0x5A, sizeof cpid);
        memset(&slide_show, 0x5A, sizeof slide_show);
        CHECK(tovarine_read_live(kLiveRequests[i], &typed) ==
              f3121538644(kLiveRequests[i], &server, &device, &framerate, &timeout, &mozilla,
                          &features, &sendtime, &sendstate, &cpid, &slide_show));
        SAME(typed.server, server);
        SAME(typed.device, device);
        SAME(typed.framerate, framerate);
        SAME(typed.timeout, timeout);
        SAME(typed.mozilla, mozilla);
        SAME(typed.features, features);
        SAME(typed.sendtime, sendtime);
        SAME(typed.sendstate, sendstate);
        SAME(typed.cpid, cpid);
        SAME(typed.slide_show, slide_show);
    }
    /* The fields are named as the outputs: a request read through the record. */
    {
        tovarine_live_outputs out;
        memset(&out, 0, sizeof out);
        out.device = -1;
        tovarine_read_live(kLiveRequests[1], &out);
        CHECK(out.server == 11 && out.device == 12 && out.framerate == 13.0 &&
              out.timeout == 14000 && out.features == 15 && out.sendtime == 16 &&
              out.sendstate == 17 && out.cpid == 18 && out.slide_show == 19 && out.mozilla == 0);
        tovarine_read_live("?device=1 HTTP/1.1\r\nUser-Agent: MOZILLA/5.0\r\n\r\n", &out);
        CHECK(out.mozilla == 1 && out.device == 1 && out.server == 11);
    }
    CHECK(tovarine_read_live(kLiveRequests[0], NULL) == 0);
}

static const char *const kStreamRequests[] = {
    "?server=2&segment=3&channel=Right&sendstate=5&timeout=6&features=7&sendtime=8&cpid=9"
    " HTTP/1.1\r\n\r\n",
    "?cpid=19&sendtime=18&features=17&timeout=16&sendstate=15&channel=left&segment=13"
    "&server=12",
    "?channel=r&timeout=-3000000",
    "",
    NULL,
};

static void check_stream(void) {
    size_t i;
    for (i = 0; i < sizeof kStreamRequests / sizeof kStreamRequests[0]; ++i) {
        tovarine_stream_outputs typed;
        int32_t server, segment, channel, sendstate, timeout, features, sendtime, cpid;
        memset(&typed, 0x5A, sizeof typed);
        memset(&server, 0x5A, sizeof server);
        memset(&segment, 0x5A, sizeof segment);
        memset(&channel, 0x5A, sizeof channel);
        memset(&sendstate, 0x5A, sizeof sendstate);
        memset(&timeout, 0x5A, sizeof timeout);
        memset(&features, 0x5A, sizeof features);
        memset(&sendtime, 0x5A, sizeof sendtime);
        memset(&cpid, 0x5A, sizeof cpid);
        CHECK(tovarine_read_stream(kStreamRequests[i], &typed) ==
              f373279(kStreamRequests[i], &server, &segment, &channel, &sendstate, &timeout,
                      &features, &sendtime, &cpid));
        SAME(typed.server, server);
        SAME(typed.segment, segment);
        SAME(typed.channel, channel);
        SAME(typed.sendstate, sendstate);
        SAME(typed.timeout, timeout);
        SAME(typed.features, features);
        SAME(typed.sendtime, sendtime);
        SAME(typed.cpid, cpid);
    }
    {
        tovarine_stream_outputs out;
        memset(&out, 0, sizeof out);
        tovarine_read_stream(kStreamRequests[1], &out);
        CHECK(out.server == 12 && out.segment == 13 && out.channel == 0 && out.sendstate == 15 &&
              out.timeout == 16000 && out.features == 17 && out.sendtime == 18 && out.cpid == 19);
    }
    CHECK(tovarine_read_stream(kStreamRequests[0], NULL) == 0);
}

static const char *const kCameraRequests[] = {
    "?model=m1&camera=c2&device=d3&number=n4&speed=s5&command=zoom+in&button=b%37",
    "?button=B&command=C&speed=S&number=N&device=D&camera=A&model=M HTTP/1.1\r\n\r\n",
    "?camera=%41%00x&unknown=1",
    "",
    NULL,
};

static tovarine_camera_outputs camera_typed, camera_plain;

static void check_camera(void) {
    size_t i;
    for (i = 0; i < sizeof kCameraRequests / sizeof kCameraRequests[0]; ++i) {
        memset(&camera_typed, 0x5A, sizeof camera_typed);
        memset(&camera_plain, 0x5A, sizeof camera_plain);
        CHECK(tovarine_read_camera(kCameraRequests[i], &camera_typed) ==
              f3221538674(kCameraRequests[i], camera_plain.model, camera_plain.camera,
                          camera_plain.device, camera_plain.number, camera_plain.speed,
                          camera_plain.command, camera_plain.button));
        SAME(camera_typed, camera_plain);
    }
    CHECK(sizeof camera_typed.model == 1024 && sizeof camera_typed.button == 1024);
    tovarine_read_camera(kCameraRequests[1], &camera_typed);
    CHECK(strcmp(camera_typed.model, "M") == 0 && strcmp(camera_typed.camera, "A") == 0 &&
          strcmp(camera_typed.device, "D") == 0 && strcmp(camera_typed.number, "N") == 0 &&
          strcmp(camera_typed.speed, "S") == 0 && strcmp(camera_typed.command, "C") == 0 &&
          strcmp(camera_typed.button, "B") == 0);
    CHECK(tovarine_read_camera(kCameraRequests[0], NULL) == 0);
}

static void check_clip(void) {
    static const char *const requests[] = {
        "?mediatype=video&mediafile=clip.avi&startmsec=1&stopmsec=2&doburst=1.5&looping=3"
        "&framerate=25&width=640&height=480&quality=7&segment=8&channel=9&features=10"
        "&sendtime=11&cpid=12",
        "?mediatype=Audio&features=1&cpid=2",
        "",
        NULL,
    };
    size_t i;
    for (i = 0; i < sizeof requests / sizeof requests[0]; ++i) {
        MediaRequest typed, plain;
        memset(&typed, 0x5A, sizeof typed);
        memset(&plain, 0x5A, sizeof plain);
        typed.group_value = plain.group_value = 77;
        CHECK(tovarine_read_clip(requests[i], &typed) == f39260000417E(requests[i], &plain));
        SAME(typed, plain);
    }
    CHECK(tovarine_read_clip(requests[0], NULL) == 0);
}

/* The settings a test host keeps: one of each type. */
typedef struct kit_settings {
    char title[32];
    int32_t port;
    unsigned char key[4];
} kit_settings;

static void describe(SettingDescriptor table[4], kit_settings *values) {
    memset(table, 0, 4 * sizeof table[0]);
    table[0].name = "title";
    table[0].type = TOVARINE_SETTING_TEXT;
    table[0].size = (int16_t)sizeof values->title;
    table[0].variable = values->title;
    table[1].name = "port";
    table[1].type = TOVARINE_SETTING_INT32;
    table[1].size = (int16_t)sizeof values->port;
    table[1].variable = &values->port;
    table[2].name = "key";
    table[2].type = TOVARINE_SETTING_BYTES;
    table[2].size = (int16_t)sizeof values->key;
    table[2].variable = values->key;
}

static void fill(kit_settings *values, const char *title, int32_t port, unsigned char key0) {
    memset(values, 0, sizeof *values);
    snprintf(values->title, sizeof values->title, "%s", title);
    values->port = port;
    values->key[0] = key0;
    values->key[3] = 0xFF;
}

/* Saving through one call and loading through the other, both ways; the settings calls are
 * silent with the selector set, so no box is shown. */
static void check_settings(const char *prefix) {
    char wrapped_path[128], plain_path[128], wrapped_name[64], plain_name[64];
    SettingDescriptor table[4];
    kit_settings saved, loaded;
    int32_t wrapped_result, plain_result;

    /* One selector, whichever call sets it. */
    CHECK(tovarine_set_instance_selector(3) == 0);
    CHECK(f9832144782(4) == 3);
    CHECK(tovarine_set_instance_selector(1) == 4);

    snprintf(wrapped_path, sizeof wrapped_path, "Software\\%s typed", prefix);
    snprintf(plain_path, sizeof plain_path, "Software\\%s plain", prefix);
    fill(&saved, "typed", 8080, 0x11);
    describe(table, &saved);
    wrapped_result = tovarine_transfer_settings(NULL, wrapped_path, table, 1);
    plain_result = qy63B1(NULL, plain_path, table, 1);
    CHECK(wrapped_result == 1 && plain_result == 1);
    fill(&loaded, "", 0, 0);
    describe(table, &loaded);
    CHECK(qy63B1(NULL, wrapped_path, table, 0) == 1);
    CHECK(memcmp(&loaded, &saved, sizeof saved) == 0);
    fill(&loaded, "", 0, 0);
    CHECK(tovarine_transfer_settings(NULL, plain_path, table, 0) == 1);
    CHECK(memcmp(&loaded, &saved, sizeof saved) == 0);

    snprintf(wrapped_name, sizeof wrapped_name, "%s Typed", prefix);
    snprintf(plain_name, sizeof plain_name, "%s Plain", prefix);
    fill(&saved, "by name", -42, 0x22);
    describe(table, &saved);
    wrapped_result = tovarine_save_settings(NULL, wrapped_name, table);
    plain_result = qy70EE(NULL, plain_name, table);
    CHECK(wrapped_result == 0 && plain_result == 0);
    fill(&loaded, "", 0, 0);
    describe(table, &loaded);
    CHECK(qy45AF(NULL, wrapped_name, table) == 0);
    CHECK(memcmp(&loaded, &saved, sizeof saved) == 0);
    fill(&loaded, "", 0, 0);
    CHECK(tovarine_load_settings(NULL, plain_name, table) == 0);
    CHECK(memcmp(&loaded, &saved, sizeof saved) == 0);
    /* A name never saved: both give the same result and leave the variables alone. */
    fill(&loaded, "kept", 1, 1);
    saved = loaded;
    CHECK(tovarine_load_settings(NULL, "never saved", table) == qy45AF(NULL, "never saved", table));
    CHECK(memcmp(&loaded, &saved, sizeof saved) == 0);

    CHECK(tovarine_set_instance_selector(0) == 1);
}

int main(int argc, char **argv) {
#if defined(_WIN32)
    /* The settings root, which an installer makes on Windows (on Linux the test's set-up does). */
    HKEY root = NULL;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Zel Inc.\\Zel Quantivale Servers", 0, NULL, 0,
                        KEY_ALL_ACCESS, NULL, &root, NULL) == ERROR_SUCCESS) {
        RegCloseKey(root);
    }
#endif
    check_version();
    check_constants();
    check_live();
    check_stream();
    check_camera();
    check_clip();
    check_settings(argc > 1 ? argv[1] : "tovarine host kit");
    printf("host_kit: %d passed, %d failed\n", checks - failures, failures);
    return failures == 0 ? 0 : 1;
}
