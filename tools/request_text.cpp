#include "request_text.h"

#include <stdexcept>
#include <string_view>

namespace tovarine_tool {
namespace {

bool EndsLine(char c) { return c == '\r' || c == '\n'; }

}  // namespace

std::string RequestText(std::string input) {
    const std::string_view text = input;
    // Method: one or more upper-case letters, then one blank.
    size_t pos = 0;
    while (pos < text.size() && text[pos] >= 'A' && text[pos] <= 'Z') ++pos;
    if (pos > 0 && pos < text.size() && text[pos] == ' ') {
        // Target: a word, then one blank and the protocol.
        const size_t target = pos + 1;
        size_t end = target;
        while (end < text.size() && text[end] != ' ' && !EndsLine(text[end])) ++end;
        if (end > target && text.substr(end).starts_with(" HTTP/")) {
            const size_t query = text.substr(target, end - target).find('?');
            return input.substr(query != std::string_view::npos ? target + query : end);
        }
    }
    if (input.ends_with("\r\n")) {
        input.resize(input.size() - 2);
    } else if (input.ends_with('\n')) {
        input.pop_back();
    }
    return input;
}

std::string ReadAll(std::FILE *stream) {
    std::string data;
    char chunk[65536];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, stream)) > 0) data.append(chunk, got);
    if (std::ferror(stream)) throw std::runtime_error("cannot read standard input");
    return data;
}

}  // namespace tovarine_tool
