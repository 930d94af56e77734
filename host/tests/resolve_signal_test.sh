#!/usr/bin/env bash
# SIGUSR2 makes a running vanehost resolve its dynamic address at once. The
# host itself, on loopback, is the bounce site; with DynamicIP on, the
# address is saved into the virtual server that follows it.
# usage: resolve_signal_test.sh STAGE_DIR
set -u
stage=$1
source "$(dirname "$0")/../../tools/testlib.sh"
need curl python3
start_work

port=$(free_port)
mkdir -p "$work/docs"
echo hi >"$work/docs/index.html"
reg_set "$profile_root\\Network" Port dword "$port"
reg_set "$profile_root\\Virtual\\0000\\Server" DocRoot sz "$work/docs"
reg_set "$profile_root\\Virtual\\0000\\Server" UseDynamicIP dword 1
reg_set "$profile_root\\Virtual\\0000\\Server" SiteIP sz 10.9.9.9
reg_set "$profile_root\\Log" TraceLogMask dword 1
reg_set "$profile_root\\Log" TraceLogFileName sz "$work/trace.log"
reg_set "$profile_root\\Log" ErrorLogFileName sz "$work/error.log"
reg_set "$profile_root\\Log" AccessLogFileName sz "$work/access.log"
reg_set "$profile_root\\Server" BounceSite sz 127.0.0.1
reg_set "$profile_root\\Server" BouncePort dword "$port"
reg_set "$profile_root\\Dynamic" DynamicIP dword 1
start_vanehost "$stage" /

# The engine resolves at start before it listens, so the first attempt,
# against itself, finds nobody; the signal asks again once it listens.
grep -q "Could not resolve dynamic IP address using bounce site 127.0.0.1 port $port" "$work/out.log" ||
  fail "no attempt at start"
grep -q '"SiteIP"="127.0.0.1"' "$BRISVANE_REGISTRY" && fail "saved before any address was found"
kill -USR2 "$pid"
for _ in $(seq 1 50); do
  grep -q 'Resolved dynamic IP address \[127.0.0.1\]' "$work/out.log" && break
  sleep 0.1
done
grep -q 'Resolved dynamic IP address \[127.0.0.1\]' "$work/out.log" || fail "SIGUSR2 did not resolve"
curl -sf "http://127.0.0.1:$port/" >/dev/null || fail "the server stopped answering"
stop_vanehost
grep -q '"SiteIP"="127.0.0.1"' "$BRISVANE_REGISTRY" || fail "the address was not saved: $(grep -i siteip "$BRISVANE_REGISTRY")"
echo "SIGUSR2 resolved the dynamic address"
