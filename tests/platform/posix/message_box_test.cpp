// Message boxes with no handler installed and no terminal: TOVARINE_CONFIRM answers them, and
// each is logged to standard error.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "tovarine.h"

namespace {

struct Answered {
    int result;
    std::string log;
};

// Shows one box in a child process that has left its controlling terminal (a new session), as
// a server started by a service manager has none.
Answered ShowUnattended(const char *confirm, UINT type) {
    const std::string log = ::testing::TempDir() + "box_log." + std::to_string(getpid());
    const pid_t child = fork();
    if (child == 0) {
        setsid();
        if (!std::freopen(log.c_str(), "w", stderr)) _exit(99);
        if (confirm != nullptr) {
            setenv("TOVARINE_CONFIRM", confirm, 1);
        } else {
            unsetenv("TOVARINE_CONFIRM");
        }
        tovarine_set_message_box_handler(nullptr, nullptr);
        _exit(MessageBoxA(nullptr, "port changing from 80 to 8080\ntitle will be  lobby",
                          "Update Registry?", type));
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::ostringstream text;
    text << std::ifstream(log).rdbuf();
    std::remove(log.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

TEST(MessageBox, UnattendedBoxesAreAnsweredByTheSettingAndLogged) {
    const struct {
        const char *confirm;
        UINT type;
        int result;
        const char *shown_as, *answer;
    } cases[] = {
        {nullptr, MB_YESNO, 0, "ask", "not answered (no terminal), taken as No"},
        {"ask", MB_YESNO, 0, "ask", "not answered (no terminal), taken as No"},
        {"yes", MB_YESNO, IDYES, "yes", "Yes"},
        {"no", MB_YESNO, IDNO, "no", "No"},
        {"YES", MB_YESNO, 0, "ask; \"YES\" is not ask, yes or no", "not answered"},
        {"yes", MB_OK, IDOK, "yes", "OK"},
        {"no", MB_OK, IDOK, "no", "OK"},
        {nullptr, MB_OK, 0, "ask", "not shown (no terminal)"},
    };
    for (const auto &c : cases) {
        const std::string which =
            std::string(c.confirm ? c.confirm : "(unset)") + " " + std::to_string(c.type);
        const Answered answered = ShowUnattended(c.confirm, c.type);
        EXPECT_EQ(answered.result, c.result) << which;
        EXPECT_NE(answered.log.find(std::string("(TOVARINE_CONFIRM=") + c.shown_as +
                                    "): Update Registry?\n"
                                    "  | port changing from 80 to 8080\n"
                                    "  | title will be  lobby\n"
                                    "  -> " +
                                    c.answer),
                  std::string::npos)
            << which << ": " << answered.log;
    }
}

}  // namespace
