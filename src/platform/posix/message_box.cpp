// Message boxes on POSIX: shown by the handler the host installed, or asked on the controlling
// terminal. A box that cannot be shown returns 0, which a Yes/No question takes as No.
//
// Without a handler and without a terminal (a server under a service manager), the environment
// setting TOVARINE_CONFIRM answers: "ask" (the default, and any other value) leaves the box
// unanswered, "yes" answers Yes, "no" answers No; an OK box is OK with either. Every such box is
// written to standard error with its caption, its whole text and the answer, so that the
// service's log shows what was changed or refused.
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/host_handler.h"
#include "platform/posix/terminal.h"
#include "tovarine.h"  // the handler export and its type
#include "win32.h"

namespace {

tovarine::HostHandler<tovarine_message_box_handler> g_handler;

// The controlling terminal, open while in scope; fd -1 when there is none.
struct Terminal {
    const int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    Terminal() = default;
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;
    ~Terminal() {
        if (fd >= 0) close(fd);
    }
};

// Shows the box on the controlling terminal. MB_YESNO asks "[y/N] ": only an answer beginning
// with "y" or "Y" is Yes; no answer at all is a box that could not be shown.
int AskOnTerminal(int tty, const char *text, const char *caption, UINT type) {
    std::string box = "\n== ";
    box += caption != nullptr ? caption : "";
    box += " ==\n";
    box += text != nullptr ? text : "";
    if (box.back() != '\n') box += '\n';
    if ((type & 0xFu) != MB_YESNO) return tovarine::terminal::WriteAll(tty, box) ? IDOK : 0;
    switch (tovarine::terminal::AskYesNo(tty, box + "[y/N] ")) {
        case tovarine::terminal::Answer::kYes:
            return IDYES;
        case tovarine::terminal::Answer::kNo:
            return IDNO;
        default:
            return 0;
    }
}

// Answers the box as TOVARINE_CONFIRM says, and writes it and the answer to standard error.
int AnswerUnattended(const char *text, const char *caption, UINT type) {
    const char *setting = std::getenv("TOVARINE_CONFIRM");
    const std::string confirm = setting != nullptr ? setting : "ask";
    const bool yes_no = (type & 0xFu) == MB_YESNO;
    int result = 0;
    const char *answer =
        yes_no ? "not answered (no terminal), taken as No" : "not shown (no terminal)";
    if (confirm == "yes" || confirm == "no") {
        result = !yes_no ? IDOK : confirm == "yes" ? IDYES : IDNO;
        answer = !yes_no ? "OK" : confirm == "yes" ? "Yes" : "No";
    }
    std::string log = "tovarine: message box without a person to answer it (TOVARINE_CONFIRM=";
    log += confirm == "yes" || confirm == "no" ? confirm : "ask";
    if (setting != nullptr && confirm != "yes" && confirm != "no" && confirm != "ask") {
        log += "; \"" + confirm + "\" is not ask, yes or no";
    }
    log += "): ";
    log += caption != nullptr ? caption : "";
    log += '\n';
    for (const char *line = text != nullptr ? text : ""; *line != '\0';) {
        const size_t length = std::strcspn(line, "\n");
        log.append("  | ").append(line, length) += '\n';
        line += length + (line[length] == '\n');
    }
    log.append("  -> ").append(answer) += '\n';
    tovarine::terminal::WriteAll(STDERR_FILENO, log);
    return result;
}

}  // namespace

extern "C" void tovarine_set_message_box_handler(tovarine_message_box_handler handler,
                                                 void *context) {
    g_handler.Install(handler, context);
}

// Nothing thrown gets out: a prompt that cannot be built, or a handler that throws, is a box
// that could not be shown, which a Yes/No question takes as No.
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    try {
        // The handler may block for as long as the user takes.
        const auto handler = g_handler.Current();
        if (handler.function != nullptr) {
            return handler.function(handler.context, owner, text, caption, type);
        }
        const Terminal tty;
        if (tty.fd < 0) return AnswerUnattended(text, caption, type);
        return AskOnTerminal(tty.fd, text, caption, type);
    } catch (...) {
        return 0;
    }
}
