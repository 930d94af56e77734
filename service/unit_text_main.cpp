// Prints the systemd unit for a host command line, as the service tool
// writes it, for the system package: brisvane_unit_text "/usr/sbin/vanehost -s"
#include <cstdio>
#include <string>

#include "service/systemd_unit.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: brisvane_unit_text \"HOST COMMAND LINE\"\n");
    return 2;
  }
  const std::string command_line = argv[1];
  brisvane::UnitOptions unit{command_line, brisvane::kServiceUser,
                             brisvane::WritablePathsFor(command_line)};
  std::string text = brisvane::SystemdUnitText(unit);
  std::fwrite(text.data(), 1, text.size(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
