// What each request reader reads, described once, and the walk over a request's parameters.
//
// Every reader, the parameter list and anything that explains a reading use these rules, so
// there is exactly one copy of them:
//
//  - The parameter part is the text up to its first blank (" "; tab, CR and LF are ordinary
//    characters) or its end. A leading run of "?" and "&" is skipped. Parameters are separated
//    by "&". A parameter without "=" is no pair and is ignored; in a pair the name is everything
//    before the parameter's last "=" (names may hold "="), the value everything after it.
//  - Names are compared byte for byte (case matters) and are never decoded. Values are decoded
//    by text::DecodeInto / DecodeValue: "+" is a space, "%" and two hex digits that byte,
//    except "%00", and any other "%" stay as they are.
//  - A reader reads only its own names (its Field table below). For each name only the first
//    pair with that name counts; later pairs of the same name are ignored. An output is written
//    only when its name was found and the host gave somewhere to write it.
//  - Outputs are written in the order of the reader's table (its lookup order). The order is
//    observable when a host passes the same variable for two outputs (the later one wins) and
//    for the clip reader's media type, which copies values written before it.
//
// Each Field gives the name, how its decoded value becomes the output (Output), for text
// outputs the host buffer's capacity (at most capacity - 1 decoded bytes and a NUL are written,
// the rest of the value is cut), and the name the tool shows the output under.
//
// To tell what became of every parameter of a text, walk it with ForEachParameter (it visits
// each one, also those without "="; nothing after the first blank is visited) and ask the
// reader's FieldTable::Find for each pair's name: -1 is a name this reader does not read (an
// ASCII case-insensitive comparison with the table's names tells "other letter case"); a field
// already found earlier in the walk makes it a repeated name; otherwise it feeds that field's
// output, cut at the field's capacity for text. The readers themselves stop the walk once every
// field is found, which changes no output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "module/text.h"

namespace tovarine {

enum class Output : uint8_t {
    kInteger,       // int32_t: ConvertInteger of the decoded value
    kDecimal,       // double: ConvertDecimal of the decoded value
    kFloat,         // float: ConvertDecimal, then NarrowToFloat
    kMilliseconds,  // int32_t: ConvertInteger seconds times 1000, saturating
    kText,          // char[capacity]: the decoded value, cut to capacity - 1 bytes, and a NUL
    kChannelFlag,   // int32_t: 1 when the decoded value begins with "R" or "r", else 0
    kMediaKind,     // the clip record: "A"/"a" or "V"/"v" first selects the section (clip reader)
};

struct Field {
    std::string_view name;
    Output output;
    uint32_t capacity = 0;  // kText only: the host buffer's size in bytes
    // What the output is called where a reading is shown to people: the host's variable or
    // record member. The parameter's own name unless the record names it otherwise.
    std::string_view output_name = name;
};

// The camera reader's text buffers and the clip record's file name buffer.
inline constexpr uint32_t kCameraTextBytes = 1024;
inline constexpr uint32_t kMediaFileBytes = 256;

// f3121538644, the live video reader (it also scans the header block for the client).
inline constexpr Field kLiveFields[] = {
    {"server", Output::kInteger},     {"device", Output::kInteger},
    {"framerate", Output::kDecimal},  {"timeout", Output::kMilliseconds},
    {"features", Output::kInteger},   {"sendtime", Output::kInteger},
    {"sendstate", Output::kInteger},  {"cpid", Output::kInteger},
    {"slide_show", Output::kInteger},
};

// f373279, the segment/channel stream reader.
inline constexpr Field kStreamFields[] = {
    {"server", Output::kInteger},       {"segment", Output::kInteger},
    {"channel", Output::kChannelFlag},  {"sendstate", Output::kInteger},
    {"timeout", Output::kMilliseconds}, {"features", Output::kInteger},
    {"sendtime", Output::kInteger},     {"cpid", Output::kInteger},
};

// f3221538674, the camera control reader: every value as text.
inline constexpr Field kCameraFields[] = {
    {"model", Output::kText, kCameraTextBytes},  {"camera", Output::kText, kCameraTextBytes},
    {"device", Output::kText, kCameraTextBytes}, {"number", Output::kText, kCameraTextBytes},
    {"speed", Output::kText, kCameraTextBytes},  {"command", Output::kText, kCameraTextBytes},
    {"button", Output::kText, kCameraTextBytes},
};

// f39260000417E, the media clip reader, into the MediaRequest record. The media type comes
// last, so its section receives this request's stream values wherever it stands in the text.
inline constexpr Field kClipFields[] = {
    {"mediafile", Output::kText, kMediaFileBytes, "media_file"},
    {"startmsec", Output::kInteger, 0, "start_msec"},
    {"looping", Output::kInteger},
    {"stopmsec", Output::kInteger, 0, "stop_msec"},
    {"doburst", Output::kFloat, 0, "burst"},
    {"cpid", Output::kInteger},
    {"features", Output::kInteger},
    {"sendtime", Output::kInteger, 0, "send_time"},
    {"framerate", Output::kDecimal, 0, "frame_rate"},
    {"width", Output::kInteger},
    {"height", Output::kInteger},
    {"quality", Output::kInteger},
    {"segment", Output::kInteger},
    {"channel", Output::kInteger},
    {"mediatype", Output::kMediaKind, 0, "media_kind"},
};

// The clip record's media kind for the first decoded byte of the "mediatype" value: 1 (video,
// into the video section) for "V"/"v", 2 (audio, into the audio section) for "A"/"a", else 0:
// nothing is written.
inline constexpr int32_t kVideoKind = 1;
inline constexpr int32_t kAudioKind = 2;
inline int32_t MediaKindOf(char first) {
    if (text::AsciiUpper(first) == 'A') return kAudioKind;
    if (text::AsciiUpper(first) == 'V') return kVideoKind;
    return 0;
}

// No reader has more names than this, and no name is longer than kMaxNameBytes.
inline constexpr size_t kMaxFields = 16;
inline constexpr size_t kMaxNameBytes = 15;

// A reader's fields with, for each name length, the set of fields of that length (bit i: field
// i), so that a pair's name is compared only with the names it could equal.
struct FieldTable {
    const Field *fields;
    size_t count;
    uint16_t by_length[kMaxNameBytes + 1];

    // The index of the field named exactly [name, name + length), or -1.
    int Find(const char *name, size_t length) const {
        if (length > kMaxNameBytes) return -1;
        for (unsigned set = by_length[length]; set != 0; set &= set - 1) {
            const int i = __builtin_ctz(set);
            const char *const field = fields[i].name.data();
            size_t k = 0;
            while (k < length && field[k] == name[k]) ++k;
            if (k == length) return i;
        }
        return -1;
    }
};

// The output name of the field read from parameter `name`; not compiling when there is none.
template <size_t N>
consteval std::string_view OutputNameOf(const Field (&fields)[N], std::string_view name) {
    for (const Field &field : fields) {
        if (field.name == name) return field.output_name;
    }
    throw "no such parameter";
}

template <size_t N>
constexpr FieldTable MakeFieldTable(const Field (&fields)[N]) {
    static_assert(N <= kMaxFields);
    FieldTable table{fields, N, {}};
    for (size_t i = 0; i < N; ++i) {
        if (fields[i].name.empty() || fields[i].name.size() > kMaxNameBytes) throw "bad name";
        table.by_length[fields[i].name.size()] |= static_cast<uint16_t>(1u << i);
    }
    return table;
}

inline constexpr FieldTable kLiveTable = MakeFieldTable(kLiveFields);
inline constexpr FieldTable kStreamTable = MakeFieldTable(kStreamFields);
inline constexpr FieldTable kCameraTable = MakeFieldTable(kCameraFields);
inline constexpr FieldTable kClipTable = MakeFieldTable(kClipFields);

// One parameter of the parameter part: the name runs from `name` to `equals` (the last "="),
// the value from equals + 1 to `end`. `equals` is null for a parameter without "=" (no pair).
struct Parameter {
    const char *name;
    const char *equals;
    const char *end;
};

// Where a walk stopped: the end of the last parameter visited (the end of the parameter part,
// its first blank or the NUL, when the walk went through), and how many "&" it passed, the
// skipped leading ones included.
struct WalkEnd {
    const char *end;
    size_t ampersands;
};

namespace walk {
// Each byte's part in the walk: 0 an ordinary character, 1 "=", 2 the end of a parameter ("&",
// a blank or the NUL). One table look-up a byte keeps the walk tight on long texts.
inline constexpr struct ByteClasses {
    uint8_t of[256] = {};
    constexpr ByteClasses() {
        of[static_cast<unsigned char>('=')] = 1;
        of[static_cast<unsigned char>('&')] = 2;
        of[static_cast<unsigned char>(' ')] = 2;
        of[0] = 2;
    }
} kClasses{};
}  // namespace walk

// Calls visit(Parameter) for every parameter of the parameter part of `text`, in order, empty
// ones and those without "=" included; visit returns false to stop the walk there. One forward
// pass, no allocation.
template <class Visit>
WalkEnd ForEachParameter(const char *text, Visit &&visit) {
    const char *p = text;
    size_t ampersands = 0;
    for (; *p == '?' || *p == '&'; ++p) ampersands += *p == '&';
    if (*p == 0 || *p == ' ') return {p, ampersands};
    for (;;) {
        const char *const name = p;
        const char *equals = nullptr;
        for (uint8_t kind; (kind = walk::kClasses.of[static_cast<unsigned char>(*p)]) != 2; ++p) {
            if (kind == 1) equals = p;
        }
        if (!visit(Parameter{name, equals, p}) || *p != '&') return {p, ampersands};
        ++ampersands;
        ++p;
    }
}

// The first value of each of a reader's names in a text, and the outputs written from them.
// For ordinary texts nothing is allocated; a value converted to a number that is longer than a
// small stack buffer gets one local-heap block for its decoded copy, taken before any output is
// written, so that when it cannot be had no output is written.
class FieldReader {
public:
    // `outputs[i]` is where field i goes (null: not wanted). When an output lies inside the part
    // of the text the values were found in, that part is read from a private copy, so that
    // writing outputs never changes what later outputs read.
    FieldReader(const char *text, const FieldTable &table, void *const *outputs);
    ~FieldReader();
    FieldReader(const FieldReader &) = delete;
    FieldReader &operator=(const FieldReader &) = delete;

    // False when local memory for a long value could not be had: write nothing.
    bool ok() const { return ok_; }

    // Whether field i's name was found.
    bool Found(size_t i) const { return values_[i].begin != nullptr; }

    // The first decoded byte of field i's value (0 for an empty value).
    char FirstByte(size_t i) const;

    // Writes field i's output when its name was found and its output is not null.
    void Write(size_t i) const;

    // Writes every output but the kMediaKind ones, in table order.
    void WriteAll() const;

private:
    struct Span {
        const char *begin;
        const char *end;
    };
    void Scan(const char *text);
    // The decoded value of field i as a NUL-ended string in the scratch space.
    char *Decoded(size_t i) const;
    // Field i's value as an integer.
    int32_t Integer(size_t i) const;

    const FieldTable &table_;
    const Field *fields_;
    size_t count_;
    void *const *outputs_;
    Span values_[kMaxFields];
    const char *scan_end_ = nullptr;  // the values read all lie before it
    bool ok_ = true;
    // The local-heap block, when one is needed: the copy of the parameter part (outputs overlap
    // it), then room for the longest numeric value when the stack buffer is too small.
    char *block_ = nullptr;
    char *scratch_ = nullptr;  // where numeric values are decoded: small_ or in block_
    char small_[256];
};

}  // namespace tovarine
