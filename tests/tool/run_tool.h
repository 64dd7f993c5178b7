// Running the command-line host as a user runs it, for the tool's tests: its output, errors and
// exit status, and a registry store of each test's own.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

struct Result {
    int status;
    std::string out, err;
};

// Runs the tool with `args` (shell words) and `input` as standard input, from a file.
// With `no_terminal`, in a session of its own, without a controlling terminal.
Result RunTool(const std::string &args, const std::string &input = "", bool no_terminal = false,
               const char *tool = TOVARINE_TOOL) {
    // Named by process and call, so that test cases and calls run in parallel don't share the
    // files.
    static std::atomic<int> calls{0};
    const std::string tag = std::to_string(getpid()) + "_" + std::to_string(calls++);
    const std::string in = ::testing::TempDir() + "tool_in." + tag,
                      err = ::testing::TempDir() + "tool_err." + tag;
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = std::string(no_terminal ? "setsid -w " : "") + "'" + tool + "' " +
                                args + " <" + in + " 2>" + err;
    FILE *pipe = popen(command.c_str(), "r");
    Result result{};
    char chunk[4096];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        result.out.append(chunk, got);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::ostringstream text;
    text << std::ifstream(err).rdbuf();
    result.err = text.str();
    std::remove(in.c_str());
    std::remove(err.c_str());
    return result;
}

// Each test has a registry store of its own, in a fresh directory.
class ToolSettings : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = ::testing::TempDir() + "tool_settings_XXXXXX";
        ASSERT_NE(mkdtemp(dir.data()), nullptr);
        dir_ = dir;
        setenv("TOVARINE_REGISTRY", (dir_ + "/registry.db").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TOVARINE_REGISTRY");
        std::filesystem::remove_all(dir_);
    }
    std::string dir_;
};

}  // namespace
