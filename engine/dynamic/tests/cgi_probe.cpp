// A CGI program for the tests, built for every platform the server runs
// on. What it does is chosen by its arguments (a query without "=" or "&"):
//   env               the environment, arguments and working directory
//   echo              standard input back, with its length
//   file NAME         the file NAME from the working directory, verbatim
//   loop              a line, then runs until it is ended
//   grandchild        starts "loop" as a child of its own and waits for it
//   big MIB           MIB mebibytes of body
//   sleep MS          waits MS milliseconds, then answers
//   fds               the numbers of its open descriptors (POSIX)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

void Header() { std::fputs("Content-Type: text/plain\r\n\r\n", stdout); }

void Forever() {
  for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

// Starts this program again with "loop", in the same process group (job),
// as a script's interpreter would start a helper; waits for it.
int Grandchild(const char* self) {
#ifdef _WIN32
  std::string cmd = std::string("\"") + self + "\" loop";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
  std::printf("child %lu\n", static_cast<unsigned long>(pi.dwProcessId));
  std::fflush(stdout);
  WaitForSingleObject(pi.hProcess, INFINITE);
#else
  char* argv[] = {const_cast<char*>(self), const_cast<char*>("loop"), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0) return 1;
  std::printf("child %d\n", static_cast<int>(pid));
  std::fflush(stdout);
  int status = 0;
  waitpid(pid, &status, 0);
#endif
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  const std::string mode = argc > 1 ? argv[1] : "env";
  const std::string arg = argc > 2 ? argv[2] : "";
  if (mode == "env") {
    Header();
#ifdef _WIN32
    char* block = GetEnvironmentStringsA();
    for (const char* e = block; *e; e += std::strlen(e) + 1) std::printf("%s\n", e);
    FreeEnvironmentStringsA(block);
#else
    for (char** e = environ; *e; ++e) std::printf("%s\n", *e);
#endif
    std::printf("ARGC=%d\n", argc);
    for (int i = 1; i < argc; ++i) std::printf("ARGV%d=%s\n", i, argv[i]);
    std::printf("CWD=%s\n", std::filesystem::current_path().string().c_str());
  } else if (mode == "echo") {
    std::string in((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    Header();
    std::printf("LEN=%zu\n", in.size());
    std::fwrite(in.data(), 1, in.size(), stdout);
  } else if (mode == "file") {
    std::ifstream f(arg, std::ios::binary);
    std::cout << f.rdbuf();
  } else if (mode == "loop") {
    Header();
    std::puts("before loop");
    std::fflush(stdout);
    Forever();
  } else if (mode == "grandchild") {
    Header();
    return Grandchild(argv[0]);
  } else if (mode == "big") {
    Header();
    std::string chunk(65536, 'x');
    const long chunks = std::atol(arg.c_str()) * 16;
    for (long i = 0; i < chunks; ++i) std::fwrite(chunk.data(), 1, chunk.size(), stdout);
  } else if (mode == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atol(arg.c_str())));
    Header();
    std::puts("slept");
  } else if (mode == "fds") {
    Header();
#ifndef _WIN32
    for (int fd = 0; fd < 65536; ++fd)
      if (fcntl(fd, F_GETFD) >= 0) std::printf("%d\n", fd);
#endif
  }
  std::fflush(stdout);
  return 0;
}
