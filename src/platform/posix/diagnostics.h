// Where the library's diagnostics go on POSIX: the host's diagnostic handler
// (tovarine_set_diagnostic_handler), else standard error. Windows hands the same lines to
// OutputDebugStringA.
#pragma once

#include "platform/posix/win32.h"

namespace tovarine::diagnostics {

// Hands one line about a failure to the host's handler, or writes it to standard error when
// none is installed. `error` is the Win32 code of the failure; `key_path` the key it concerns
// ("HKEY_CURRENT_USER\..."), or null when it concerns the store as a whole; `line` ends with a
// line end, which the handler is not given. Needs no memory; the handler runs on the calling
// thread, with no lock of the library's held. A line told while the thread is inside the
// handler (by a call it makes) goes to standard error.
void Tell(LONG error, const char *key_path, const char *line);

}  // namespace tovarine::diagnostics
