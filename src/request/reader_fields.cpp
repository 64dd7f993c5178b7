// Reading a reader's fields straight from the request text: one pass over the parameter part
// keeps the first value of each of the reader's names; values are decoded only when an output
// is written from them.
#include "request/reader_fields.h"

#include <cstdint>
#include <cstring>

#include "module/text.h"
#include "platform/platform.h"
#include "request/conversions.h"
#include "tovarine.h"

namespace tovarine {
namespace {

// The bytes an output of this kind occupies in the host's memory.
size_t OutputBytes(const Field &field) {
    switch (field.output) {
        case Output::kDecimal:
            return sizeof(double);
        case Output::kFloat:
            return sizeof(float);
        case Output::kText:
            return field.capacity;
        case Output::kMediaKind:
            return sizeof(MediaRequest);
        default:
            return sizeof(int32_t);
    }
}

bool IsNumeric(Output output) {
    return output == Output::kInteger || output == Output::kDecimal || output == Output::kFloat ||
           output == Output::kMilliseconds;
}

bool Overlaps(const void *a, size_t a_bytes, const char *b, size_t b_bytes) {
    const auto a0 = reinterpret_cast<uintptr_t>(a), b0 = reinterpret_cast<uintptr_t>(b);
    return a0 < b0 + b_bytes && b0 < a0 + a_bytes;
}

}  // namespace

FieldReader::FieldReader(const char *text, const FieldTable &table, void *const *outputs)
    : table_(table), fields_(table.fields), count_(table.count), outputs_(outputs) {
    Scan(text);
    const char *const part_end = scan_end_;

    // Whether an output lies in the parameter part, and the longest numeric value.
    bool overlap = false;
    size_t longest = 0;
    for (size_t i = 0; i < count_; ++i) {
        if (outputs_[i] != nullptr && part_end != text &&
            Overlaps(outputs_[i], OutputBytes(fields_[i]), text,
                     static_cast<size_t>(part_end - text))) {
            overlap = true;
        }
        if (Found(i) && IsNumeric(fields_[i].output)) {
            const auto length = static_cast<size_t>(values_[i].end - values_[i].begin);
            if (length > longest) longest = length;
        }
    }
    // The copy ends where the scan stopped, so the same values are found in it.
    const size_t copy_bytes = overlap ? static_cast<size_t>(part_end - text) + 1 : 0;
    const size_t scratch_bytes = longest + 1 > sizeof small_ ? longest + 1 : 0;
    scratch_ = small_;
    if (copy_bytes + scratch_bytes == 0) return;

    // One block for both, taken before any output is written.
    block_ = static_cast<char *>(LocalAlloc(LMEM_FIXED, copy_bytes + scratch_bytes));
    if (block_ == nullptr) {
        ok_ = false;
        return;
    }
    if (scratch_bytes != 0) scratch_ = block_ + copy_bytes;
    if (overlap) {
        std::memcpy(block_, text, copy_bytes - 1);
        block_[copy_bytes - 1] = 0;
        Scan(block_);
    }
}

FieldReader::~FieldReader() {
    if (block_ != nullptr) LocalFree(block_);
}

void FieldReader::Scan(const char *text) {
    for (size_t i = 0; i < count_; ++i) values_[i] = {nullptr, nullptr};
    size_t missing = count_;
    // The walk stops once every name has its value: later pairs cannot change an output.
    scan_end_ = ForEachParameter(text, [&](const Parameter &p) {
                    if (p.equals == nullptr) return true;
                    const int i = table_.Find(p.name, static_cast<size_t>(p.equals - p.name));
                    if (i >= 0 && values_[i].begin == nullptr) {
                        values_[i] = {p.equals + 1, p.end};
                        return --missing != 0;
                    }
                    return true;
                }).end;
}

char *FieldReader::Decoded(size_t i) const {
    const auto length = static_cast<size_t>(values_[i].end - values_[i].begin);
    const size_t decoded = text::DecodeInto(values_[i].begin, length, scratch_, length);
    scratch_[decoded] = 0;
    return scratch_;
}

int32_t FieldReader::Integer(size_t i) const {
    // A value with nothing to decode is converted where it stands, bounded by its end.
    const Span &v = values_[i];
    const char *p = v.begin;
    while (p != v.end && *p != '%' && *p != '+') ++p;
    return p == v.end ? ConvertInteger(v.begin, v.end) : ConvertInteger(Decoded(i));
}

char FieldReader::FirstByte(size_t i) const {
    char first = 0;
    text::DecodeInto(values_[i].begin, static_cast<size_t>(values_[i].end - values_[i].begin),
                     &first, 1);
    return first;
}

void FieldReader::Write(size_t i) const {
    void *const out = outputs_[i];
    if (out == nullptr || !Found(i)) return;
    switch (fields_[i].output) {
        case Output::kInteger:
            *static_cast<int32_t *>(out) = Integer(i);
            break;
        case Output::kMilliseconds:
            *static_cast<int32_t *>(out) = SaturatingMultiply(Integer(i), 1000);
            break;
        case Output::kDecimal:
            *static_cast<double *>(out) = ConvertDecimal(Decoded(i));
            break;
        case Output::kFloat:
            *static_cast<float *>(out) = NarrowToFloat(ConvertDecimal(Decoded(i)));
            break;
        case Output::kChannelFlag: {
            const char first = FirstByte(i);
            *static_cast<int32_t *>(out) = text::AsciiUpper(first) == 'R' ? 1 : 0;
            break;
        }
        case Output::kText: {
            auto *const text = static_cast<char *>(out);
            const size_t limit = fields_[i].capacity > 0 ? fields_[i].capacity - 1 : 0;
            text[text::DecodeInto(values_[i].begin,
                                  static_cast<size_t>(values_[i].end - values_[i].begin), text,
                                  limit)] = 0;
            break;
        }
        case Output::kMediaKind:
            break;  // the clip reader's own step
    }
}

void FieldReader::WriteAll() const {
    for (size_t i = 0; i < count_; ++i) Write(i);
}

}  // namespace tovarine
