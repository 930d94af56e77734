// Anonymous pipes: a read end and a write end, for a child's standard
// handles or between two threads. Failures set last_error().
//
// Inheritance: no pipe end ever reaches a child by itself. An end asked to
// be inheritable is one meant to become a child's standard handle;
// process_spawn gives that child a private copy and nothing else. On
// Windows such an end is made for the blocking I/O a child's C runtime
// does, and pipe_wait cannot time out on it; the other ends support
// pipe_wait. On POSIX every end is close-on-exec and the flag changes
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/error.h"

namespace platform {

// A time-out that never passes (INFINITE).
inline constexpr uint32_t kWaitInfinite = 0xFFFFFFFFu;

using PipeHandle = uintptr_t;
inline constexpr PipeHandle kInvalidPipe = ~static_cast<PipeHandle>(0);

bool pipe_create(PipeHandle* read_end, PipeHandle* write_end, bool inherit_read, bool inherit_write);
// Closes either end; the handle is invalid afterwards whatever the result.
bool pipe_close(PipeHandle p);

// Blocks until some data came. Bytes read, 0 once every write end is
// closed and the pipe is empty, or -1.
int64_t pipe_read(PipeHandle read_end, void* buf, size_t len);
// Writes all of `data` (blocking while the pipe is full): `len`, or -1.
// With every read end closed it fails with kBrokenPipe; on POSIX the
// process is not signalled.
int64_t pipe_write(PipeHandle write_end, const void* data, size_t len);

// Bytes that a read would return at once, without waiting. False with
// kBrokenPipe when the pipe is empty and every write end is closed.
bool pipe_peek(PipeHandle read_end, uint32_t* available);

// Waits until a read would not block (data, or the end of the data).
// 1 ready, 0 when `timeout_ms` passed, -1 on error. kWaitInfinite waits
// without limit; 0 only looks.
int pipe_wait(PipeHandle read_end, uint32_t timeout_ms);

}  // namespace platform
