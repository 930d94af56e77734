// What only the POSIX files have to prove: the share lock reaches other
// processes, dot files count as hidden, times convert to the Windows epoch.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/file.h"
#include "platform/posix/file_internal.h"
#include "platform/system.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

class FilePosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    dir_ = fs::temp_directory_path() /
           ("brisvane-fposix-" + std::to_string(current_process_id()) + "-" + std::to_string(counter++));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // Runs `body` in a child process and returns its exit code.
  template <typename F>
  static int in_child(F body) {
    pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
  }

  fs::path dir_;
};

TEST_F(FilePosixTest, AnotherProcessMeetsTheShareLock) {
  std::string log = path("server.log");
  FileHandle holder = file_open(log, kGenericWrite, kShareRead, kOpenAlways, 0);
  ASSERT_NE(holder, kInvalidFile);
  // Exit codes: 0 refused with a sharing violation, 1 opened, 2 other error.
  auto try_writer = [&] {
    FileHandle f = file_open(log, kGenericWrite, kShareRead, kOpenAlways, 0);
    if (f != kInvalidFile) return 1;
    return last_error() == err::kSharingViolation ? 0 : 2;
  };
  EXPECT_EQ(in_child(try_writer), 0);
  EXPECT_EQ(in_child([&] {
              FileHandle f = file_open(log, kGenericRead, kShareRead | kShareWrite, kOpenExisting, 0);
              return f == kInvalidFile ? 2 : 1;
            }),
            1);
  ASSERT_TRUE(file_close(holder));
  EXPECT_EQ(in_child(try_writer), 1);
}

TEST_F(FilePosixTest, DotFilesAreHiddenWhateverTheirPath) {
  std::ofstream(path(".profile")) << "x";
  std::ofstream(path("visible")) << "x";
  fs::create_directory(path(".config"));
  EXPECT_TRUE(file_attributes(path(".profile")) & kAttrHidden);
  EXPECT_FALSE(file_attributes(path("visible")) & kAttrHidden);
  EXPECT_TRUE(file_attributes(path(".config") + "/") & kAttrHidden);
  EXPECT_FALSE(file_attributes(dir_.string() + "/.") & kAttrHidden);
  EXPECT_FALSE(file_attributes(dir_.string() + "/..") & kAttrHidden);

  std::vector<DirEntry> entries;
  ASSERT_TRUE(list_directory(dir_.string(), &entries));
  for (const auto& e : entries) EXPECT_EQ(bool(e.attributes & kAttrHidden), e.name[0] == '.') << e.name;
}

TEST_F(FilePosixTest, ModeWithoutOwnerWriteIsReadOnly) {
  std::ofstream(path("ro")) << "x";
  ASSERT_EQ(chmod(path("ro").c_str(), 0444), 0);
  EXPECT_TRUE(file_attributes(path("ro")) & kAttrReadOnly);
  ASSERT_EQ(chmod(path("ro").c_str(), 0644), 0);
  EXPECT_FALSE(file_attributes(path("ro")) & kAttrReadOnly);
}

TEST_F(FilePosixTest, TimesCountFromSixteenHundredOne) {
  EXPECT_EQ(posix::filetime_from_timespec(0, 0), 116444736000000000ull);
  EXPECT_EQ(posix::filetime_from_timespec(1, 999999999), 116444736000000000ull + 19999999);
  EXPECT_EQ(posix::filetime_from_timespec(-11644473600LL, 0), 0u);
}

TEST_F(FilePosixTest, DeleteOnCloseKeepsItsPathAcrossDirectoryChanges) {
  fs::path old_cwd = fs::current_path();
  fs::current_path(dir_);
  FileHandle f = file_open("relative.tmp", kGenericWrite, kShareRead, kCreateAlways, kFlagDeleteOnClose);
  fs::current_path(old_cwd);
  ASSERT_NE(f, kInvalidFile);
  EXPECT_TRUE(fs::exists(path("relative.tmp")));
  ASSERT_TRUE(file_close(f));
  EXPECT_FALSE(fs::exists(path("relative.tmp")));
}

// Request bodies land in temporary files: other local users must neither
// read them nor block the server by taking every name beforehand.
TEST_F(FilePosixTest, TempFilesArePrivateAndTheirNamesCannotBeTakenInAdvance) {
  mode_t old_mask = umask(022);
  std::string made;
  bool ok = temp_file_name(dir_.string(), "BSV", &made);
  umask(old_mask);
  ASSERT_TRUE(ok) << last_error();
  struct stat st {};
  ASSERT_EQ(stat(made.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << made;

  // Every name of a four-hex-digit series, as another user could make them.
  for (unsigned n = 1; n <= 0xFFFF; ++n) {
    char name[16];
    std::snprintf(name, sizeof name, "BSV%04X.TMP", n);
    int fd = ::open(path(name).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0) ::close(fd);
  }
  std::string next;
  ASSERT_TRUE(temp_file_name(dir_.string(), "BSV", &next)) << last_error();
  std::string name = fs::path(next).filename().string();
  EXPECT_EQ(name.substr(0, 3), "BSV");
  EXPECT_EQ(fs::path(next).extension().string(), ".TMP");
  EXPECT_NE(next, made);
}

TEST_F(FilePosixTest, HandlesDoNotLeakIntoChildPrograms) {
  FileHandle f = file_open(path("x"), kGenericWrite, kShareRead, kCreateAlways, 0);
  ASSERT_NE(f, kInvalidFile);
  EXPECT_TRUE(fcntl(posix::file_descriptor(f), F_GETFD) & FD_CLOEXEC);
  file_close(f);
}

// A file that is to become a document is not private: it takes the
// access of any new file, as the document it replaces had.
TEST_F(FilePosixTest, PublicTempFilesTakeTheUmaskAndUnnamedOnesHaveNoName) {
  mode_t old_mask = umask(027);
  std::string made;
  bool ok = temp_file_name(dir_.string(), "BSV", &made, false);
  umask(old_mask);
  ASSERT_TRUE(ok) << last_error();
  struct stat st {};
  ASSERT_EQ(stat(made.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << made;
  EXPECT_EQ(fs::path(made).filename().string().substr(0, 3), "BSV");
  fs::remove(made);

  FileHandle f = temp_file_unnamed(dir_.string(), "BSV");
  ASSERT_NE(f, kInvalidFile) << last_error();
  // Nothing to find while it is open either: a crash leaves nothing.
  EXPECT_TRUE(fs::is_empty(dir_));
  ASSERT_EQ(fstat(posix::file_descriptor(f), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_TRUE(fcntl(posix::file_descriptor(f), F_GETFD) & FD_CLOEXEC);
  file_close(f);
}

}  // namespace
}  // namespace platform
