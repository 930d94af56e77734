# free_ports N: N distinct loopback ports that were free a moment ago, on
# one line (all bound at once, so none repeats). Sourced, not run.
free_ports() {
  python3 - "$1" <<'PY'
import socket, sys
socks = []
for _ in range(int(sys.argv[1])):
    s = socket.socket()
    s.bind(('127.0.0.1', 0))
    socks.append(s)
print(*(s.getsockname()[1] for s in socks))
PY
}
