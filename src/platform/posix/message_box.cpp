// Message boxes on POSIX: shown by the handler the host installed, or asked on the controlling
// terminal. A box that cannot be shown returns 0, which a Yes/No question takes as No.
#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <string>

#include "tovarine.h"  // the handler export and its type
#include "win32.h"

namespace {

struct Handler {
    tovarine_message_box_handler function = nullptr;
    void *context = nullptr;
};

std::mutex g_handler_mutex;
Handler g_handler;

bool WriteAll(int fd, const std::string &text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Shows the box on the controlling terminal. MB_YESNO asks "[y/N]": only an answer beginning
// with "y" or "Y" is Yes.
int AskOnTerminal(const char *text, const char *caption, UINT type) {
    const int tty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return 0;
    std::string box = "\n== ";
    box += caption != nullptr ? caption : "";
    box += " ==\n";
    box += text != nullptr ? text : "";
    if (box.back() != '\n') box += '\n';
    const bool yes_no = (type & 0xFu) == MB_YESNO;
    box += yes_no ? "[y/N] " : "";
    int result = 0;
    if (WriteAll(tty, box)) {
        if (!yes_no) {
            result = IDOK;
        } else {
            char answer = 0;
            char c;
            bool first = true;
            ssize_t n;
            while ((n = read(tty, &c, 1)) == 1 && c != '\n') {
                if (first) answer = c;
                first = false;
            }
            result = (n == 1 || !first) ? ((answer == 'y' || answer == 'Y') ? IDYES : IDNO) : 0;
        }
    }
    close(tty);
    return result;
}

}  // namespace

extern "C" void tovarine_set_message_box_handler(tovarine_message_box_handler handler,
                                                 void *context) {
    try {
        std::lock_guard<std::mutex> lock(g_handler_mutex);
        g_handler = Handler{handler, handler != nullptr ? context : nullptr};
    } catch (...) {  // a lock that cannot be taken leaves the handler as it was
    }
}

// Nothing thrown gets out: a prompt that cannot be built, or a handler that throws, is a box
// that could not be shown, which a Yes/No question takes as No.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    try {
        Handler handler;
        {
            std::lock_guard<std::mutex> lock(g_handler_mutex);
            handler = g_handler;
        }
        // The handler runs without the lock held: it may block for as long as the user takes,
        // and it may install another handler.
        if (handler.function != nullptr) {
            return handler.function(handler.context, owner, text, caption, type);
        }
        return AskOnTerminal(text, caption, type);
    } catch (...) {
        return 0;
    }
}
