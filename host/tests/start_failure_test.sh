#!/usr/bin/env bash
# A vanehost whose engine cannot start ends with exit status 1 and says why,
# in application mode and with -s, so that a service manager sees the
# failure: once with its port held by another program, once with a
# registry file that cannot be read.
# usage: start_failure_test.sh STAGE_DIR
set -u
stage=$1
source "$(dirname "$0")/../../tools/testlib.sh"
need python3 timeout
start_work

# run_failing WHAT ARGS...: runs vanehost, which must end by itself with 1.
run_failing() {
  local what=$1 rc=0; shift
  timeout 20 "$stage/vanehost" "$@" >"$work/out.log" 2>&1 || rc=$?
  [ "$rc" = 124 ] && fail "$what: vanehost kept running"
  [ "$rc" = 1 ] || fail "$what: exit status $rc, not 1"
  grep -q "Could not start server" "$work/out.log" || fail "$what: no word of the failure"
}

port=$(free_port)
mkdir -p "$work/docs"
reg_set "$profile_root\\Network" Port dword "$port"
reg_set "$profile_root\\Virtual\\0000\\Server" DocRoot sz "$work/docs"
reg_set "$profile_root\\Log" ErrorLogFileName sz "$work/error.log"
reg_set "$profile_root\\Log" AccessLogFileName sz "$work/access.log"

# Another program listens on the port.
python3 -c '
import socket, sys, time
s = socket.socket()
s.bind(("0.0.0.0", int(sys.argv[1])))
s.listen()
print("ready", flush=True)
time.sleep(60)' "$port" >"$work/holder.log" 2>&1 &
holder=$!
trap 'kill $holder 2>/dev/null; testlib_cleanup' EXIT
for _ in $(seq 1 50); do grep -q ready "$work/holder.log" && break; sleep 0.1; done
grep -q ready "$work/holder.log" || fail "could not hold port $port"

for mode in application service; do
  args=(); [ "$mode" = service ] && args=(-s)
  rm -f "$work/error.log"
  run_failing "taken port ($mode)" "${args[@]}"
  grep -q "Unable to bind socket - " "$work/out.log" || fail "taken port ($mode): the console does not say why"
  grep -q "Unable to bind socket - " "$work/error.log" || fail "taken port ($mode): the error log does not say why"
done
kill "$holder" 2>/dev/null

# A registry file that is garbage from its first byte.
head -c 4096 /dev/urandom | tr -d '[]' >"$BRISVANE_REGISTRY"
run_failing "garbage registry (application)"
grep -q "Fatal error reading from registry" "$work/out.log" || fail "garbage registry: the console does not say why"
run_failing "garbage registry (service)" -s
echo "a start that cannot serve ends vanehost with status 1"
