#include <windows.h>

#include <cstdint>

#include "platform/file.h"

namespace platform {

static_assert(kGenericRead == GENERIC_READ && kGenericWrite == GENERIC_WRITE);
static_assert(kShareRead == FILE_SHARE_READ && kShareWrite == FILE_SHARE_WRITE &&
              kShareDelete == FILE_SHARE_DELETE);
static_assert(kCreateNew == CREATE_NEW && kCreateAlways == CREATE_ALWAYS && kOpenExisting == OPEN_EXISTING &&
              kOpenAlways == OPEN_ALWAYS && kTruncateExisting == TRUNCATE_EXISTING);
static_assert(kFlagDeleteOnClose == FILE_FLAG_DELETE_ON_CLOSE &&
              kFlagSequentialScan == FILE_FLAG_SEQUENTIAL_SCAN);
static_assert(kAttrReadOnly == FILE_ATTRIBUTE_READONLY && kAttrHidden == FILE_ATTRIBUTE_HIDDEN &&
              kAttrDirectory == FILE_ATTRIBUTE_DIRECTORY && kInvalidAttributes == INVALID_FILE_ATTRIBUTES);
// kInvalidFile is INVALID_HANDLE_VALUE, all bits set, so handles pass through.

namespace {

HANDLE to_native(FileHandle f) { return reinterpret_cast<HANDLE>(f); }

uint64_t from_filetime(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

HANDLE create(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
              uint32_t flags) {
  return CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
}

}  // namespace

FileHandle file_open(const std::string& path, uint32_t access, uint32_t share, uint32_t disposition,
                     uint32_t flags) {
  HANDLE h = create(path, access, share, disposition, flags);
  if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED && !(access & GENERIC_WRITE) &&
      disposition == OPEN_EXISTING) {
    // A directory opens only with backup semantics. They are added for
    // directories alone: on a file they would let a process holding the
    // backup privilege read past the file's access rights.
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
      h = create(path, access, share, disposition, flags | FILE_FLAG_BACKUP_SEMANTICS);
    else
      SetLastError(ERROR_ACCESS_DENIED);
  }
  return reinterpret_cast<FileHandle>(h);
}

bool file_close(FileHandle f) { return CloseHandle(to_native(f)) != 0; }

bool same_path_text(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

int64_t file_read(FileHandle f, void* buf, size_t len) {
  DWORD got = 0;
  DWORD want = len > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(len);
  if (!ReadFile(to_native(f), buf, want, &got, nullptr)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    return -1;
  }
  return got;
}

int64_t file_write(FileHandle f, const void* data, size_t len) {
  const char* at = static_cast<const char*>(data);
  size_t done = 0;
  while (done < len) {
    size_t left = len - done;
    DWORD chunk = left > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(left);
    DWORD wrote = 0;
    if (!WriteFile(to_native(f), at + done, chunk, &wrote, nullptr)) return -1;
    if (wrote == 0) {
      SetLastError(ERROR_DISK_FULL);
      return -1;
    }
    done += wrote;
  }
  return static_cast<int64_t>(done);
}

bool file_seek(FileHandle f, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(to_native(f), to, nullptr, FILE_BEGIN) != 0;
}

bool file_seek_end(FileHandle f) {
  LARGE_INTEGER zero;
  zero.QuadPart = 0;
  return SetFilePointerEx(to_native(f), zero, nullptr, FILE_END) != 0;
}

bool file_size(FileHandle f, uint64_t* size) {
  LARGE_INTEGER s;
  if (!GetFileSizeEx(to_native(f), &s)) return false;
  *size = static_cast<uint64_t>(s.QuadPart);
  return true;
}

bool file_info(FileHandle f, FileInfo* info) {
  BY_HANDLE_FILE_INFORMATION bhfi;
  if (!GetFileInformationByHandle(to_native(f), &bhfi)) return false;
  info->size = (static_cast<uint64_t>(bhfi.nFileSizeHigh) << 32) | bhfi.nFileSizeLow;
  info->last_write = from_filetime(bhfi.ftLastWriteTime);
  info->attributes = bhfi.dwFileAttributes;
  return true;
}

// The path form has no file index, so neither form uses it: size, times
// and attributes tell versions apart.
bool file_identity(FileHandle f, FileIdentity* id) {
  BY_HANDLE_FILE_INFORMATION bhfi;
  if (!GetFileInformationByHandle(to_native(f), &bhfi)) return false;
  *id = FileIdentity{};
  id->size = (static_cast<uint64_t>(bhfi.nFileSizeHigh) << 32) | bhfi.nFileSizeLow;
  id->last_write = from_filetime(bhfi.ftLastWriteTime);
  id->change = from_filetime(bhfi.ftCreationTime);
  id->attributes = bhfi.dwFileAttributes;
  return true;
}

bool identity_settled(const FileIdentity& id, uint32_t ms) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t now = from_filetime(ft);
  const uint64_t latest = id.last_write > id.change ? id.last_write : id.change;
  return now >= latest && now - latest >= static_cast<uint64_t>(ms) * 10000u;
}

bool path_identity(const std::string& path, FileIdentity* id) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
  *id = FileIdentity{};
  id->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  id->last_write = from_filetime(data.ftLastWriteTime);
  id->change = from_filetime(data.ftCreationTime);
  id->attributes = data.dwFileAttributes;
  return true;
}

int64_t file_read_at(FileHandle f, uint64_t offset, void* buf, size_t len) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD want = len > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(len);
  DWORD got = 0;
  if (!ReadFile(to_native(f), buf, want, &got, &ov)) {
    if (GetLastError() == ERROR_HANDLE_EOF) return 0;
    return -1;
  }
  return static_cast<int64_t>(got);
}

bool file_last_write_time(FileHandle f, uint64_t* time) {
  FILETIME ft;
  if (!GetFileTime(to_native(f), nullptr, nullptr, &ft)) return false;
  *time = from_filetime(ft);
  return true;
}

bool file_flush(FileHandle f) { return FlushFileBuffers(to_native(f)) != 0; }

uint32_t file_attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

bool file_copy(const std::string& from, const std::string& to, bool fail_if_exists) {
  return CopyFileA(from.c_str(), to.c_str(), fail_if_exists) != 0;
}

bool file_delete(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

bool list_directory(const std::string& path, std::vector<DirEntry>* entries) {
  std::string pattern = path;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAA data;
  HANDLE find = FindFirstFileA(pattern.c_str(), &data);
  entries->clear();
  if (find == INVALID_HANDLE_VALUE) {
    // Only a root directory lacks "." and ".."; empty, it finds nothing.
    if (GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    DWORD attrs = GetFileAttributesA(path.c_str());
    if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
      SetLastError(ERROR_PATH_NOT_FOUND);
      return false;
    }
    return true;
  }
  do {
    std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    DirEntry e;
    e.name = std::move(name);
    e.attributes = data.dwFileAttributes;
    e.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    e.last_write = from_filetime(data.ftLastWriteTime);
    entries->push_back(std::move(e));
  } while (FindNextFileA(find, &data));
  DWORD e = GetLastError();
  FindClose(find);
  if (e != ERROR_NO_MORE_FILES) {
    SetLastError(e);
    return false;
  }
  return true;
}

bool temp_directory(std::string* dir) {
  char buf[MAX_PATH + 1];
  DWORD n = GetTempPathA(sizeof buf, buf);
  if (n == 0) return false;
  if (n >= sizeof buf) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  *dir = std::string(buf, n);
  return true;
}

// GetTempFileName's files take the directory's inherited access, which is
// what a new document there gets too; the user's temporary directory is
// private to the user already.
bool temp_file_name(const std::string& dir, const std::string& prefix, std::string* path, bool) {
  char buf[MAX_PATH];
  if (GetTempFileNameA(dir.c_str(), prefix.c_str(), 0, buf) == 0) {
    // A missing directory is a missing path, as on POSIX, not "not a
    // directory".
    if (GetLastError() == ERROR_DIRECTORY && GetFileAttributesA(dir.c_str()) == INVALID_FILE_ATTRIBUTES)
      SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  *path = buf;
  return true;
}

FileHandle temp_file_unnamed(const std::string& dir, const std::string& prefix) {
  std::string path;
  if (!temp_file_name(dir, prefix, &path)) return kInvalidFile;
  // The system deletes a delete-on-close file when its last handle goes,
  // also when the process is ended, so nothing is left behind.
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    DeleteFileA(path.c_str());
    SetLastError(e);
  }
  return reinterpret_cast<FileHandle>(h);
}

bool file_replace(const std::string& from, const std::string& to) {
  // Windows refuses a read-only target; said here, so that every system
  // that runs this code does (Wine replaces one).
  const DWORD attrs = GetFileAttributesA(to.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

FileHandle file_duplicate(FileHandle f) {
  HANDLE copy = INVALID_HANDLE_VALUE;
  HANDLE self = GetCurrentProcess();
  if (!DuplicateHandle(self, to_native(f), self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
    return kInvalidFile;
  return reinterpret_cast<FileHandle>(copy);
}

}  // namespace platform
