// Every kind of body reads the same bytes through the one reader, whole
// and ranged, by pieces and by sending; temporary files leave nothing
// behind on any path.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/core/message_body.h"
#include "engine/core/temp_file.h"
#include "platform/file.h"
#include "platform/pipe.h"
#include "platform/scoped_handle.h"
#include "platform/system.h"

namespace brisvane {
namespace {

namespace fs = std::filesystem;

// Larger than the reader's pieces and the inline limit, and not a
// multiple of either.
constexpr size_t kBodySize = 200003;
constexpr size_t kInlineMax = 16384;

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
  return s;
}

// A sink like an encrypted connection: bytes only, through a buffer.
class BufferSink : public BodySink {
 public:
  bool Write(const void* data, size_t length) override {
    if (fail_after_ >= 0 && writes_ >= fail_after_) return false;
    ++writes_;
    bytes_.append(static_cast<const char*>(data), length);
    return true;
  }
  std::string bytes_;
  int writes_ = 0;
  int fail_after_ = -1;
};

// A sink like a plain socket: file ranges go out by the file.
class FileSink : public BufferSink {
 public:
  bool WriteFile(platform::FileHandle file, uint64_t offset, uint64_t length) override {
    ++file_writes_;
    return BodySink::WriteFile(file, offset, length);
  }
  int file_writes_ = 0;
};

class MessageBodyTest : public ::testing::Test {
 public:
  void SetUp() override {
    static int counter = 0;
    std::string tmp;
    ASSERT_TRUE(platform::temp_directory(&tmp));
    dir_ = tmp + "brisvane-body-" + std::to_string(platform::current_process_id()) + "-" +
           std::to_string(counter++);
    fs::create_directories(dir_);
    // Temporary files go to a folder of the test's own, so that what they
    // leave behind can be seen.
    saved_tmp_ = platform::get_env(kTempVariable);
    platform::set_env(kTempVariable, dir_ + platform::kPathSeparator);
    content_ = Pattern(kBodySize);
  }
  void TearDown() override {
    if (saved_tmp_)
      platform::set_env(kTempVariable, *saved_tmp_);
    else
      platform::unset_env(kTempVariable);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return dir_ + platform::kPathSeparator + name; }
  void Put(const std::string& name, const std::string& content) const {
    std::ofstream(Path(name), std::ios::binary) << content;
  }
  std::string Get(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::vector<std::string> Left() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    return names;
  }

  // Reads the body by uneven pieces.
  static std::string ReadByPieces(MessageBody& body, size_t piece) {
    BodyReader reader(body);
    std::string out;
    std::vector<char> buf(piece);
    for (;;) {
      const int64_t n = reader.Read(buf.data(), buf.size());
      EXPECT_GE(n, 0);
      if (n <= 0) return out;
      out.append(buf.data(), static_cast<size_t>(n));
    }
  }

  // The body in each of the file-backed and memory kinds, over content_.
  MessageBody FileBody() {
    TempFile f;
    EXPECT_TRUE(f.CreateUnnamed()) << f.error();
    EXPECT_TRUE(f.Write(content_.data(), content_.size()));
    MessageBody body;
    body.SetFile(f.TakeForReading(), 0, content_.size());
    return body;
  }
  MessageBody DocumentBody() {
    Put("doc.html", content_);
    MessageBody body;
    EXPECT_TRUE(body.OpenDocument(Path("doc.html"))) << platform::last_error();
    return body;
  }
  MessageBody KeptBody() {
    platform::FileInfo info;
    info.size = content_.size();
    MessageBody body;
    body.SetKeptDocument(Path("doc.html"), std::make_shared<const std::string>(content_), info);
    return body;
  }
  MessageBody MemoryBody() {
    MessageBody body;
    body.SetMemory(content_);
    return body;
  }
  // A pipe body: `first`, then what `*writer` sends, until the writer
  // closes or stays silent for `timeout_ms` (0: no limit).
  static bool PipeBody(MessageBody* body, platform::ScopedPipe* writer, std::string first, uint32_t timeout_ms) {
    platform::PipeHandle r = platform::kInvalidPipe, w = platform::kInvalidPipe;
    if (!platform::pipe_create(&r, &w, false, false)) return false;
    writer->reset(w);
    body->SetPipe(platform::ScopedPipe(r), std::move(first), PipeDeadline::After(timeout_ms));
    return true;
  }

#ifdef _WIN32
  static constexpr char kTempVariable[] = "TMP";
#else
  static constexpr char kTempVariable[] = "TMPDIR";
#endif
  std::string dir_;
  std::optional<std::string> saved_tmp_;
  std::string content_;
};

TEST_F(MessageBodyTest, EverySourceReadsAndSendsTheSameBytesWholeAndRanged) {
  struct Kind {
    const char* name;
    MessageBody (MessageBodyTest::*make)();
    bool by_file;  // sent through the sink's file path
  };
  const Kind kinds[] = {{"file", &MessageBodyTest::FileBody, true},
                        {"document", &MessageBodyTest::DocumentBody, true},
                        {"kept document", &MessageBodyTest::KeptBody, false},
                        {"memory", &MessageBodyTest::MemoryBody, false}};
  for (const Kind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    MessageBody body = (this->*kind.make)();
    EXPECT_EQ(body.Size(), kBodySize);
    EXPECT_EQ(ReadByPieces(body, 7001), content_);
    // A reader does not use up a file or memory body: a second one reads it all.
    EXPECT_EQ(ReadByPieces(body, 65537), content_);

    FileSink plain;
    uint64_t sent = 0;
    BodyReader to_plain(body);
    ASSERT_TRUE(to_plain.SendTo(plain, "HEAD\r\n\r\n", kInlineMax, &sent));
    EXPECT_EQ(sent, kBodySize);
    EXPECT_EQ(plain.bytes_, "HEAD\r\n\r\n" + content_);
    EXPECT_EQ(plain.file_writes_, kind.by_file ? 1 : 0);

    BufferSink encrypted;
    BodyReader to_encrypted(body);
    ASSERT_TRUE(to_encrypted.SendTo(encrypted, "H", kInlineMax, &sent));
    EXPECT_EQ(encrypted.bytes_, "H" + content_);

    if (body.IsDocument(Path("doc.html"))) {
      // A byte range: the middle, across piece boundaries.
      body.Narrow(1000, 150001);
      EXPECT_EQ(body.Size(), 150001u);
      EXPECT_EQ(ReadByPieces(body, 4096), content_.substr(1000, 150001));
      FileSink ranged;
      BodyReader reader(body);
      ASSERT_TRUE(reader.SendTo(ranged, "", kInlineMax, &sent));
      EXPECT_EQ(ranged.bytes_, content_.substr(1000, 150001));
      // A small range goes out with the head in one write.
      body.Narrow(kBodySize - 10, 10);
      FileSink small;
      BodyReader tail(body);
      ASSERT_TRUE(tail.SendTo(small, "HEAD", kInlineMax, &sent));
      EXPECT_EQ(small.bytes_, "HEAD" + content_.substr(kBodySize - 10));
      EXPECT_EQ(small.writes_, 1);
      EXPECT_EQ(small.file_writes_, 0);
    }
  }
}

TEST_F(MessageBodyTest, APipeBodyStreamsItsFirstBytesThenWhatTheWriterSends) {
  platform::ScopedPipe writer;
  MessageBody body;
  ASSERT_TRUE(PipeBody(&body, &writer, "early", 0));
  EXPECT_TRUE(body.is_pipe());
  EXPECT_EQ(body.Size(), 0u);  // not known in advance
  std::thread feeder([&] {
    for (size_t at = 0; at < content_.size(); at += 30011)
      platform::pipe_write(writer.get(), content_.data() + at, std::min<size_t>(30011, content_.size() - at));
    writer.reset();
  });
  FileSink sink;
  uint64_t sent = 0;
  BodyReader reader(body);
  const bool ok = reader.SendTo(sink, "HEAD", kInlineMax, &sent);
  feeder.join();
  ASSERT_TRUE(ok);
  EXPECT_EQ(sink.bytes_, "HEAD" "early" + content_);
  EXPECT_EQ(sent, 5 + content_.size());
  EXPECT_EQ(sink.file_writes_, 0);
}

TEST_F(MessageBodyTest, ASilentPipeEndsAtItsDeadline) {
  platform::ScopedPipe writer;
  MessageBody body;
  ASSERT_TRUE(PipeBody(&body, &writer, "", 200));
  const uint32_t start = platform::tick_count();
  std::string all;
  ASSERT_TRUE(BodyReader(body).ReadAll(&all, 1000));
  EXPECT_TRUE(all.empty());
  EXPECT_GE(platform::tick_count() - start, 150u);
  EXPECT_LT(platform::tick_count() - start, 5000u);
}

TEST_F(MessageBodyTest, AFileThatShrankFailsTheSendAfterTheHead) {
  Put("doc.html", content_);
  MessageBody body;
  ASSERT_TRUE(body.OpenDocument(Path("doc.html")));
  // Truncated behind the body's back (as another program could).
  fs::resize_file(Path("doc.html"), 100);
  BufferSink sink;
  uint64_t sent = 0;
  EXPECT_FALSE(BodyReader(body).SendTo(sink, "HEAD", kInlineMax, &sent));
  EXPECT_EQ(sink.bytes_.substr(0, 4), "HEAD");
  // A write that fails fails the send.
  BufferSink refusing;
  refusing.fail_after_ = 0;
  MessageBody memory = MemoryBody();
  EXPECT_FALSE(BodyReader(memory).SendTo(refusing, "HEAD", kInlineMax, &sent));
}

TEST_F(MessageBodyTest, ASharedBodyReadsOnByItselfAndOutlivesTheOriginal) {
  MessageBody original = FileBody();
  MessageBody copy = original.Share();
  ASSERT_FALSE(copy.empty());
  EXPECT_EQ(copy.Size(), kBodySize);
  original.Reset();
  EXPECT_EQ(ReadByPieces(copy, 50000), content_);
  // Nothing of the unnamed file shows while it is read, or after.
  copy.Reset();
  EXPECT_TRUE(Left().empty());
}

TEST_F(MessageBodyTest, TemporaryFilesLeaveNothingBehindOnAnyPath) {
  {
    TempFile unnamed;
    ASSERT_TRUE(unnamed.CreateUnnamed()) << unnamed.error();
    EXPECT_TRUE(unnamed.path().empty());
    ASSERT_TRUE(unnamed.Write(content_.data(), content_.size()));
    TempFile named;
    ASSERT_TRUE(named.CreateNamed()) << named.error();
    EXPECT_EQ(fs::path(named.path()).filename().string().substr(0, 3), "BSV");
    EXPECT_TRUE(fs::exists(named.path()));
    TempFile moved = std::move(named);
    EXPECT_TRUE(named.path().empty());
    EXPECT_TRUE(fs::exists(moved.path()));
  }
  EXPECT_TRUE(Left().empty());

  // A named file handed on for reading gives up its name but not its data.
  platform::ScopedFile reading;
  {
    TempFile named;
    ASSERT_TRUE(named.CreateNamed());
    ASSERT_TRUE(named.OpenForWriting());
    ASSERT_TRUE(named.Write("output", 6));
    named.Close();
    reading = named.TakeForReading();
    ASSERT_TRUE(reading) << named.error();
  }
  char buf[8] = {};
  EXPECT_EQ(platform::file_read(reading.get(), buf, sizeof buf), 6);
  EXPECT_EQ(std::string(buf, 6), "output");
  reading.reset();
  EXPECT_TRUE(Left().empty());
}

TEST_F(MessageBodyTest, AReplacementIsAllOrNothing) {
  Put("page.html", "old page");
  {
    TempFile next;
    ASSERT_TRUE(next.CreateBeside(Path("page.html"))) << next.error();
    EXPECT_EQ(fs::path(next.path()).parent_path(), fs::path(Path("page.html")).parent_path());
    ASSERT_TRUE(next.Write("new page", 8));
    ASSERT_TRUE(next.ReplaceTarget(Path("page.html"))) << next.error();
  }
  EXPECT_EQ(Get("page.html"), "new page");
  EXPECT_EQ(Left(), std::vector<std::string>{"page.html"});

  // A target that cannot be replaced keeps what it had, and the new file goes.
  fs::create_directory(Path("folder"));
  {
    TempFile next;
    ASSERT_TRUE(next.CreateBeside(Path("folder")));
    ASSERT_TRUE(next.Write("lost", 4));
    EXPECT_FALSE(next.ReplaceTarget(Path("folder")));
    EXPECT_EQ(next.error(), platform::err::kAccessDenied);
  }
  EXPECT_TRUE(fs::is_directory(Path("folder")));
  EXPECT_EQ(Left().size(), 2u);

  TempFile nowhere;
  EXPECT_FALSE(nowhere.CreateBeside(Path("missing") + platform::kPathSeparator + "x.html"));
  EXPECT_TRUE(platform::is_not_found(nowhere.error())) << nowhere.error();
}

}  // namespace
}  // namespace brisvane
