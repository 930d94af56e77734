// What only the POSIX sockets have to prove: a send to a closed peer never
// raises SIGPIPE, no socket leaks into a child program, and running out of
// descriptors is told apart from other accept failures.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include "platform/socket.h"
#include "platform/system.h"

namespace platform {
namespace {

SockAddrV4 loopback() {
  SockAddrV4 a;
  a.addr = host_to_net32(0x7F000001);
  return a;
}

SocketHandle listener(SockAddrV4* where) {
  SocketHandle l = socket_create(true);
  EXPECT_TRUE(socket_bind(l, loopback()));
  EXPECT_TRUE(socket_listen(l, 5));
  EXPECT_TRUE(socket_local_address(l, where));
  return l;
}

TEST(SocketPosix, SendingToAClosedPeerFailsWithoutSignal) {
  // In a child with SIGPIPE at its default, which ends the process: the
  // program that runs the tests may have it ignored.
  pid_t pid = fork();
  if (pid == 0) {
    signal(SIGPIPE, SIG_DFL);
    SockAddrV4 where;
    SocketHandle l = listener(&where);
    SocketHandle client = socket_create(true);
    if (!socket_connect(client, where)) _exit(2);
    SocketHandle server = socket_accept(l);
    socket_set_linger(server, true, 0);  // close with a reset
    socket_close(server);
    // The first sends may still be taken; a later one meets the reset.
    int64_t n = 0;
    for (int i = 0; i < 50 && n >= 0; ++i) {
      n = socket_send(client, "data", 4);
      sleep_ms(10);
    }
    if (n != -1 || socket_last_error() != err::kWsaConnReset) _exit(1);
    // Once the reset was reported, sends fail with EPIPE, the error that
    // raises the signal.
    n = socket_send(client, "more", 4);
    _exit(n == -1 && socket_last_error() == err::kWsaConnReset ? 0 : 3);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_FALSE(WIFSIGNALED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
}

TEST(SocketPosix, SocketsAreCloseOnExec) {
  SockAddrV4 where;
  SocketHandle l = listener(&where);
  SocketHandle client = socket_create(true);
  ASSERT_TRUE(socket_connect(client, where));
  SocketHandle server = socket_accept(l);
  for (SocketHandle s : {l, client, server}) {
    EXPECT_TRUE(fcntl(static_cast<int>(s), F_GETFD) & FD_CLOEXEC);
    socket_close(s);
  }
}

TEST(SocketPosix, AcceptToldOutOfDescriptorsAcceptsWhenTheyComeBack) {
  // In a child: the descriptor limit is the process's.
  pid_t pid = fork();
  if (pid == 0) {
    SockAddrV4 where;
    SocketHandle l = listener(&where);
    SocketHandle client = socket_create(true);
    if (!socket_connect(client, where)) _exit(2);
    rlimit saved{};
    if (getrlimit(RLIMIT_NOFILE, &saved) != 0) _exit(2);
    int lowest_free = dup(0);
    close(lowest_free);
    rlimit tight = saved;
    tight.rlim_cur = static_cast<rlim_t>(lowest_free);
    if (setrlimit(RLIMIT_NOFILE, &tight) != 0) _exit(2);
    SocketHandle accepted = kInvalidSocket;
    AcceptOutcome out = socket_accept_connection(l, &accepted);
    if (out != AcceptOutcome::kNoResources || socket_last_error() != err::kWsaTooManyFiles) _exit(3);
    if (setrlimit(RLIMIT_NOFILE, &saved) != 0) _exit(2);
    // The connection waited in the queue meanwhile.
    if (socket_accept_connection(l, &accepted) != AcceptOutcome::kAccepted) _exit(4);
    _exit(fcntl(static_cast<int>(accepted), F_GETFL) & O_NONBLOCK ? 0 : 5);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
}

}  // namespace
}  // namespace platform
