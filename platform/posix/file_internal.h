// What the other POSIX units need to know about an open file.
#pragma once

#include "platform/file.h"

namespace platform::posix {

// The descriptor behind an open file handle, or -1 for an invalid handle.
int file_descriptor(FileHandle f);

// 100-ns units since 1601 (UTC) for a POSIX time.
uint64_t filetime_from_timespec(long long sec, long nsec);

}  // namespace platform::posix
