// Backup and restore of the whole configuration tree, every profile
// included: on Windows a registry hive file, on POSIX the registry export
// format that the store itself is kept in.
#pragma once

#include <string>

#include "platform/error.h"

namespace brisvane {

// Saves SOFTWARE\Halvex\Brisvane\2.0 into `file`, which must not exist yet.
// A failure is shown with the system's text in a box captioned
// "BackupConfiguration"; `error` (optional) receives its code.
bool BackupConfiguration(const std::string& file, platform::os_error* error = nullptr);

// Replaces the whole tree with the one saved in `file`. A file that cannot
// be read as a backup is refused and the registry stays as it was; a
// running engine sees the old or the restored tree at its next reload,
// never a mixture. Failures are shown in a box captioned
// "RestoreConfiguration".
bool RestoreConfiguration(const std::string& file, platform::os_error* error = nullptr);

}  // namespace brisvane
