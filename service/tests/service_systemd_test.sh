#!/usr/bin/env bash
# The service tool on Linux: the systemd unit it writes (checked with
# systemd-analyze verify when that runs here), query, and delete of a
# running and then a stopped service through a recording systemctl; without
# systemd it says so and still writes and removes the unit.
# usage: service_systemd_test.sh STAGE_DIR
set -u
stage=$1
source "$(dirname "$0")/../../tools/testlib.sh"
start_work
export BRISVANE_UNIT_DIR=$work/units
mkdir -p "$BRISVANE_UNIT_DIR"
unit=$BRISVANE_UNIT_DIR/brisvane.service
tool() { "$stage/service" "$@" >"$work/out.log" 2>&1; rc=$?; out=$(cat "$work/out.log"); }
expect() { [ "$out" = "$1" ] || fail "expected [$1], got [$out]"; }
nl=$'\n'
user_note=
getent passwd brisvane >/dev/null || user_note="There is no user brisvane: the service will run as root.${nl}"
notice='systemd is not running: the unit file is written or removed, but not enabled, started or stopped.'

# Without systemd. On a machine where systemd runs, this part would reach
# the real systemctl, so it is left to the part with the recording one.
if [ ! -d /run/systemd/system ]; then
  tool q
  expect "$notice${nl}Brisvane Professional service is not installed"
  cmd="$stage/vanehost -p 100%\$HOME -s"
  tool a "$cmd"
  # The unit names the system user only when there is one, and says so.
  if [ -z "$user_note" ]; then
    grep -qx 'User=brisvane' "$unit" && grep -qx 'Group=brisvane' "$unit" || fail "no User=/Group= for the existing user"
  else
    grep -q '^User=\|^Group=' "$unit" && fail "User= for a user that does not exist"
  fi
  expect "$notice${nl}${user_note}Brisvane Professional service installed${nl}Command Line: [$cmd]${nl}You must either reboot or use the control panel to start Brisvane Professional."
  # Everything read-only but the install directory, where logs, documents
  # and the registry file live.
  grep -qx 'ProtectSystem=strict' "$unit" || fail "no ProtectSystem=strict"
  grep -qxF "ReadWritePaths=$stage" "$unit" || fail "writable: $(grep ReadWritePaths "$unit")"
  grep -qx 'AmbientCapabilities=CAP_NET_BIND_SERVICE' "$unit" || fail "no port binding capability"
  grep -qx 'Type=simple' "$unit" || fail "no Type=simple"
  grep -qx 'Restart=on-failure' "$unit" || fail "no restart on failure"
  grep -qx 'ExecReload=/bin/kill -HUP $MAINPID' "$unit" || fail "no reload by SIGHUP"
  grep -qxF "ExecStart=$stage/vanehost -p 100%%\$\$HOME -s" "$unit" || fail "ExecStart: $(grep ExecStart "$unit")"
  if command -v systemd-analyze >/dev/null; then
    # verify also checks that the program exists and is executable.
    systemd-analyze verify "$unit" >"$work/verify.log" 2>&1 || { cat "$work/verify.log"; fail "systemd-analyze verify"; }
    echo "unit verified with systemd-analyze"
  fi
  tool q
  expect "$notice${nl}Brisvane Professional service installed${nl}State: 1${nl}Command Line: [$cmd]"
  tool a "$cmd"
  expect "$notice${nl}The specified service already exists."
  tool d
  expect "$notice${nl}Brisvane Professional service removed"
  [ -e "$unit" ] && fail "unit left behind"
  tool d
  expect "$notice${nl}The specified service does not exist as an installed service."
fi

# With systemd, through a systemctl that records its arguments and reports
# the state kept in $work/state.
cat >"$work/systemctl" <<SH
#!/bin/sh
echo "\$*" >>"$work/calls"
[ "\$1" = is-active ] && { cat "$work/state"; [ "\$(cat "$work/state")" = active ]; exit \$?; }
exit 0
SH
chmod +x "$work/systemctl"
export BRISVANE_SYSTEMCTL=$work/systemctl
echo active >"$work/state"
tool a "$stage/vanehost -s"
[ "$rc" = 0 ] || fail "exit code $rc"
expect "${user_note}Brisvane Professional service installed${nl}Command Line: [$stage/vanehost -s]${nl}You must either reboot or use the control panel to start Brisvane Professional."
[ "$(cat "$work/calls")" = "daemon-reload${nl}enable brisvane.service" ] || fail "calls: $(cat "$work/calls")"
tool q
expect "Brisvane Professional service installed${nl}State: 4${nl}Command Line: [$stage/vanehost -s]"
: >"$work/calls"
tool delete
expect "Service is still running.  Sending stop request..."
[ -e "$unit" ] || fail "a running service was removed"
grep -qx 'stop --no-block brisvane.service' "$work/calls" || fail "no stop: $(cat "$work/calls")"
echo inactive >"$work/state"
tool d
expect "Brisvane Professional service removed"
[ -e "$unit" ] && fail "unit left behind"
grep -qx 'disable brisvane.service' "$work/calls" || fail "not disabled: $(cat "$work/calls")"

# A unit folder that is not there is a service manager that cannot be opened.
BRISVANE_UNIT_DIR=$work/none tool q
[ "$rc" = 1 ] || fail "exit code $rc for a missing unit folder"
case "$out" in "Error opening service control manager: "*) ;; *) fail "got [$out]" ;; esac
echo "service tool on Linux: all checks passed"
