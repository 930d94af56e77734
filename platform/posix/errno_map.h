// errno onto the Windows codes that the platform layer speaks.
#pragma once

#include "platform/error.h"

namespace platform::posix {

os_error from_errno(int e);
// Socket calls report their errors as Windows Sockets codes.
os_error socket_error_from_errno(int e);

// Records errno's Windows code as the thread's last error and returns it.
os_error set_last_from_errno();

}  // namespace platform::posix
