// The POSIX registry file: what people write by hand is read exactly, what
// the store writes is valid export format, and two processes sharing the
// file see each other's changes without losing any.
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/registry_tree.h"
#include "platform/registry.h"
#include "platform/tests/registry_fixture.h"

namespace platform {
namespace {

using testing::RegistryTest;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void spit(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

std::string text_of(RegHandle key, const std::string& name) {
  char buf[8192];
  uint32_t size = sizeof buf, type = 0;
  if (reg_query_value(key, name, &type, buf, &size) != err::kSuccess) return "<missing>";
  return std::string(buf, size ? size - 1 : 0);
}

TEST(RegistryText, HandWrittenFileIsReadExactly) {
  const std::string text =
      "Windows Registry Editor Version 5.00\n"
      "; a comment\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvex\\Brisvane\\2.0\\Default\\Server\\0000]\r\n"
      "\"DocRoot\"=\"C:\\\\www \\\"main\\\"\"\r\n"
      "\"Port\"=dword:00001F90\n"
      "@=\"default\"\n"
      "\"Raw\"=hex:90,1f,\\\n"
      "  00,00\n"
      "\"Multi\"=hex(7):61,00,00,00\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Halvex\\Brisvane\\2.0\\Default\\Network]\n"
      "[HKEY_CURRENT_USER\\Empty]\n";
  posix::RegKey top;
  posix::add_roots(&top);
  posix::ParseResult r = posix::parse_reg_text(text, &top);
  ASSERT_TRUE(r.problems.empty()) << r.problems.front();
  posix::RegKey* k = top.find_subkey("HKEY_LOCAL_MACHINE");
  for (const char* p : {"software", "Halvex", "Brisvane", "2.0", "Default"}) {
    ASSERT_NE(k, nullptr) << p;
    k = k->find_subkey(p);
  }
  ASSERT_NE(k, nullptr);
  EXPECT_NE(k->find_subkey("network"), nullptr) << "a key without values";
  posix::RegKey* server = k->find_subkey("Server")->find_subkey("0000");
  ASSERT_NE(server, nullptr) << "parents implied by a child's section";
  ASSERT_EQ(server->values.size(), 5u);
  EXPECT_EQ(server->values[0].name, "DocRoot");
  EXPECT_EQ(server->values[0].data, std::string("C:\\www \"main\"\0", 14));
  EXPECT_EQ(server->values[1].type, 4u);
  EXPECT_EQ(server->values[1].data, std::string("\x90\x1f\0\0", 4));
  EXPECT_EQ(server->values[2].name, "");
  EXPECT_EQ(server->values[3].type, 3u);
  EXPECT_EQ(server->values[3].data, std::string("\x90\x1f\0\0", 4)) << "continued hex line";
  EXPECT_EQ(server->values[4].type, 7u);
  EXPECT_NE(top.find_subkey("HKEY_CURRENT_USER")->find_subkey("empty"), nullptr);
}

TEST(RegistryText, WrittenFileReadsBackTheSame) {
  posix::RegKey top;
  posix::add_roots(&top);
  posix::RegKey* k = top.find_subkey("HKEY_LOCAL_MACHINE")->add_subkey("SOFTWARE")->add_subkey("Test");
  k->set_value("Text", 1, std::string("a\\b\"c\0", 6));
  k->set_value("Lines", 1, std::string("one\ntwo\0", 9));  // not representable as "..."
  k->set_value("Dword", 4, std::string("\x01\x02\x03\x04", 4));
  k->set_value("Big", 3, std::string(300, '\xab'));
  k->set_value("", 1, std::string("\0", 1));
  k->set_value("Expand", 2, std::string("%SystemRoot%\\x\0", 15));
  k->set_value("Multi", 7, std::string("one\0two\0\0", 9));
  k->set_value("Odd", 0x20, std::string("\x7f", 1));
  k->add_subkey("Leaf");
  std::string text = posix::format_reg_text(top);
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\r\n", 0), 0u);
  EXPECT_NE(text.find("\"Dword\"=dword:04030201\r\n"), std::string::npos);
  EXPECT_NE(text.find("\"Text\"=\"a\\\\b\\\"c\"\r\n"), std::string::npos);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Test\\Leaf]\r\n"), std::string::npos);
  for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
    EXPECT_LE(end - start, 80u) << "long hex data wraps";

  posix::RegKey again;
  posix::add_roots(&again);
  ASSERT_TRUE(posix::parse_reg_text(text, &again).problems.empty());
  posix::RegKey* back = again.find_subkey("HKEY_LOCAL_MACHINE")->find_subkey("SOFTWARE")->find_subkey("Test");
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->values.size(), k->values.size());
  for (size_t i = 0; i < k->values.size(); ++i) {
    EXPECT_EQ(back->values[i].name, k->values[i].name);
    EXPECT_EQ(back->values[i].type, k->values[i].type);
    EXPECT_EQ(back->values[i].data, k->values[i].data) << k->values[i].name;
  }
  EXPECT_EQ(posix::format_reg_text(again), text);
}

TEST(RegistryText, BadLinesAreReportedWithTheirNumbers) {
  posix::RegKey top;
  posix::add_roots(&top);
  auto r = posix::parse_reg_text(
      "Windows Registry Editor Version 5.00\n[HKEY_NOWHERE\\X]\n\"a\"=1\n[HKEY_USERS\\Y]\n\"b\"=dword:xyz\n", &top);
  ASSERT_EQ(r.problems.size(), 2u);
  EXPECT_EQ(r.problems[0].rfind("line 2:", 0), 0u);
  EXPECT_EQ(r.problems[1].rfind("line 5:", 0), 0u);
}

TEST(RegistryText, RepeatedSectionsAndValuesAreReadAndReported) {
  posix::RegKey top;
  posix::add_roots(&top);
  auto r = posix::parse_reg_text(
      "Windows Registry Editor Version 5.00\n"
      "[HKEY_USERS\\A]\n"            // 2
      "\"x\"=dword:00000001\n"        // 3
      "\"X\"=dword:00000002\n"        // 4: the same name in other case
      "[HKEY_USERS\\B]\n"            // 5
      "@=\"1\"\n"                     // 6
      "[-HKEY_USERS\\B]\n"           // 7: what follows repeats nothing
      "[HKEY_USERS\\B]\n"            // 8
      "@=\"2\"\n"                     // 9
      "[hkey_users\\a]\n"            // 10
      "\"y\"=\"t\"\n",                 // 11
      &top);
  EXPECT_TRUE(r.problems.empty());
  ASSERT_EQ(r.repeats.size(), 2u);
  EXPECT_EQ(r.repeats[0].rfind("line 4: value \"X\" in [HKEY_USERS\\A] again (before at line 3)", 0), 0u)
      << r.repeats[0];
  EXPECT_EQ(r.repeats[1].rfind("line 10: section [hkey_users\\a] again (before at line 2)", 0), 0u)
      << r.repeats[1];
  posix::RegKey* a = top.find_subkey("HKEY_USERS")->find_subkey("A");
  ASSERT_EQ(a->values.size(), 2u) << "both sections are read";
  EXPECT_EQ(a->values[0].data, std::string("\x02\0\0\0", 4)) << "the later value counts";
  ASSERT_EQ(r.values.size(), 5u);
  EXPECT_EQ(r.values[4].line, 11);
  EXPECT_EQ(r.values[4].type, kRegSz);
  EXPECT_EQ(r.values[4].key, (std::vector<std::string>{"hkey_users", "a"}));
}

TEST_F(RegistryTest, AHoldKeepsAnotherProcessesChangeOutUntilItEnds) {
  ASSERT_EQ(reg_set_value(base(), "V", kRegSz, "1", 2), err::kSuccess);
  int go[2], ready[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(ready), 0);
  char c;
  // The other process is started before the hold: a fork copies this
  // process's store with the hold in it.
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (read(go[0], &c, 1) != 1) _exit(2);
    _exit(reg_set_value(base(), "V", kRegSz, "2", 2) == err::kSuccess ? 0 : 1);
  }
  {
    RegStoreHold hold;
    ASSERT_EQ(reg_hold_store(RegHoldMode::kExclusive, 1000, &hold), err::kSuccess);
    ASSERT_EQ(write(go[1], "g", 1), 1);
    ::usleep(300 * 1000);
    // The read-modify-write of this side, with the other one waiting.
    EXPECT_EQ(text_of(base(), "V"), "1");
    ASSERT_EQ(reg_set_value(base(), "V", kRegSz, "3", 2), err::kSuccess);
    EXPECT_NE(slurp(file()).find("\"V\"=\"3\""), std::string::npos);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(text_of(base(), "V"), "2") << "the waiting change came after the hold";

  // A hold that cannot be had in time says so.
  child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RegStoreHold hold;
    if (reg_hold_store(RegHoldMode::kShared, 1000, &hold) != err::kSuccess) _exit(1);
    (void)!write(ready[1], "h", 1);
    ::usleep(1500 * 1000);
    _exit(0);
  }
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  RegStoreHold late;
  EXPECT_EQ(reg_hold_store(RegHoldMode::kExclusive, 100, &late), err::kTimeout);
  EXPECT_FALSE(late.held());
  EXPECT_EQ(reg_set_value(base(), "V", kRegSz, "4", 2), err::kSuccess)
      << "a change waits for a shared hold to end";
  ASSERT_EQ(waitpid(child, &status, 0), child);
  for (int fd : {go[0], go[1], ready[0], ready[1]}) ::close(fd);
}

TEST_F(RegistryTest, ChangesOnDiskAreSeenAtTheNextCall) {
  ASSERT_EQ(reg_set_value(base(), "Mine", kRegSz, "1", 2), err::kSuccess);
  std::string text = slurp(file());
  ASSERT_NE(text.find("\"Mine\"=\"1\""), std::string::npos) << "written before the call returns";
  // Another program rewrites the file.
  size_t at = text.find("\"Mine\"=\"1\"");
  text.replace(at, 10, "\"Mine\"=\"2\"\r\n\"Theirs\"=\"x\"");
  spit(file() + ".tmp", text);
  ASSERT_EQ(::rename((file() + ".tmp").c_str(), file().c_str()), 0);
  EXPECT_EQ(text_of(base(), "Mine"), "2");
  EXPECT_EQ(text_of(base(), "Theirs"), "x");
}

TEST_F(RegistryTest, DamagedFileRefusesChangesAndKeepsItsText) {
  ASSERT_EQ(reg_set_value(base(), "Keep", kRegSz, "1", 2), err::kSuccess);
  std::string text = slurp(file()) + "this line is not registry data\r\n";
  spit(file(), text);
  EXPECT_EQ(text_of(base(), "Keep"), "1") << "what can be read is still read";
  EXPECT_EQ(reg_set_value(base(), "New", kRegSz, "1", 2), err::kBadDb);
  EXPECT_EQ(slurp(file()), text) << "nothing lost";
}

TEST_F(RegistryTest, ValuesLongerThanAKilobyteAreStored) {
  std::string big(5000, 'q');
  ASSERT_EQ(reg_set_value(base(), "Big", kRegSz, big.c_str(), 5001), err::kSuccess);
  EXPECT_EQ(text_of(base(), "Big"), big);
}

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNothing) {
  constexpr int kEach = 60;
  pid_t child = fork();
  ASSERT_GE(child, 0);
  const char* who = child == 0 ? "child" : "parent";
  bool ok = true;
  for (int i = 0; i < kEach; ++i) {
    std::string name = std::string(who) + std::to_string(i);
    ok = ok && reg_set_value(base(), name, kRegSz, "v", 2) == err::kSuccess;
  }
  if (child == 0) _exit(ok ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(ok);
  uint32_t values = 0;
  ASSERT_EQ(reg_query_info(base(), nullptr, &values), err::kSuccess);
  EXPECT_EQ(values, 2u * kEach);
}

TEST_F(RegistryTest, LeftoverFromAnInterruptedWriteIsHarmless) {
  ASSERT_EQ(reg_set_value(base(), "A", kRegSz, "1", 2), err::kSuccess);
  spit(file() + ".new", "Windows Registry Editor Version 5.00\r\n[HKEY_CURRENT_USER\\Half");
  EXPECT_EQ(text_of(base(), "A"), "1");
  ASSERT_EQ(reg_set_value(base(), "B", kRegSz, "2", 2), err::kSuccess);
  EXPECT_EQ(text_of(base(), "A"), "1");
  EXPECT_EQ(text_of(base(), "B"), "2");
}

}  // namespace
}  // namespace platform
