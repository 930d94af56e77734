// Reason phrases for the status line and error pages.
#pragma once

namespace brisvane {

// The server's own reason phrase for `code`; "Unclassified Error" for any
// code it does not send itself. Never null.
const char* DefaultStatusText(int code);

}  // namespace brisvane
