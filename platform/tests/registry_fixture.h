// A private registry area for one test: on POSIX a fresh registry file, on
// Windows a fresh key below HKEY_CURRENT_USER\Software\BrisvaneTest. Both
// backends run the same tests through it.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "platform/registry.h"
#include "platform/system.h"

namespace platform::testing {

// Deletes every key below `key`, depth first, with the raw calls.
inline void delete_below(RegHandle key) {
  std::string name;
  while (reg_enum_key(key, 0, 1024, &name) == err::kSuccess) {
    RegHandle child = 0;
    if (reg_open_key(key, name, false, &child, nullptr) != err::kSuccess) return;
    delete_below(child);
    reg_close_key(child);
    if (reg_delete_key(key, name) != err::kSuccess) return;
  }
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static std::atomic<int> counter{0};
    std::string unique = std::to_string(current_process_id()) + "_" + std::to_string(counter++);
    dir_ = std::filesystem::temp_directory_path() / ("brisvane-reg-" + unique);
    std::filesystem::create_directories(dir_);
    file_ = (dir_ / "registry.reg").string();
    set_env("BRISVANE_REGISTRY", file_);
    base_path_ = "Software\\BrisvaneTest\\" + unique;
    ASSERT_EQ(reg_open_key(kHkeyCurrentUser, base_path_, true, &base_, nullptr), err::kSuccess);
  }

  void TearDown() override {
    if (base_) {
      delete_below(base_);
      reg_close_key(base_);
      RegHandle parent = 0;
      if (reg_open_key(kHkeyCurrentUser, "Software\\BrisvaneTest", false, &parent, nullptr) ==
          err::kSuccess) {
        reg_delete_key(parent, base_path_.substr(base_path_.rfind('\\') + 1));
        reg_close_key(parent);
      }
    }
    unset_env("BRISVANE_REGISTRY");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  RegHandle base() const { return base_; }
  const std::string& base_path() const { return base_path_; }
  const std::string& file() const { return file_; }
  std::filesystem::path dir() const { return dir_; }

 private:
  std::filesystem::path dir_;
  std::string file_;
  std::string base_path_;
  RegHandle base_ = 0;
};

}  // namespace platform::testing
