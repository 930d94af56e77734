# Shared steps of the shell tests that run a real vanehost: sourced, not run.
#   need TOOL...           skip (exit 77) when a tool is missing
#   start_work             a temporary directory $work, removed on exit with the server
#   fail TEXT              report and exit 1 (shows the tail of $work/out.log)
#   free_port              a free loopback port
#   reg_set KEY NAME T V   one value in $BRISVANE_REGISTRY (T is dword or sz)
#   start_vanehost STAGE URL_PATH
#                          starts STAGE/vanehost on $port and waits until URL_PATH answers
#   stop_vanehost          SIGTERM; fails unless it ends within 10 s with exit code 0

testlib_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
profile_root='HKEY_LOCAL_MACHINE\SOFTWARE\Halvex\Brisvane\2.0\Default'

need() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
  done
}

start_work() {
  work=$(mktemp -d)
  pid=
  trap 'testlib_cleanup' EXIT
  export BRISVANE_REGISTRY=$work/registry.reg
}

testlib_cleanup() {
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null
  rm -rf "$work"
}

fail() {
  echo "FAIL: $*"
  [ -f "$work/out.log" ] && tail -20 "$work/out.log"
  exit 1
}

. "$testlib_dir/ports.sh"
free_port() { free_ports 1; }

reg_set() { python3 "$testlib_dir/reg_set.py" "$BRISVANE_REGISTRY" "$@" || fail "reg_set $*"; }

start_vanehost() {
  local stage=$1 probe=${2:-/}
  "$stage/vanehost" >"$work/out.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 100); do
    curl -s -o /dev/null "http://127.0.0.1:$port$probe" && return 0
    sleep 0.1
  done
  fail "vanehost did not answer on port $port"
}

stop_vanehost() {
  kill -TERM "$pid"
  for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$pid" 2>/dev/null && fail "vanehost did not stop on SIGTERM"
  local rc=0
  wait "$pid" || rc=$?
  pid=
  [ "$rc" = 0 ] || fail "vanehost exited with $rc"
}
