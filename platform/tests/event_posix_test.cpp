// What only the POSIX events have to prove: they reach other processes,
// any user may signal them, and the registry in use scopes their names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/error.h"
#include "platform/event.h"
#include "platform/posix/event_file.h"
#include "platform/system.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class EventPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    std::string unique = std::to_string(current_process_id()) + "-" + std::to_string(counter++);
    registry_ = (fs::temp_directory_path() / ("brisvane-evposix-" + unique + ".reg")).string();
    set_env("BRISVANE_REGISTRY", registry_);
    name_ = "BrisvaneTestEvent-" + unique;
    path_ = posix::event_file_path(name_);
  }
  void TearDown() override {
    set_env("BRISVANE_REGISTRY", registry_);
    ::unlink(path_.c_str());
    unset_env("BRISVANE_REGISTRY");
  }

  std::string registry_, name_, path_;
};

TEST_F(EventPosixTest, AnotherProcessSignalsAndSeesTheSignal) {
  EventHandle e = event_create(name_);
  ASSERT_NE(e, 0u);
  pid_t pid = fork();
  if (pid == 0) {
    EventHandle child = event_open(name_);
    _exit(child != 0 && event_set(child) ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(event_is_set(e));

  ASSERT_TRUE(event_reset(e));
  pid = fork();
  if (pid == 0) {
    EventHandle child = event_open(name_);
    _exit(child != 0 && !event_is_set(child) ? 0 : 1);
  }
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  event_close(e);
}

TEST_F(EventPosixTest, AnyUserMayOpenItWhateverTheUmask) {
  mode_t old = umask(077);
  EventHandle e = event_create(name_);
  umask(old);
  ASSERT_NE(e, 0u);
  struct stat st {};
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0666u);
  EXPECT_EQ(st.st_size, 1);
  event_close(e);
}

TEST_F(EventPosixTest, TheRegistryInUseScopesTheName) {
  EventHandle e = event_create(name_);
  ASSERT_NE(e, 0u);
  EXPECT_NE(path_.find(name_), std::string::npos);
  set_env("BRISVANE_REGISTRY", registry_ + ".other");
  EXPECT_EQ(event_open(name_), 0u);
  EXPECT_EQ(last_error(), err::kFileNotFound);
  EXPECT_NE(posix::event_file_path(name_), path_);
  set_env("BRISVANE_REGISTRY", registry_);
  EventHandle again = event_open(name_);
  EXPECT_NE(again, 0u);
  event_close(again);
  event_close(e);
}

}  // namespace
}  // namespace platform
