// Diagnostics of the POSIX stand-ins: debug output to standard error, and the texts of the
// Win32 error codes that the stand-ins return, in Windows' own words, so that a message reads
// the same on both targets.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "win32.h"

namespace {

struct ErrorText {
    DWORD code;
    const char *text;
};

constexpr ErrorText kErrorTexts[] = {
    {0, "The operation completed successfully."},
    {2, "The system cannot find the file specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {29, "The system cannot write to the specified device."},
    {30, "The system cannot read from the specified device."},
    {87, "The parameter is incorrect."},
    {161, "The specified path is invalid."},
    {183, "Cannot create a file when that file already exists."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1015, "The registry is corrupted."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
};

}  // namespace

void OutputDebugStringA(LPCSTR text) {
    if (text == nullptr) return;
    const char *at = text;
    size_t left = std::strlen(text);
    while (left > 0) {
        const ssize_t wrote = write(STDERR_FILENO, at, left);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return;
        at += wrote;
        left -= static_cast<size_t>(wrote);
    }
}

DWORD FormatMessageA(DWORD flags, const void *, DWORD message_id, DWORD, LPSTR buffer, DWORD size,
                     void *) {
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || buffer == nullptr || size == 0) return 0;
    for (const ErrorText &entry : kErrorTexts) {
        if (entry.code != message_id) continue;
        // Windows ends a system message with CR LF.
        const size_t length = std::strlen(entry.text);
        if (length + 3 > size) return 0;
        std::memcpy(buffer, entry.text, length);
        std::memcpy(buffer + length, "\r\n", 3);
        return static_cast<DWORD>(length + 2);
    }
    return 0;
}
