// Error currency of the platform layer: Windows system error codes and
// Windows Sockets codes on every backend, so that engine code and its
// messages are the same whatever it runs on.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using os_error = uint32_t;

namespace err {
inline constexpr os_error kSuccess = 0;
inline constexpr os_error kFileNotFound = 2;
inline constexpr os_error kPathNotFound = 3;
inline constexpr os_error kTooManyOpenFiles = 4;
inline constexpr os_error kAccessDenied = 5;
inline constexpr os_error kInvalidHandle = 6;
inline constexpr os_error kNotEnoughMemory = 8;
inline constexpr os_error kInvalidData = 13;
inline constexpr os_error kWriteProtect = 19;
inline constexpr os_error kSharingViolation = 32;
inline constexpr os_error kLockViolation = 33;
inline constexpr os_error kHandleEof = 38;
inline constexpr os_error kNotSupported = 50;
inline constexpr os_error kFileExists = 80;
inline constexpr os_error kInvalidParameter = 87;
inline constexpr os_error kBrokenPipe = 109;
inline constexpr os_error kDiskFull = 112;
inline constexpr os_error kInsufficientBuffer = 122;
inline constexpr os_error kInvalidName = 123;
inline constexpr os_error kModNotFound = 126;
inline constexpr os_error kProcNotFound = 127;
inline constexpr os_error kDirNotEmpty = 145;
inline constexpr os_error kMaxThrdsReached = 164;
inline constexpr os_error kBadPathname = 161;
inline constexpr os_error kAlreadyExists = 183;
inline constexpr os_error kBadExeFormat = 193;
inline constexpr os_error kFilenameExcedRange = 206;
inline constexpr os_error kNoData = 232;
inline constexpr os_error kMoreData = 234;
inline constexpr os_error kNoMoreItems = 259;
inline constexpr os_error kDirectory = 267;
inline constexpr os_error kBadDb = 1009;
inline constexpr os_error kBadKey = 1010;
inline constexpr os_error kCantOpen = 1011;
inline constexpr os_error kCantRead = 1012;
inline constexpr os_error kCantWrite = 1013;
inline constexpr os_error kKeyDeleted = 1018;
inline constexpr os_error kServiceDoesNotExist = 1060;
inline constexpr os_error kServiceCannotAcceptCtrl = 1061;
inline constexpr os_error kServiceNotActive = 1062;
inline constexpr os_error kServiceExists = 1073;
inline constexpr os_error kInvalidIndex = 1413;
inline constexpr os_error kTimeout = 1460;

// Windows Sockets codes.
inline constexpr os_error kWsaInterrupted = 10004;
inline constexpr os_error kWsaBadFile = 10009;
inline constexpr os_error kWsaAccess = 10013;
inline constexpr os_error kWsaFault = 10014;
inline constexpr os_error kWsaInvalid = 10022;
inline constexpr os_error kWsaTooManyFiles = 10024;
inline constexpr os_error kWsaWouldBlock = 10035;
inline constexpr os_error kWsaInProgress = 10036;
inline constexpr os_error kWsaNotSocket = 10038;
inline constexpr os_error kWsaMsgSize = 10040;
inline constexpr os_error kWsaAddrInUse = 10048;
inline constexpr os_error kWsaAddrNotAvail = 10049;
inline constexpr os_error kWsaNetDown = 10050;
inline constexpr os_error kWsaConnAborted = 10053;
inline constexpr os_error kWsaConnReset = 10054;
inline constexpr os_error kWsaNoBufs = 10055;
inline constexpr os_error kWsaNotConnected = 10057;
inline constexpr os_error kWsaShutdown = 10058;
inline constexpr os_error kWsaTimedOut = 10060;
inline constexpr os_error kWsaConnRefused = 10061;
inline constexpr os_error kWsaHostUnreachable = 10065;
inline constexpr os_error kWsaNotInitialised = 10093;
inline constexpr os_error kWsaHostNotFound = 11001;
}  // namespace err

// File-not-found and path-not-found mean the same thing to most callers.
inline bool is_not_found(os_error e) {
  return e == err::kFileNotFound || e == err::kPathNotFound;
}

// The error of the calling thread's last failed platform call.
os_error last_error();
void set_last_error(os_error e);
// Sets the error that a loaded library's own code reads after it called
// into this program: the thread's last error on Windows (GetLastError),
// errno holding the Windows code on POSIX. last_error() reads it too.
void set_library_visible_error(os_error e);

// The system's message text for a code, without the trailing line break.
// Unknown codes give a generic text that names the code.
std::string error_message(os_error e);

}  // namespace platform
