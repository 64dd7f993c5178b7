// Text encodings the tool meets: the store's 8-bit text (UTF-8, or Windows ANSI text in code
// page 1252), the UTF-16 of .reg files, and on Windows the wide text of the registry, the
// command line and file names. Inside the tool, text that crosses between them is UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovarine_tool {

// How the store's bytes are read as text.
enum class StoreEncoding { kUtf8, kWindows1252 };

// Whether `text` is well-formed UTF-8: no stray or missing continuation bytes, no overlong
// forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view text);

// Code page 1252 to UTF-8; nullopt for the five bytes the code page leaves undefined (0x81,
// 0x8d, 0x8f, 0x90, 0x9d).
std::optional<std::string> Windows1252ToUtf8(std::string_view text);

// UTF-8 (well-formed) to code page 1252; nullopt when a character has no place in it.
std::optional<std::string> Utf8ToWindows1252(std::string_view text);

// The store's bytes as UTF-8 text, nullopt when they are not valid in `encoding`.
std::optional<std::string> StoreToUtf8(std::string_view bytes, StoreEncoding encoding);

// UTF-8 text as the store's bytes, nullopt when it cannot be written in `encoding`.
std::optional<std::string> Utf8ToStore(std::string_view text, StoreEncoding encoding);

// UTF-8 (well-formed) to UTF-16.
std::u16string Utf8ToUtf16(std::string_view text);

// UTF-16 to UTF-8; nullopt for a surrogate without its pair.
std::optional<std::string> Utf16ToUtf8(std::u16string_view text);

#ifdef _WIN32
// UTF-8 (well-formed) as Windows' wide text, UTF-16 in wchar_t.
std::wstring ToWide(std::string_view utf8);

// Windows' wide text as UTF-8; nullopt for a surrogate without its pair.
std::optional<std::string> FromWide(std::wstring_view wide);
#endif

}  // namespace tovarine_tool
