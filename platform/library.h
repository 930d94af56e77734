// Dynamic libraries: load, look up an export, unload.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using LibraryHandle = uintptr_t;

// 0 on failure, with last_error() set (kFileNotFound, ...).
LibraryHandle library_load(const std::string& path);
// nullptr when the export is missing, with last_error() set.
void* library_symbol(LibraryHandle lib, const char* name);
void library_free(LibraryHandle lib);

// The file name of the engine library on this platform
// ("VANECORE.DLL" or "libvanecore.so").
const char* engine_library_name();

}  // namespace platform
