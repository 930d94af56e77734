// Where a named event lives on POSIX, for the tests that clean up after
// themselves.
#pragma once

#include <string>

namespace platform::posix {

// "/dev/shm/brisvane-event-<hash of the registry path>-<name>" (or in /tmp
// when there is no /dev/shm).
std::string event_file_path(const std::string& name);

}  // namespace platform::posix
