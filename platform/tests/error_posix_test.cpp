// On POSIX the codes come from errno and the texts from our own table;
// both must read as they do on Windows, since log lines show them.
#include <gtest/gtest.h>

#include <cerrno>

#include "platform/error.h"
#include "platform/posix/errno_map.h"

namespace platform {
namespace {

TEST(ErrorPosix, TextsAreTheWindowsTexts) {
  EXPECT_EQ(error_message(2), "The system cannot find the file specified.");
  EXPECT_EQ(error_message(3), "The system cannot find the path specified.");
  EXPECT_EQ(error_message(5), "Access is denied.");
  EXPECT_EQ(error_message(10048),
            "Only one usage of each socket address (protocol/network address/port) is normally permitted.");
  EXPECT_EQ(error_message(4242), "Unknown error 4242.");
}

TEST(ErrorPosix, ErrnoMapsOntoTheWindowsCodes) {
  EXPECT_EQ(posix::from_errno(ENOENT), err::kFileNotFound);
  EXPECT_EQ(posix::from_errno(ENOTDIR), err::kPathNotFound);
  EXPECT_EQ(posix::from_errno(EACCES), err::kAccessDenied);
  EXPECT_EQ(posix::from_errno(ENOSPC), err::kDiskFull);
  EXPECT_EQ(posix::socket_error_from_errno(EADDRINUSE), err::kWsaAddrInUse);
  EXPECT_EQ(posix::socket_error_from_errno(EAGAIN), err::kWsaWouldBlock);
  EXPECT_EQ(posix::socket_error_from_errno(ECONNRESET), err::kWsaConnReset);
  errno = EEXIST;
  EXPECT_EQ(posix::set_last_from_errno(), err::kFileExists);
  EXPECT_EQ(last_error(), err::kFileExists);
}

}  // namespace
}  // namespace platform
