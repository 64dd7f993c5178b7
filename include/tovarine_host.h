/*
 * tovarine_host.h: readable, typed calls over the exports of tovarine.h, for hosts written in C
 * (C99 and later) or C++ (C++11 and later).
 *
 * Header-only: every call here is a static inline function that passes its arguments to one
 * export, so the library exports nothing more and a host may mix these calls with the exports.
 * Each reader's outputs are one record whose fields are in the reader's argument order and
 * carry its parameter names, so that two outputs cannot be swapped unnoticed. As with the
 * exports, a reader writes only the outputs whose parameter the request holds: the host presets
 * the record with its defaults, and an absent parameter leaves its field as it was.
 *
 * The text to pass is the request from the character after the target's path (its "?") to the
 * end of the header block, NUL-terminated: the parameter part ends at its first blank, and the
 * live reader finds the "User-Agent:" header after it.
 */
#ifndef TOVARINE_HOST_H
#define TOVARINE_HOST_H

#include "tovarine.h"

#ifdef __cplusplus
extern "C" {
#endif

/* What a message box returns, and the kinds of box, with their Windows values: a host's
 * message-box handler on POSIX returns one of the first three. */
#define TOVARINE_IDOK 1
#define TOVARINE_IDYES 6
#define TOVARINE_IDNO 7
#define TOVARINE_MB_OK 0x00000000u
#define TOVARINE_MB_YESNO 0x00000004u
#define TOVARINE_MB_ICONERROR 0x00000010u
#define TOVARINE_MB_ICONQUESTION 0x00000020u

/* The types of a SettingDescriptor: text (a char array of size bytes holding a string), bytes
 * (size raw bytes) and a signed 32-bit integer. */
#define TOVARINE_SETTING_TEXT 1
#define TOVARINE_SETTING_BYTES 3
#define TOVARINE_SETTING_INT32 4

/* Bytes of each camera output, its NUL included. */
#define TOVARINE_CAMERA_TEXT_BYTES 1024

/* The live video server's outputs, as f3121538644 writes them. */
typedef struct tovarine_live_outputs {
    int32_t server;     /* "server" */
    int32_t device;     /* "device" */
    double framerate;   /* "framerate" */
    int32_t timeout;    /* "timeout": seconds in the request, milliseconds here */
    int32_t mozilla;    /* set to 1 when the "User-Agent:" header names a Mozilla client */
    int32_t features;   /* "features" */
    int32_t sendtime;   /* "sendtime" */
    int32_t sendstate;  /* "sendstate" */
    int32_t cpid;       /* "cpid" */
    int32_t slide_show; /* "slide_show" */
} tovarine_live_outputs;

/* The segment/channel stream server's outputs, as f373279 writes them. */
typedef struct tovarine_stream_outputs {
    int32_t server;    /* "server" */
    int32_t segment;   /* "segment" */
    int32_t channel;   /* "channel": 1 when its value begins with "R" or "r", else 0 */
    int32_t sendstate; /* "sendstate" */
    int32_t timeout;   /* "timeout": seconds in the request, milliseconds here */
    int32_t features;  /* "features" */
    int32_t sendtime;  /* "sendtime" */
    int32_t cpid;      /* "cpid" */
} tovarine_stream_outputs;

/* The camera-control server's outputs, as f3221538674 writes them: each the decoded value as
 * text, cut at 1023 bytes, and a NUL. */
typedef struct tovarine_camera_outputs {
    char model[TOVARINE_CAMERA_TEXT_BYTES];   /* "model" */
    char camera[TOVARINE_CAMERA_TEXT_BYTES];  /* "camera" */
    char device[TOVARINE_CAMERA_TEXT_BYTES];  /* "device" */
    char number[TOVARINE_CAMERA_TEXT_BYTES];  /* "number" */
    char speed[TOVARINE_CAMERA_TEXT_BYTES];   /* "speed" */
    char command[TOVARINE_CAMERA_TEXT_BYTES]; /* "command" */
    char button[TOVARINE_CAMERA_TEXT_BYTES];  /* "button" */
} tovarine_camera_outputs;

/* Reads a live video request into *out (nothing is written when out is NULL). Returns 0. */
static inline int32_t tovarine_read_live(const char *text, tovarine_live_outputs *out) {
    if (out == NULL) return 0;
    return f3121538644(text, &out->server, &out->device, &out->framerate, &out->timeout,
                       &out->mozilla, &out->features, &out->sendtime, &out->sendstate, &out->cpid,
                       &out->slide_show);
}

/* Reads a segment/channel stream request into *out (nothing when out is NULL). Returns 0. */
static inline int32_t tovarine_read_stream(const char *text, tovarine_stream_outputs *out) {
    if (out == NULL) return 0;
    return f373279(text, &out->server, &out->segment, &out->channel, &out->sendstate, &out->timeout,
                   &out->features, &out->sendtime, &out->cpid);
}

/* Reads a camera control request into *out (nothing when out is NULL). Returns 0. */
static inline int32_t tovarine_read_camera(const char *text, tovarine_camera_outputs *out) {
    if (out == NULL) return 0;
    return f3221538674(text, out->model, out->camera, out->device, out->number, out->speed,
                       out->command, out->button);
}

/* Reads a media clip request into the host's record (nothing when it is NULL). Returns 0. */
static inline int32_t tovarine_read_clip(const char *text, MediaRequest *record) {
    return f39260000417E(text, record);
}

/* Loads the table from its saved instance "SETTINGS_NAME n", after asking (silent with a
 * nonzero instance selector). Returns the Win32 error code of opening the settings root (2 when
 * there is none), else that of closing it (0). */
static inline int32_t tovarine_load_settings(HWND owner, const char *settings_name,
                                             SettingDescriptor *table) {
    return qy45AF(owner, settings_name, table);
}

/* Saves the table into its instance, or a new one, after asking (silent with a nonzero
 * instance selector). Returns as tovarine_load_settings; a failed write is told to the
 * diagnostic handler, not through the result. */
static inline int32_t tovarine_save_settings(HWND owner, const char *settings_name,
                                             SettingDescriptor *table) {
    return qy70EE(owner, settings_name, table);
}

/* Saves (save != 0) or loads the table at key_path below HKEY_CURRENT_USER. A save returns 1;
 * a load 1 when something was listed and confirmed, else 0. */
static inline int32_t tovarine_transfer_settings(HWND owner, const char *key_path,
                                                 SettingDescriptor *table, int32_t save) {
    return qy63B1(owner, key_path, table, save);
}

/* Replaces the process-wide instance selector and returns the previous one: 0 asks the user,
 * any other value makes the settings calls silent and use only the saved instance at that
 * place. */
static inline int32_t tovarine_set_instance_selector(int32_t selector) {
    return f9832144782(selector);
}

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TOVARINE_HOST_H */
