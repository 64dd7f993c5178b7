#include "platform/posix/terminal.h"

#include <unistd.h>

#include <cerrno>

namespace tovarine::terminal {

bool WriteAll(int fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

Answer AskYesNo(int fd, std::string_view question) {
    if (!WriteAll(fd, question)) return Answer::kNone;
    char first = 0, c = 0;
    bool any = false;
    for (;;) {
        const ssize_t n = read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n != 1) break;  // end of input or an error: the line ends here
        if (c == '\n') return first == 'y' || first == 'Y' ? Answer::kYes : Answer::kNo;
        if (!any) first = c;
        any = true;
    }
    if (!any) return Answer::kNone;
    return first == 'y' || first == 'Y' ? Answer::kYes : Answer::kNo;
}

}  // namespace tovarine::terminal
