// A throwaway registry for one test: a fresh store in a temporary folder, named by
// ORVAN_REGISTRY for the test's lifetime, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace orvan::testing {

class ScratchRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvan-reg-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
    store_ = (dir_ / "registry.sqlite3").string();
    setenv("ORVAN_REGISTRY", store_.c_str(), 1);
    unsetenv("ORVAN_REGISTRY_SCOPE");
  }
  void TearDown() override {
    unsetenv("ORVAN_REGISTRY");
    unsetenv("ORVAN_SYSTEM_REGISTRY");
    unsetenv("XDG_DATA_HOME");
    unsetenv("ORVAN_REGISTRY_SCOPE");
    unsetenv("ORVAN_TEST_SERVER_STEPS");
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Switches from the single store to a per-user store over a system store, both in the
  // test's folder.
  void use_layered_stores() {
    unsetenv("ORVAN_REGISTRY");
    setenv("XDG_DATA_HOME", (dir_ / "user").c_str(), 1);
    setenv("ORVAN_SYSTEM_REGISTRY", (dir_ / "system" / "registry.sqlite3").c_str(), 1);
  }

  std::filesystem::path dir_;
  std::string store_;
};

}  // namespace orvan::testing
