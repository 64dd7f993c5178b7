// A plain model of how a request text is split into parameters, how values are decoded and how
// the readers convert them, written from the rules rather than from the library's code. The
// differential test and the reader fuzzer check the library against it.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tovarine::model {

// One entry per slot of the list; an empty slot holds no pair.
using Slots = std::vector<std::optional<std::pair<std::string, std::string>>>;

inline bool Digit(char c) { return c >= '0' && c <= '9'; }

inline std::string Decode(const std::string &v) {
    std::string out;
    for (size_t i = 0; i < v.size(); ++i) {
        const std::string hex = v.substr(i + 1, 2);
        const bool escape = v[i] == '%' && hex.size() == 2 && hex != "00" &&
                            hex.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
        out += v[i] == '+' ? ' ' : escape ? static_cast<char>(std::stoi(hex, nullptr, 16)) : v[i];
        i += escape ? 2 : 0;
    }
    return out;
}

inline Slots List(const std::string &text) {
    const std::string part = text.substr(0, text.find(' '));
    Slots slots(1 + std::count(part.begin(), part.end(), '&'));
    std::string rest = part.substr(std::min(part.size(), part.find_first_not_of("?&"))) + "&";
    for (size_t filled = 0, amp; (amp = rest.find('&')) != std::string::npos;) {
        const std::string param = rest.substr(0, amp);
        rest.erase(0, amp + 1);
        if (const size_t eq = param.rfind('='); eq != std::string::npos)
            slots[filled++] = {{param.substr(0, eq), Decode(param.substr(eq + 1))}};
    }
    return slots;
}

// The value of the first pair named exactly `name`, or null.
inline const std::string *Find(const Slots &slots, const std::string &name) {
    for (const auto &slot : slots)
        if (slot && slot->first == name) return &slot->second;
    return nullptr;
}

// strtoll reads the same integer grammar in the C locale and saturates at 64 bits.
inline int32_t Integer(const char *p) {
    return static_cast<int32_t>(
        std::clamp<long long>(std::strtoll(p, nullptr, 10), INT32_MIN, INT32_MAX));
}

// strtod also reads hexadecimal, infinities and NaN: hand it only the span of the grammar.
inline double Decimal(const char *p) {
    while (*p != 0 && std::strchr(" \t\n\v\f\r", *p) != nullptr) ++p;
    std::string number;
    if (*p == '+' || *p == '-') number += *p++;
    while (Digit(*p) || (*p == '.' && number.find('.') == std::string::npos)) number += *p++;
    if (number.find_first_of("0123456789") == std::string::npos) return 0.0;
    if (*p != 0 && std::strchr("eEdD", *p) != nullptr) {
        const char *q = p + 1 + (p[1] == '+' || p[1] == '-');
        if (Digit(*q))
            for (number += 'e', number.append(p + 1, q), p = q; Digit(*p);) number += *p++;
    }
    return std::strtod(number.c_str(), nullptr);
}

// Seconds in the request, milliseconds for the host, held at the bounds of 32 bits.
inline int32_t Timeout(const char *p) {
    return static_cast<int32_t>(std::clamp<long long>(Integer(p) * 1000LL, INT32_MIN, INT32_MAX));
}

// The header scan over the whole text: the first word beginning with "User-Agent:" (any case)
// names a Mozilla client when the word after it begins with "Mozilla" (any case).
inline bool MozillaClient(const std::string &text) {
    const auto starts = [](const std::string &word, const std::string &prefix) {
        return word.size() >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), word.begin(), [](char a, char b) {
                   return (a >= 'A' && a <= 'Z' ? a + 32 : a) ==
                          (b >= 'A' && b <= 'Z' ? b + 32 : b);
               });
    };
    std::vector<std::string> words;
    for (size_t at = 0; (at = text.find_first_not_of(" \t\r\n\v\f", at)) != std::string::npos;) {
        const size_t end = text.find_first_of(" \t\r\n\v\f", at);
        words.push_back(text.substr(at, end - at));
        at = end;
    }
    for (size_t i = 0; i < words.size(); ++i)
        if (starts(words[i], "user-agent:"))
            return i + 1 < words.size() && starts(words[i + 1], "mozilla");
    return false;
}

}  // namespace tovarine::model
