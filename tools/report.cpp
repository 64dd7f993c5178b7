#include "report.h"

#include <charconv>
#include <cmath>
#include <string_view>
#include <type_traits>

namespace tovarine_tool {
namespace {

template <class Number>
std::string FormatNumber(Number value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

template <class Number>
std::string JsonNumber(Number value) {
    if constexpr (std::is_floating_point_v<Number>) {
        if (!std::isfinite(value)) return '"' + FormatNumber(value) + '"';
    }
    return FormatNumber(value);
}

std::string JsonString(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '"' || byte == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte >= 0x7f) {
            json += "\\u00";
            json += kHex[byte >> 4];
            json += kHex[byte & 0xf];
        } else {
            json += c;
        }
    }
    return json + '"';
}

std::string AsText(const Value &value) {
    return std::visit(
        [](const auto &v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return v;
            } else if constexpr (std::is_same_v<T, Section>) {
                std::string text;
                for (const auto &element : v) {
                    if (!text.empty()) text += ',';
                    text += element ? FormatNumber(*element) : "-";
                }
                return text;
            } else {
                return FormatNumber(v);
            }
        },
        value);
}

std::string AsJson(const Value &value) {
    return std::visit(
        [](const auto &v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return JsonString(v);
            } else if constexpr (std::is_same_v<T, Section>) {
                std::string json = "[";
                for (const auto &element : v) {
                    if (json.size() > 1) json += ',';
                    json += element ? JsonNumber(*element) : "null";
                }
                return json + ']';
            } else {
                return JsonNumber(v);
            }
        },
        value);
}

void Put(std::FILE *out, const std::string &text) { std::fwrite(text.data(), 1, text.size(), out); }

}  // namespace

void WriteText(std::FILE *out, const std::vector<Output> &outputs) {
    for (const auto &output : outputs) Put(out, output.name + '=' + AsText(output.value) + '\n');
}

void WriteJson(std::FILE *out, const std::vector<Output> &outputs) {
    std::string json = "{";
    for (const auto &output : outputs) {
        if (json.size() > 1) json += ',';
        json += JsonString(output.name) + ':' + AsJson(output.value);
    }
    Put(out, json + "}\n");
}

}  // namespace tovarine_tool
