// The live video reader's scan of the request's header block for the client: whether its
// "User-Agent:" header names a Mozilla client. The reader and anything that explains a reading
// use it.
#pragma once

#include <cstddef>
#include <cstring>

#include "module/text.h"

namespace tovarine {

// Where the header scan stopped: `header` is the first word of the whole text that begins with
// "User-Agent:" (letters in any case), null when there is none; `client` is the word after it
// (at the text's NUL when none follows). Words are separated by blanks, tabs, CR, LF, VT and FF,
// so the header may stand anywhere in the text, the parameter part included.
struct ClientHeader {
    const char *header = nullptr;
    const char *client = nullptr;
};

// Words start at the text's start and after each run of separators. Such a word holds its ":"
// ten bytes in, so only the ":" of the text are visited (strchr), in order; the first one that
// closes "User-Agent" at a word's start belongs to the first such word.
inline ClientHeader FindClientHeader(const char *text) {
    constexpr size_t kColumn = sizeof "User-Agent" - 1;
    for (const char *colon = std::strchr(text, ':'); colon != nullptr;
         colon = std::strchr(colon + 1, ':')) {
        if (static_cast<size_t>(colon - text) < kColumn) continue;
        const char *const word = colon - kColumn;
        if ((word == text || text::IsWordSeparator(word[-1])) &&
            text::HasPrefix(word, "User-Agent:")) {
            return {word, text::NextWord(word)};
        }
    }
    return {};
}

// Whether the header names a Mozilla client: its next word begins with "Mozilla" (any case).
inline bool NamesMozilla(const ClientHeader &found) {
    return found.header != nullptr && text::HasPrefix(found.client, "Mozilla") != 0;
}

}  // namespace tovarine
