/*
 * http_server: an example HTTP server over the request readers and the settings calls of
 * tovarine_host.h. It answers GET /live, /stream, /camera and /clip with one JSON line of the
 * reader's outputs, preset with the server's defaults (some of them settings it keeps through
 * the library), and saves its settings on SIGHUP.
 *
 * Usage: http_server [--address A] [--port N] [--port-file F] [--log FILE] [--raw-log FILE]
 *                    [--settings NAME]
 *   --address A      IPv4 address to listen on (default 127.0.0.1)
 *   --port N         port (default 8080; 0 takes any free port). The port taken is printed on
 *                    standard output as "listening on ADDRESS:PORT" and, with --port-file, the
 *                    number alone is written to F.
 *   --log FILE       the server's own log: start, settings load and save, the library's
 *                    diagnostics and message boxes, stop (default: standard error)
 *   --raw-log FILE   every request's raw bytes, one line each: its number, a blank, base64
 *   --settings NAME  the settings name its instances are saved under (default "Example Server")
 * Signals: SIGHUP loads the settings again (an operator's edits take effect) and saves them
 * with the server's own count of requests served; SIGTERM and SIGINT stop the server (exit
 * status 0).
 *
 * Build against an installed library, with pkg-config:
 *   cc -std=c11 http_server.c -o http_server $(pkg-config --cflags --libs tovarine) \
 *      -Wl,-rpath,"$(pkg-config --variable=libdir tovarine)"
 * or with CMake: the CMakeLists.txt beside this file (find_package(tovarine)).
 *
 * How a request reaches a reader: the request's raw bytes are read into the connection's
 * receive buffer and the end of the header block ("\r\n\r\n") is found there. The reader is given
 * the text from the target's "?" to the end of the header block: a NUL is put after the header
 * block for the call and the byte it replaced is put back afterwards, so nothing is copied. The
 * reader's parameter part ends at the blank before "HTTP/1.1", and the live reader finds the
 * "User-Agent:" header in the rest. A target without "?" gives the text from the end of its path,
 * which begins with that blank: no parameter is read, but the headers still are.
 */
#define _POSIX_C_SOURCE 200809L

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <tovarine_host.h>

/* Bytes of one request's header block, its request line included; larger ones get 431. */
#define RECEIVE_BYTES 16384
/* One answer: the largest is the camera's, seven 1023-byte texts at six bytes a byte. */
#define ANSWER_BYTES 65536
#define MAX_CLIENTS 64
/* Requests taken from one connection's buffer before the other connections get their turn. */
#define REQUESTS_PER_TURN 32
/* Connections accepted in one turn of the loop. */
#define ACCEPTS_PER_TURN 16
/* A connection that neither sends nor takes anything for this long is closed. */
#define IDLE_SECONDS 30
/* A connection closed after its answer is read from and discarded for at most this long, and at
 * most DRAIN_BYTES: closing with unread bytes would reset it and lose the answer. */
#define DRAIN_SECONDS 2
#define DRAIN_BYTES (1024 * 1024)

/* ---- settings ------------------------------------------------------------------------------ */

static char setting_title[64] = "Example Server";
static int32_t setting_timeout_ms = 10000;
static int32_t setting_server = 1;
static unsigned char setting_key[4] = {0x00, 0x00, 0x00, 0x00};
/* The server's own state among its settings: requests answered over every run. The others are
 * the operator's to change; this one only the server writes. */
static int32_t setting_requests_served = 0;
static int32_t served_before_start;

static SettingDescriptor settings_table[] = {
    {"title", TOVARINE_SETTING_TEXT, (int16_t)sizeof setting_title, setting_title, NULL},
    {"default_timeout_ms", TOVARINE_SETTING_INT32, (int16_t)sizeof setting_timeout_ms,
     &setting_timeout_ms, NULL},
    {"default_server", TOVARINE_SETTING_INT32, (int16_t)sizeof setting_server, &setting_server,
     NULL},
    {"key", TOVARINE_SETTING_BYTES, (int16_t)sizeof setting_key, setting_key, NULL},
    {"requests_served", TOVARINE_SETTING_INT32, (int16_t)sizeof setting_requests_served,
     &setting_requests_served, NULL},
    {NULL, 0, 0, NULL, NULL},
};

/* The clip record's group value: the host's own, copied into a section by the reader. */
#define CLIP_GROUP_VALUE 77
/* What the reserved bytes of the clip record are filled with; the reader never writes them. */
#define CLIP_RESERVED_FILL 0x5a

/* ---- logs ---------------------------------------------------------------------------------- */

static FILE *server_log;
static FILE *raw_log;

static void log_line(const char *format, ...) {
    char stamp[32] = "";
    struct timespec now;
    struct tm utc;
    va_list args;
    if (clock_gettime(CLOCK_REALTIME, &now) == 0 && gmtime_r(&now.tv_sec, &utc) != NULL) {
        strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    }
    fprintf(server_log, "%s ", stamp);
    va_start(args, format);
    vfprintf(server_log, format, args);
    va_end(args);
    fputc('\n', server_log);
    fflush(server_log);
}

static void log_settings(const char *what) {
    log_line(
        "settings %s: title=\"%s\" default_timeout_ms=%d default_server=%d key=%02x%02x%02x%02x"
        " requests_served=%d",
        what, setting_title, (int)setting_timeout_ms, (int)setting_server, setting_key[0],
        setting_key[1], setting_key[2], setting_key[3], (int)setting_requests_served);
}

/* The library's diagnostics (a save that could not be written, a store that cannot be opened). */
static void on_diagnostic(void *context, int32_t error, const char *key_path, const char *text) {
    (void)context;
    log_line("library diagnostic: error %d, key %s: %s", (int)error,
             key_path != NULL ? key_path : "(the store)", text);
}

/* No person answers the library's boxes: a Yes/No box is answered Yes, any other OK, and each is
 * logged with its answer. */
static int on_message_box(void *context, HWND owner, const char *text, const char *caption,
                          unsigned int type) {
    const int yes_no = (type & 0xFu) == TOVARINE_MB_YESNO;
    const char *line = text;
    (void)context;
    (void)owner;
    log_line("message box \"%s\" -> %s", caption, yes_no ? "Yes" : "OK");
    while (*line != '\0') {
        const size_t length = strcspn(line, "\n");
        log_line("  | %.*s", (int)length, line);
        line += length + (line[length] == '\n');
    }
    return yes_no ? TOVARINE_IDYES : TOVARINE_IDOK;
}

/* One line of the raw log: the request's number and its bytes in base64. */
static void log_raw(unsigned long number, const char *bytes, size_t length) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    char group[4];
    size_t i;
    if (raw_log == NULL) return;
    fprintf(raw_log, "%lu ", number);
    for (i = 0; i < length; i += 3) {
        const unsigned b0 = (unsigned char)bytes[i];
        const unsigned b1 = i + 1 < length ? (unsigned char)bytes[i + 1] : 0u;
        const unsigned b2 = i + 2 < length ? (unsigned char)bytes[i + 2] : 0u;
        group[0] = digits[b0 >> 2];
        group[1] = digits[((b0 & 3u) << 4) | (b1 >> 4)];
        group[2] = i + 1 < length ? digits[((b1 & 15u) << 2) | (b2 >> 6)] : '=';
        group[3] = i + 2 < length ? digits[b2 & 63u] : '=';
        fwrite(group, 1, sizeof group, raw_log);
    }
    fputc('\n', raw_log);
    fflush(raw_log);
}

/* ---- signals ------------------------------------------------------------------------------- */

static volatile sig_atomic_t save_requested;
static volatile sig_atomic_t stop_requested;
/* Written by the handlers so that poll() wakes even when the signal came just before it. */
static int wake_pipe[2] = {-1, -1};

static void on_signal(int number) {
    const int saved_errno = errno;
    const char byte = 1;
    if (number == SIGHUP) {
        save_requested = 1;
    } else {
        stop_requested = 1;
    }
    if (write(wake_pipe[1], &byte, 1) < 0) {
        /* The pipe is full: a wake-up is pending already. */
    }
    errno = saved_errno;
}

static int install_signals(void) {
    struct sigaction action;
    memset(&action, 0, sizeof action);
    sigemptyset(&action.sa_mask);
    action.sa_handler = on_signal;
    action.sa_flags = 0; /* no SA_RESTART: poll() returns EINTR and the loop looks at the flags */
    if (sigaction(SIGHUP, &action, NULL) != 0 || sigaction(SIGTERM, &action, NULL) != 0 ||
        sigaction(SIGINT, &action, NULL) != 0) {
        return -1;
    }
    action.sa_handler = SIG_IGN; /* a client that hangs up mid-answer is an error of send() */
    return sigaction(SIGPIPE, &action, NULL);
}

static int set_nonblocking(int fd) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return -1;
    return fcntl(fd, F_SETFD, FD_CLOEXEC);
}

/* ---- JSON ---------------------------------------------------------------------------------- */

struct json {
    char *text;
    size_t capacity;
    size_t length;
    int full; /* something did not fit: the answer is not sent */
};

static void json_bytes(struct json *j, const char *bytes, size_t length) {
    if (j->full || length > j->capacity - j->length) {
        j->full = 1;
        return;
    }
    memcpy(j->text + j->length, bytes, length);
    j->length += length;
}

static void json_raw(struct json *j, const char *text) { json_bytes(j, text, strlen(text)); }

static void json_format(struct json *j, const char *format, ...) {
    char piece[64];
    va_list args;
    int n;
    va_start(args, format);
    n = vsnprintf(piece, sizeof piece, format, args);
    va_end(args);
    if (n < 0 || (size_t)n >= sizeof piece) {
        j->full = 1;
        return;
    }
    json_bytes(j, piece, (size_t)n);
}

/* ",\"name\":" before every member but the first ("{" is written by json_begin). */
static void json_name(struct json *j, const char *name) {
    if (j->length > 0 && j->text[j->length - 1] != '{') json_raw(j, ",");
    json_format(j, "\"%s\":", name);
}

static void json_int(struct json *j, const char *name, int32_t value) {
    json_name(j, name);
    json_format(j, "%ld", (long)value);
}

/* A double as a JSON number that reads back as the same value; JSON has no infinity or NaN,
 * so those are the strings "inf", "-inf" and "nan". */
static void json_double(struct json *j, const char *name, double value) {
    json_name(j, name);
    if (isnan(value)) {
        json_raw(j, "\"nan\"");
    } else if (isinf(value)) {
        json_raw(j, value > 0 ? "\"inf\"" : "\"-inf\"");
    } else {
        json_format(j, "%.17g", value);
    }
}

/* A text of any bytes as a JSON string: '"' and '\' escaped, control characters, DEL and every
 * byte from 0x80 up as \u00XX of the byte, so the line is valid JSON whatever the bytes. */
static void json_text(struct json *j, const char *name, const char *text, size_t length) {
    size_t i;
    json_name(j, name);
    json_raw(j, "\"");
    for (i = 0; i < length; ++i) {
        const unsigned char c = (unsigned char)text[i];
        if (c == '"' || c == '\\') {
            const char escaped[2] = {'\\', (char)c};
            json_bytes(j, escaped, 2);
        } else if (c < 0x20 || c >= 0x7f) {
            json_format(j, "\\u%04x", (unsigned)c);
        } else {
            json_bytes(j, (const char *)&text[i], 1);
        }
    }
    json_raw(j, "\"");
}

static void json_ints(struct json *j, const char *name, const int32_t *values, size_t count) {
    size_t i;
    json_name(j, name);
    json_raw(j, "[");
    for (i = 0; i < count; ++i) json_format(j, i == 0 ? "%ld" : ",%ld", (long)values[i]);
    json_raw(j, "]");
}

/* A text buffer's string: up to its NUL, never past the buffer. */
static size_t text_length(const char *text, size_t capacity) {
    const char *nul = memchr(text, 0, capacity);
    return nul != NULL ? (size_t)(nul - text) : capacity;
}

/* ---- the readers --------------------------------------------------------------------------- */

static void answer_live(struct json *j, const char *text) {
    tovarine_live_outputs out;
    out.server = setting_server;
    out.device = -1;
    out.framerate = -1.0;
    out.timeout = setting_timeout_ms;
    out.mozilla = 0;
    out.features = -1;
    out.sendtime = -1;
    out.sendstate = -1;
    out.cpid = -1;
    out.slide_show = -1;
    tovarine_read_live(text, &out);
    json_int(j, "server", out.server);
    json_int(j, "device", out.device);
    json_double(j, "framerate", out.framerate);
    json_int(j, "timeout", out.timeout);
    json_int(j, "mozilla", out.mozilla);
    json_int(j, "features", out.features);
    json_int(j, "sendtime", out.sendtime);
    json_int(j, "sendstate", out.sendstate);
    json_int(j, "cpid", out.cpid);
    json_int(j, "slide_show", out.slide_show);
}

static void answer_stream(struct json *j, const char *text) {
    tovarine_stream_outputs out;
    out.server = setting_server;
    out.segment = -1;
    out.channel = -1;
    out.sendstate = -1;
    out.timeout = setting_timeout_ms;
    out.features = -1;
    out.sendtime = -1;
    out.cpid = -1;
    tovarine_read_stream(text, &out);
    json_int(j, "server", out.server);
    json_int(j, "segment", out.segment);
    json_int(j, "channel", out.channel);
    json_int(j, "sendstate", out.sendstate);
    json_int(j, "timeout", out.timeout);
    json_int(j, "features", out.features);
    json_int(j, "sendtime", out.sendtime);
    json_int(j, "cpid", out.cpid);
}

static void answer_camera(struct json *j, const char *text) {
    /* Static: seven 1024-byte buffers are more than a stack frame should hold. */
    static tovarine_camera_outputs out;
    struct {
        const char *name;
        char *buffer;
    } texts[7];
    size_t i;
    texts[0].name = "model", texts[0].buffer = out.model;
    texts[1].name = "camera", texts[1].buffer = out.camera;
    texts[2].name = "device", texts[2].buffer = out.device;
    texts[3].name = "number", texts[3].buffer = out.number;
    texts[4].name = "speed", texts[4].buffer = out.speed;
    texts[5].name = "command", texts[5].buffer = out.command;
    texts[6].name = "button", texts[6].buffer = out.button;
    for (i = 0; i < 7; ++i) {
        memset(texts[i].buffer, 0, TOVARINE_CAMERA_TEXT_BYTES);
        texts[i].buffer[0] = '-'; /* the default: a present, empty value gives "" */
    }
    tovarine_read_camera(text, &out);
    for (i = 0; i < 7; ++i) {
        json_text(j, texts[i].name, texts[i].buffer,
                  text_length(texts[i].buffer, TOVARINE_CAMERA_TEXT_BYTES));
    }
}

/* Whether every reserved byte of the record still holds the fill. */
static int reserved_untouched(const MediaRequest *r) {
    const struct {
        const uint8_t *bytes;
        size_t length;
    } reserved[] = {
        {r->reserved1, sizeof r->reserved1}, {r->reserved2, sizeof r->reserved2},
        {r->reserved3, sizeof r->reserved3}, {r->reserved4, sizeof r->reserved4},
        {r->reserved5, sizeof r->reserved5}, {r->reserved6, sizeof r->reserved6},
        {r->reserved7, sizeof r->reserved7},
    };
    size_t i, k;
    for (i = 0; i < sizeof reserved / sizeof reserved[0]; ++i) {
        for (k = 0; k < reserved[i].length; ++k) {
            if (reserved[i].bytes[k] != CLIP_RESERVED_FILL) return 0;
        }
    }
    return 1;
}

static void answer_clip(struct json *j, const char *text) {
    MediaRequest r;
    memset(&r, CLIP_RESERVED_FILL, sizeof r);
    r.media_kind = 0;
    memset(r.media_file, 0, sizeof r.media_file);
    strcpy(r.media_file, "none");
    r.start_msec = -1;
    r.stop_msec = -1;
    r.burst = -1.0f;
    r.looping = -1;
    r.frame_rate = -1.0;
    r.width = -1;
    r.height = -1;
    r.quality = -1;
    memset(r.video_section, 0, sizeof r.video_section);
    r.segment = -1;
    r.channel = -1;
    memset(r.audio_section, 0, sizeof r.audio_section);
    r.features = -1;
    r.send_time = -1;
    r.group_value = CLIP_GROUP_VALUE;
    r.cpid = -1;
    tovarine_read_clip(text, &r);
    json_int(j, "media_kind", r.media_kind);
    json_text(j, "media_file", r.media_file, text_length(r.media_file, sizeof r.media_file));
    json_int(j, "start_msec", r.start_msec);
    json_int(j, "stop_msec", r.stop_msec);
    json_double(j, "burst", (double)r.burst);
    json_int(j, "looping", r.looping);
    json_double(j, "frame_rate", r.frame_rate);
    json_int(j, "width", r.width);
    json_int(j, "height", r.height);
    json_int(j, "quality", r.quality);
    json_ints(j, "video_section", r.video_section, 4);
    json_int(j, "segment", r.segment);
    json_int(j, "channel", r.channel);
    json_ints(j, "audio_section", r.audio_section, 4);
    json_int(j, "features", r.features);
    json_int(j, "send_time", r.send_time);
    json_int(j, "group_value", r.group_value);
    json_int(j, "cpid", r.cpid);
    json_name(j, "reserved_untouched");
    json_raw(j, reserved_untouched(&r) ? "true" : "false");
}

/* ---- connections --------------------------------------------------------------------------- */

struct client {
    int fd; /* -1: a free slot */
    /* The received bytes not yet answered; one byte more for the NUL after a full header block. */
    char in[RECEIVE_BYTES + 1];
    size_t in_length;
    char out[ANSWER_BYTES + 512];
    size_t out_length;
    size_t out_sent;
    int close_when_sent;
    /* Answered and shut down for sending: what still comes is read and discarded. */
    int draining;
    size_t drained;
    /* The buffer may hold more complete requests than one turn answers: serve again soon. */
    int more;
    struct timespec last_active;
};

static struct client clients[MAX_CLIENTS];
static unsigned long requests_answered;

static double seconds_since(const struct timespec *then) {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)(now.tv_sec - then->tv_sec) + (double)(now.tv_nsec - then->tv_nsec) / 1e9;
}

static void close_client(struct client *c) {
    if (c->fd >= 0) close(c->fd);
    c->fd = -1;
    c->in_length = 0;
    c->out_length = 0;
    c->out_sent = 0;
    c->close_when_sent = 0;
    c->draining = 0;
    c->drained = 0;
    c->more = 0;
}

/* Sends what is pending. Returns 0 when all of it went, 1 when the socket is full, -1 when the
 * connection failed (it is closed then). */
static int flush_client(struct client *c) {
    while (c->out_sent < c->out_length) {
        const ssize_t n = send(c->fd, c->out + c->out_sent, c->out_length - c->out_sent, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return 1;
        if (n <= 0) {
            close_client(c);
            return -1;
        }
        c->out_sent += (size_t)n;
        clock_gettime(CLOCK_MONOTONIC, &c->last_active);
    }
    c->out_length = 0;
    c->out_sent = 0;
    if (c->close_when_sent) {
        /* The answer is on its way: end the sending side, then read until the peer closes. */
        if (shutdown(c->fd, SHUT_WR) != 0) {
            close_client(c);
        } else {
            c->draining = 1;
            c->in_length = 0;
            c->more = 0;
        }
        return -1;
    }
    return 0;
}

/* The first occurrence of the 4-byte header end in [bytes, bytes + length), or NULL. */
static const char *find_header_end(const char *bytes, size_t length) {
    const char *p = bytes;
    const char *const end = bytes + length;
    while (end - p >= 4) {
        const char *cr = memchr(p, '\r', (size_t)(end - p) - 3);
        if (cr == NULL) return NULL;
        if (cr[1] == '\n' && cr[2] == '\r' && cr[3] == '\n') return cr;
        p = cr + 1;
    }
    return NULL;
}

static int ascii_lower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

/* Whether [text, text + length) begins with `prefix`, ASCII letters in either case. */
static int starts_with_nocase(const char *text, size_t length, const char *prefix) {
    size_t i;
    for (i = 0; prefix[i] != '\0'; ++i) {
        if (i >= length || ascii_lower((unsigned char)text[i]) != ascii_lower(prefix[i])) return 0;
    }
    return 1;
}

/* Whether the comma-separated header value holds `token` (either case). */
static int value_has_token(const char *value, size_t length, const char *token) {
    const size_t token_length = strlen(token);
    size_t i = 0;
    while (i < length) {
        size_t start, stop;
        while (i < length && (value[i] == ' ' || value[i] == '\t' || value[i] == ',')) ++i;
        start = i;
        while (i < length && value[i] != ',') ++i;
        stop = i;
        while (stop > start && (value[stop - 1] == ' ' || value[stop - 1] == '\t')) --stop;
        if (stop - start == token_length && starts_with_nocase(value + start, token_length, token))
            return 1;
    }
    return 0;
}

/* What the header lines (after the request line, before the blank line) say of the connection. */
struct headers {
    int connection_close;
    int connection_keep_alive;
    int has_body; /* a Content-Length other than 0, or a Transfer-Encoding */
};

static struct headers read_headers(const char *lines, size_t length) {
    struct headers h = {0, 0, 0};
    size_t i = 0;
    while (i < length) {
        const char *line = lines + i;
        const char *eol = memchr(line, '\n', length - i);
        const size_t line_length = eol != NULL ? (size_t)(eol - line) : length - i;
        const char *colon = memchr(line, ':', line_length);
        i += line_length + 1;
        if (colon != NULL) {
            const size_t name_length = (size_t)(colon - line);
            const char *value = colon + 1;
            size_t value_length = line_length - name_length - 1;
            if (value_length > 0 && value[value_length - 1] == '\r') --value_length;
            if (name_length == 10 && starts_with_nocase(line, name_length, "connection")) {
                h.connection_close |= value_has_token(value, value_length, "close");
                h.connection_keep_alive |= value_has_token(value, value_length, "keep-alive");
            } else if (name_length == 14 &&
                       starts_with_nocase(line, name_length, "content-length")) {
                size_t k = 0;
                while (k < value_length && (value[k] == ' ' || value[k] == '\t')) ++k;
                while (k < value_length && value[k] == '0') ++k;
                if (k < value_length && value[k] >= '1' && value[k] <= '9') h.has_body = 1;
            } else if (name_length == 17 &&
                       starts_with_nocase(line, name_length, "transfer-encoding")) {
                h.has_body = 1;
            }
        }
    }
    return h;
}

/* Puts one answer in the connection's output: status line, headers and (unless head_only) the
 * body with its line end. */
static void queue_answer(struct client *c, int status, const char *reason, unsigned long number,
                         const struct json *body, int head_only, int close_after) {
    const int n =
        snprintf(c->out, sizeof c->out - ANSWER_BYTES,
                 "HTTP/1.1 %d %s\r\n"
                 "Content-Type: application/json\r\n"
                 "Content-Length: %lu\r\n"
                 "X-Request-Number: %lu\r\n"
                 "%s"
                 "Connection: %s\r\n"
                 "\r\n",
                 status, reason, (unsigned long)body->length + 1, number,
                 status == 405 ? "Allow: GET\r\n" : "", close_after ? "close" : "keep-alive");
    c->out_length = n > 0 ? (size_t)n : 0;
    c->out_sent = 0;
    if (!head_only) {
        memcpy(c->out + c->out_length, body->text, body->length);
        c->out_length += body->length;
        c->out[c->out_length++] = '\n';
    }
    c->close_when_sent = close_after;
}

static void answer_error(struct client *c, int status, const char *reason, unsigned long number,
                         int head_only, int close_after) {
    static char text[256];
    struct json j = {text, sizeof text, 0, 0};
    json_raw(&j, "{");
    json_format(&j, "\"request\":%lu", number);
    json_int(&j, "status", status);
    json_name(&j, "error");
    json_format(&j, "\"%s\"", reason);
    json_raw(&j, "}");
    queue_answer(c, status, reason, number, &j, head_only, close_after);
}

/* Answers the request whose header block is c->in[0, block_length). */
static void answer_request(struct client *c, size_t block_length) {
    static char body_text[ANSWER_BYTES];
    static const struct {
        const char *path;
        void (*answer)(struct json *, const char *);
    } routes[] = {
        {"/live", answer_live},
        {"/stream", answer_stream},
        {"/camera", answer_camera},
        {"/clip", answer_clip},
    };
    char *const block = c->in;
    const char *const line_end = memchr(block, '\r', block_length);
    const size_t line_length = (size_t)(line_end - block); /* the block ends in "\r\n\r\n" */
    const char *const method_end = memchr(block, ' ', line_length);
    const char *target, *target_end, *path_end, *version;
    const unsigned long number = ++requests_answered;
    struct headers h;
    struct json j = {body_text, sizeof body_text - 1, 0, 0};
    size_t i;
    int close_after;

    log_raw(number, block, block_length);
    if (method_end == NULL || method_end == block) {
        answer_error(c, 400, "Bad Request", number, 0, 1);
        return;
    }
    target = method_end + 1;
    target_end = memchr(target, ' ', (size_t)(line_end - target));
    if (target_end == NULL || target_end == target) {
        answer_error(c, 400, "Bad Request", number, 0, 1);
        return;
    }
    version = target_end + 1;
    h = read_headers(line_end + 2, block_length - line_length - 2);
    /* HTTP/1.1 keeps the connection unless told to close; HTTP/1.0 closes unless told not to. */
    if ((size_t)(line_end - version) == 8 && memcmp(version, "HTTP/1.1", 8) == 0) {
        close_after = h.connection_close;
    } else {
        close_after = h.connection_close || !h.connection_keep_alive;
    }
    /* A body is not read: the connection cannot go on past one. */
    close_after |= h.has_body;

    if ((size_t)(method_end - block) != 3 || memcmp(block, "GET", 3) != 0) {
        const int head = (size_t)(method_end - block) == 4 && memcmp(block, "HEAD", 4) == 0;
        answer_error(c, 405, "Method Not Allowed", number, head, close_after || !head);
        return;
    }
    path_end = memchr(target, '?', (size_t)(target_end - target));
    if (path_end == NULL) path_end = target_end;
    for (i = 0; i < sizeof routes / sizeof routes[0]; ++i) {
        const size_t path_length = strlen(routes[i].path);
        if ((size_t)(path_end - target) == path_length &&
            memcmp(target, routes[i].path, path_length) == 0) {
            break;
        }
    }
    if (i == sizeof routes / sizeof routes[0]) {
        answer_error(c, 404, "Not Found", number, 0, close_after);
        return;
    }

    json_raw(&j, "{");
    json_format(&j, "\"request\":%lu", number);
    json_name(&j, "path");
    json_format(&j, "\"%s\"", routes[i].path);
    {
        /* The reader's text: from the "?" (or the blank after the path) to the end of the header
         * block, ended by a NUL put in the receive buffer for the call. */
        const char saved = block[block_length];
        block[block_length] = '\0';
        routes[i].answer(&j, path_end);
        block[block_length] = saved;
    }
    json_raw(&j, "}");
    if (j.full) {
        answer_error(c, 500, "Internal Server Error", number, 0, 1);
        return;
    }
    queue_answer(c, 200, "OK", number, &j, 0, close_after);
}

/* Answers the complete requests in the connection's buffer, up to REQUESTS_PER_TURN, while the
 * answers can be sent at once. */
static void serve_client(struct client *c) {
    int turn;
    c->more = 0;
    for (turn = 0; c->fd >= 0 && !c->draining && c->out_length == 0; ++turn) {
        const char *const end = find_header_end(c->in, c->in_length);
        size_t block_length;
        if (end == NULL) {
            if (c->in_length == RECEIVE_BYTES) {
                /* No end of the header block within the buffer: refused, as the bytes were. */
                const unsigned long number = ++requests_answered;
                log_raw(number, c->in, c->in_length);
                answer_error(c, 431, "Request Header Fields Too Large", number, 0, 1);
                c->in_length = 0;
                flush_client(c);
            }
            return;
        }
        if (turn == REQUESTS_PER_TURN) {
            c->more = 1;
            return;
        }
        block_length = (size_t)(end - c->in) + 4;
        answer_request(c, block_length);
        memmove(c->in, c->in + block_length, c->in_length - block_length);
        c->in_length -= block_length;
        if (flush_client(c) != 0) return;
    }
}

static void receive_from(struct client *c) {
    ssize_t n;
    if (c->draining) {
        static char discarded[4096];
        n = recv(c->fd, discarded, sizeof discarded, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
        c->drained += n > 0 ? (size_t)n : 0;
        if (n <= 0 || c->drained > DRAIN_BYTES) close_client(c);
        return;
    }
    n = recv(c->fd, c->in + c->in_length, RECEIVE_BYTES - c->in_length, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n <= 0) {
        close_client(c); /* the peer closed, or the connection failed */
        return;
    }
    c->in_length += (size_t)n;
    clock_gettime(CLOCK_MONOTONIC, &c->last_active);
    serve_client(c);
}

static void accept_clients(int listener) {
    int turn;
    for (turn = 0; turn < ACCEPTS_PER_TURN; ++turn) {
        struct client *c = NULL;
        int fd;
        size_t i;
        for (i = 0; i < MAX_CLIENTS && c == NULL; ++i) {
            if (clients[i].fd < 0) c = &clients[i];
        }
        if (c == NULL) return;
        fd = accept(listener, NULL, NULL);
        if (fd < 0) return; /* none waiting (EAGAIN), or one that went away */
        if (set_nonblocking(fd) != 0) {
            close(fd);
            continue;
        }
        close_client(c);
        c->fd = fd;
        clock_gettime(CLOCK_MONOTONIC, &c->last_active);
    }
}

/* ---- start and loop ------------------------------------------------------------------------ */

static const char usage[] =
    "Usage: http_server [--address A] [--port N] [--port-file F] [--log FILE] [--raw-log FILE]\n"
    "                   [--settings NAME]\n"
    "An example HTTP server: GET /live, /stream, /camera and /clip answer one JSON line of what\n"
    "the library's request reader wrote. SIGHUP saves the settings, SIGTERM stops.\n";

struct options {
    const char *address;
    long port;
    const char *port_file;
    const char *log;
    const char *raw_log;
    const char *settings;
};

static int parse_options(int argc, char **argv, struct options *o) {
    int i;
    for (i = 1; i < argc; ++i) {
        const char *const option = argv[i];
        const char *const value = i + 1 < argc ? argv[i + 1] : NULL;
        if (strcmp(option, "--help") == 0 || strcmp(option, "-h") == 0) {
            fputs(usage, stdout);
            exit(0);
        }
        if (value == NULL) return -1;
        ++i;
        if (strcmp(option, "--address") == 0) {
            o->address = value;
        } else if (strcmp(option, "--port") == 0) {
            char *end = NULL;
            errno = 0;
            o->port = strtol(value, &end, 10);
            if (errno != 0 || end == value || *end != '\0' || o->port < 0 || o->port > 65535) {
                return -1;
            }
        } else if (strcmp(option, "--port-file") == 0) {
            o->port_file = value;
        } else if (strcmp(option, "--log") == 0) {
            o->log = value;
        } else if (strcmp(option, "--raw-log") == 0) {
            o->raw_log = value;
        } else if (strcmp(option, "--settings") == 0) {
            o->settings = value;
        } else {
            return -1;
        }
    }
    return 0;
}

/* Listens on address:port; returns the socket and the port taken, or -1. */
static int open_listener(const char *address, long port, unsigned *port_taken) {
    struct sockaddr_in where;
    socklen_t length = sizeof where;
    const int yes = 1;
    int fd;
    memset(&where, 0, sizeof where);
    where.sin_family = AF_INET;
    where.sin_port = htons((uint16_t)port);
    if (inet_pton(AF_INET, address, &where.sin_addr) != 1) {
        fprintf(stderr, "http_server: %s is not an IPv4 address\n", address);
        return -1;
    }
    fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) != 0 ||
        bind(fd, (const struct sockaddr *)&where, sizeof where) != 0 ||
        listen(fd, MAX_CLIENTS) != 0 || set_nonblocking(fd) != 0 ||
        getsockname(fd, (struct sockaddr *)&where, &length) != 0) {
        fprintf(stderr, "http_server: cannot listen on %s:%ld: %s\n", address, port,
                strerror(errno));
        if (fd >= 0) close(fd);
        return -1;
    }
    *port_taken = ntohs(where.sin_port);
    return fd;
}

/* Writes the port into `path` through a file beside it, so that a reader never sees half. */
static int write_port_file(const char *path, unsigned port) {
    char temporary[4096];
    FILE *file;
    if (snprintf(temporary, sizeof temporary, "%s.tmp", path) >= (int)sizeof temporary) return -1;
    file = fopen(temporary, "w");
    if (file == NULL) return -1;
    if (fprintf(file, "%u\n", port) < 0 || fclose(file) != 0) {
        remove(temporary);
        return -1;
    }
    return rename(temporary, path);
}

/* A save writes every setting of the table. So that it does not undo what an operator changed
 * in the store since the server loaded it ('tovarine settings set'), the settings are loaded
 * again first: the operator's values take effect, and only the server's own state is its to
 * write. */
static void save_settings(const char *name) {
    const unsigned long total = (unsigned long)served_before_start + requests_answered;
    int32_t result = tovarine_load_settings(NULL, name, settings_table);
    log_line("settings reload of \"%s\" returned %d", name, (int)result);
    setting_requests_served = total > INT32_MAX ? INT32_MAX : (int32_t)total;
    result = tovarine_save_settings(NULL, name, settings_table);
    log_settings("save");
    log_line("settings save of \"%s\" returned %d", name, (int)result);
}

static void run(int listener, const char *settings_name) {
    struct pollfd fds[2 + MAX_CLIENTS];
    struct client *polled[2 + MAX_CLIENTS];
    for (;;) {
        nfds_t count = 0, k;
        size_t i;
        int free_slot = 0, more = 0;
        if (stop_requested) return;
        if (save_requested) {
            save_requested = 0;
            save_settings(settings_name);
        }
        fds[count].fd = wake_pipe[0];
        fds[count].events = POLLIN;
        polled[count++] = NULL;
        for (i = 0; i < MAX_CLIENTS; ++i) {
            struct client *const c = &clients[i];
            if (c->fd < 0) {
                free_slot = 1;
                continue;
            }
            if (seconds_since(&c->last_active) > (c->draining ? DRAIN_SECONDS : IDLE_SECONDS)) {
                close_client(c);
                free_slot = 1;
                continue;
            }
            more |= c->more;
            fds[count].fd = c->fd;
            fds[count].events = c->out_length > 0 ? POLLOUT : POLLIN;
            polled[count++] = c;
        }
        /* With every slot taken, new connections wait in the listen queue. */
        if (free_slot) {
            fds[count].fd = listener;
            fds[count].events = POLLIN;
            polled[count++] = NULL;
        }
        if (poll(fds, count, more ? 0 : 1000) < 0) {
            if (errno == EINTR) continue;
            log_line("poll failed: %s", strerror(errno));
            return;
        }
        if (fds[0].revents != 0) {
            char drain[64];
            while (read(wake_pipe[0], drain, sizeof drain) > 0) {
            }
        }
        for (k = 1; k < count; ++k) {
            struct client *const c = polled[k];
            if (fds[k].revents == 0) continue;
            if (c == NULL) {
                accept_clients(listener);
            } else if (fds[k].revents & POLLOUT) {
                if (flush_client(c) == 0) serve_client(c);
            } else if (fds[k].revents & (POLLIN | POLLHUP | POLLERR)) {
                receive_from(c);
            }
        }
        /* Requests left over from a turn, while their connection has nothing left to send. */
        for (i = 0; i < MAX_CLIENTS; ++i) {
            if (clients[i].fd >= 0 && clients[i].more && clients[i].out_length == 0) {
                serve_client(&clients[i]);
            }
        }
    }
}

int main(int argc, char **argv) {
    struct options o = {"127.0.0.1", 8080, NULL, NULL, NULL, "Example Server"};
    unsigned port = 0;
    int listener;
    int32_t result;
    size_t i;

    if (parse_options(argc, argv, &o) != 0) {
        fputs("http_server: a bad command line; try 'http_server --help'\n", stderr);
        return 2;
    }
    server_log = stderr;
    if (o.log != NULL && (server_log = fopen(o.log, "a")) == NULL) {
        fprintf(stderr, "http_server: cannot open the log %s: %s\n", o.log, strerror(errno));
        return 1;
    }
    if (o.raw_log != NULL && (raw_log = fopen(o.raw_log, "a")) == NULL) {
        fprintf(stderr, "http_server: cannot open the raw log %s: %s\n", o.raw_log,
                strerror(errno));
        return 1;
    }
    for (i = 0; i < MAX_CLIENTS; ++i) clients[i].fd = -1;
    if (pipe(wake_pipe) != 0 || set_nonblocking(wake_pipe[0]) != 0 ||
        set_nonblocking(wake_pipe[1]) != 0 || install_signals() != 0) {
        fprintf(stderr, "http_server: cannot set up its signals: %s\n", strerror(errno));
        return 1;
    }

    log_line("start: tovarine %s, settings \"%s\"", TOVARINE_VERSION_STRING, o.settings);
    tovarine_set_diagnostic_handler(on_diagnostic, NULL);
    tovarine_set_message_box_handler(on_message_box, NULL);
    /* Nonzero: the settings calls are silent and use the first saved instance. */
    tovarine_set_instance_selector(1);
    result = tovarine_load_settings(NULL, o.settings, settings_table);
    if (result == 2) {
        log_line(
            "settings load of \"%s\": no settings root; built-in defaults "
            "('tovarine settings init' creates the root)",
            o.settings);
    } else {
        log_line("settings load of \"%s\" returned %d", o.settings, (int)result);
    }
    log_settings("in use");
    served_before_start = setting_requests_served < 0 ? 0 : setting_requests_served;

    listener = open_listener(o.address, o.port, &port);
    if (listener < 0) return 1;
    if (o.port_file != NULL && write_port_file(o.port_file, port) != 0) {
        fprintf(stderr, "http_server: cannot write the port file %s\n", o.port_file);
        close(listener);
        return 1;
    }
    printf("listening on %s:%u\n", o.address, port);
    fflush(stdout);
    log_line("listening on %s:%u", o.address, port);

    run(listener, o.settings);

    for (i = 0; i < MAX_CLIENTS; ++i) close_client(&clients[i]);
    close(listener);
    close(wake_pipe[0]);
    close(wake_pipe[1]);
    log_line("stopped after %lu requests", requests_answered);
    tovarine_set_diagnostic_handler(NULL, NULL);
    tovarine_set_message_box_handler(NULL, NULL);
    if (raw_log != NULL) fclose(raw_log);
    if (server_log != stderr) fclose(server_log);
    return 0;
}
