#include <dlfcn.h>

#include "platform/error.h"
#include "platform/library.h"

namespace platform {

LibraryHandle library_load(const std::string& path) {
  void* lib = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  // dlopen tells no errno; whatever the cause, Windows would say the
  // module could not be found (or loaded).
  if (!lib) set_last_error(err::kModNotFound);
  return reinterpret_cast<LibraryHandle>(lib);
}

void* library_symbol(LibraryHandle lib, const char* name) {
  ::dlerror();
  void* sym = ::dlsym(reinterpret_cast<void*>(lib), name);
  if (!sym) set_last_error(err::kProcNotFound);
  return sym;
}

void library_free(LibraryHandle lib) {
  if (lib) ::dlclose(reinterpret_cast<void*>(lib));
}

const char* engine_library_name() { return "libvanecore.so"; }

}  // namespace platform
