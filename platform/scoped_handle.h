// Move-only owners of platform handles: the handle is closed when its
// owner goes, so no failure path can leak one. Traits name the handle
// type, the value that means "no handle" and the function that closes.
#pragma once

#include <utility>

#include "platform/event.h"
#include "platform/file.h"
#include "platform/library.h"
#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/socket.h"

namespace platform {

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() noexcept = default;
  explicit ScopedHandle(Handle h) noexcept : h_(h) {}
  ScopedHandle(ScopedHandle&& other) noexcept : h_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ~ScopedHandle() { reset(); }

  Handle get() const noexcept { return h_; }
  explicit operator bool() const noexcept { return h_ != Traits::kInvalid; }

  // Gives the handle up without closing it; the owner is empty afterwards.
  [[nodiscard]] Handle release() noexcept { return std::exchange(h_, Traits::kInvalid); }

  // Closes the handle held (if any) and takes `h`.
  void reset(Handle h = Traits::kInvalid) noexcept {
    Handle old = std::exchange(h_, h);
    if (old != Traits::kInvalid) Traits::close(old);
  }

 private:
  Handle h_ = Traits::kInvalid;
};

struct FileTraits {
  using Handle = FileHandle;
  static constexpr Handle kInvalid = kInvalidFile;
  static void close(Handle h) noexcept { file_close(h); }
};
struct LibraryTraits {
  using Handle = LibraryHandle;
  static constexpr Handle kInvalid = 0;
  static void close(Handle h) noexcept { library_free(h); }
};
struct EventTraits {
  using Handle = EventHandle;
  static constexpr Handle kInvalid = 0;
  static void close(Handle h) noexcept { event_close(h); }
};
struct SocketTraits {
  using Handle = SocketHandle;
  static constexpr Handle kInvalid = kInvalidSocket;
  static void close(Handle h) noexcept { socket_close(h); }
};
struct ProcessTraits {
  using Handle = ProcessHandle;
  static constexpr Handle kInvalid = kInvalidProcess;
  static void close(Handle h) noexcept { process_close(h); }
};
struct PipeTraits {
  using Handle = PipeHandle;
  static constexpr Handle kInvalid = kInvalidPipe;
  static void close(Handle h) noexcept { pipe_close(h); }
};

using ScopedFile = ScopedHandle<FileTraits>;
using ScopedLibrary = ScopedHandle<LibraryTraits>;
using ScopedEvent = ScopedHandle<EventTraits>;
using ScopedSocket = ScopedHandle<SocketTraits>;
using ScopedProcess = ScopedHandle<ProcessTraits>;
using ScopedPipe = ScopedHandle<PipeTraits>;

}  // namespace platform
