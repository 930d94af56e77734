#include "engine/dynamic/tests/process_watch.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/system.h"

namespace brisvane::testing {

bool Eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    platform::sleep_ms(20);
  }
  return condition();
}

std::map<std::string, std::string> ParseLines(const std::string& body) {
  std::map<std::string, std::string> out;
  std::istringstream in(body);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

#ifdef _WIN32
int OpenDescriptors() { return -1; }
int LiveThreads() { return -1; }
int ChildProcesses() { return -1; }
long ResidentKib() { return -1; }
bool ProcessAlive(long) { return false; }
#else
int OpenDescriptors() {
  int n = 0;
  for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
    (void)e;
    ++n;
  }
  return n - 1;  // the iterator's own
}

int LiveThreads() {
  int n = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    (void)task;
    ++n;
  }
  return n;
}

int ChildProcesses() {
  int n = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream in(task.path() / "children");
    std::string pid;
    while (in >> pid) ++n;
  }
  return n;
}

long ResidentKib() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  return -1;
}

bool ProcessAlive(long pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return false;
  size_t close = stat.rfind(')');
  // A zombie has ended; reaping it is its new parent's business.
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}
#endif

}  // namespace brisvane::testing
