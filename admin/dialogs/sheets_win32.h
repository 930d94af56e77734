// The property sheets of vaneconf. Each edits the record it is given in
// place; the caller passes a copy and keeps it only when the call returns
// true (the sheet ended with OK).
#pragma once

#include <windows.h>

#include "config/server_settings.h"

namespace brisvane::admin {

// Pages Network, System, Logging, External, MIME, Icons, Dynamic IP,
// Advanced; captioned "Global".
bool RunGlobalSheet(HWND owner, ServerSettings* copy);

// Pages Server, Security, five pair lists, Indexing, Users and Groups,
// Access Control List; captioned with the server's name.
bool RunServerSheet(HWND owner, VirtualServerConfig* copy);

}  // namespace brisvane::admin
