// The log ring alone, and under many appending threads while another reads
// (run under ThreadSanitizer by tools/test.sh).
#include "host/log_ring.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

namespace brisvane {
namespace {

std::string Numbered(int i) { return "line " + std::to_string(i); }

TEST(LogRing, KeepsTheNewest256Of300NewestFirst) {
  LogRing ring;
  for (int i = 0; i < 300; ++i) ring.Append(Numbered(i).c_str());
  EXPECT_EQ(ring.Read(0, true), "line 299");
  EXPECT_EQ(ring.Read(255, true), "line 44");
  EXPECT_EQ(ring.Read(256, true), std::nullopt);
  EXPECT_EQ(ring.Read(-1, true), std::nullopt);
  EXPECT_EQ(ring.Read(0, false), "line 44");
  EXPECT_EQ(ring.Read(255, false), "line 299");
  std::string expected;
  for (int i = 299; i >= 44; --i) expected += Numbered(i) + "\r\n";
  EXPECT_EQ(ring.NewestFirstText(), expected);
}

TEST(LogRing, BeforeWrappingOnlyStoredLinesAreRead) {
  LogRing ring;
  EXPECT_EQ(ring.Read(0, true), std::nullopt);
  EXPECT_EQ(ring.NewestFirstText(), "");
  for (int i = 0; i < 3; ++i) ring.Append(Numbered(i).c_str());
  EXPECT_EQ(ring.Read(0, true), "line 2");
  EXPECT_EQ(ring.Read(2, true), "line 0");
  EXPECT_EQ(ring.Read(3, true), std::nullopt);
  EXPECT_EQ(ring.Read(0, false), "line 0");
  EXPECT_EQ(ring.NewestFirstText(), "line 2\r\nline 1\r\nline 0\r\n");
}

TEST(LogRing, ExactlyFullAndOneMore) {
  LogRing ring;
  for (int i = 0; i < 256; ++i) ring.Append(Numbered(i).c_str());
  // Slot 255 holds the newest line, and it comes before slot 0.
  EXPECT_EQ(ring.Read(0, true), "line 255");
  EXPECT_EQ(ring.Read(255, true), "line 0");
  ring.Append("line 256");
  EXPECT_EQ(ring.Read(0, true), "line 256");
  EXPECT_EQ(ring.Read(1, true), "line 255");
  EXPECT_EQ(ring.Read(255, true), "line 1");
}

TEST(LogRing, ChangedFlagAndHookAndClear) {
  LogRing ring;
  EXPECT_FALSE(ring.TakeChanged());
  LogRing::Hook("through the hook", reinterpret_cast<uintptr_t>(&ring));
  LogRing::Hook(nullptr, reinterpret_cast<uintptr_t>(&ring));
  LogRing::Hook("no ring", 0);
  EXPECT_TRUE(ring.TakeChanged());
  EXPECT_FALSE(ring.TakeChanged());
  EXPECT_EQ(ring.NewestFirstText(), "through the hook\r\n");
  for (int i = 0; i < 300; ++i) ring.Append("x");
  ring.Clear();
  EXPECT_EQ(ring.Read(0, true), std::nullopt);
  ring.Append("after");
  EXPECT_EQ(ring.NewestFirstText(), "after\r\n");
}

// Writers append numbered lines, long enough to live on the heap, while a
// reader copies lines and whole texts as the ring wraps again and again.
// Every copy must be a whole line, and at the end the ring must hold the
// last 256 lines appended: for every writer seen, an unbroken run of its
// lines that ends with its final one.
TEST(LogRing, ConcurrentAppendsAndReads) {
  constexpr int kWriters = 8;
  constexpr int kPerWriter = 3000;
  LogRing ring;
  const std::string padding(40, '.');
  auto line_of = [&](int writer, int n) {
    char head[32];
    std::snprintf(head, sizeof head, "w%d n%05d ", writer, n);
    return head + padding;
  };
  auto well_formed = [&](const std::string& line) {
    int w = -1, n = -1;
    return std::sscanf(line.c_str(), "w%d n%d ", &w, &n) == 2 && w >= 0 && w < kWriters && n >= 0 &&
           n < kPerWriter && line == line_of(w, n);
  };

  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  std::atomic<long> reads{0};
  std::thread reader([&] {
    while (!done.load()) {
      for (int i = 0; i < LogRing::kSlots; i += 17) {
        auto line = ring.Read(i, (i & 1) != 0);
        if (line) {
          if (!well_formed(*line)) ++bad;
          ++reads;
        }
      }
      std::string text = ring.NewestFirstText();
      for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        if (end == std::string::npos || !well_formed(text.substr(at, end - at))) {
          ++bad;
          break;
        }
        at = end + 2;
      }
      ring.TakeChanged();
    }
  });
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([&, w] {
      for (int n = 0; n < kPerWriter; ++n) LogRing::Hook(line_of(w, n).c_str(), reinterpret_cast<uintptr_t>(&ring));
    });
  for (auto& t : writers) t.join();
  done = true;
  reader.join();

  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(reads.load(), 0);
  std::vector<int> last(kWriters, -1);
  int held = 0;
  for (int i = 0; i < LogRing::kSlots; ++i) {
    auto line = ring.Read(i, false);  // oldest first
    ASSERT_TRUE(line);
    ASSERT_TRUE(well_formed(*line)) << *line;
    int w = 0, n = 0;
    std::sscanf(line->c_str(), "w%d n%d ", &w, &n);
    if (last[w] >= 0) {
      EXPECT_EQ(n, last[w] + 1) << "writer " << w << " out of order";
    }
    last[w] = n;
    ++held;
  }
  EXPECT_EQ(held, 256);
  EXPECT_EQ(ring.Read(256, false), std::nullopt);
  int seen = 0;
  for (int w = 0; w < kWriters; ++w)
    if (last[w] >= 0) {
      ++seen;
      EXPECT_EQ(last[w], kPerWriter - 1) << "writer " << w;
    }
  EXPECT_GE(seen, 1);
}

}  // namespace
}  // namespace brisvane
