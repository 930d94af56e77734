// Named manual-reset events, shared between processes. On POSIX the name
// is scoped to the registry file in use, so that two installations (or two
// test runs) never signal each other.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using EventHandle = uintptr_t;

// Creates the event, or opens it when it exists already. Manual reset,
// initially not signalled when created. On Windows any local user may open
// it; on POSIX only those who may write the registry file (its backing file
// takes the registry file's owner and mode), and an existing file of
// another owner with wider access is refused with kAccessDenied.
EventHandle event_create(const std::string& name);
// Opens an existing event; 0 when there is none.
EventHandle event_open(const std::string& name);
bool event_set(EventHandle e);
bool event_reset(EventHandle e);
// True when signalled; never waits.
bool event_is_set(EventHandle e);
// Closing the handle that created the event removes its POSIX backing file,
// so that nothing stays behind; handles still open keep working.
void event_close(EventHandle e);

// Removes what keeps a named event alive between processes where the
// system does not do so itself (the POSIX backing file); nothing on
// Windows. For test clean-up: a running server still polling the event
// would no longer see it signalled.
void event_discard(const std::string& name);

}  // namespace platform
