// Named events mean the same on every backend: manual reset, shared by
// name, opening a missing one fails.
#include "platform/event.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/system.h"
#ifndef _WIN32
#include <unistd.h>

#include "platform/posix/event_file.h"
#endif

namespace platform {
namespace {

namespace fs = std::filesystem;

// Each test gets its own registry (which scopes the names on POSIX) and
// names that no other run uses; POSIX event files are removed afterwards.
class EventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    static int counter = 0;
    unique_ = std::to_string(current_process_id()) + "-" + std::to_string(counter++);
    registry_ = (fs::temp_directory_path() / ("brisvane-evreg-" + unique_ + ".reg")).string();
    set_env("BRISVANE_REGISTRY", registry_);
  }

  void TearDown() override {
#ifndef _WIN32
    for (const auto& n : names_) ::unlink(posix::event_file_path(n).c_str());
#endif
    unset_env("BRISVANE_REGISTRY");
  }

  std::string name(const std::string& base) {
    names_.push_back("BrisvaneTest" + base + "-" + unique_);
    return names_.back();
  }

  std::string unique_;
  std::string registry_;
  std::vector<std::string> names_;
};

TEST_F(EventTest, CreatedEventStartsClearAndStaysAsSet) {
  EventHandle e = event_create(name("Flush"));
  ASSERT_NE(e, 0u) << last_error();
  EXPECT_FALSE(event_is_set(e));
  ASSERT_TRUE(event_set(e));
  EXPECT_TRUE(event_is_set(e));
  EXPECT_TRUE(event_is_set(e));  // manual reset: looking does not clear it
  ASSERT_TRUE(event_reset(e));
  EXPECT_FALSE(event_is_set(e));
  event_close(e);
}

TEST_F(EventTest, OpeningAMissingEventFails) {
  EXPECT_EQ(event_open(name("Missing")), 0u);
  EXPECT_EQ(last_error(), err::kFileNotFound);
}

TEST_F(EventTest, HandlesOfOneNameShareTheState) {
  std::string n = name("Shared");
  EventHandle a = event_create(n);
  ASSERT_NE(a, 0u);
  EventHandle b = event_open(n);
  ASSERT_NE(b, 0u) << last_error();
  ASSERT_TRUE(event_set(b));
  EXPECT_TRUE(event_is_set(a));

  // Creating an existing event opens it as it is.
  EventHandle c = event_create(n);
  ASSERT_NE(c, 0u);
  EXPECT_TRUE(event_is_set(c));
  ASSERT_TRUE(event_reset(a));
  EXPECT_FALSE(event_is_set(b));
  EXPECT_FALSE(event_is_set(c));

  event_close(a);
  ASSERT_TRUE(event_set(c));
  EXPECT_TRUE(event_is_set(b));
  event_close(b);
  event_close(c);
}

TEST_F(EventTest, DifferentNamesAreDifferentEvents) {
  EventHandle a = event_create(name("One"));
  EventHandle b = event_create(name("Two"));
  ASSERT_NE(a, 0u);
  ASSERT_NE(b, 0u);
  ASSERT_TRUE(event_set(a));
  EXPECT_FALSE(event_is_set(b));
  event_close(a);
  event_close(b);
}

}  // namespace
}  // namespace platform
