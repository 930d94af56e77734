// Helpers shared by the generated-page tests that run a server: reading a
// file the engine still holds, and waiting for what the engine does after
// the client already has its response (counting, logging).
#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace brisvane::testing {

// The whole file, or "" when it cannot be read. The engine shares its
// logs for reading only, so this must not ask for more.
inline std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The lines of a log, without their "\r\n".
inline std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  std::string text = ReadWhole(path);
  size_t pos = 0;
  while (true) {
    size_t end = text.find("\r\n", pos);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(pos, end - pos));
    pos = end + 2;
  }
  return lines;
}

// Polls `done` for up to ten seconds; true once it holds.
inline bool WaitUntil(const std::function<bool()>& done) {
  for (int i = 0; i < 1000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

// Lines handed to a log hook, for hooks installed by the test itself.
struct HeardLines {
  std::mutex mu;
  std::vector<std::string> lines;
  static void Hook(const char* line, uintptr_t user) {
    auto* self = reinterpret_cast<HeardLines*>(user);
    std::lock_guard<std::mutex> lock(self->mu);
    self->lines.push_back(line);
  }
  std::vector<std::string> Copy() {
    std::lock_guard<std::mutex> lock(mu);
    return lines;
  }
};

}  // namespace brisvane::testing
