#include <windows.h>

#include "platform/error.h"

namespace platform {

static_assert(err::kFileNotFound == ERROR_FILE_NOT_FOUND && err::kPathNotFound == ERROR_PATH_NOT_FOUND &&
              err::kAccessDenied == ERROR_ACCESS_DENIED && err::kSharingViolation == ERROR_SHARING_VIOLATION &&
              err::kInvalidParameter == ERROR_INVALID_PARAMETER && err::kMoreData == ERROR_MORE_DATA &&
              err::kNoMoreItems == ERROR_NO_MORE_ITEMS && err::kKeyDeleted == ERROR_KEY_DELETED &&
              err::kTimeout == ERROR_TIMEOUT && err::kServiceDoesNotExist == ERROR_SERVICE_DOES_NOT_EXIST &&
              err::kServiceCannotAcceptCtrl == ERROR_SERVICE_CANNOT_ACCEPT_CTRL &&
              err::kServiceNotActive == ERROR_SERVICE_NOT_ACTIVE && err::kServiceExists == ERROR_SERVICE_EXISTS &&
              err::kBadDb == ERROR_BADDB &&
              err::kAlreadyExists == ERROR_ALREADY_EXISTS && err::kFileExists == ERROR_FILE_EXISTS);
static_assert(err::kMaxThrdsReached == ERROR_MAX_THRDS_REACHED && err::kNoData == ERROR_NO_DATA &&
              err::kInvalidIndex == ERROR_INVALID_INDEX && err::kInsufficientBuffer == ERROR_INSUFFICIENT_BUFFER);
static_assert(err::kWsaWouldBlock == 10035 && err::kWsaAddrInUse == 10048 && err::kWsaTimedOut == 10060);

os_error last_error() { return GetLastError(); }
void set_last_error(os_error e) { SetLastError(e); }
void set_library_visible_error(os_error e) { SetLastError(e); }

std::string error_message(os_error e) {
  char* text = nullptr;
  DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, e, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  if (n == 0 || !text) return "Unknown error " + std::to_string(e) + ".";
  std::string out(text, n);
  LocalFree(text);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
    out.pop_back();
  return out;
}

}  // namespace platform
