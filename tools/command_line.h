// The tool's command line and the files it names, as UTF-8 text on every system.
//
// Inside the tool, names and texts are UTF-8 (the settings commands hand them to the registry's
// Unicode calls on Windows). On Windows the arguments main receives are in the ANSI code page,
// which has lost every character outside it, so the tool reads the command line Windows keeps in
// UTF-16 instead, and opens the files it names through their UTF-16 names.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tovarine_tool {

// The program's arguments, argv[0] included, as UTF-8. On POSIX `argv` as it is; on Windows the
// process's UTF-16 command line, split by the system's rules (CommandLineToArgvW). Throws
// std::runtime_error when an argument is not valid Unicode (a lone surrogate).
std::vector<std::string> Arguments(int argc, char **argv);

// std::fopen of the file with the UTF-8 name `path`.
std::FILE *OpenFile(const std::string &path, const char *mode);

// Reads `stream` (open in binary) a piece of up to 64 KiB at a time and hands each piece to
// `take`, until the stream ends or `take` returns false. False when reading failed.
bool ReadPieces(std::FILE *stream, const std::function<bool(std::string_view)> &take);

// Everything left on `stream` (standard input), in binary. Throws std::runtime_error on a read
// error.
std::string ReadAll(std::FILE *stream);

}  // namespace tovarine_tool
