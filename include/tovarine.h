/*
 * tovarine: request parameters and settings persistence for the media servers of the family.
 *
 * One header for C and C++ hosts. Hosts call the exports by name and pass arguments by
 * position, so the argument order of every declaration here is binding, and so is the byte
 * layout of MediaRequest. tovarine_host.h gives typed calls over these exports: one record of
 * outputs per reader, and names for the message-box answers and setting types.
 *
 * The text each reader takes is the request from the character after the target's path (its
 * "?") to the end of the header block, NUL-terminated: the parameters end at the first blank.
 */
#ifndef TOVARINE_H
#define TOVARINE_H

#include <stddef.h>
#include <stdint.h>

/* TOVARINE_VERSION_MAJOR, _MINOR, _PATCH and TOVARINE_VERSION_STRING ("0.1.0"): the version of
 * the library this header belongs to. A host may test them with #if. */
#include "tovarine_version.h"

#if defined(_WIN32)
#include <windows.h>
#elif !defined(TOVARINE_WIN32_TYPES_DEFINED)
#define TOVARINE_WIN32_TYPES_DEFINED
/* The Windows types of the settings exports on POSIX: opaque handles and the time of a last
 * write, with the Windows layout. A host that has these types of its own defines
 * TOVARINE_WIN32_TYPES_DEFINED before including this header. */
typedef struct tovarine_window *HWND;
typedef struct tovarine_key *HKEY;
typedef struct tovarine_filetime {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} FILETIME;
#endif

#if defined(_WIN32)
#if defined(TOVARINE_BUILDING)
#define TOVARINE_API
#else
#define TOVARINE_API __declspec(dllimport)
#endif
#elif defined(__GNUC__)
#define TOVARINE_API __attribute__((visibility("default")))
#else
#define TOVARINE_API
#endif

/* The exports use the C calling convention on 32-bit Windows too (the caller pops the
 * arguments, names undecorated in the DLL), also for hosts compiled with another default. */
#if defined(_WIN32)
#define TOVARINE_CALL __cdecl
#else
#define TOVARINE_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * The media clip server's request record. Host-owned; the reader writes only the fields named
 * below and never a reserved field or anything after cpid. Offsets in bytes are given for each
 * field; the record has no padding of its own.
 */
typedef struct MediaRequest {
    int32_t media_kind;       /*   0: 1 video, 2 audio ("mediatype") */
    char media_file[256];     /*   4: "mediafile", at most 255 characters and a NUL */
    int32_t start_msec;       /* 260: "startmsec" */
    int32_t stop_msec;        /* 264: "stopmsec" */
    float burst;              /* 268: "doburst", narrowed to 32 bits */
    uint8_t reserved1[4];     /* 272: host */
    int32_t looping;          /* 276: "looping" */
    uint8_t reserved2[8];     /* 280: host */
    double frame_rate;        /* 288: "framerate" */
    int32_t width;            /* 296: "width" */
    int32_t height;           /* 300: "height" */
    int32_t quality;          /* 304: "quality" */
    uint8_t reserved3[8];     /* 308: host */
    int32_t video_section[4]; /* 316: copy of features, send time, group value, cpid */
    uint8_t reserved4[20];    /* 332: host */
    int32_t segment;          /* 352: "segment" */
    uint8_t reserved5[8];     /* 356: host */
    int32_t channel;          /* 364: "channel", as a number */
    uint8_t reserved6[4];     /* 368: host */
    int32_t audio_section[4]; /* 372: copy of features, send time, group value, cpid */
    uint8_t reserved7[4];     /* 388: host */
    int32_t features;         /* 392: "features" */
    int32_t send_time;        /* 396: "sendtime" */
    int32_t group_value;      /* 400: host's; copied into a section, never written */
    int32_t cpid;             /* 404: "cpid" */
} MediaRequest;

/*
 * One setting of a host's settings table. A table is a contiguous array of descriptors ended by
 * one whose name is NULL (of that one no other field is read). The library writes only the
 * scratch fields (NULL again when a settings call returns) and, on a confirmed load, the
 * variables.
 *   type 1: text; variable is a char array of `size` bytes holding a NUL-terminated string
 *   type 3: bytes; `size` raw bytes, stored as 2*size lowercase hex digits
 *   type 4: signed 32-bit integer (size at least 4), stored in decimal
 * A descriptor with another type, or a size below what its type needs, is skipped.
 */
typedef struct SettingDescriptor {
    const char *name; /* setting and registry value name; NULL ends the table */
    int16_t type;     /* 1, 3 or 4 */
    int16_t size;     /* bytes of one value */
    void *variable;   /* the host's variable, at least size bytes */
    void *scratch;    /* working field of a transfer; never read on entry */
} SettingDescriptor;

/*
 * The layouts hosts compile against, checked wherever the compiler can: MediaRequest is the same
 * on every target; SettingDescriptor holds pointers, so its offsets follow the word size (4 or 8
 * bytes: 32- and 64-bit hosts).
 */
#if defined(__cplusplus) && __cplusplus >= 201103L
#define TOVARINE_LAYOUT_CHECK(condition, what) static_assert(condition, what)
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define TOVARINE_LAYOUT_CHECK(condition, what) _Static_assert(condition, what)
#endif
#ifdef TOVARINE_LAYOUT_CHECK
TOVARINE_LAYOUT_CHECK(
    offsetof(MediaRequest, media_kind) == 0 && offsetof(MediaRequest, media_file) == 4 &&
        offsetof(MediaRequest, start_msec) == 260 && offsetof(MediaRequest, stop_msec) == 264 &&
        offsetof(MediaRequest, burst) == 268 && offsetof(MediaRequest, looping) == 276 &&
        offsetof(MediaRequest, frame_rate) == 288 && offsetof(MediaRequest, width) == 296 &&
        offsetof(MediaRequest, height) == 300 && offsetof(MediaRequest, quality) == 304 &&
        offsetof(MediaRequest, video_section) == 316 && offsetof(MediaRequest, segment) == 352 &&
        offsetof(MediaRequest, channel) == 364 && offsetof(MediaRequest, audio_section) == 372 &&
        offsetof(MediaRequest, features) == 392 && offsetof(MediaRequest, send_time) == 396 &&
        offsetof(MediaRequest, group_value) == 400 && offsetof(MediaRequest, cpid) == 404 &&
        sizeof(MediaRequest) == 408,
    "MediaRequest must have the layout the servers were built with");
TOVARINE_LAYOUT_CHECK(sizeof(void *) == 4 || sizeof(void *) == 8,
                      "hosts are 32- or 64-bit processes");
TOVARINE_LAYOUT_CHECK(offsetof(SettingDescriptor, name) == 0 &&
                          offsetof(SettingDescriptor, type) == sizeof(void *) &&
                          offsetof(SettingDescriptor, size) == sizeof(void *) + 2 &&
                          offsetof(SettingDescriptor, variable) == 2 * sizeof(void *) &&
                          offsetof(SettingDescriptor, scratch) == 3 * sizeof(void *) &&
                          sizeof(SettingDescriptor) == 4 * sizeof(void *),
                      "SettingDescriptor must be {name, type, size, variable, scratch}: 16 "
                      "bytes with 4-byte pointers, 32 with 8-byte ones");
#undef TOVARINE_LAYOUT_CHECK
#endif

/* Replaces the instance selector and returns the previous one. 0: settings calls ask the user;
 * any other value: silent, and only the saved instance with that place is used. */
TOVARINE_API int32_t TOVARINE_CALL f9832144782(int32_t new_selector);

/* Looks a parameter up by name (exact, case-sensitive); returns the first matching value or
 * NULL. The pointer is valid until the list is released. */
TOVARINE_API char *TOVARINE_CALL f385562(const char *name, int32_t count, char **names,
                                         char **values);

/* Live video request: server, device, framerate, timeout (seconds in, milliseconds out),
 * mozilla, features, sendtime, sendstate, cpid, slide_show. mozilla is set to 1 (never to 0)
 * when the word after the "User-Agent:" header begins with "Mozilla", the header's name and
 * the word both matched in any letter case; the text must reach the end of the headers for
 * it. Returns 0. Outputs whose parameter is absent, and NULL outputs, are not written. */
TOVARINE_API int32_t TOVARINE_CALL f3121538644(const char *text, int32_t *server, int32_t *device,
                                               double *framerate, int32_t *timeout,
                                               int32_t *mozilla, int32_t *features,
                                               int32_t *sendtime, int32_t *sendstate, int32_t *cpid,
                                               int32_t *slide_show);

/* Segment/channel stream request: server, segment, channel flag ("R"/"r" first gives 1),
 * sendstate, timeout (seconds in, milliseconds out, as the live reader), features, sendtime,
 * cpid. Returns 0. Outputs whose parameter is absent, and NULL outputs, are not written. */
TOVARINE_API int32_t TOVARINE_CALL f373279(const char *text, int32_t *server, int32_t *segment,
                                           int32_t *channel, int32_t *sendstate, int32_t *timeout,
                                           int32_t *features, int32_t *sendtime, int32_t *cpid);

/* Camera control request: each buffer receives its decoded value as text, at most 1023
 * characters and a NUL (buffers need 1024 bytes). Returns 0. */
TOVARINE_API int32_t TOVARINE_CALL f3221538674(const char *text, char *model, char *camera,
                                               char *device, char *number, char *speed,
                                               char *command, char *button);

/* Media clip request into the host's record. Returns 0. */
TOVARINE_API int32_t TOVARINE_CALL f39260000417E(const char *text, MediaRequest *record);

/* Transfers one settings table to (save != 0) or from (save == 0) the registry key at key_path
 * below HKEY_CURRENT_USER, after listing every change in a Yes/No box (silent when the instance
 * selector is nonzero). A save returns 1; a load returns 1 when something was listed and
 * confirmed, else 0. */
TOVARINE_API int32_t TOVARINE_CALL qy63B1(HWND owner, const char *key_path,
                                          SettingDescriptor *table, int32_t save);

/* Saves the table into a new instance key "NAME n" under the open settings root. Returns 0. */
TOVARINE_API int32_t TOVARINE_CALL qy75BB(HKEY settings_root, HWND owner, const char *settings_name,
                                          SettingDescriptor *table, char *name_buffer,
                                          uint32_t name_capacity, char *class_buffer,
                                          uint32_t class_capacity, FILETIME *last_write);

/* Loads (save == 0) or saves the table by settings name. Returns the Win32 error code of
 * opening the settings root, else that of closing it (0). */
TOVARINE_API int32_t TOVARINE_CALL qy189C(HWND owner, const char *settings_name,
                                          SettingDescriptor *table, int32_t save);

/* qy189C with save 0 and 1. */
TOVARINE_API int32_t TOVARINE_CALL qy45AF(HWND owner, const char *settings_name,
                                          SettingDescriptor *table);
TOVARINE_API int32_t TOVARINE_CALL qy70EE(HWND owner, const char *settings_name,
                                          SettingDescriptor *table);

#if !defined(_WIN32)
/* POSIX only: who shows the library's message boxes. The handler returns what a Windows
 * message box would: IDOK 1, IDYES 6, IDNO 7, or 0 when the box could not be shown (a Yes/No
 * box then counts as No). With no handler (or after NULL is installed) the library asks on the
 * controlling terminal, and a process without one gets 0. */
typedef int (*tovarine_message_box_handler)(void *context, HWND owner, const char *text,
                                            const char *caption, unsigned int type);
TOVARINE_API void TOVARINE_CALL
tovarine_set_message_box_handler(tovarine_message_box_handler handler, void *context);

/* POSIX only: where the library's diagnostics go. Each is one line about a failure that the
 * call itself does not report: a save that could not be written, or a settings store that
 * could not be opened (damaged, not a store, unreadable, locked by another program past the
 * wait, a symbolic link of another user's). `error` is the Win32 error code (1013 a key that
 * could not be written, 1009 a damaged store, 5 a refused link, ...); `key_path` the key
 * concerned ("HKEY_CURRENT_USER\..."), or NULL for the store as a whole; `text` the line,
 * without a line end, the same words the library otherwise writes to standard error. The
 * handler runs on the thread of the failing call, with no lock of the library's held, and may
 * call the library. With no handler (or after NULL is installed) the lines go to standard
 * error. A settings root that does not exist is no failure and is not told. May be called
 * from any thread; Windows hands the same lines to OutputDebugStringA. */
typedef void (*tovarine_diagnostic_handler)(void *context, int32_t error, const char *key_path,
                                            const char *text);
TOVARINE_API void TOVARINE_CALL tovarine_set_diagnostic_handler(tovarine_diagnostic_handler handler,
                                                                void *context);
#endif

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* TOVARINE_H */
