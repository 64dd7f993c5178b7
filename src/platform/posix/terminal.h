// A yes/no question on a terminal: the library's message boxes without a handler ask it on the
// controlling terminal, and the command-line host asks it before it writes the registry. One
// question, one rule for the answer.
#pragma once

#include <string_view>

namespace tovarine::terminal {

enum class Answer {
    kYes,
    kNo,
    kNone,  // nothing was answered: the question could not be written, or input ended first
};

// Writes all of `text` to `fd`, going on after partial writes and interrupted calls. False
// when the write fails.
bool WriteAll(int fd, std::string_view text);

// Writes `question` to `fd` (a terminal open for reading and writing) and reads one line from
// it: a line beginning with "y" or "Y" is Yes, any other line No, even an empty one.
Answer AskYesNo(int fd, std::string_view question);

}  // namespace tovarine::terminal
