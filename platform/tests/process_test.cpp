// Processes and pipes mean the same on every backend: what a CGI runner
// relies on (standard handles, environment, working directory, exit codes,
// time-out and termination of the whole tree, Windows error codes) and what
// concurrent runners rely on (no child holds another's pipe). The child
// program reports what the system shows it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/file.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/scoped_handle.h"
#include "platform/system.h"

namespace platform {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

constexpr uint32_t kPatience = 20000;  // ms; Wine starts processes slowly

int64_t ms_since(steady_clock::time_point t) { return duration_cast<milliseconds>(steady_clock::now() - t).count(); }

std::string in_quotes(const std::string& s) { return "\"" + s + "\""; }

std::string child_path() { return executable_directory() + kPathSeparator + PLATFORM_TEST_CHILD; }
std::string child(const std::string& args) { return in_quotes(child_path()) + " " + args; }

struct Pipe {
  ScopedPipe read, write;
};
// `for_child`: which end a child gets (0 read, 1 write, -1 none).
Pipe make_pipe(int for_child) {
  PipeHandle r, w;
  EXPECT_TRUE(pipe_create(&r, &w, for_child == 0, for_child == 1)) << last_error();
  return {ScopedPipe(r), ScopedPipe(w)};
}

// Everything until the end of the data; stops early (with what came) when
// `ms` pass without the end.
std::string read_to_end(PipeHandle p, uint32_t ms, bool* ended = nullptr) {
  std::string got;
  auto start = steady_clock::now();
  if (ended) *ended = false;
  char buf[8192];
  for (;;) {
    int64_t left = ms - ms_since(start);
    if (left <= 0 || pipe_wait(p, static_cast<uint32_t>(left)) != 1) return got;
    int64_t n = pipe_read(p, buf, sizeof buf);
    if (n <= 0) {
      if (ended) *ended = n == 0;
      return got;
    }
    got.append(buf, static_cast<size_t>(n));
  }
}

struct Outcome {
  bool started = false;
  os_error error = 0;
  WaitResult wait = WaitResult::kFailed;
  uint32_t exit_code = 0;
  std::string out;
};

// Runs the child with standard output to a pipe and collects it.
Outcome run(const std::string& args, ProcessStart start = {}) {
  Outcome o;
  Pipe out = make_pipe(1);
  start.command_line = child(args);
  start.output = ChildStdio::pipe(out.write.get());
  ScopedProcess proc(process_spawn(start));
  o.started = static_cast<bool>(proc);
  o.error = last_error();
  if (!proc) return o;
  out.write.reset();
  o.out = read_to_end(out.read.get(), kPatience);
  o.wait = process_wait(proc.get(), kPatience, &o.exit_code);
  return o;
}

// "running", "zombie" or "gone", as the child program sees the process.
std::string process_state(uint32_t pid) { return run("alive " + std::to_string(pid)).out; }

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    std::string tmp;
    ASSERT_TRUE(temp_directory(&tmp));
    dir_ = tmp + "brisvane-process-" + std::to_string(current_process_id()) + "-" + std::to_string(counter++);
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }
  std::string dir_;
};

TEST(PipeTest, WaitPeekAndTheEndOfData) {
  Pipe p = make_pipe(-1);
  auto t = steady_clock::now();
  EXPECT_EQ(pipe_wait(p.read.get(), 150), 0);
  EXPECT_GE(ms_since(t), 120);
  uint32_t avail = 99;
  ASSERT_TRUE(pipe_peek(p.read.get(), &avail)) << last_error();
  EXPECT_EQ(avail, 0u);

  ASSERT_EQ(pipe_write(p.write.get(), "hello", 5), 5);
  EXPECT_EQ(pipe_wait(p.read.get(), 0), 1);
  ASSERT_TRUE(pipe_peek(p.read.get(), &avail));
  EXPECT_EQ(avail, 5u);
  char buf[16];
  ASSERT_EQ(pipe_read(p.read.get(), buf, sizeof buf), 5);
  EXPECT_EQ(std::string(buf, 5), "hello");

  // A waiter wakes when data comes, and again when the writer goes; it
  // does not sit out its time-out.
  std::thread writer([&] {
    std::this_thread::sleep_for(milliseconds(200));
    pipe_write(p.write.get(), "x", 1);
  });
  t = steady_clock::now();
  EXPECT_EQ(pipe_wait(p.read.get(), kPatience), 1);
  EXPECT_LT(ms_since(t), 5000);
  writer.join();
  ASSERT_EQ(pipe_read(p.read.get(), buf, sizeof buf), 1);
  std::thread closer([&] {
    std::this_thread::sleep_for(milliseconds(200));
    p.write.reset();
  });
  t = steady_clock::now();
  EXPECT_EQ(pipe_wait(p.read.get(), kPatience), 1);
  EXPECT_LT(ms_since(t), 5000);
  closer.join();
  EXPECT_EQ(pipe_read(p.read.get(), buf, sizeof buf), 0);
  EXPECT_FALSE(pipe_peek(p.read.get(), &avail));
  EXPECT_EQ(last_error(), err::kBrokenPipe);
}

TEST(PipeTest, WritingWithTheReaderGoneFailsWithoutEndingTheProcess) {
  Pipe p = make_pipe(-1);
  p.read.reset();
  EXPECT_EQ(pipe_write(p.write.get(), "lost", 4), -1);
  EXPECT_EQ(last_error(), err::kBrokenPipe);
}

TEST(PipeTest, ScopedPipeMovesReleasesAndCloses) {
  Pipe p = make_pipe(-1);
  ScopedPipe moved = std::move(p.write);
  EXPECT_FALSE(p.write);
  ASSERT_TRUE(moved);
  PipeHandle raw = moved.release();
  EXPECT_FALSE(moved);
  ASSERT_EQ(pipe_write(raw, "y", 1), 1);  // released, so still open
  moved.reset(raw);
  moved = ScopedPipe();  // closes the write end: the reader reaches the end
  bool ended = false;
  EXPECT_EQ(read_to_end(p.read.get(), 5000, &ended), "y");
  EXPECT_TRUE(ended);
}

TEST_F(ProcessTest, EmptyInputEndsAtOnceAndOutputAndErrorShareOneFile) {
  Pipe in = make_pipe(0);
  in.write.reset();  // nothing to read: the child must see the end at once
  std::string out_path = dir_ + kPathSeparator + "out.txt";
  ScopedFile out(file_open(out_path, kGenericRead | kGenericWrite, kShareRead, kCreateAlways, kFlagDeleteOnClose));
  ASSERT_TRUE(out) << last_error();

  ProcessStart start;
  start.input = ChildStdio::pipe(in.read.get());
  start.output = start.error = ChildStdio::file(out.get());
  for (const char* mode : {"echo", "outerr"}) {
    start.command_line = child(mode);
    ScopedProcess proc(process_spawn(start));
    ASSERT_TRUE(proc) << mode << ": " << last_error();
    uint32_t code = 99;
    EXPECT_EQ(process_wait(proc.get(), kPatience, &code), WaitResult::kEnded) << mode;
    EXPECT_EQ(code, 0u) << mode;
  }
  ASSERT_TRUE(file_seek(out.get(), 0));
  char buf[64];
  int64_t n = file_read(out.get(), buf, sizeof buf);
  EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "out\nerr\n");
}

TEST_F(ProcessTest, InputAndOutputPipesCarryMoreThanTheyHold) {
  Pipe in = make_pipe(0);
  Pipe out = make_pipe(1);
  ProcessStart start;
  start.command_line = child("echo");
  start.input = ChildStdio::pipe(in.read.get());
  start.output = ChildStdio::pipe(out.write.get());
  ScopedProcess proc(process_spawn(start));
  ASSERT_TRUE(proc) << last_error();
  in.read.reset();
  out.write.reset();
  std::string sent;
  for (int i = 0; sent.size() < 300000; ++i) sent += std::to_string(i) + ",";
  std::thread feeder([&] {
    pipe_write(in.write.get(), sent.data(), sent.size());
    in.write.reset();
  });
  bool ended = false;
  std::string got = read_to_end(out.read.get(), kPatience, &ended);
  feeder.join();
  EXPECT_TRUE(ended);
  EXPECT_EQ(got.size(), sent.size());
  EXPECT_TRUE(got == sent);
  uint32_t code = 99;
  EXPECT_EQ(process_wait(proc.get(), kPatience, &code), WaitResult::kEnded);
  EXPECT_EQ(code, 0u);
}

TEST_F(ProcessTest, EnvironmentAndWorkingDirectoryReachTheChild) {
  ProcessStart start;
  start.environment = std::string("BRISVANE_PROBE=a b=c\0OTHER=1\0\0", 30);
  EXPECT_EQ(run("env BRISVANE_PROBE", start).out, "a b=c");
  // A block replaces the environment; nothing of the caller's is added.
  EXPECT_EQ(run("env PATH", start).out, "<unset>");
  ASSERT_TRUE(set_env("BRISVANE_INHERITED", "yes"));
  EXPECT_EQ(run("env BRISVANE_INHERITED").out, "yes");
  unset_env("BRISVANE_INHERITED");

  start = {};
  start.working_directory = dir_;
  Outcome o = run("cwd", start);
  ASSERT_TRUE(o.started) << o.error;
  std::error_code ec;
  EXPECT_TRUE(fs::equivalent(o.out, dir_, ec)) << o.out << " vs " << dir_;

  start.working_directory = dir_ + kPathSeparator + "missing";
  o = run("cwd", start);
  EXPECT_FALSE(o.started);
  EXPECT_EQ(o.error, err::kDirectory);
}

TEST_F(ProcessTest, ExitCodesAndStartFailures) {
  for (uint32_t code : {0u, 42u, 255u}) {
    Outcome o = run("exit " + std::to_string(code));
    ASSERT_TRUE(o.started) << o.error;
    EXPECT_EQ(o.wait, WaitResult::kEnded);
    EXPECT_EQ(o.exit_code, code);
  }

  ProcessStart start;
  start.command_line = in_quotes(dir_ + kPathSeparator + "no-such-program.exe") + " a";
  EXPECT_EQ(process_spawn(start), kInvalidProcess);
  EXPECT_TRUE(is_not_found(last_error())) << last_error();

  start.command_line = in_quotes(dir_);
  EXPECT_EQ(process_spawn(start), kInvalidProcess);
  EXPECT_EQ(last_error(), err::kAccessDenied);

  start.command_line = "  ";
  EXPECT_EQ(process_spawn(start), kInvalidProcess);
  EXPECT_EQ(last_error(), err::kInvalidParameter);

  start.command_line = child("exit 0");
  start.output = ChildStdio::file(kInvalidFile);
  EXPECT_EQ(process_spawn(start), kInvalidProcess);
  EXPECT_EQ(last_error(), err::kInvalidHandle);
}

TEST_F(ProcessTest, ArgumentsArriveSplitAsOnWindows) {
  // Cases on which the C runtime and CommandLineToArgvW agree.
  std::string tail = R"(plain "two words" back\slash "quote\"inside" tail\\"x y" "" end)";
  std::string expected = "[plain]\n[two words]\n[back\\slash]\n[quote\"inside]\n[tail\\x y]\n[]\n[end]\n";
  Outcome o = run("args " + tail);
  ASSERT_TRUE(o.started) << o.error;
  EXPECT_EQ(o.out, expected);
  std::string joined;
  std::vector<std::string> split = split_command_line(child("args " + tail));
  ASSERT_GE(split.size(), 2u);
  EXPECT_EQ(split[0], child_path());
  for (size_t i = 2; i < split.size(); ++i) joined += "[" + split[i] + "]\n";
  EXPECT_EQ(joined, expected);
}

TEST_F(ProcessTest, TimeOutThenTerminateEndsTheChildAndWhatItStarted) {
  Pipe out = make_pipe(1);
  ProcessStart start;
  start.command_line = child("grandchild");
  start.output = ChildStdio::pipe(out.write.get());
  ScopedProcess proc(process_spawn(start));
  ASSERT_TRUE(proc) << last_error();
  out.write.reset();
  std::string line;
  char c;
  while (line.find('\n') == std::string::npos && pipe_wait(out.read.get(), kPatience) == 1 &&
         pipe_read(out.read.get(), &c, 1) == 1)
    line += c;
  uint32_t grandchild = static_cast<uint32_t>(std::stoul("0" + line));
  ASSERT_NE(grandchild, 0u) << line;

  auto t = steady_clock::now();
  EXPECT_EQ(process_wait(proc.get(), 300, nullptr), WaitResult::kTimedOut);
  EXPECT_GE(ms_since(t), 250);
  EXPECT_TRUE(process_terminate(proc.get()));
  uint32_t code = 0;
  EXPECT_EQ(process_wait(proc.get(), kPatience, &code), WaitResult::kEnded);
  EXPECT_EQ(code, kTerminatedExitCode);
  // The grandchild shares the pipe: its end comes only when both are gone.
  bool ended = false;
  read_to_end(out.read.get(), kPatience, &ended);
  EXPECT_TRUE(ended);
  EXPECT_NE(process_state(grandchild), "running");

  uint32_t pid = process_id(proc.get());
  proc.reset();
  EXPECT_EQ(process_state(pid), "gone");  // reaped, no zombie
}

TEST_F(ProcessTest, ClosingARunningChildEndsAndReapsIt) {
  ProcessStart start;
  start.command_line = child("sleep");
  ScopedProcess proc(process_spawn(start));
  ASSERT_TRUE(proc) << last_error();
  uint32_t pid = process_id(proc.get());
  EXPECT_EQ(process_state(pid), "running");
  proc.reset();
  EXPECT_EQ(process_state(pid), "gone");
}

TEST_F(ProcessTest, ChildrenGetOnlyTheirOwnHandles) {
  // Pipe ends asked to be inheritable but not given to this child.
  Pipe other = make_pipe(1);
  Pipe other_in = make_pipe(0);
  Outcome o = run("open " + std::to_string(other.write.get()) + " " + std::to_string(other_in.read.get()));
  EXPECT_EQ(o.out, "closed\nclosed\n");

  // Two threads start children at the same time, one short-lived with
  // output, one sleeping: each pipe must end when its own child ends, which
  // a write end leaked into a sleeper would prevent.
  std::atomic<bool> done{false};
  std::vector<ScopedProcess> sleepers;
  std::thread sleeper_thread([&] {
    while (!done && sleepers.size() < 40) {
      Pipe p = make_pipe(1);
      ProcessStart start;
      start.command_line = child("sleep");
      start.output = ChildStdio::pipe(p.write.get());
      sleepers.emplace_back(process_spawn(start));
    }
  });
  int ended_count = 0;
  for (int i = 0; i < 8; ++i) {
    Pipe p = make_pipe(1);
    ProcessStart start;
    start.command_line = child("write 1000");
    start.output = ChildStdio::pipe(p.write.get());
    ScopedProcess proc(process_spawn(start));
    ASSERT_TRUE(proc) << last_error();
    p.write.reset();
    bool ended = false;
    std::string got = read_to_end(p.read.get(), 10000, &ended);
    EXPECT_EQ(got.size(), 1000u);
    ended_count += ended;
  }
  done = true;
  sleeper_thread.join();
  EXPECT_EQ(ended_count, 8);
  EXPECT_GT(sleepers.size(), 0u);
  for (const ScopedProcess& s : sleepers) EXPECT_TRUE(s);
}

}  // namespace
}  // namespace platform
