// The status window driven through its messages, against an engine double
// that records what the window asks of it; and the real host, shut down
// through its menu.
#include "host/status_window_win32.h"
#include "host/tests/status_window_finder_win32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_resource.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace brisvane {
namespace {

// Answers queries from a table and records every call by name.
class RecordingEngine : public ServerInstance {
 public:
  bool SetProfile(const char*) override { return Record("SetProfile"); }
  bool Start() override { return Record("Start") && start_ok; }
  bool Stop() override { return Record("Stop"); }
  bool Pause() override { return Record("Pause"); }
  bool Resume() override { return Record("Resume"); }
  bool Flush() override { return Record("Flush"); }
  bool GetInfo(ServerInfo*) override { return Record("GetInfo"); }
  bool QueryValue(char* buffer, int size) override {
    std::string name = buffer;
    if (name == "NUM_CLIENTS") {
      if (clients.empty()) return false;
      lstrcpynA(buffer, clients.c_str(), size);
    } else {
      lstrcpynA(buffer, ("12" + name.substr(0, 1)).c_str(), size);
    }
    return true;
  }
  bool SetLogHook(LogHookFunction, int32_t, uintptr_t) override { return Record("SetLogHook"); }
  bool Command(const char* name, int32_t, int32_t) override {
    Record(std::string("Command ") + name);
    return command_ok;
  }

  int Count(const std::string& call) const {
    int n = 0;
    for (const auto& c : calls) n += c == call;
    return n;
  }

  std::string clients = "0";
  bool start_ok = true;
  bool command_ok = true;
  std::vector<std::string> calls;

 private:
  bool Record(const std::string& call) {
    calls.push_back(call);
    return true;
  }
};

struct Box {
  std::string text, caption;
  unsigned style;
};

std::string WindowText(HWND hwnd) {
  int n = GetWindowTextLengthA(hwnd);
  std::string text(static_cast<size_t>(n) + 1, '\0');
  GetWindowTextA(hwnd, text.data(), n + 1);
  text.resize(static_cast<size_t>(n));
  return text;
}

class StatusWindowTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { StatusWindow::RegisterWindowClass(GetModuleHandleA(nullptr)); }

  void SetUp() override {
    platform::set_message_box_hook(
        [this](const std::string& text, const std::string& caption, unsigned style) {
          boxes_.push_back({text, caption, style});
          if (on_box_) on_box_();
        });
    window_.set_asker([this](HWND, const std::string& text, const std::string&, UINT) {
      questions_.push_back(text);
      return answer_;
    });
  }
  void TearDown() override { platform::set_message_box_hook(nullptr); }

  void Create() {
    ASSERT_TRUE(window_.Create(GetModuleHandleA(nullptr)));
    ASSERT_TRUE(IsWindow(window_.hwnd()));
  }
  LRESULT Send(UINT msg, WPARAM wp = 0, LPARAM lp = 0) { return SendMessageA(window_.hwnd(), msg, wp, lp); }
  void Menu(int id) { Send(WM_COMMAND, static_cast<WPARAM>(id)); }
  bool PauseChecked() {
    return (GetMenuState(GetMenu(window_.hwnd()), IDM_PAUSE, MF_BYCOMMAND) & MF_CHECKED) != 0;
  }

  RecordingEngine engine_;
  LogRing ring_;
  StatusWindow window_{&engine_, &ring_, "TestProfile"};
  std::vector<Box> boxes_;
  std::vector<std::string> questions_;
  std::function<void()> on_box_;
  int answer_ = IDNO;
};

TEST_F(StatusWindowTest, CreationStartsTheEngineHiddenAndTitleFollowsClients) {
  Create();
  EXPECT_EQ(engine_.Count("Start"), 1);
  EXPECT_FALSE(IsWindowVisible(window_.hwnd()));
  EXPECT_EQ(WindowText(window_.hwnd()), "Brisvane Professional idle");
  engine_.clients = "3";
  window_.UpdateStatus();
  EXPECT_EQ(WindowText(window_.hwnd()), "Brisvane Professional busy (3)");
  // A failed query leaves the title as it was.
  engine_.clients.clear();
  window_.UpdateStatus();
  EXPECT_EQ(WindowText(window_.hwnd()), "Brisvane Professional busy (3)");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(StatusWindowTest, EngineThatDoesNotStartIsReported) {
  engine_.start_ok = false;
  EXPECT_FALSE(window_.Create(GetModuleHandleA(nullptr)));
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Could not start server");
  EXPECT_EQ(boxes_[0].caption, "Brisvane Professional");
}

TEST_F(StatusWindowTest, TimerIdlesTheEngineAndShowsTheNewest256Of300LinesNewestFirst) {
  Create();
  // A left click on the icon shows the window.
  Send(kNotifyCallback, kNotifyIconId, WM_LBUTTONDOWN);
  EXPECT_TRUE(IsWindowVisible(window_.hwnd()));
  for (int i = 0; i < 300; ++i) LogRing::Hook(("line " + std::to_string(i)).c_str(), reinterpret_cast<uintptr_t>(&ring_));
  Send(WM_TIMER, kStatusTimer);
  EXPECT_EQ(engine_.Count("Command IDLE"), 1);
  UpdateWindow(window_.hwnd());  // the timer invalidated the window: paint now
  std::string text = WindowText(window_.edit());
  std::string expected;
  for (int i = 299; i >= 44; --i) expected += "line " + std::to_string(i) + "\r\n";
  EXPECT_EQ(text, expected);
  // Nothing new: the next tick leaves the window alone.
  Send(WM_TIMER, kStatusTimer);
  RECT update{};
  EXPECT_FALSE(GetUpdateRect(window_.hwnd(), &update, FALSE));
}

TEST_F(StatusWindowTest, PauseTwiceTogglesTheEngineAndTheCheckMark) {
  Create();
  EXPECT_FALSE(PauseChecked());
  Menu(IDM_PAUSE);
  EXPECT_EQ(engine_.Count("Pause"), 1);
  EXPECT_TRUE(PauseChecked());
  Menu(IDM_PAUSE);
  EXPECT_EQ(engine_.Count("Resume"), 1);
  EXPECT_EQ(engine_.Count("Pause"), 1);
  EXPECT_FALSE(PauseChecked());
}

TEST_F(StatusWindowTest, ClosingHidesAndShutdownStopsAndQuits) {
  Create();
  Send(kNotifyCallback, kNotifyIconId, WM_LBUTTONDOWN);
  ASSERT_TRUE(IsWindowVisible(window_.hwnd()));
  Send(WM_CLOSE);
  EXPECT_TRUE(IsWindow(window_.hwnd()));
  EXPECT_FALSE(IsWindowVisible(window_.hwnd()));
  // Another icon's events are not ours.
  Send(kNotifyCallback, kNotifyIconId + 1, WM_LBUTTONDOWN);
  EXPECT_FALSE(IsWindowVisible(window_.hwnd()));
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  Menu(IDM_SHUTDOWN);
  EXPECT_EQ(engine_.Count("Stop"), 1);
  ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  EXPECT_EQ(msg.wParam, 0u);
}

TEST_F(StatusWindowTest, PropertiesWhileALaunchIsInProgressDoesNothing) {
  Create();
  // No vaneconf.exe beside the test program: the launch fails, and while
  // its message is open the user asks again.
  on_box_ = [this] {
    on_box_ = nullptr;
    Menu(IDM_PROPERTIES);
  };
  Menu(IDM_PROPERTIES);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, "Unable to execute vaneconf.exe, error 2");
  EXPECT_EQ(boxes_[0].caption, "Error");
  EXPECT_EQ(boxes_[0].style, platform::kMbIconError);
  // Once the message is gone, the command works again.
  Menu(IDM_PROPERTIES);
  EXPECT_EQ(boxes_.size(), 2u);
}

TEST_F(StatusWindowTest, EngineCommandsOfTheMenu) {
  Create();
  Menu(IDM_FLUSH);
  EXPECT_EQ(engine_.Count("Flush"), 1);
  Menu(IDM_RESOLVE_IP);
  EXPECT_EQ(engine_.Count("Command RESOLVE_IP"), 1);
  Menu(IDM_IMPORT);
  engine_.command_ok = false;
  Menu(IDM_IMPORT);
  EXPECT_EQ(engine_.Count("Command IMPORT_WEBSITE"), 2);
  // Masquerade asks first; No leaves the engine alone.
  Menu(IDM_MASQUERADE);
  EXPECT_EQ(engine_.Count("Command EXPORT_WEBSITE"), 0);
  answer_ = IDYES;
  engine_.command_ok = true;
  Menu(IDM_MASQUERADE);
  EXPECT_EQ(engine_.Count("Command EXPORT_WEBSITE"), 1);
  // Reset answered No deletes nothing and says nothing.
  answer_ = IDNO;
  Menu(IDM_RESET_CONFIGURATION);
  ASSERT_EQ(questions_.size(), 3u);
  EXPECT_EQ(questions_[0],
            "If you have WebServer installed, exporting your configuration to WebServer may render WebServer "
            "unusable.  Do you want to continue?");
  EXPECT_EQ(questions_[2],
            "Resetting the configuration will remove the configuration keys from the registry. This should only "
            "be used if you are experiencing errors with the registry (i.e. corruption). Are you sure you want to "
            "reset the configuration?");
  ASSERT_EQ(boxes_.size(), 3u);
  EXPECT_EQ(boxes_[0].text, "Import Successful");
  EXPECT_EQ(boxes_[0].caption, "Import WebServer Configuration");
  EXPECT_EQ(boxes_[1].text, "Fatal Error Importing Configuration");
  EXPECT_EQ(boxes_[1].style, platform::kMbIconError);
  EXPECT_EQ(boxes_[2].text, "Export (Masquerade) Successful.  You may now install WebServer extensions.");
  EXPECT_EQ(boxes_[2].caption, "Export WebServer Configuration");
}

// ---- the real host -------------------------------------------------------


TEST(VanehostProgram, ClosingHidesOnlyShutdownEndsWithExitCodeZero) {
  std::string stage = platform::executable_directory() + "\\..\\stage\\";
  // A profile of its own on a port the system picks.
  platform::RegHandle key = 0;
  ASSERT_EQ(platform::reg_open_key(platform::kHkeyLocalMachine, "SOFTWARE\\Halvex\\Brisvane\\2.0\\WindowTest\\Network",
                                   true, &key, nullptr),
            0u);
  uint32_t port = 0;
  platform::reg_set_value(key, "Port", platform::kRegDword, &port, sizeof port);
  platform::reg_close_key(key);

  platform::ProcessStart start;
  start.command_line = "\"" + stage + "vanehost.exe\" -p WindowTest";
  platform::ProcessHandle p = platform::process_spawn(start);
  ASSERT_NE(p, platform::kInvalidProcess);
  const HWND window = testing::WaitForStatusWindow(platform::process_id(p));
  if (!window) platform::process_terminate(p);
  ASSERT_TRUE(window) << "no status window";
  // The window exists before the engine has started; the title follows.
  for (int i = 0; i < 200 && WindowText(window) == "Brisvane Professional"; ++i) platform::sleep_ms(100);
  EXPECT_EQ(WindowText(window), "Brisvane Professional idle");
  EXPECT_FALSE(IsWindowVisible(window));

  PostMessageA(window, kNotifyCallback, kNotifyIconId, WM_LBUTTONDOWN);
  platform::sleep_ms(500);
  EXPECT_TRUE(IsWindowVisible(window));
  PostMessageA(window, WM_CLOSE, 0, 0);
  uint32_t code = 12345;
  EXPECT_EQ(platform::process_wait(p, 1500, &code), platform::WaitResult::kTimedOut);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(IsWindowVisible(window));

  PostMessageA(window, WM_COMMAND, IDM_SHUTDOWN, 0);
  platform::WaitResult ended = platform::process_wait(p, 30000, &code);
  if (ended != platform::WaitResult::kEnded) platform::process_terminate(p);
  EXPECT_EQ(ended, platform::WaitResult::kEnded);
  EXPECT_EQ(code, 0u);
  platform::process_close(p);
}

}  // namespace
}  // namespace brisvane
