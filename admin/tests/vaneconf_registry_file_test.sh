#!/usr/bin/env bash
# The registry file under several writers and by hand: twenty vaneconf runs
# at once (with and without a server running) all keep their change; a
# writer that cannot get the file in time fails and says so; rewrites keep
# the file's owner, group and mode and the shipped file is staged private;
# `check` lists repeated sections and values and mistyped settings.
# usage: vaneconf_registry_file_test.sh STAGE_DIR SOURCE_DIR
set -u
stage=$1
source_dir=$2
source "$(dirname "$0")/../../tools/testlib.sh"
need curl python3 stat
start_work

vc() { "$stage/vaneconf" "$@"; }
mode_of() { stat -c %a "$1"; }

# parallel_adds TAG: twenty `map Redir add` at once; each must succeed and
# every entry must be there afterwards.
parallel_adds() {
  local tag=$1 pids=() i rc
  for i in $(seq 1 20); do
    vc map Redir add "/$tag$i" "http://example.org/$i" 2>"$work/err$i" &
    pids+=($!)
  done
  for i in $(seq 1 20); do
    rc=0; wait "${pids[$((i - 1))]}" || rc=$?
    [ "$rc" = 0 ] || fail "$tag: run $i exited with $rc: $(cat "$work/err$i")"
  done
  local n
  n=$(vc map Redir list | grep -c "^/$tag[0-9]*	")
  [ "$n" = 20 ] || fail "$tag: $n of 20 parallel entries kept"
}

port=$(free_port)
mkdir -p "$work/docs"
printf 'page\n' > "$work/docs/index.html"
vc set Port "$port" >/dev/null || fail "set Port"
vc set DocRoot "$work/docs" || fail "set DocRoot"
vc set ErrorLogFileName "$work/error.log" || fail "set ErrorLogFileName"
vc set AccessLogFileName "$work/access.log" || fail "set AccessLogFileName"
[ "$(mode_of "$BRISVANE_REGISTRY")" = 600 ] || fail "a new registry file is $(mode_of "$BRISVANE_REGISTRY")"

parallel_adds idle
start_vanehost "$stage" /
parallel_adds busy
stop_vanehost

# A writer that waits in vain: refused with status 1, the file untouched.
cp "$BRISVANE_REGISTRY" "$work/before.reg"
python3 - "$BRISVANE_REGISTRY.lock" "$work/locked" <<'PY' &
import fcntl, os, sys, time
fd = os.open(sys.argv[1], os.O_RDWR | os.O_CREAT, 0o600)
fcntl.flock(fd, fcntl.LOCK_EX)
open(sys.argv[2], "w").close()
time.sleep(30)
PY
holder=$!
for _ in $(seq 1 50); do [ -f "$work/locked" ] && break; sleep 0.1; done
rc=0
vc set Port 1 2>"$work/err" || rc=$?
kill "$holder" 2>/dev/null; wait "$holder" 2>/dev/null
[ "$rc" = 1 ] || fail "a locked-out writer exited with $rc"
grep -q 'another program' "$work/err" || fail "locked-out message: $(cat "$work/err")"
cmp -s "$BRISVANE_REGISTRY" "$work/before.reg" || fail "a locked-out writer changed the file"

# Owner, group and mode survive a rewrite, whatever the umask.
chmod 660 "$BRISVANE_REGISTRY"
(umask 027; vc set Port 2) || fail "set Port 2"
[ "$(mode_of "$BRISVANE_REGISTRY")" = 660 ] || fail "mode 660 became $(mode_of "$BRISVANE_REGISTRY")"
if [ "$(id -u)" = 0 ] && id nobody >/dev/null 2>&1; then
  chown nobody:nogroup "$BRISVANE_REGISTRY" 2>/dev/null || chown nobody "$BRISVANE_REGISTRY"
  want=$(stat -c %U:%G "$BRISVANE_REGISTRY")
  vc set Port 3 || fail "set Port 3"
  [ "$(stat -c %U:%G "$BRISVANE_REGISTRY")" = "$want" ] || fail "owner became $(stat -c %U:%G "$BRISVANE_REGISTRY")"
fi

# The shipped file is staged for its owner only.
cmake -DSRC="$source_dir/dist-posix/registry.reg" -DDST="$work/staged.reg" \
  -P "$source_dir/cmake/stage_registry.cmake" || fail "staging"
[ "$(mode_of "$work/staged.reg")" = 600 ] || fail "staged registry.reg is $(mode_of "$work/staged.reg")"

# check: readable but doubtful lines, with their numbers.
cat > "$work/doubtful.reg" <<'REG'
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\SOFTWARE\Halvex\Brisvane\2.0\Default\Network]
"Port"=dword:00001f90
"RecvTimeOut"="15000"
"Port"=dword:00001f91

[HKEY_LOCAL_MACHINE\SOFTWARE\Halvex\Brisvane\2.0\Default\Virtual\0000\Server]
"DocRoot"=dword:00000001
"FutureValue"="any type goes"

[HKEY_LOCAL_MACHINE\SOFTWARE\Halvex\Brisvane\2.0\Default\Network]
"KeepAlive"=dword:00001388
REG
rc=0
BRISVANE_REGISTRY=$work/doubtful.reg vc check >"$work/out" 2>"$work/err" || rc=$?
[ "$rc" = 1 ] || fail "check on doubtful lines exited with $rc: $(cat "$work/out")"
for line in 5 6 9 12; do
  grep -q ": line $line: " "$work/out" || fail "check missed line $line: $(cat "$work/out")"
done
[ "$(grep -c ': line [0-9]*: ' "$work/out")" = 4 ] || fail "check listed: $(cat "$work/out")"
grep -q 'line 6: value "Port" .*again (before at line 4)' "$work/out" || fail "repeat text: $(cat "$work/out")"
grep -q 'line 12: section .*again (before at line 3)' "$work/out" || fail "section text: $(cat "$work/out")"
grep -q 'line 5: value "RecvTimeOut" is text where a number (dword) is expected' "$work/out" ||
  fail "type text: $(cat "$work/out")"
echo "PASS"
