// What the script tests look at outside the server: conditions that come
// true a moment after a response, and what this process holds
// (descriptors, children, memory).
#pragma once

#include <functional>
#include <map>
#include <string>

namespace brisvane::testing {

// The server releases a request's resources just after its client has
// the whole response: true once `condition` holds, within 10 seconds.
bool Eventually(const std::function<bool()>& condition);

// "NAME=value" lines of a body; a later line wins.
std::map<std::string, std::string> ParseLines(const std::string& body);

// Open descriptors of this process, or -1 where that cannot be seen.
int OpenDescriptors();
// Threads of this process, or -1 where unknown.
int LiveThreads();
// Live (not yet reaped) children of this process, or -1 where unknown.
int ChildProcesses();
// Resident memory of this process in KiB, or -1 where unknown.
long ResidentKib();
// True while a process with this id exists and has not ended (POSIX).
bool ProcessAlive(long pid);

}  // namespace brisvane::testing
