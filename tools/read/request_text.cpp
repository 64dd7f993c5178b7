#include "request_text.h"

#include <cctype>
#include <optional>
#include <stdexcept>

namespace tovarine_tool {
namespace {

using std::string_view;
constexpr size_t npos = string_view::npos;

bool EndsLine(char c) { return c == '\r' || c == '\n'; }

// The length of the line end at `at`: 2 for "\r\n", 1 for "\n", else 0.
size_t LineEnd(string_view text, size_t at) {
    if (text.substr(at).starts_with("\r\n")) return 2;
    return at < text.size() && text[at] == '\n' ? 1 : 0;
}

string_view WithoutLineEnd(string_view text) {
    if (text.ends_with("\r\n")) return text.substr(0, text.size() - 2);
    if (text.ends_with('\n')) return text.substr(0, text.size() - 1);
    return text;
}

// A request line at the start of `text`: the method (upper-case letters), one blank, the target
// (no blank, no line end), then " HTTP/..." to the line end, or directly the line end or the
// end of the text (no version).
struct RequestLine {
    size_t target = 0, target_end = 0;
    string_view version;  // empty: none
    size_t line_end = 0;  // where the line's end (or the text's end) is
};

std::optional<RequestLine> ParseRequestLine(string_view text) {
    size_t pos = 0;
    while (pos < text.size() && text[pos] >= 'A' && text[pos] <= 'Z') ++pos;
    if (pos == 0 || pos >= text.size() || text[pos] != ' ') return std::nullopt;
    RequestLine line;
    line.target = pos + 1;
    size_t end = line.target;
    while (end < text.size() && text[end] != ' ' && !EndsLine(text[end])) ++end;
    if (end == line.target) return std::nullopt;
    line.target_end = end;
    if (text.substr(end).starts_with(" HTTP/")) {
        size_t version_end = end + 1;
        while (version_end < text.size() && !EndsLine(text[version_end])) ++version_end;
        line.version = text.substr(end + 1, version_end - end - 1);
        line.line_end = version_end;
    } else if (end == text.size() || LineEnd(text, end) != 0) {
        line.line_end = end;
    } else {
        return std::nullopt;
    }
    return line;
}

// The text handed for a request line at the start of `text` (the rest of `text` follows it).
std::string HandOver(string_view text, const RequestLine &line) {
    const string_view target = text.substr(line.target, line.target_end - line.target);
    const size_t query = target.find('?');
    if (line.version.empty()) {
        return query == npos ? std::string() : std::string(target.substr(query));
    }
    return std::string(text.substr(query != npos ? line.target + query : line.target_end));
}

// A quoted log field at `at` ("..." with "\"", "\\" and "\xNN" escapes): its unescaped content,
// and `at` moved past the closing quote.
std::optional<std::string> QuotedField(string_view line, size_t &at) {
    if (at >= line.size() || line[at] != '"') return std::nullopt;
    std::string field;
    for (size_t i = at + 1; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"') {
            at = i + 1;
            return field;
        }
        if (c == '\\' && i + 1 < line.size()) {
            const char next = line[i + 1];
            if (next == '"' || next == '\\') {
                field += next;
                ++i;
                continue;
            }
            if (next == 'x' && i + 3 < line.size() &&
                std::isxdigit(static_cast<unsigned char>(line[i + 2])) &&
                std::isxdigit(static_cast<unsigned char>(line[i + 3]))) {
                field +=
                    static_cast<char>(std::stoi(std::string(line.substr(i + 2, 2)), nullptr, 16));
                i += 3;
                continue;
            }
        }
        field += c;
    }
    return std::nullopt;
}

// A word of the log line at `at` (up to the next blank, not empty): `at` moved past it.
bool Word(string_view line, size_t &at) {
    const size_t start = at;
    while (at < line.size() && line[at] != ' ') ++at;
    return at > start;
}

bool Blank(string_view line, size_t &at) {
    if (at >= line.size() || line[at] != ' ') return false;
    ++at;
    return true;
}

// A line of an access log in the Common or the Combined Log Format.
std::optional<Capture> ParseLogLine(string_view line) {
    size_t at = 0;
    if (!Word(line, at) || !Blank(line, at) || !Word(line, at) || !Blank(line, at)) {
        return std::nullopt;
    }
    // The user may hold blanks; the time follows it in brackets.
    const size_t time = line.find(" [", at);
    if (time == npos) return std::nullopt;
    const size_t time_end = line.find("] \"", time);
    if (time_end == npos) return std::nullopt;
    at = time_end + 2;
    const std::optional<std::string> request = QuotedField(line, at);
    if (!request || !Blank(line, at)) return std::nullopt;
    for (int i = 0; i < 2; ++i) {  // status and size: digits or "-"
        const size_t start = at;
        Word(line, at);
        const string_view word = line.substr(start, at - start);
        if (word != "-" && (word.empty() || word.find_first_not_of("0123456789") != npos)) {
            return std::nullopt;
        }
        if (i == 0 && !Blank(line, at)) return std::nullopt;
    }
    Capture capture;
    capture.form = Form::kCommonLog;
    std::optional<std::string> agent;
    if (at < line.size()) {
        if (!Blank(line, at) || !QuotedField(line, at) || !Blank(line, at) ||
            !(agent = QuotedField(line, at)) || at != line.size()) {
            return std::nullopt;
        }
        capture.form = Form::kCombinedLog;
    }
    // A request the server could not read is logged as it came, often "-": nothing reaches a
    // reader from it.
    const auto parsed = ParseRequestLine(*request);
    if (parsed && parsed->line_end == request->size()) {
        capture.version = std::string(parsed->version);
        capture.text = HandOver(*request, *parsed);
    }
    // Only a request with a version has header lines.
    if (agent && *agent != "-" && !capture.version.empty()) {
        capture.text += "\r\nUser-Agent: " + *agent + "\r\n\r\n";
    }
    return capture;
}

bool IsSchemeChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '-' || c == '.';
}

// scheme://authority/path?query#fragment.
std::optional<Capture> ParseUrl(string_view line) {
    const size_t colon = line.find("://");
    if (colon == npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(line[0]))) {
        return std::nullopt;
    }
    for (size_t i = 0; i < colon; ++i) {
        if (!IsSchemeChar(line[i])) return std::nullopt;
    }
    // No blank before the query and no line end at all; the query runs to the line's end.
    const size_t query_start = line.find('?');
    if (line.find_first_of(" \t") < query_start || line.find_first_of("\r\n") != npos) {
        return std::nullopt;
    }
    Capture capture;
    capture.form = Form::kUrl;
    const string_view url = line.substr(0, line.find('#'));
    if (const size_t query = url.find('?'); query != npos) capture.text = url.substr(query);
    return capture;
}

std::optional<Capture> ParsePathQuery(string_view line) {
    const size_t query = line.find('?');
    if (query == 0 || query == npos) return std::nullopt;
    const string_view path = line.substr(0, query);
    if (path[0] != '/' && path.find_first_of("=& \t\r\n") != npos) return std::nullopt;
    if (line.find_first_of(" \t\r\n") < query || line.find_first_of("\r\n") != npos) {
        return std::nullopt;
    }
    Capture capture;
    capture.form = Form::kPathQuery;
    capture.text = line.substr(query);
    return capture;
}

}  // namespace

const char *FormName(Form form) {
    switch (form) {
        case Form::kRawRequest:
            return "raw-request";
        case Form::kRequestLine:
            return "request-line";
        case Form::kCommonLog:
            return "common-log";
        case Form::kCombinedLog:
            return "combined-log";
        case Form::kUrl:
            return "url";
        case Form::kPathQuery:
            return "path-query";
        case Form::kQuery:
            return "query";
    }
    return "query";
}

Capture Recognise(string_view input) {
    // Servers skip empty lines before a request line; a pasted capture may carry them too.
    size_t start = 0, blank_lines = 0;
    for (size_t n; (n = LineEnd(input, start)) != 0; start += n) ++blank_lines;
    const string_view text = input.substr(start);

    std::optional<Capture> capture;
    if (const auto request = ParseRequestLine(text)) {
        capture.emplace();
        capture->version = std::string(request->version);
        capture->text = HandOver(text, *request);
        const size_t after = request->line_end + LineEnd(text, request->line_end);
        const bool headers = !request->version.empty() && after < text.size();
        capture->form = headers ? Form::kRawRequest : Form::kRequestLine;
    } else {
        const string_view line = WithoutLineEnd(text);
        if (!(capture = ParseLogLine(line)) && !(capture = ParseUrl(line))) {
            capture = ParsePathQuery(line);
        }
    }
    if (capture) {
        capture->blank_lines = blank_lines;
        return *capture;
    }
    Capture query;
    query.text = WithoutLineEnd(input);
    return query;
}

}  // namespace tovarine_tool
