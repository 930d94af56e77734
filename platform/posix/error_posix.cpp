#include <cerrno>
#include <cstring>

#include "platform/error.h"
#include "platform/posix/errno_map.h"

namespace platform {
namespace {
thread_local os_error g_last_error = 0;

struct Message {
  os_error code;
  const char* text;
};

// The texts Windows gives for the codes this system reports, so that log
// lines read the same on every platform.
constexpr Message kMessages[] = {
    {0, "The operation completed successfully."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {4, "The system cannot open the file."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {8, "Not enough memory resources are available to process this command."},
    {13, "The data is invalid."},
    {19, "The media is write protected."},
    {32, "The process cannot access the file because it is being used by another process."},
    {33, "The process cannot access the file because another process has locked a portion of the file."},
    {38, "Reached the end of the file."},
    {50, "The request is not supported."},
    {80, "The file exists."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {122, "The data area passed to a system call is too small."},
    {123, "The filename, directory name, or volume label syntax is incorrect."},
    {126, "The specified module could not be found."},
    {127, "The specified procedure could not be found."},
    {145, "The directory is not empty."},
    {161, "The specified path is invalid."},
    {164, "No more threads can be created in the system."},
    {183, "Cannot create a file when that file already exists."},
    {193, "%1 is not a valid Win32 application."},
    {206, "The filename or extension is too long."},
    {232, "The pipe is being closed."},
    {234, "More data is available."},
    {259, "No more data is available."},
    {267, "The directory name is invalid."},
    {1009, "The configuration registry database is corrupt."},
    {1010, "The configuration registry key is invalid."},
    {1011, "The configuration registry key could not be opened."},
    {1012, "The configuration registry key could not be read."},
    {1013, "The configuration registry key could not be written."},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion."},
    {1060, "The specified service does not exist as an installed service."},
    {1061, "The service cannot accept control messages at this time."},
    {1062, "The service has not been started."},
    {1073, "The specified service already exists."},
    {1117, "The request could not be performed because of an I/O device error."},
    {1413, "Invalid index."},
    {1460, "This operation returned because the timeout period expired."},
    {10004, "A blocking operation was interrupted by a call to WSACancelBlockingCall."},
    {10009, "The file handle supplied is not valid."},
    {10013, "An attempt was made to access a socket in a way forbidden by its access permissions."},
    {10014, "The system detected an invalid pointer address in attempting to use a pointer argument in a call."},
    {10022, "An invalid argument was supplied."},
    {10024, "Too many open sockets."},
    {10035, "A non-blocking socket operation could not be completed immediately."},
    {10036, "A blocking operation is currently executing."},
    {10038, "An operation was attempted on something that is not a socket."},
    {10040, "A message sent on a datagram socket was larger than the internal message buffer or some other network limit, or the buffer used to receive a datagram into was smaller than the datagram itself."},
    {10048, "Only one usage of each socket address (protocol/network address/port) is normally permitted."},
    {10049, "The requested address is not valid in its context."},
    {10050, "A socket operation encountered a dead network."},
    {10053, "An established connection was aborted by the software in your host machine."},
    {10054, "An existing connection was forcibly closed by the remote host."},
    {10055, "An operation on a socket could not be performed because the system lacked sufficient buffer space or because a queue was full."},
    {10057, "A request to send or receive data was disallowed because the socket is not connected and (when sending on a datagram socket using a sendto call) no address was supplied."},
    {10058, "A request to send or receive data was disallowed because the socket had already been shut down in that direction with a previous shutdown call."},
    {10060, "A connection attempt failed because the connected party did not properly respond after a period of time, or established connection failed because connected host has failed to respond."},
    {10061, "No connection could be made because the target machine actively refused it."},
    {10065, "A socket operation was attempted to an unreachable host."},
    {10093, "Either the application has not called WSAStartup, or WSAStartup failed."},
    {11001, "No such host is known."},
};

}  // namespace

os_error last_error() { return g_last_error; }
void set_last_error(os_error e) { g_last_error = e; }
void set_library_visible_error(os_error e) {
  g_last_error = e;
  errno = static_cast<int>(e);
}

std::string error_message(os_error e) {
  for (const auto& m : kMessages)
    if (m.code == e) return m.text;
  return "Unknown error " + std::to_string(e) + ".";
}

namespace posix {

os_error from_errno(int e) {
  switch (e) {
    case 0: return err::kSuccess;
    case ENOENT: return err::kFileNotFound;
    case ENOTDIR: return err::kPathNotFound;
    case EMFILE: case ENFILE: return err::kTooManyOpenFiles;
    case EACCES: case EPERM: case EISDIR: return err::kAccessDenied;
    case EBADF: return err::kInvalidHandle;
    case ENOMEM: return err::kNotEnoughMemory;
    case EROFS: return err::kWriteProtect;
    case EWOULDBLOCK: return err::kSharingViolation;
    case EEXIST: return err::kFileExists;
    case EINVAL: return err::kInvalidParameter;
    case EPIPE: return err::kBrokenPipe;
    case ENOSPC: case EDQUOT: return err::kDiskFull;
    case ENAMETOOLONG: return err::kFilenameExcedRange;
    case ENOTEMPTY: return err::kDirNotEmpty;
    case ETIMEDOUT: return err::kTimeout;
    case ENOTSUP: return err::kNotSupported;
    default: return 1117;  // ERROR_IO_DEVICE
  }
}

os_error socket_error_from_errno(int e) {
  switch (e) {
    case 0: return err::kSuccess;
    case EINTR: return err::kWsaInterrupted;
    case EBADF: return err::kWsaBadFile;
    case EACCES: case EPERM: return err::kWsaAccess;
    case EFAULT: return err::kWsaFault;
    case EINVAL: return err::kWsaInvalid;
    case EMFILE: case ENFILE: return err::kWsaTooManyFiles;
    case EWOULDBLOCK: return err::kWsaWouldBlock;
    case EINPROGRESS: case EALREADY: return err::kWsaInProgress;
    case ENOTSOCK: return err::kWsaNotSocket;
    case EMSGSIZE: return err::kWsaMsgSize;
    case EADDRINUSE: return err::kWsaAddrInUse;
    case EADDRNOTAVAIL: return err::kWsaAddrNotAvail;
    case ENETDOWN: return err::kWsaNetDown;
    case ECONNABORTED: return err::kWsaConnAborted;
    case ECONNRESET: case EPIPE: return err::kWsaConnReset;
    case ENOBUFS: case ENOMEM: return err::kWsaNoBufs;
    case ENOTCONN: return err::kWsaNotConnected;
    case ESHUTDOWN: return err::kWsaShutdown;
    case ETIMEDOUT: return err::kWsaTimedOut;
    case ECONNREFUSED: return err::kWsaConnRefused;
    case EHOSTUNREACH: case ENETUNREACH: return err::kWsaHostUnreachable;
    default: return err::kWsaInvalid;
  }
}

os_error set_last_from_errno() {
  os_error e = from_errno(errno);
  set_last_error(e);
  return e;
}

}  // namespace posix
}  // namespace platform
