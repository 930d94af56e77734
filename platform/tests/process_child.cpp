// The child that the process tests start. It talks to the OS directly, not
// through the platform layer, so that what it reports is the system's view.
// Modes:
//   echo            copy standard input to standard output until its end
//   args A...       print each argument as "[A]" on a line
//   env NAME        print the variable's value, or "<unset>"
//   cwd             print the working directory
//   exit N          end with exit code N
//   write N         write N bytes of 'x' to standard output
//   outerr          write "out" to standard output, then "err" to standard error
//   sleep           sleep until killed
//   grandchild      start "sleep" sharing standard output, print its pid, sleep
//   open H...       print "open" or "closed" for each handle or descriptor value
//   alive PID       print "running", "zombie" or "gone" for a process
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <fstream>
#endif

namespace {

[[noreturn]] void sleep_forever() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

bool handle_open(unsigned long long value) {
#ifdef _WIN32
  DWORD flags = 0;
  return GetHandleInformation(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)), &flags) != 0;
#else
  return ::fcntl(static_cast<int>(value), F_GETFD) >= 0;
#endif
}

const char* process_state(unsigned long pid) {
#ifdef _WIN32
  HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!h) return "gone";
  bool running = WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
  CloseHandle(h);
  return running ? "running" : "gone";
#else
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return "gone";
  size_t paren = line.rfind(')');
  if (paren == std::string::npos || paren + 2 >= line.size()) return "gone";
  return line[paren + 2] == 'Z' ? "zombie" : "running";
#endif
}

// Starts this program in "sleep" mode with the same standard handles.
unsigned long start_sleeper(const char* self) {
#ifdef _WIN32
  std::string cmd = std::string("\"") + self + "\" sleep";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) return 0;
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return pi.dwProcessId;
#else
  pid_t pid = ::fork();
  if (pid == 0) {
    execl(self, self, "sleep", static_cast<char*>(nullptr));
    _exit(127);
  }
  return pid > 0 ? static_cast<unsigned long>(pid) : 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  if (argc < 2) return 100;
  std::string mode = argv[1];
  if (mode == "echo") {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, stdin)) > 0) fwrite(buf, 1, n, stdout);
    return ferror(stdin) ? 1 : 0;
  }
  if (mode == "args") {
    for (int i = 2; i < argc; ++i) printf("[%s]\n", argv[i]);
    return 0;
  }
  if (mode == "env" && argc > 2) {
    const char* v = getenv(argv[2]);
    printf("%s", v ? v : "<unset>");
    return 0;
  }
  if (mode == "cwd") {
    printf("%s", std::filesystem::current_path().string().c_str());
    return 0;
  }
  if (mode == "exit" && argc > 2) return atoi(argv[2]);
  if (mode == "write" && argc > 2) {
    std::string block(static_cast<size_t>(atol(argv[2])), 'x');
    return fwrite(block.data(), 1, block.size(), stdout) == block.size() ? 0 : 1;
  }
  if (mode == "outerr") {
    fputs("out\n", stdout);
    fflush(stdout);
    fputs("err\n", stderr);
    return 0;
  }
  if (mode == "sleep") sleep_forever();
  if (mode == "grandchild") {
    unsigned long pid = start_sleeper(argv[0]);
    if (!pid) return 2;
    printf("%lu\n", pid);
    fflush(stdout);
    sleep_forever();
  }
  if (mode == "open") {
    for (int i = 2; i < argc; ++i) printf("%s\n", handle_open(strtoull(argv[i], nullptr, 10)) ? "open" : "closed");
    return 0;
  }
  if (mode == "alive" && argc > 2) {
    printf("%s", process_state(strtoul(argv[2], nullptr, 10)));
    return 0;
  }
  return 100;
}
