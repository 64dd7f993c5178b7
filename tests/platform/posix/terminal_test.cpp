// The yes/no question on a terminal, shared by the message boxes and the command-line host: a
// socket pair stands in for the terminal.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/posix/terminal.h"

namespace {

using tovarine::terminal::Answer;

TEST(Terminal, OnlyALineBeginningWithYIsYesAndNothingAtAllIsNoAnswer) {
    const struct {
        const char *typed;  // then the input ends
        Answer answer;
        const char *left;  // what the question did not read
    } cases[] = {
        {"y\n", Answer::kYes, ""},       {"Yes please\n", Answer::kYes, ""},
        {"n\n", Answer::kNo, ""},        {"\n", Answer::kNo, ""},
        {" y\n", Answer::kNo, ""},       {"x\ny\n", Answer::kNo, "y\n"},
        {"y\nn\n", Answer::kYes, "n\n"}, {"Y", Answer::kYes, ""},
        {"no", Answer::kNo, ""},         {"", Answer::kNone, ""},
    };
    for (const auto &c : cases) {
        int ends[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
        const std::string typed = c.typed;
        ASSERT_EQ(write(ends[1], typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
        shutdown(ends[1], SHUT_WR);
        EXPECT_EQ(tovarine::terminal::AskYesNo(ends[0], "Write? [y/N] "), c.answer) << c.typed;
        char asked[64] = {};
        EXPECT_EQ(read(ends[1], asked, sizeof asked - 1), 13);
        EXPECT_STREQ(asked, "Write? [y/N] ");
        char left[64] = {};
        EXPECT_EQ(read(ends[0], left, sizeof left - 1), static_cast<ssize_t>(std::strlen(c.left)));
        EXPECT_STREQ(left, c.left) << c.typed;
        close(ends[0]);
        close(ends[1]);
    }
}

}  // namespace
