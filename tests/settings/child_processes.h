// Test support for the settings calls across processes: children started together, what a call
// or a child wrote to standard error, and the integrity of a store they left.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/registry_store.h"

namespace tovarine::testing {

// Starts `count` children that each run `body(p)` and exit with its status, all released at
// the same moment; the child's standard error goes to `stderr_of(p)`. Returns their pids.
inline std::vector<pid_t> StartTogether(int count, const std::function<int(int)> &body,
                                        const std::function<std::string(int)> &stderr_of) {
    registry::CloseStore();  // no connection crosses a fork
    int go[2];
    if (pipe(go) != 0) return {};
    std::vector<pid_t> children;
    for (int p = 0; p < count; ++p) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(go[1]);
            const int err = open(stderr_of(p).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (err >= 0) dup2(err, STDERR_FILENO);
            char byte;
            (void)!read(go[0], &byte, 1);  // end of file: every child is there
            _exit(body(p));
        }
        children.push_back(pid);
    }
    close(go[0]);
    close(go[1]);
    return children;
}

inline std::string FileText(const std::string &path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// Runs `body` with standard error going to a file, and returns what was written there.
inline std::string StandardErrorOf(const std::function<void()> &body) {
    std::fflush(stderr);
    const std::string path = ::testing::TempDir() + "stderr_" + std::to_string(getpid());
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    const int saved = dup(STDERR_FILENO);
    dup2(file, STDERR_FILENO);
    body();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(file);
    const std::string text = FileText(path);
    std::remove(path.c_str());
    return text;
}

// What SQLite's integrity check says of the database at `path`: "ok" when it is sound.
inline std::string IntegrityOf(const std::string &path) {
    sqlite3 *db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_exec(
            db, "PRAGMA integrity_check",
            [](void *out, int, char **row, char **) {
                *static_cast<std::string *>(out) = row[0] != nullptr ? row[0] : "";
                return 0;
            },
            &result, nullptr);
    }
    sqlite3_close(db);
    return result;
}

}  // namespace tovarine::testing
