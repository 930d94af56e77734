#include <windows.h>

#include "platform/error.h"
#include "platform/library.h"

namespace platform {

static_assert(err::kModNotFound == ERROR_MOD_NOT_FOUND && err::kProcNotFound == ERROR_PROC_NOT_FOUND);

LibraryHandle library_load(const std::string& path) {
  return reinterpret_cast<LibraryHandle>(LoadLibraryA(path.c_str()));
}

void* library_symbol(LibraryHandle lib, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(lib), name));
}

void library_free(LibraryHandle lib) {
  if (lib) FreeLibrary(reinterpret_cast<HMODULE>(lib));
}

const char* engine_library_name() { return "VANECORE.DLL"; }

}  // namespace platform
