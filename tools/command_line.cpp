#include "command_line.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
// windows.h first: shellapi.h uses its types.
#include <shellapi.h>

#include "text_encoding.h"
#endif

namespace tovarine_tool {
namespace {

constexpr size_t kPieceBytes = 65536;

}  // namespace

#ifdef _WIN32

std::vector<std::string> Arguments(int, char **) {
    int count = 0;
    const std::unique_ptr<wchar_t *, HLOCAL (*)(HLOCAL)> wide(
        CommandLineToArgvW(GetCommandLineW(), &count),
        [](HLOCAL block) { return LocalFree(block); });
    if (wide == nullptr) throw std::runtime_error("cannot read the command line");
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i) {
        std::optional<std::string> utf8 = FromWide(wide.get()[i]);
        if (!utf8) {
            throw std::runtime_error("argument " + std::to_string(i) +
                                     " of the command line is not valid Unicode text");
        }
        arguments.push_back(std::move(*utf8));
    }
    return arguments;
}

std::FILE *OpenFile(const std::string &path, const char *mode) {
    return _wfopen(ToWide(path).c_str(), ToWide(mode).c_str());
}

#else

std::vector<std::string> Arguments(int argc, char **argv) { return {argv, argv + argc}; }

std::FILE *OpenFile(const std::string &path, const char *mode) {
    return std::fopen(path.c_str(), mode);
}

#endif

bool ReadPieces(std::FILE *stream, const std::function<bool(std::string_view)> &take) {
    char piece[kPieceBytes];
    for (size_t got; (got = std::fread(piece, 1, sizeof piece, stream)) > 0;) {
        if (!take(std::string_view(piece, got))) break;
    }
    return std::ferror(stream) == 0;
}

std::string ReadAll(std::FILE *stream) {
    std::string data;
    const bool read = ReadPieces(stream, [&](std::string_view piece) {
        data.append(piece);
        return true;
    });
    if (!read) throw std::runtime_error("cannot read standard input");
    return data;
}

}  // namespace tovarine_tool
