#include "host/startup.h"

#include <gtest/gtest.h>

namespace brisvane {
namespace {

// An engine with only the state rules of the control interface.
class StateOnlyEngine final : public ServerInstance {
 public:
  bool SetProfile(const char*) override { return true; }
  bool Start() override { return true; }
  bool Stop() override { return true; }
  bool Pause() override {
    if (state_ != kStateRunning) return false;
    state_ = kStatePaused;
    return true;
  }
  bool Resume() override {
    if (state_ != kStatePaused) return false;
    state_ = kStateRunning;
    return true;
  }
  bool Flush() override {  // a reload leaves a paused engine running
    Resume();
    return true;
  }
  bool GetInfo(ServerInfo* info) override {
    info->state = state_;
    return true;
  }
  bool QueryValue(char*, int) override { return false; }
  bool SetLogHook(LogHookFunction, int32_t, uintptr_t) override { return true; }
  bool Command(const char*, int32_t, int32_t) override { return false; }

  int32_t state_ = kStateRunning;
};

TEST(HostPause, ToggleFollowsTheEngineAcrossReloads) {
  StateOnlyEngine engine;
  EXPECT_TRUE(TogglePause(&engine));
  EXPECT_EQ(engine.state_, kStatePaused);
  engine.Flush();  // SIGHUP or the flush event while paused
  ASSERT_EQ(engine.state_, kStateRunning);
  EXPECT_TRUE(TogglePause(&engine)) << "pauses again after the reload";
  EXPECT_EQ(engine.state_, kStatePaused);
  EXPECT_TRUE(TogglePause(&engine));
  EXPECT_EQ(engine.state_, kStateRunning);
  engine.state_ = kStateStopped;
  EXPECT_FALSE(TogglePause(&engine));
  EXPECT_EQ(engine.state_, kStateStopped);
}

}  // namespace
}  // namespace brisvane
