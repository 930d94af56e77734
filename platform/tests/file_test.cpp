// Files mean the same on every backend: share modes, dispositions and the
// codes they fail with, 64-bit sizes, times in the Windows epoch.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "platform/file.h"
#include "platform/scoped_handle.h"
#include "platform/system.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr uint64_t kGiB = 1024ull * 1024 * 1024;
constexpr uint32_t kShareAll = kShareRead | kShareWrite | kShareDelete;

uint64_t filetime_of(sys_seconds t) {
  return static_cast<uint64_t>(t.time_since_epoch().count() + 11644473600LL) * 10000000u;
}

class FileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    std::string tmp;
    ASSERT_TRUE(temp_directory(&tmp));
    dir_ = tmp + "brisvane-file-" + std::to_string(current_process_id()) + "-" + std::to_string(counter++);
    fs::create_directories(dir_);
  }

  void TearDown() override {
    std::error_code ec;
    for (const auto& e : fs::recursive_directory_iterator(dir_, ec))
      fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }

  std::string path(const std::string& name) const { return dir_ + kPathSeparator + name; }

  void put(const std::string& name, const std::string& content) const {
    std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
    out << content;
  }

  std::string get(const std::string& name) const {
    std::ifstream in(path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  FileHandle open(const std::string& name, uint32_t access, uint32_t share, uint32_t disposition,
                  uint32_t flags = 0) const {
    return file_open(path(name), access, share, disposition, flags);
  }

  std::string dir_;
};

TEST_F(FileTest, WriterThatDoesNotShareWritingLocksOutEveryOtherWriter) {
  ScopedFile first(open("log.txt", kGenericWrite, kShareRead, kCreateAlways));
  ASSERT_TRUE(first) << last_error();

  ScopedFile second(open("log.txt", kGenericWrite, kShareRead, kOpenAlways));
  EXPECT_FALSE(second);
  EXPECT_EQ(last_error(), err::kSharingViolation);
  ScopedFile sharing(open("log.txt", kGenericWrite, kShareAll, kOpenExisting));
  EXPECT_FALSE(sharing);
  EXPECT_EQ(last_error(), err::kSharingViolation);

  ScopedFile reader(open("log.txt", kGenericRead, kShareRead | kShareWrite, kOpenExisting));
  EXPECT_TRUE(reader) << last_error();

  first.reset();
  ScopedFile again(open("log.txt", kGenericWrite, kShareRead, kOpenAlways));
  EXPECT_TRUE(again) << last_error();
}

TEST_F(FileTest, WritersThatShareWritingCoexistButExcludeARefusingOne) {
  ScopedFile a(open("shared.txt", kGenericWrite, kShareRead | kShareWrite, kCreateAlways));
  ASSERT_TRUE(a) << last_error();
  ScopedFile b(open("shared.txt", kGenericWrite, kShareRead | kShareWrite, kOpenExisting));
  EXPECT_TRUE(b) << last_error();
  ScopedFile refusing(open("shared.txt", kGenericWrite, kShareRead, kOpenExisting));
  EXPECT_FALSE(refusing);
  EXPECT_EQ(last_error(), err::kSharingViolation);
}

TEST_F(FileTest, RefusedCreateAlwaysLeavesTheHeldFileWhole) {
  ScopedFile holder(open("held.txt", kGenericWrite, kShareRead, kCreateAlways));
  ASSERT_TRUE(holder);
  ASSERT_EQ(file_write(holder.get(), "keep me", 7), 7);
  ScopedFile other(open("held.txt", kGenericWrite, kShareRead, kCreateAlways));
  EXPECT_FALSE(other);
  EXPECT_EQ(last_error(), err::kSharingViolation);
  uint64_t size = 0;
  ASSERT_TRUE(file_size(holder.get(), &size));
  EXPECT_EQ(size, 7u);
}

TEST_F(FileTest, DispositionsCreateTruncateAndReportWhatExisted) {
  {
    ScopedFile f(open("d.txt", kGenericWrite, kShareRead, kCreateNew));
    ASSERT_TRUE(f) << last_error();
    ASSERT_EQ(file_write(f.get(), "abc", 3), 3);
  }
  ScopedFile twice(open("d.txt", kGenericWrite, kShareRead, kCreateNew));
  EXPECT_FALSE(twice);
  EXPECT_EQ(last_error(), err::kFileExists);

  {
    ScopedFile f(open("d.txt", kGenericWrite, kShareRead, kOpenAlways));
    ASSERT_TRUE(f);
    EXPECT_EQ(last_error(), err::kAlreadyExists);
  }
  EXPECT_EQ(get("d.txt"), "abc");  // opening always keeps the content
  {
    ScopedFile f(open("new.txt", kGenericWrite, kShareRead, kOpenAlways));
    ASSERT_TRUE(f);
    EXPECT_EQ(last_error(), err::kSuccess);
  }
  {
    ScopedFile f(open("d.txt", kGenericWrite, kShareRead, kCreateAlways));
    ASSERT_TRUE(f);
    EXPECT_EQ(last_error(), err::kAlreadyExists);
  }
  EXPECT_EQ(get("d.txt"), "");

  put("t.txt", "something");
  {
    ScopedFile f(open("t.txt", kGenericWrite, kShareRead, kTruncateExisting));
    ASSERT_TRUE(f) << last_error();
  }
  EXPECT_EQ(get("t.txt"), "");
  ScopedFile missing(open("none.txt", kGenericWrite, kShareRead, kTruncateExisting));
  EXPECT_FALSE(missing);
  EXPECT_EQ(last_error(), err::kFileNotFound);
}

TEST_F(FileTest, MissingFileAndMissingDirectoryAreToldApart) {
  ScopedFile file(open("absent.txt", kGenericRead, kShareRead, kOpenExisting));
  EXPECT_FALSE(file);
  EXPECT_EQ(last_error(), err::kFileNotFound);

  std::string deep = std::string("no-dir") + kPathSeparator + "absent.txt";
  ScopedFile in_dir(open(deep, kGenericRead, kShareRead, kOpenExisting));
  EXPECT_FALSE(in_dir);
  EXPECT_EQ(last_error(), err::kPathNotFound);
  ScopedFile create_in_dir(open(deep, kGenericWrite, kShareRead, kCreateAlways));
  EXPECT_FALSE(create_in_dir);
  EXPECT_EQ(last_error(), err::kPathNotFound);

  EXPECT_EQ(file_attributes(path("absent.txt")), kInvalidAttributes);
  EXPECT_EQ(last_error(), err::kFileNotFound);
  EXPECT_EQ(file_attributes(path(deep)), kInvalidAttributes);
  EXPECT_EQ(last_error(), err::kPathNotFound);
}

TEST_F(FileTest, DirectoryOpensForReadingButGivesNoData) {
  fs::create_directory(path("sub"));
  ScopedFile dir(open("sub", kGenericRead, kShareRead | kShareWrite, kOpenExisting));
  ASSERT_TRUE(dir) << last_error();
  char buf[16];
  EXPECT_EQ(file_read(dir.get(), buf, sizeof buf), -1);
  uint64_t when = 0;
  EXPECT_TRUE(file_last_write_time(dir.get(), &when));
  EXPECT_GT(when, 0u);
}

TEST_F(FileTest, ReadsBackWhatWasWrittenInPieces) {
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  ScopedFile f(open("rw.bin", kGenericRead | kGenericWrite, kShareRead, kCreateAlways, kFlagSequentialScan));
  ASSERT_TRUE(f);
  ASSERT_EQ(file_write(f.get(), data.data(), data.size()), static_cast<int64_t>(data.size()));
  EXPECT_TRUE(file_flush(f.get()));
  ASSERT_TRUE(file_seek(f.get(), 0));
  std::string back;
  char buf[4096];
  int64_t n;
  while ((n = file_read(f.get(), buf, sizeof buf)) > 0) back.append(buf, static_cast<size_t>(n));
  EXPECT_EQ(n, 0);
  EXPECT_TRUE(back == data);
}

TEST_F(FileTest, DeleteOnCloseRemovesTheFile) {
  {
    ScopedFile f(open("scratch.tmp", kGenericRead | kGenericWrite, kShareAll, kCreateAlways, kFlagDeleteOnClose));
    ASSERT_TRUE(f) << last_error();
    ASSERT_EQ(file_write(f.get(), "x", 1), 1);
    EXPECT_NE(file_attributes(path("scratch.tmp")), kInvalidAttributes);
  }
  EXPECT_EQ(file_attributes(path("scratch.tmp")), kInvalidAttributes);
  EXPECT_EQ(last_error(), err::kFileNotFound);
}

TEST_F(FileTest, SeeksAndSizesPastFourGiB) {
  // A sparse file where the system makes one; Windows itself would write
  // five gigabytes of zeros.
  if (kPathSeparator == '\\' && !running_under_wine()) GTEST_SKIP() << "no sparse files without flags on Windows";
  ScopedFile f(open("big.bin", kGenericRead | kGenericWrite, kShareRead, kCreateAlways));
  ASSERT_TRUE(f);
  const uint64_t at = 5 * kGiB;
  ASSERT_TRUE(file_seek(f.get(), at));
  ASSERT_EQ(file_write(f.get(), "xyz", 3), 3);
  uint64_t size = 0;
  ASSERT_TRUE(file_size(f.get(), &size));
  EXPECT_EQ(size, at + 3);

  char buf[4] = {};
  ASSERT_TRUE(file_seek(f.get(), at + 1));
  ASSERT_EQ(file_read(f.get(), buf, 2), 2);
  EXPECT_EQ(std::string(buf, 2), "yz");
  ASSERT_TRUE(file_seek(f.get(), 4 * kGiB - 1));
  ASSERT_EQ(file_read(f.get(), buf, 2), 2);
  EXPECT_EQ(buf[0], 0);
  ASSERT_TRUE(file_seek_end(f.get()));
  ASSERT_EQ(file_write(f.get(), "!", 1), 1);
  ASSERT_TRUE(file_size(f.get(), &size));
  EXPECT_EQ(size, at + 4);
}

TEST_F(FileTest, LastWriteTimeFollowsTheClockAndWhatWasSet) {
  uint64_t before = filetime_of(floor<seconds>(system_clock::now()));
  {
    ScopedFile f(open("t.txt", kGenericWrite, kShareRead, kCreateAlways));
    ASSERT_TRUE(f);
    ASSERT_EQ(file_write(f.get(), "now", 3), 3);
  }
  ScopedFile f(open("t.txt", kGenericRead, kShareRead | kShareWrite, kOpenExisting));
  ASSERT_TRUE(f);
  uint64_t written = 0;
  ASSERT_TRUE(file_last_write_time(f.get(), &written));
  constexpr uint64_t kSlack = 10ull * 10000000u;  // ten seconds
  EXPECT_GT(written + kSlack, before);
  EXPECT_LT(written, before + kSlack);
  f.reset();

  sys_seconds set = sys_days{year{2001} / 3 / 4} + hours{5} + minutes{6} + seconds{7};
  fs::last_write_time(path("t.txt"), file_clock::from_sys(set));
  ScopedFile again(open("t.txt", kGenericRead, kShareRead | kShareWrite, kOpenExisting));
  ASSERT_TRUE(again);
  ASSERT_TRUE(file_last_write_time(again.get(), &written));
  EXPECT_EQ(written, filetime_of(set));

  std::vector<DirEntry> entries;
  ASSERT_TRUE(list_directory(dir_, &entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].last_write, filetime_of(set));
  EXPECT_EQ(entries[0].size, 3u);
}

TEST_F(FileTest, AttributesTellDirectoriesAndReadOnlyFiles) {
  put("plain.txt", "x");
  put("locked.txt", "x");
  fs::create_directory(path("sub"));
  fs::permissions(path("locked.txt"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);

  uint32_t plain = file_attributes(path("plain.txt"));
  ASSERT_NE(plain, kInvalidAttributes);
  EXPECT_EQ(plain & (kAttrDirectory | kAttrReadOnly | kAttrHidden), 0u);
  uint32_t locked = file_attributes(path("locked.txt"));
  ASSERT_NE(locked, kInvalidAttributes);
  EXPECT_TRUE(locked & kAttrReadOnly);
  uint32_t sub = file_attributes(path("sub"));
  ASSERT_NE(sub, kInvalidAttributes);
  EXPECT_TRUE(sub & kAttrDirectory);
}

TEST_F(FileTest, CopyOverwritesOnlyWhenAllowedAndKeepsTheWriteTime) {
  put("src.txt", "new content");
  put("dst.txt", "old content that is longer");
  sys_seconds set = sys_days{year{2003} / 7 / 1};
  fs::last_write_time(path("src.txt"), file_clock::from_sys(set));

  EXPECT_FALSE(file_copy(path("src.txt"), path("dst.txt"), true));
  EXPECT_EQ(last_error(), err::kFileExists);
  EXPECT_EQ(get("dst.txt"), "old content that is longer");

  ASSERT_TRUE(file_copy(path("src.txt"), path("dst.txt"), false)) << last_error();
  EXPECT_EQ(get("dst.txt"), "new content");
  ASSERT_TRUE(file_copy(path("src.txt"), path("fresh.txt"), true)) << last_error();
  EXPECT_EQ(get("fresh.txt"), "new content");
  ScopedFile fresh(open("fresh.txt", kGenericRead, kShareRead | kShareWrite, kOpenExisting));
  uint64_t when = 0;
  ASSERT_TRUE(file_last_write_time(fresh.get(), &when));
  EXPECT_EQ(when, filetime_of(set));

  EXPECT_FALSE(file_copy(path("absent.txt"), path("x.txt"), false));
  EXPECT_EQ(last_error(), err::kFileNotFound);
  EXPECT_FALSE(file_copy(path("src.txt"), path(std::string("no-dir") + kPathSeparator + "x.txt"), false));
  EXPECT_EQ(last_error(), err::kPathNotFound);
}

TEST_F(FileTest, CopyOntoAFileHeldByAWriterIsRefused) {
  put("src.txt", "new");
  put("held.txt", "held");
  ScopedFile holder(open("held.txt", kGenericWrite, kShareRead, kOpenExisting));
  ASSERT_TRUE(holder);
  EXPECT_FALSE(file_copy(path("src.txt"), path("held.txt"), false));
  EXPECT_EQ(last_error(), err::kSharingViolation);
  holder.reset();
  EXPECT_EQ(get("held.txt"), "held");
}

TEST_F(FileTest, DeleteRemovesFilesButNotDirectories) {
  put("gone.txt", "x");
  EXPECT_TRUE(file_delete(path("gone.txt")));
  EXPECT_EQ(file_attributes(path("gone.txt")), kInvalidAttributes);
  EXPECT_FALSE(file_delete(path("gone.txt")));
  EXPECT_EQ(last_error(), err::kFileNotFound);
  fs::create_directory(path("sub"));
  EXPECT_FALSE(file_delete(path("sub")));
  EXPECT_EQ(last_error(), err::kAccessDenied);
  EXPECT_TRUE(fs::is_directory(path("sub")));
}

TEST_F(FileTest, ListingShowsEveryEntryButTheDots) {
  put("a.txt", "abc");
  put(".hidden", "");
  fs::create_directory(path("sub"));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(list_directory(dir_, &entries)) << last_error();
  std::map<std::string, DirEntry> by_name;
  for (const auto& e : entries) by_name[e.name] = e;
  ASSERT_EQ(by_name.size(), 3u);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(by_name["a.txt"].size, 3u);
  EXPECT_FALSE(by_name["a.txt"].attributes & (kAttrDirectory | kAttrHidden));
  EXPECT_TRUE(by_name["sub"].attributes & kAttrDirectory);
  EXPECT_TRUE(by_name.count(".hidden"));

  std::vector<DirEntry> none{DirEntry{}};
  EXPECT_FALSE(list_directory(path("no-dir"), &none));
  EXPECT_TRUE(is_not_found(last_error())) << last_error();

  fs::create_directory(path("empty"));
  ASSERT_TRUE(list_directory(path("empty"), &none));
  EXPECT_TRUE(none.empty());
}

TEST_F(FileTest, TempFileNamesAreNewUniqueFilesInTheDirectory) {
  std::string tmp;
  ASSERT_TRUE(temp_directory(&tmp));
  ASSERT_FALSE(tmp.empty());
  EXPECT_EQ(tmp.back(), kPathSeparator);
  EXPECT_TRUE(fs::is_directory(tmp));

  std::set<std::string> names;
  for (int i = 0; i < 5; ++i) {
    std::string made;
    ASSERT_TRUE(temp_file_name(dir_, "brisvane", &made)) << last_error();
    EXPECT_TRUE(names.insert(made).second) << made;
    EXPECT_TRUE(fs::is_regular_file(made));
    EXPECT_EQ(fs::file_size(made), 0u);
    EXPECT_TRUE(fs::equivalent(fs::path(made).parent_path(), dir_));
    std::string name = fs::path(made).filename().string();
    EXPECT_EQ(name.substr(0, 3), "bri") << name;  // three letters of the prefix, as Windows
    std::string ext = fs::path(made).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return static_cast<char>(std::toupper(c)); });
    EXPECT_EQ(ext, ".TMP") << name;
  }
  std::string none;
  EXPECT_FALSE(temp_file_name(path("no-dir"), "bv", &none));
}

// A PUT moves its new document over the old one: the target is whole,
// old or new, and a refused replacement leaves both files as they were.
TEST_F(FileTest, ReplaceMovesAFileOverAnotherInOneStep) {
  put("new.tmp", "new content");
  put("doc.txt", "old");
  ASSERT_TRUE(file_replace(path("new.tmp"), path("doc.txt"))) << last_error();
  EXPECT_EQ(get("doc.txt"), "new content");
  EXPECT_FALSE(fs::exists(path("new.tmp")));

  put("fresh.tmp", "first");
  ASSERT_TRUE(file_replace(path("fresh.tmp"), path("created.txt"))) << last_error();
  EXPECT_EQ(get("created.txt"), "first");

  put("locked.txt", "keep");
  fs::permissions(path("locked.txt"), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  put("other.tmp", "lost");
  EXPECT_FALSE(file_replace(path("other.tmp"), path("locked.txt")));
  EXPECT_EQ(last_error(), err::kAccessDenied);
  EXPECT_EQ(get("locked.txt"), "keep");
  EXPECT_EQ(get("other.tmp"), "lost");

  fs::create_directory(path("folder"));
  EXPECT_FALSE(file_replace(path("other.tmp"), path("folder")));
  EXPECT_EQ(last_error(), err::kAccessDenied);
  EXPECT_TRUE(fs::is_directory(path("folder")));

  EXPECT_FALSE(file_replace(path("other.tmp"), path("no-dir") + kPathSeparator + "x.txt"));
  EXPECT_TRUE(is_not_found(last_error())) << last_error();
  EXPECT_EQ(get("other.tmp"), "lost");
}

// Request bodies and script output live in unnamed files: whatever happens
// to the handle's owner, closing it leaves nothing in the directory.
TEST_F(FileTest, UnnamedTempFilesHoldDataAndVanishWithTheirLastHandle) {
  FileHandle f = temp_file_unnamed(dir_, "BSV");
  ASSERT_NE(f, kInvalidFile) << last_error();
  const std::string data(100000, 'u');
  ASSERT_EQ(file_write(f, data.data(), data.size()), static_cast<int64_t>(data.size()));
  FileHandle copy = file_duplicate(f);
  ASSERT_NE(copy, kInvalidFile) << last_error();
  ASSERT_TRUE(file_close(f));
  // The duplicate keeps the file and shares the position: it stands at the end.
  char byte = 0;
  EXPECT_EQ(file_read(copy, &byte, 1), 0);
  ASSERT_TRUE(file_seek(copy, 99999));
  EXPECT_EQ(file_read(copy, &byte, 1), 1);
  EXPECT_EQ(byte, 'u');
  ASSERT_TRUE(file_close(copy));
  std::vector<DirEntry> left;
  ASSERT_TRUE(list_directory(dir_, &left));
  EXPECT_TRUE(left.empty()) << left.front().name;

  EXPECT_EQ(temp_file_unnamed(path("no-dir"), "BSV"), kInvalidFile);
  EXPECT_TRUE(is_not_found(last_error())) << last_error();
}

}  // namespace
}  // namespace platform
