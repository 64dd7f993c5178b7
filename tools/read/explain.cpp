#include "explain.h"

#include <cstdint>
#include <cstring>
#include <iterator>
#include <memory>
#include <stdexcept>

#include "library_internals.h"

namespace tovarine_tool {

struct ReaderRules {
    std::string_view kind;
    const tovarine::FieldTable *table;  // the reader's fields, in lookup order
    const tovarine::Field *fields;
    size_t count;
    bool scans_client;  // the live reader's header scan
};

namespace {

using tovarine::Field;
using Kind = tovarine::Output;  // how a field becomes its output

constexpr ReaderRules Rules(std::string_view kind, const tovarine::FieldTable &table,
                            bool scans_client) {
    return {kind, &table, table.fields, table.count, scans_client};
}

constexpr ReaderRules kRules[] = {
    Rules("live", tovarine::kLiveTable, true),
    Rules("stream", tovarine::kStreamTable, false),
    Rules("camera", tovarine::kCameraTable, false),
    Rules("clip", tovarine::kClipTable, false),
};

// Where each field's output goes while the field reader writes it: one place of each kind.
struct Written {
    int32_t integer = 0;
    double decimal = 0;
    float narrow = 0;
    std::unique_ptr<char[]> text;
};

// The word at `word`, up to the next separator.
std::string WordAt(const char *word) {
    const char *end = word;
    while (*end != 0 && !tovarine::text::IsWordSeparator(*end)) ++end;
    return std::string(word, end);
}

ClientScan ScanClient(const char *text) {
    ClientScan scan;
    const tovarine::ClientHeader found = tovarine::FindClientHeader(text);
    scan.mozilla = tovarine::NamesMozilla(found);
    if (found.header == nullptr) return scan;
    scan.found = true;
    scan.header = WordAt(found.header);
    scan.word = WordAt(found.client);
    const char *line = found.header;
    while (line != text && line[-1] != '\n') --line;
    scan.line_number = 1;
    for (const char *p = text; p != line; ++p) scan.line_number += *p == '\n';
    const char *end = found.header;
    while (*end != 0 && *end != '\r' && *end != '\n') ++end;
    scan.line.assign(line, end);
    return scan;
}

}  // namespace

const ReaderRules *FindReaderRules(std::string_view kind) {
    for (const ReaderRules &rules : kRules) {
        if (rules.kind == kind) return &rules;
    }
    return nullptr;
}

const char *FateName(Fate fate) {
    switch (fate) {
        case Fate::kUsed:
            return "used";
        case Fate::kCut:
            return "cut";
        case Fate::kIgnored:
            return "ignored";
    }
    return "ignored";
}

const char *ReasonName(Reason reason) {
    switch (reason) {
        case Reason::kNone:
            return "";
        case Reason::kNotRead:
            return "not-read";
        case Reason::kRepeated:
            return "repeated";
        case Reason::kOtherCase:
            return "other-case";
        case Reason::kNoPair:
            return "no-pair";
        case Reason::kAfterBlank:
            return "after-blank";
        case Reason::kNoMediaType:
            return "no-media-type";
    }
    return "";
}

Explanation Explain(const ReaderRules &rules, const char *text) {
    // The values written: the reader's own field reader, on outputs of the tool's.
    Written written[tovarine::kMaxFields];
    void *outputs[tovarine::kMaxFields] = {};
    for (size_t i = 0; i < rules.count; ++i) {
        Written &w = written[i];
        switch (rules.fields[i].output) {
            case Kind::kInteger:
            case Kind::kMilliseconds:
            case Kind::kChannelFlag:
                outputs[i] = &w.integer;
                break;
            case Kind::kDecimal:
                outputs[i] = &w.decimal;
                break;
            case Kind::kFloat:
                outputs[i] = &w.narrow;
                break;
            case Kind::kText:
                w.text = std::make_unique<char[]>(rules.fields[i].capacity);
                outputs[i] = w.text.get();
                break;
            case Kind::kMediaKind:
                break;  // decided from the value's first byte below
        }
    }
    const tovarine::FieldReader reader(text, *rules.table, outputs);
    const tovarine::ParameterList list(text);
    if (!reader.ok() || list.count() == 0) throw std::runtime_error("no local memory");

    Explanation explanation;
    std::vector<ParameterFate> &parameters = explanation.parameters;
    size_t first[tovarine::kMaxFields] = {};  // the parameter that fed field i, when one has
    bool fed[tovarine::kMaxFields] = {};
    int32_t slot = 0;  // the list's slot of the next pair
    const tovarine::WalkEnd part =
        tovarine::ForEachParameter(text, [&](const tovarine::Parameter &p) {
            ParameterFate fate;
            fate.index = parameters.size();
            fate.raw.assign(p.name, p.end);
            if (p.equals == nullptr) {
                fate.reason = Reason::kNoPair;
                parameters.push_back(std::move(fate));
                return true;
            }
            fate.pair = true;
            fate.name.assign(p.name, p.equals);
            fate.raw_value.assign(p.equals + 1, p.end);
            if (slot >= list.count() || list.names()[slot] == nullptr ||
                fate.name != list.names()[slot]) {
                throw std::logic_error("the parameter list and the parameter walk disagree");
            }
            fate.value = list.values()[slot++];
            const int i = rules.table->Find(p.name, fate.name.size());
            if (i < 0) {
                fate.reason = Reason::kNotRead;
                for (size_t f = 0; f < rules.count; ++f) {
                    if (tovarine::text::EqualIgnoringCase(rules.fields[f].name, fate.name)) {
                        fate.reason = Reason::kOtherCase;
                        fate.reads = rules.fields[f].name;
                    }
                }
            } else if (fed[i]) {
                fate.reason = Reason::kRepeated;
                fate.first = first[i];
            } else {
                fed[i] = true;
                first[i] = fate.index;
                const Field &field = rules.fields[i];
                fate.output = field.output_name;
                fate.fate = Fate::kUsed;
                reader.Write(static_cast<size_t>(i));
                const Written &w = written[i];
                switch (field.output) {
                    case Kind::kInteger:
                    case Kind::kMilliseconds:
                    case Kind::kChannelFlag:
                        fate.written = w.integer;
                        break;
                    case Kind::kDecimal:
                        fate.written = w.decimal;
                        break;
                    case Kind::kFloat:
                        fate.written = w.narrow;
                        break;
                    case Kind::kText: {
                        std::string kept(w.text.get());
                        fate.length = fate.value.size();
                        fate.kept = kept.size();
                        if (fate.kept < fate.length) fate.fate = Fate::kCut;
                        fate.written = std::move(kept);
                        break;
                    }
                    case Kind::kMediaKind: {
                        const int32_t kind = tovarine::MediaKindOf(reader.FirstByte(i));
                        if (kind == 0) {
                            fate.fate = Fate::kIgnored;
                            fate.reason = Reason::kNoMediaType;
                            fate.output.clear();
                        } else {
                            fate.written = kind;
                        }
                        break;
                    }
                }
            }
            parameters.push_back(std::move(fate));
            return true;
        });

    // What follows the first blank on its line is no parameter of the reader's; shown when it
    // looks like one, so that a parameter typed after a blank is not lost without a word.
    if (*part.end == ' ') {
        const char *p = part.end;
        while (*p != 0 && *p != '\r' && *p != '\n') {
            while (*p == ' ' || *p == '&') ++p;
            const char *start = p;
            while (*p != 0 && *p != ' ' && *p != '&' && *p != '\r' && *p != '\n') ++p;
            const std::string piece(start, p);
            if (piece.find('=') == std::string::npos) continue;
            ParameterFate fate;
            fate.index = parameters.size();
            fate.raw = piece;
            fate.reason = Reason::kAfterBlank;
            parameters.push_back(std::move(fate));
        }
    }
    if (rules.scans_client) explanation.client = ScanClient(text);
    return explanation;
}

}  // namespace tovarine_tool
