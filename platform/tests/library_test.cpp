// Libraries load, give their exports and fail alike on every backend. The
// library loaded is built with the tests and lies beside the test program.
#include "platform/library.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/error.h"
#include "platform/system.h"

namespace platform {
namespace {

std::string test_library() { return executable_directory() + kPathSeparator + PLATFORM_TEST_LIB; }

using AddFn = int (*)(int, int);
using CallsFn = int (*)();

TEST(Library, LoadsAndCallsAnExport) {
  LibraryHandle lib = library_load(test_library());
  ASSERT_NE(lib, 0u) << test_library() << ": " << last_error();
  auto add = reinterpret_cast<AddFn>(library_symbol(lib, "platform_test_add"));
  auto calls = reinterpret_cast<CallsFn>(library_symbol(lib, "platform_test_calls"));
  ASSERT_NE(add, nullptr);
  ASSERT_NE(calls, nullptr);
  int before = calls();
  EXPECT_EQ(add(2, 40), 42);
  EXPECT_EQ(calls(), before + 1);

  // A second load shares the loaded copy and keeps it alive alone.
  LibraryHandle again = library_load(test_library());
  ASSERT_NE(again, 0u);
  library_free(lib);
  auto calls_again = reinterpret_cast<CallsFn>(library_symbol(again, "platform_test_calls"));
  ASSERT_NE(calls_again, nullptr);
  EXPECT_EQ(calls_again(), before + 1);
  library_free(again);
}

TEST(Library, MissingExportGivesNothing) {
  LibraryHandle lib = library_load(test_library());
  ASSERT_NE(lib, 0u);
  set_last_error(err::kSuccess);
  EXPECT_EQ(library_symbol(lib, "platform_test_absent"), nullptr);
  EXPECT_EQ(last_error(), err::kProcNotFound);
  library_free(lib);
}

TEST(Library, MissingLibraryFailsToLoad) {
  std::string absent = executable_directory() + kPathSeparator + "no_such_library_here.dll";
  EXPECT_EQ(library_load(absent), 0u);
  EXPECT_EQ(last_error(), err::kModNotFound);
}

}  // namespace
}  // namespace platform
