#include "report.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <stdexcept>
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
Json JsonNumber(Number value) {
    if constexpr (std::is_floating_point_v<Number>) {
        if (!std::isfinite(value)) return FormatNumber(value);
        // The shortest text of the number as it was written (a float's, not its double's), read
        // back as the double JSON carries: 0.1f is written 0.1, not 0.10000000149011612.
        return std::strtod(FormatNumber(value).c_str(), nullptr);
    } else {
        return value;
    }
}

std::string AsText(const Value &value) {
    return std::visit(
        [](const auto &v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return EscapeText(v);
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

Json AsJson(const Value &value) {
    return std::visit(
        [](const auto &v) -> Json {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::string>) {
                return v;
            } else if constexpr (std::is_same_v<T, Section>) {
                Json array = Json::array();
                for (const auto &element : v) {
                    array.push_back(element ? Json(*element) : Json(nullptr));
                }
                return array;
            } else {
                return JsonNumber(v);
            }
        },
        value);
}

}  // namespace

std::string EscapeText(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            escaped += "\\\\";
        } else if (byte == '\n') {
            escaped += "\\n";
        } else if (byte == '\t') {
            escaped += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            escaped += "\\x";
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0xf];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string ValueText(const Value &value) { return AsText(value); }

Json ValueJson(const Value &value) { return AsJson(value); }

std::string DumpJson(const Json &json) {
    return json.dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace);
}

void Put(std::FILE *out, std::string_view text) {
    if (std::fwrite(text.data(), 1, text.size(), out) != text.size()) {
        throw std::runtime_error("cannot write the output");
    }
}

void WriteText(std::FILE *out, const std::vector<Output> &outputs) {
    for (const auto &output : outputs) {
        Put(out, EscapeText(output.name) + '=' + AsText(output.value) + '\n');
    }
}

Json ToJson(const std::vector<Output> &outputs) {
    Json object = Json::object();
    for (const auto &output : outputs) object[output.name] = AsJson(output.value);
    return object;
}

void WriteJson(std::FILE *out, const std::vector<Output> &outputs) {
    Put(out, DumpJson(ToJson(outputs)) + '\n');
}

}  // namespace tovarine_tool
