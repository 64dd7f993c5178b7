// What the registry stand-in's tests share: each test on a store of its own in a fresh temporary
// folder, and a file's bytes, to show that a call left the file as it was.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/posix/registry_store.h"

namespace tovarine::store_testing {

inline std::string Contents(const std::filesystem::path &path) {
    std::ostringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

class FreshStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/tovarine-store-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        dir_ = folder;
        UseStore(dir_ / "registry.db");
    }
    void TearDown() override {
        registry::CloseStore();
        std::filesystem::remove_all(dir_);
    }
    // The next call opens the store at `path`.
    static void UseStore(const std::filesystem::path &path) {
        setenv("TOVARINE_REGISTRY", path.c_str(), 1);
        registry::CloseStore();
    }
    std::filesystem::path dir_;
};

}  // namespace tovarine::store_testing
