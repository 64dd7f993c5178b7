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
//    by helpers::DecodeInto / DecodeValue: "+" is a space, "%" and two hex digits that byte,
//    except "%00", and any other "%" stay as they are.
//  - A reader reads only its own names (its Field table below). For each name only the first
//    pair with that name counts; later pairs of the same name are ignored. An output is written
//    only when its name was found and the host gave somewhere to write it.
//  - Outputs are written in the order of the reader's table (its lookup order). The order is
//    observable when a host passes the same variable for two outputs (the later one wins) and
//    for the clip reader's media type, which copies values written before it.
//
// Each Field gives the name, how its decoded value becomes the output (Output), and for text
// outputs the host buffer's capacity: at most capacity - 1 decoded bytes and a NUL are written,
// the rest of the value is cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

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
};

// The camera reader's text buffers and the clip record's file name buffer.
inline constexpr uint32_t kCameraTextBytes = 1024;
inline constexpr uint32_t kMediaFileBytes = 256;

// f3121538644, the live video reader (it also scans the header block for the client).
inline constexpr Field kLiveFields[] = {
    {"server", Output::kInteger},       {"device", Output::kInteger},
    {"framerate", Output::kDecimal},    {"timeout", Output::kMilliseconds},
    {"features", Output::kInteger},     {"sendtime", Output::kInteger},
    {"sendstate", Output::kInteger},    {"cpid", Output::kInteger},
    {"slide_show", Output::kInteger},
};

// f373279, the segment/channel stream reader.
inline constexpr Field kStreamFields[] = {
    {"server", Output::kInteger},   {"segment", Output::kInteger},
    {"channel", Output::kChannelFlag}, {"sendstate", Output::kInteger},
    {"timeout", Output::kMilliseconds}, {"features", Output::kInteger},
    {"sendtime", Output::kInteger}, {"cpid", Output::kInteger},
};

// f3221538674, the camera control reader: every value as text.
inline constexpr Field kCameraFields[] = {
    {"model", Output::kText, kCameraTextBytes},   {"camera", Output::kText, kCameraTextBytes},
    {"device", Output::kText, kCameraTextBytes},  {"number", Output::kText, kCameraTextBytes},
    {"speed", Output::kText, kCameraTextBytes},   {"command", Output::kText, kCameraTextBytes},
    {"button", Output::kText, kCameraTextBytes},
};

// f39260000417E, the media clip reader, into the MediaRequest record. The media type comes
// last, so its section receives this request's stream values wherever it stands in the text.
inline constexpr Field kClipFields[] = {
    {"mediafile", Output::kText, kMediaFileBytes},
    {"startmsec", Output::kInteger},
    {"looping", Output::kInteger},
    {"stopmsec", Output::kInteger},
    {"doburst", Output::kFloat},
    {"cpid", Output::kInteger},
    {"features", Output::kInteger},
    {"sendtime", Output::kInteger},
    {"framerate", Output::kDecimal},
    {"width", Output::kInteger},
    {"height", Output::kInteger},
    {"quality", Output::kInteger},
    {"segment", Output::kInteger},
    {"channel", Output::kInteger},
    {"mediatype", Output::kMediaKind},
};

// No reader has more names than this.
inline constexpr size_t kMaxFields = 16;

// One parameter of the parameter part: the name runs from `name` to `equals` (the last "="),
// the value from equals + 1 to `end`. `equals` is null for a parameter without "=" (no pair).
struct Parameter {
    const char *name;
    const char *equals;
    const char *end;
};

// The end of a walk: where the parameter part ends (its first blank or the NUL) and how many
// "&" it holds, the skipped leading ones included.
struct PartEnd {
    const char *end;
    size_t ampersands;
};

// Calls visit(Parameter) for every parameter of the parameter part of `text`, in order, empty
// ones and those without "=" included. One forward pass, no allocation.
template <class Visit>
PartEnd ForEachParameter(const char *text, Visit &&visit) {
    const char *p = text;
    size_t ampersands = 0;
    for (; *p == '?' || *p == '&'; ++p) ampersands += *p == '&';
    if (*p == 0 || *p == ' ') return {p, ampersands};
    for (;;) {
        const char *const name = p;
        const char *equals = nullptr;
        char c;
        while ((c = *p) != 0 && c != '&' && c != ' ') {
            if (c == '=') equals = p;
            ++p;
        }
        visit(Parameter{name, equals, p});
        if (c != '&') return {p, ampersands};
        ++ampersands;
        ++p;
    }
}

// The index in `fields` of the field named exactly [name, name + length), or -1.
inline int FieldIndex(const Field *fields, size_t count, const char *name, size_t length) {
    for (size_t i = 0; i < count; ++i) {
        const std::string_view field = fields[i].name;
        if (field.size() == length && field[0] == name[0] &&
            field.compare(0, length, name, length) == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The first value of each of a reader's names in a text, and the outputs written from them.
// For ordinary texts nothing is allocated; a value converted to a number that is longer than a
// small stack buffer gets one local-heap block for its decoded copy, taken before any output is
// written, so that when it cannot be had no output is written.
class FieldReader {
public:
    // `outputs[i]` is where field i goes (null: not wanted). When an output lies inside the
    // text's parameter part, the part is read from a private copy, so that writing outputs never
    // changes what later outputs read.
    FieldReader(const char *text, const Field *fields, size_t count, void *const *outputs);
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
        const char *begin = nullptr;
        const char *end = nullptr;
    };
    void Scan(const char *text);
    // The decoded value of field i as a NUL-ended string in the scratch space.
    const char *Decoded(size_t i) const;

    const Field *fields_;
    size_t count_;
    void *const *outputs_;
    Span values_[kMaxFields];
    const char *part_end_ = nullptr;
    bool ok_ = true;
    // The local-heap block, when one is needed: the copy of the parameter part (outputs overlap
    // it), then room for the longest numeric value when the stack buffer is too small.
    char *block_ = nullptr;
    char *scratch_ = nullptr;  // where numeric values are decoded: small_ or in block_
    char small_[256];
};

}  // namespace tovarine
