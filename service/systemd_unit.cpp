#include "service/systemd_unit.h"

#include "service/service_tool.h"

namespace brisvane {

std::string EscapeForUnit(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '%' || c == '$' || c == '\\') out += c;
    out += c;
  }
  return out;
}

std::string UnescapeFromUnit(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if ((c == '%' || c == '$' || c == '\\') && i + 1 < text.size() && text[i + 1] == c) ++i;
    out += c;
  }
  return out;
}

namespace {

// The program of a host command line: its first word, or the quoted text.
std::string ProgramOf(const std::string& command_line) {
  size_t start = command_line.find_first_not_of(' ');
  if (start == std::string::npos) return {};
  if (command_line[start] == '"') {
    size_t end = command_line.find('"', start + 1);
    return command_line.substr(start + 1, end == std::string::npos ? end : end - start - 1);
  }
  size_t end = command_line.find(' ', start);
  return command_line.substr(start, end == std::string::npos ? end : end - start);
}

// A path list entry; one with blanks is quoted, and specifiers are kept.
std::string PathEntry(const std::string& path) {
  std::string escaped;
  for (char c : path) {
    if (c == '%') escaped += c;
    escaped += c;
  }
  return path.find(' ') == std::string::npos ? escaped : "\"" + escaped + "\"";
}

}  // namespace

std::vector<std::string> WritablePathsFor(const std::string& command_line) {
  std::string program = ProgramOf(command_line);
  size_t slash = program.rfind('/');
  std::string dir = slash == std::string::npos ? std::string(".") : slash == 0 ? "/" : program.substr(0, slash);
  if (dir == "/usr/sbin" || dir == "/usr/bin") return PackagedWritablePaths();
  return {dir};
}

std::string SystemdUnitText(const UnitOptions& options) {
  std::string text =
      "# The Brisvane web server as a systemd service.\n"
      "[Unit]\n"
      "Description=" + std::string(kToolDisplayName) + "\n"
      "After=network.target\n"
      "\n"
      "[Service]\n"
      "Type=simple\n"
      "ExecStart=" + EscapeForUnit(options.command_line) + "\n"
      "ExecReload=/bin/kill -HUP $MAINPID\n"
      "Restart=on-failure\n";
  if (!options.user.empty()) text += "User=" + options.user + "\nGroup=" + options.user + "\n";
  // Ports below 1024 without root, and no other capability for anything the
  // server starts.
  text +=
      "AmbientCapabilities=CAP_NET_BIND_SERVICE\n"
      "CapabilityBoundingSet=CAP_NET_BIND_SERVICE\n"
      "NoNewPrivileges=yes\n"
      // Group members may edit what the server writes (settings, documents).
      "UMask=0007\n"
      "ProtectSystem=strict\n";
  if (!options.writable_paths.empty()) {
    text += "ReadWritePaths=";
    for (size_t i = 0; i < options.writable_paths.size(); ++i)
      text += (i ? " " : "") + PathEntry(options.writable_paths[i]);
    text += "\n";
  }
  // CGI programs still get /tmp (a private one), the network, processes,
  // pipes and the usual system calls; nothing below needs more.
  text +=
      "PrivateTmp=yes\n"
      "ProtectHome=yes\n"
      "PrivateDevices=yes\n"
      "ProtectKernelTunables=yes\n"
      "ProtectKernelModules=yes\n"
      "ProtectKernelLogs=yes\n"
      "ProtectControlGroups=yes\n"
      "ProtectClock=yes\n"
      "ProtectHostname=yes\n"
      "ProtectProc=invisible\n"
      "RestrictNamespaces=yes\n"
      "RestrictRealtime=yes\n"
      "RestrictSUIDSGID=yes\n"
      "LockPersonality=yes\n"
      "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6 AF_NETLINK\n"
      "SystemCallArchitectures=native\n"
      "SystemCallFilter=@system-service\n"
      "SystemCallErrorNumber=EPERM\n"
      "\n"
      "[Install]\n"
      "WantedBy=multi-user.target\n";
  return text;
}

}  // namespace brisvane
