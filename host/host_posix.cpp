// vanehost on POSIX: a foreground program. Application mode prints every
// log line as it comes and handles SIGINT/SIGTERM (stop and exit), SIGHUP
// (reload), SIGUSR1 (pause or resume) and SIGUSR2 (resolve the dynamic
// address now); "-s" runs the service loop for a service manager such as
// systemd, where SIGTERM is the stop control and SIGHUP and SIGUSR2 keep
// their meaning.
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "base/product.h"
#include "host/startup.h"
#include "platform/message_box.h"

namespace {

using brisvane::ServerInstance;

void PrintLine(const char* line, uintptr_t) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

// Waits up to `ms` for one of the blocked signals; 0 on time-out.
int WaitSignal(const sigset_t& set, long ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  siginfo_t info;
  int sig = sigtimedwait(&set, &info, &ts);
  return sig < 0 ? 0 : sig;
}

void Sleep(long ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}

// The exit status of a host whose engine would not start: a service
// manager then sees the failure and may start it again.
constexpr int kStartFailedStatus = 1;

// Tells the user (standard error, which a service manager keeps) that the
// start failed; the engine's lines before it say why.
bool StartEngine(ServerInstance* engine) {
  if (engine->Start()) return true;
  platform::message_box(brisvane::kCouldNotStartText, brisvane::kHostCaption, platform::kMbIconError);
  return false;
}

int RunApplication(ServerInstance* engine, const sigset_t& set) {
  if (!StartEngine(engine)) return kStartFailedStatus;
  while (true) {
    int sig = WaitSignal(set, 2000);
    if (sig == 0) {
      engine->Command(brisvane::kCommandIdle, 0, 0);
    } else if (sig == SIGINT || sig == SIGTERM) {
      engine->Stop();
      return 0;
    } else if (sig == SIGHUP) {
      engine->Flush();
    } else if (sig == SIGUSR1) {
      brisvane::TogglePause(engine);
    } else if (sig == SIGUSR2) {
      engine->Command(brisvane::kCommandResolveIp, 0, 0);
    }
  }
}

int RunService(ServerInstance* engine, const sigset_t& set) {
  if (!StartEngine(engine)) return kStartFailedStatus;
  while (true) {
    int sig = WaitSignal(set, 2000);
    if (sig == SIGTERM || sig == SIGINT) break;
    if (sig == SIGHUP) engine->Flush();
    if (sig == SIGUSR2) engine->Command(brisvane::kCommandResolveIp, 0, 0);
    if (sig == 0) {
      Sleep(5000);
      engine->Command(brisvane::kCommandIdle, 0, 0);
    }
  }
  engine->Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Signals are taken synchronously by the control loop, never by whichever
  // thread happens to run; engine threads inherit the mask.
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&set, s);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  static brisvane::EngineBinding binding;
  std::string command_line;
  for (int i = 0; i < argc; ++i) command_line += (i ? " " : "") + std::string(argv[i]);
  int exit_code = 0;
  auto start = brisvane::StartHost(binding, command_line, &exit_code);
  if (!start) return exit_code;
  if (start->command_line.mode == brisvane::HostMode::kService) {
    // A service manager shows no boxes: failures go to the logs.
    platform::set_notice_policy(platform::NoticePolicy::kNoDesktop);
    // The engine writes it to the error log; without a log hook the
    // service's console (the journal) hears it from here.
    if (::geteuid() == 0) std::fprintf(stderr, "%s\n", brisvane::kRunningAsRootWarning);
    return RunService(start->engine, set);
  }
  start->engine->SetLogHook(PrintLine, 30, 0);
  return RunApplication(start->engine, set);
}
