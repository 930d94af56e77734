// What only the POSIX events have to prove: they reach other processes,
// only those who may write the registry may signal them, nothing stays
// behind, and the registry in use scopes their names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
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

TEST_F(EventPosixTest, TakesTheRegistryFilesAccessAndLeavesWithItsMaker) {
  struct stat st {};
  // No registry file yet: the creating user alone.
  EventHandle e = event_create(name_);
  ASSERT_NE(e, 0u) << last_error();
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(st.st_uid, geteuid());
  EXPECT_EQ(st.st_size, 1);
  EventHandle other = event_open(name_);
  ASSERT_NE(other, 0u);
  event_close(other);
  EXPECT_EQ(stat(path_.c_str(), &st), 0) << "only the maker removes it";
  event_close(e);
  EXPECT_NE(stat(path_.c_str(), &st), 0) << "the maker's close removes it";

  // With a registry file: its owner, group and mode, whatever the umask.
  std::FILE* f = std::fopen(registry_.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  ASSERT_EQ(chmod(registry_.c_str(), 0640), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(registry_.c_str(), 65534, 65534), 0);
  }
  struct stat reg {};
  ASSERT_EQ(stat(registry_.c_str(), &reg), 0);
  mode_t old = umask(077);
  e = event_create(name_);
  umask(old);
  ASSERT_NE(e, 0u) << last_error();
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  if (geteuid() == 0) {
    EXPECT_EQ(st.st_uid, reg.st_uid);
    EXPECT_EQ(st.st_gid, reg.st_gid);
  }
  event_close(e);
  ::unlink(registry_.c_str());
}

TEST_F(EventPosixTest, AWiderFileLeftByAnotherUserIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs a second owner";
  std::FILE* f = std::fopen(path_.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputc('0', f);
  std::fclose(f);
  ASSERT_EQ(chown(path_.c_str(), 65534, 65534), 0);
  ASSERT_EQ(chmod(path_.c_str(), 0666), 0);
  EXPECT_EQ(event_create(name_), 0u);
  EXPECT_EQ(last_error(), err::kAccessDenied);
}

TEST_F(EventPosixTest, ALinkOrOddFileAtTheNameIsRefusedUntouched) {
  // Beside the event's name, so that a hard link can reach it too.
  const std::string target = path_ + ".victim";
  {
    FILE* f = std::fopen(target.c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("keep", f);
    std::fclose(f);
  }
  ASSERT_EQ(::chmod(target.c_str(), 0644), 0);
  auto unchanged = [&] {
    struct stat st {};
    EXPECT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    FILE* f = std::fopen(target.c_str(), "r");
    char buf[8] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 4u);
    std::fclose(f);
    EXPECT_EQ(std::string(buf), "keep");
  };
  // A symbolic link, then a second hard link, to a file of ours.
  ASSERT_EQ(::symlink(target.c_str(), path_.c_str()), 0);
  EXPECT_EQ(event_create(name_), 0u);
  EXPECT_EQ(event_open(name_), 0u);
  unchanged();
  ::unlink(path_.c_str());
  ASSERT_EQ(::link(target.c_str(), path_.c_str()), 0);
  EXPECT_EQ(event_create(name_), 0u);
  EXPECT_EQ(event_open(name_), 0u);
  unchanged();
  ::unlink(path_.c_str());
  // A FIFO must neither block the open nor pass for an event.
  ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
  EXPECT_EQ(event_create(name_), 0u);
  EXPECT_EQ(event_open(name_), 0u);
  ::unlink(path_.c_str());
  ::unlink(target.c_str());
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
