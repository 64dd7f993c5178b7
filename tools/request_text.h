// The text a reader is given for an input, as a server would hand it over.
#pragma once

#include <cstdio>
#include <string>

namespace tovarine_tool {

// For a whole HTTP request (a request line "METHOD TARGET HTTP/..."): the text from the "?" of
// the target on, so that the parameter part comes first and the header lines follow; without a
// "?", the text from the blank after the target on. Any other input stays as it is, less one
// trailing line end ("\n" or "\r\n"), which would otherwise end up in the last value.
std::string RequestText(std::string input);

// Everything left on `stream`, in binary. Throws std::runtime_error on a read error.
std::string ReadAll(std::FILE *stream);

}  // namespace tovarine_tool
