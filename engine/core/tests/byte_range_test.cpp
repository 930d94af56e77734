#include "engine/core/byte_range.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace brisvane {
namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;

using Pairs = std::vector<std::pair<uint64_t, uint64_t>>;

// The ranges as (first, length) pairs, or none when parsing fails.
Pairs Parse(std::string_view header, uint64_t size) {
  std::vector<ByteRange> ranges;
  if (!ParseByteRanges(header, size, &ranges)) return {};
  Pairs pairs;
  for (const ByteRange& r : ranges) pairs.emplace_back(r.first, r.length);
  return pairs;
}

TEST(ByteRangeTest, SingleRangesOnSmallFile) {
  EXPECT_EQ(Parse("bytes=0-99", 1000), (Pairs{{0, 100}}));
  EXPECT_EQ(Parse("bytes=-100", 1000), (Pairs{{900, 100}}));
  EXPECT_EQ(Parse("bytes=900-", 1000), (Pairs{{900, 100}}));
  EXPECT_EQ(Parse("bytes=500-2000", 1000), (Pairs{{500, 500}}));
  EXPECT_EQ(Parse("bytes=999-999", 1000), (Pairs{{999, 1}}));
  EXPECT_EQ(Parse("bytes=-1000", 1000), (Pairs{{0, 1000}}));
  EXPECT_EQ(Parse("bytes=-5000", 1000), (Pairs{{0, 1000}}));
  EXPECT_EQ(Parse("BYTES=0-0", 1000), (Pairs{{0, 1}}));
  EXPECT_EQ(Parse("Bytes=3-3", 4), (Pairs{{3, 1}}));
}

TEST(ByteRangeTest, SeveralRangesKeepTheirOrder) {
  EXPECT_EQ(Parse("bytes=0-9,20-29", 1000), (Pairs{{0, 10}, {20, 10}}));
  EXPECT_EQ(Parse("bytes=-10,0-0,5-", 8), (Pairs{{0, 8}, {0, 1}, {5, 3}}));
  // Blanks before a number; a side with only blanks is absent.
  EXPECT_EQ(Parse("bytes= 1 - 2,\t-3, 4 -", 10),
            (Pairs{{1, 2}, {7, 3}, {4, 6}}));
  // One bad item spoils the whole header.
  EXPECT_EQ(Parse("bytes=0-9,20-10", 1000), Pairs{});
  EXPECT_EQ(Parse("bytes=0-9,", 1000), Pairs{});
}

TEST(ByteRangeTest, UnsatisfiableOrMalformed) {
  for (const char* header :
       {"bytes=1000-1010", "bytes=1000-", "bytes=-0", "bytes=5-4", "bytes=-",
        "bytes=", "bytes=5", "items=0-1", "bytes 0-1", "bytes0-1", "=0-1",
        " bytes=0-1", "bytes=,0-1"}) {
    EXPECT_EQ(Parse(header, 1000), Pairs{}) << header;
  }
  // Text without digits reads as 0, so this is the empty suffix.
  EXPECT_EQ(Parse("bytes=-x", 1000), Pairs{});
  EXPECT_EQ(Parse("bytes=x-1", 1000), (Pairs{{0, 2}}));
}

TEST(ByteRangeTest, EmptyFileSatisfiesNothing) {
  for (const char* header : {"bytes=0-0", "bytes=0-", "bytes=-1", "bytes=-9"}) {
    EXPECT_EQ(Parse(header, 0), Pairs{}) << header;
  }
}

TEST(ByteRangeTest, FailureLeavesOutputAlone) {
  std::vector<ByteRange> ranges = {{7, 3}};
  EXPECT_FALSE(ParseByteRanges("bytes=0-1,9-", 5, &ranges));
  ASSERT_EQ(ranges.size(), 1u);
  EXPECT_EQ(ranges[0].first, 7u);
  EXPECT_TRUE(ParseByteRanges("bytes=0-1", 5, &ranges));
  ASSERT_EQ(ranges.size(), 2u);  // appended
  EXPECT_EQ(ranges[1].length, 2u);
  EXPECT_TRUE(ParseByteRanges("bytes=0-1", 5, nullptr));
  EXPECT_FALSE(ParseByteRanges("bytes=9-", 5, nullptr));
}

TEST(ByteRangeTest, PositionsBeyond32Bits) {
  const uint64_t size = 5 * kGiB;  // 5368709120
  EXPECT_EQ(Parse("bytes=5368709000-", size), (Pairs{{5368709000, 120}}));
  EXPECT_EQ(Parse("bytes=4294967296-4294967297", size),
            (Pairs{{4294967296, 2}}));
  EXPECT_EQ(Parse("bytes=-4294967297", size),
            (Pairs{{size - 4294967297, 4294967297}}));
  EXPECT_EQ(Parse("bytes=0-", size), (Pairs{{0, size}}));
  EXPECT_EQ(Parse("bytes=5368709120-", size), Pairs{});
}

TEST(ByteRangeTest, HugeNumbersSaturateInsteadOfWrapping) {
  // 2^64 + 1 would wrap to 1.
  EXPECT_EQ(Parse("bytes=18446744073709551617-", 1000), Pairs{});
  EXPECT_EQ(Parse("bytes=18446744073709551615-", 1000), Pairs{});
  EXPECT_EQ(Parse("bytes=" + std::string(400, '9') + "-", 1000), Pairs{});
  // As a last position or suffix, a huge number means "to the end".
  EXPECT_EQ(Parse("bytes=10-18446744073709551626", 1000), (Pairs{{10, 990}}));
  EXPECT_EQ(Parse("bytes=-18446744073709551617", 1000), (Pairs{{0, 1000}}));
  // The largest possible file still works.
  const uint64_t max = UINT64_MAX;
  EXPECT_EQ(Parse("bytes=-99999999999999999999", max), (Pairs{{0, max}}));
  EXPECT_EQ(Parse("bytes=18446744073709551614-", max),
            (Pairs{{max - 1, 1}}));
}

TEST(ByteRangeTest, ContentRangeText) {
  EXPECT_EQ(FormatContentRange({0, 100}, 1000), "bytes 0-99/1000");
  EXPECT_EQ(FormatContentRange({999, 1}, 1000), "bytes 999-999/1000");
  EXPECT_EQ(FormatContentRange({5368709000, 120}, 5 * kGiB),
            "bytes 5368709000-5368709119/5368709120");
}

}  // namespace
}  // namespace brisvane
