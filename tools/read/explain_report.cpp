#include "explain_report.h"

#include <nlohmann/json.hpp>

namespace tovarine_tool {
namespace {

// Lines stay readable: a long text shows its start and its length (JSON has it all).
constexpr size_t kShown = 64;
std::string Shown(std::string_view text) {
    if (text.size() <= kShown + 16) return EscapeText(text);
    return EscapeText(text.substr(0, kShown)) + "... (" + std::to_string(text.size()) + " bytes)";
}

std::string Quoted(std::string_view text) { return '"' + Shown(text) + '"'; }

std::string WrittenText(const ParameterFate &p) {
    if (const auto *text = std::get_if<std::string>(&*p.written)) return Shown(*text);
    return ValueText(*p.written);
}

std::string FateText(const ParameterFate &p) {
    switch (p.fate) {
        case Fate::kUsed:
            return "used: " + p.output + '=' + WrittenText(p);
        case Fate::kCut:
            return "cut: " + std::to_string(p.length) + " bytes decoded, the first " +
                   std::to_string(p.kept) + " kept: " + p.output + '=' + WrittenText(p);
        case Fate::kIgnored:
            break;
    }
    std::string why = std::string("ignored (") + ReasonName(p.reason) + "): ";
    switch (p.reason) {
        case Reason::kNotRead:
            return why + "not a name this reader reads";
        case Reason::kRepeated:
            return why + "the same name met earlier at #" + std::to_string(p.first) +
                   "; the first one wins";
        case Reason::kOtherCase:
            return why + "names are case-sensitive; this reader reads " + Quoted(p.reads);
        case Reason::kNoPair:
            return why + "no \"=\", not a pair";
        case Reason::kAfterBlank:
            return why + "after the first blank, not part of the parameters";
        case Reason::kNoMediaType:
            return why +
                   "the media type begins with neither \"A\" nor \"V\" (in any letter case): "
                   "nothing written";
        case Reason::kNone:
            break;
    }
    return why;
}

std::string ClientText(const ClientScan &client) {
    // Both words match in any ASCII letter case, as the reader's header scan compares them.
    if (!client.found) {
        return "client: no \"User-Agent:\" word (in any letter case): mozilla not set\n";
    }
    std::string text = "client: " + Quoted(client.header) + " on line " +
                       std::to_string(client.line_number) + " (" + Shown(client.line) +
                       "): the next word " + Quoted(client.word);
    return text +
           (client.mozilla
                ? " begins with \"Mozilla\" (in any letter case): mozilla=1\n"
                : " does not begin with \"Mozilla\" (in any letter case): mozilla not set\n");
}

}  // namespace

std::string ExplanationText(const Capture &capture, const Explanation &explanation) {
    std::string text = std::string("form: ") + FormName(capture.form);
    if (capture.blank_lines != 0) {
        text += " after " + std::to_string(capture.blank_lines) + " empty line(s)";
    }
    text += "\ntext: " + Shown(capture.text) + '\n';
    for (const ParameterFate &p : explanation.parameters) {
        text += '#' + std::to_string(p.index) + ' ' + Shown(p.raw);
        if (p.pair && p.value != p.raw_value) text += " (value " + Quoted(p.value) + ')';
        text += ": " + FateText(p) + '\n';
    }
    if (explanation.parameters.empty()) text += "no parameters\n";
    if (explanation.client) text += ClientText(*explanation.client);
    return text;
}

Json ExplanationJson(std::string_view kind, const Capture &capture, const Explanation &explanation,
                     const std::vector<Output> &outputs, std::optional<size_t> line) {
    Json json = Json::object();
    if (line) json["line"] = *line;
    json["reader"] = kind;
    json["form"] = FormName(capture.form);
    json["blank_lines"] = capture.blank_lines;
    json["text"] = capture.text;
    Json parameters = Json::array();
    for (const ParameterFate &p : explanation.parameters) {
        Json item = Json::object();
        item["index"] = p.index;
        item["raw"] = p.raw;
        if (p.pair) {
            item["name"] = p.name;
            item["raw_value"] = p.raw_value;
            item["value"] = p.value;
        }
        item["fate"] = FateName(p.fate);
        if (p.fate != Fate::kIgnored) {
            item["output"] = p.output;
            item["written"] = ValueJson(*p.written);
        }
        if (p.fate == Fate::kCut) {
            item["length"] = p.length;
            item["kept"] = p.kept;
        }
        if (p.fate == Fate::kIgnored) item["reason"] = ReasonName(p.reason);
        if (p.reason == Reason::kRepeated) item["first"] = p.first;
        if (p.reason == Reason::kOtherCase) item["reads"] = p.reads;
        parameters.push_back(std::move(item));
    }
    json["parameters"] = std::move(parameters);
    if (explanation.client) {
        const ClientScan &c = *explanation.client;
        Json client = {{"mozilla", c.mozilla}, {"found", c.found}};
        if (c.found) {
            client["line_number"] = c.line_number;
            client["line"] = c.line;
            client["header"] = c.header;
            client["word"] = c.word;
        }
        json["client"] = std::move(client);
    }
    json["outputs"] = ToJson(outputs);
    return json;
}

}  // namespace tovarine_tool
