// A Windows CGI program for the tests, built for every platform the server
// runs on. It is started as "program profile content output [query]" and
// what it does is chosen by the query:
//   profile      the profile, then every "Form External" file's bytes
//   anything else, or no query: its arguments (on Windows its command
//                line too), the content file's size, and on POSIX the
//                modes of the three files
//   nothing      leaves the output file as it found it
//   loop         a header line, then runs until it is ended
//   grandchild   starts "loop" as a child of its own, notes the child's id
//                in grandchild.pid in its working directory, and waits
// On Windows the profile is read back through GetPrivateProfileString and
// written as "[Section]" and "key=value" lines; on POSIX the file is copied
// as it is, for the test to read with another INI reader.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

#ifndef _WIN32
std::string Octal(unsigned mode) {
  char text[16];
  std::snprintf(text, sizeof text, "%o", mode);
  return text;
}
#else

// A NUL-separated list that a profile function filled.
std::vector<std::string> NulList(const std::vector<char>& buf, size_t n) {
  std::vector<std::string> out;
  for (size_t i = 0; i < n && buf[i];) {
    out.emplace_back(&buf[i]);
    i += out.back().size() + 1;
  }
  return out;
}
#endif

std::string ProfileText(const std::string& path) {
#ifdef _WIN32
  std::vector<char> buf(1 << 20);
  const DWORD sections = GetPrivateProfileSectionNamesA(buf.data(), static_cast<DWORD>(buf.size()), path.c_str());
  std::string text;
  for (const std::string& section : NulList(buf, sections)) {
    text += "[" + section + "]\n";
    std::vector<char> keys(1 << 20);
    const DWORD n = GetPrivateProfileStringA(section.c_str(), nullptr, "", keys.data(),
                                             static_cast<DWORD>(keys.size()), path.c_str());
    for (const std::string& key : NulList(keys, n)) {
      char value[16384];
      GetPrivateProfileStringA(section.c_str(), key.c_str(), "", value, sizeof value, path.c_str());
      text += key + "=" + value + "\n";
    }
  }
  return text;
#else
  return ReadAll(path);
#endif
}

// "EXTERNAL key=<bytes, \n and \r escaped> MODE=<octal on POSIX>" for each
// file that the profile's "Form External" section names.
std::string Externals(const std::string& profile) {
  std::istringstream in(profile);
  std::string line, section, out;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      section = line;
      continue;
    }
    const size_t eq = line.find('='), blank = line.rfind(' ');
    if (section != "[Form External]" || eq == std::string::npos || blank == std::string::npos) continue;
    const std::string file = line.substr(eq + 1, blank - eq - 1);
    std::string bytes;
    for (char c : ReadAll(file)) bytes += c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
    out += "EXTERNAL " + line.substr(0, eq) + "=" + bytes;
#ifndef _WIN32
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) out += " MODE=" + Octal(st.st_mode & 0777);
#endif
    out += "\n";
  }
  return out;
}

std::string Args(int argc, char** argv) {
  std::string out = "ARGC=" + std::to_string(argc) + "\n";
  out += "CONTENT_SIZE=" + std::to_string(ReadAll(argv[2]).size()) + "\n";
  for (int i = 1; i < argc; ++i) out += "ARGV" + std::to_string(i) + "=" + argv[i] + "\n";
#ifdef _WIN32
  out += "CMDLINE=" + std::string(GetCommandLineA()) + "|\n";
#else
  for (int i = 1; i < 4 && i < argc; ++i) {
    struct stat st {};
    if (stat(argv[i], &st) == 0)
      out += "MODE" + std::to_string(i) + "=" + Octal(st.st_mode & 0777) + "\n";
  }
#endif
  return out;
}

void Forever() {
  for (;;) std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void NoteChild(unsigned long pid) {
  std::ofstream("grandchild.pid") << pid << "\n";
}

// Starts this program again with "loop" and no output file of its own.
int Grandchild(const char* self, const char* profile) {
#ifdef _WIN32
  std::string cmd = std::string("\"") + self + "\" " + profile + " - - loop";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 1;
  NoteChild(pi.dwProcessId);
  WaitForSingleObject(pi.hProcess, INFINITE);
#else
  char* argv[] = {const_cast<char*>(self), const_cast<char*>(profile), const_cast<char*>("-"),
                  const_cast<char*>("-"), const_cast<char*>("loop"), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, self, nullptr, nullptr, argv, environ) != 0) return 1;
  NoteChild(static_cast<unsigned long>(pid));
  int status = 0;
  waitpid(pid, &status, 0);
#endif
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  const std::string profile = argv[1], output = argv[3];
  const std::string mode = argc > 4 ? argv[4] : "";
  if (mode == "nothing") return 0;
  std::string body = "Content-Type: text/plain\r\n\r\n";
  if (mode == "profile") {
    const std::string text = ProfileText(profile);
    body += text + "--externals--\n" + Externals(text);
  } else if (mode == "loop" || mode == "grandchild") {
    body += "before loop\n";
  } else {
    body += Args(argc, argv);
  }
  if (output != "-") {
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << body;
  }
  if (mode == "loop") Forever();
  if (mode == "grandchild") return Grandchild(argv[0], argv[1]);
  return 0;
}
