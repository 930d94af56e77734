#include <gtest/gtest.h>

#include "platform/error.h"

namespace platform {
namespace {

TEST(ErrorText, EveryCodeHasItsOwnSingleLineText) {
  const os_error codes[] = {err::kFileNotFound, err::kPathNotFound, err::kAccessDenied,
                            err::kSharingViolation, err::kWsaAddrInUse, err::kWsaTimedOut};
  for (os_error a : codes) {
    std::string text = error_message(a);
    ASSERT_FALSE(text.empty()) << a;
    EXPECT_EQ(text.find('\n'), std::string::npos) << a << ": " << text;
    EXPECT_NE(text.back(), '\r') << a;
    for (os_error b : codes) {
      if (a != b) {
        EXPECT_NE(text, error_message(b)) << a << " and " << b;
      }
    }
  }
}

TEST(ErrorText, NotFoundGroupsBothCodes) {
  EXPECT_TRUE(is_not_found(err::kFileNotFound));
  EXPECT_TRUE(is_not_found(err::kPathNotFound));
  EXPECT_FALSE(is_not_found(err::kAccessDenied));
}

}  // namespace
}  // namespace platform
