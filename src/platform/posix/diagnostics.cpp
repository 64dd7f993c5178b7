// Diagnostics of the POSIX stand-ins: the host's diagnostic handler, debug output to standard
// error, and the texts of the Win32 error codes that the stand-ins return, in Windows' own
// words, so that a message reads the same on both targets.
#include "diagnostics.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include "platform/posix/host_handler.h"
#include "tovarine.h"  // the handler export and its type

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

tovarine::HostHandler<tovarine_diagnostic_handler> g_handler;
// Whether the calling thread is inside the handler: a line from a library call the handler
// makes goes to standard error, rather than into the handler again, without end when that
// call fails in turn.
thread_local bool t_in_handler = false;

}  // namespace

extern "C" void tovarine_set_diagnostic_handler(tovarine_diagnostic_handler handler,
                                                void *context) {
    g_handler.Install(handler, context);
}

namespace tovarine::diagnostics {

void Tell(LONG error, const char *key_path, const char *line) {
    if (line == nullptr) return;
    const auto handler = g_handler.Current();  // none without the lock: standard error
    if (handler.function == nullptr || t_in_handler) {
        OutputDebugStringA(line);
        return;
    }
    // The handler is given the line without its end, and whatever it throws stays here.
    char text[2048];
    size_t length = std::strlen(line);
    if (length >= sizeof text) length = sizeof text - 1;
    std::memcpy(text, line, length);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
    text[length] = '\0';
    t_in_handler = true;
    try {
        handler.function(handler.context, static_cast<int32_t>(error), key_path, text);
    } catch (...) {
    }
    t_in_handler = false;
}

}  // namespace tovarine::diagnostics

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
