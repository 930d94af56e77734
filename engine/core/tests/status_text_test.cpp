#include "engine/core/status_text.h"

#include <gtest/gtest.h>

namespace brisvane {
namespace {

TEST(StatusTextTest, SpotChecks) {
  EXPECT_STREQ(DefaultStatusText(200), "Document Follows");
  EXPECT_STREQ(DefaultStatusText(301), DefaultStatusText(302));
  EXPECT_STREQ(DefaultStatusText(404), "Resource not found");
  EXPECT_STREQ(DefaultStatusText(413), "Request Entity Too Large");
  EXPECT_STREQ(DefaultStatusText(416), "Requested Range not Satisfiable");
  EXPECT_STREQ(DefaultStatusText(421), "Misdirected Request");
  EXPECT_STREQ(DefaultStatusText(418), "Unclassified Error");
  EXPECT_STREQ(DefaultStatusText(0), "Unclassified Error");
}

}  // namespace
}  // namespace brisvane
