// A sample Windows CGI program: shows the profile the server wrote for the
// request as an HTML page. The server starts it as
//   profile_echo PROFILE CONTENT OUTPUT [QUERY]
// and sends what it writes to OUTPUT once it has ended: header lines, an
// empty line, then the page. Plain C++, so the same source serves Windows
// and POSIX installs.
#include <fstream>
#include <string>

namespace {

std::string Html(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// Every "[Section]" a heading and every "Key=value" a row of its table.
std::string Page(std::ifstream& profile) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><title>Windows CGI profile</title></head><body>\n"
      "<h1>Windows CGI profile</h1>\n";
  bool open_table = false;
  std::string line;
  while (std::getline(profile, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > 1 && line.front() == '[' && line.back() == ']') {
      if (open_table) page += "</table>\n";
      page += "<h2>" + Html(line.substr(1, line.size() - 2)) + "</h2>\n<table>\n";
      open_table = true;
      continue;
    }
    const size_t eq = line.find('=');
    if (eq == std::string::npos || !open_table) continue;
    page += "<tr><th>" + Html(line.substr(0, eq)) + "</th><td>" + Html(line.substr(eq + 1)) + "</td></tr>\n";
  }
  if (open_table) page += "</table>\n";
  return page + "</body></html>\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) return 2;
  std::ifstream profile(argv[1], std::ios::binary);
  std::ofstream output(argv[3], std::ios::binary | std::ios::trunc);
  if (!profile || !output) return 1;
  output << "Content-Type: text/html\r\n\r\n" << Page(profile);
  return output ? 0 : 1;
}
