#!/usr/bin/env bash
# GoAccess, with its standard COMBINED format, reads an access log that a
# running vanehost wrote, and finds every request with its status code.
# usage: goaccess_test.sh STAGE_DIR
set -u
stage=$1
source "$(dirname "$0")/../../../tools/testlib.sh"
need curl python3
if ! command -v goaccess >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  if command -v apt-get >/dev/null && [ "$(id -u)" = 0 ]; then
    apt-get install -y -qq goaccess >/tmp/brisvane-goaccess-apt.log 2>&1 ||
      { apt-get update -qq >/dev/null 2>&1 && apt-get install -y -qq goaccess >>/tmp/brisvane-goaccess-apt.log 2>&1; }
  fi
  command -v goaccess >/dev/null ||
    { echo "SKIP: goaccess is not installed and apt-get could not install it (see /tmp/brisvane-goaccess-apt.log)"; exit 77; }
fi

start_work
# Failures show the log GoAccess was given.
fail() { echo "FAIL: $*"; [ -f "$work/access.log" ] && cat "$work/access.log"; exit 1; }

port=$(free_port)
mkdir -p "$work/docs/sub" "$work/docs/list"
printf 'hello\n' > "$work/docs/page.html"
printf 'index\n' > "$work/docs/sub/index.html"
printf 'x' > "$work/docs/list/one.txt"
root=$profile_root
reg_set "$root\\Network" Port dword "$port"
reg_set "$root\\Virtual\\0000\\Server" DocRoot sz "$work/docs"
reg_set "$root\\Virtual\\0000\\Server" SiteAddress sz "www.example"
# A master user with no name and password lets PUT and DELETE through.
reg_set "$root\\Virtual\\0000\\Server" SecurityType dword 1
reg_set "$root\\Log" AccessLogFileName sz "$work/access.log"
reg_set "$root\\Log" ErrorLogFileName sz "$work/error.log"

start_vanehost "$stage" /page.html

url=http://127.0.0.1:$port
# The probe that found the server answered is the log's first line.
declare -A want=([200]=1)
sent=1
hit() {  # hit EXPECTED_STATUS curl-args...
  local expect=$1; shift
  local code
  code=$(curl -s -o /dev/null -w '%{http_code}' "$@")
  [ "$code" = "$expect" ] || fail "curl $* answered $code, not $expect"
  want[$code]=$(( ${want[$code]:-0} + 1 ))
  sent=$((sent + 1))
}
hit 200 "$url/page.html"
hit 200 -A 'Mozilla/5.0 (X11; "quoted" \ agent)' -e "http://ref.example/a?b=c" "$url/page.html"
hit 206 -r 0-1 "$url/page.html"
lm=$(curl -sI "$url/page.html" | tr -d '\r' | sed -n 's/^Last-Modified: //p')
want[200]=$(( ${want[200]:-0} + 1 )); sent=$((sent + 1))
hit 304 -H "If-Modified-Since: $lm" "$url/page.html"
hit 404 "$url/missing.html"
hit 404 "$url/missing%20with%20space.html"
hit 302 "$url/sub"
hit 200 "$url/sub/"
hit 200 "$url/list/?S=D"
hit 405 -X POST -d 'a=1' "$url/list/"
hit 200 "$url/~stats"
hit 501 "$url/~admin"
hit 201 -T "$work/docs/page.html" "$url/uploaded.html"
hit 200 -X DELETE "$url/uploaded.html"

kill -TERM "$pid"
for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "vanehost did not stop on SIGTERM"
wait "$pid"
pid=

cp "$work/access.log" "$work/run.log"
lines=$(wc -l < "$work/run.log")
[ "$lines" = "$sent" ] || fail "$lines access lines for $sent requests"

goaccess "$work/run.log" --log-format=COMBINED --no-global-config -o "$work/report.json" \
  >"$work/goaccess.out" 2>&1 || { cat "$work/goaccess.out"; fail "goaccess could not read the log"; }

expected=""
for code in "${!want[@]}"; do expected="$expected $code=${want[$code]}"; done
python3 - "$work/report.json" "$sent" "$expected" <<'PY' || fail "goaccess disagrees"
import json, sys
report = json.load(open(sys.argv[1]))
sent = int(sys.argv[2])
want = dict(item.split("=") for item in sys.argv[3].split())
want = {code: int(n) for code, n in want.items()}
general = report["general"]
ok = True
if general["total_requests"] != sent or general["valid_requests"] != sent or general["failed_requests"] != 0:
    print("goaccess counted", general["total_requests"], "requests,", general["valid_requests"], "valid,",
          general["failed_requests"], "failed; sent", sent)
    ok = False
seen = {}
for group in report["status_codes"]["data"]:
    for item in group.get("items", []):
        seen[item["data"].split()[0]] = item["hits"]["count"]
if seen != want:
    print("status codes: goaccess", sorted(seen.items()), "sent", sorted(want.items()))
    ok = False
sys.exit(0 if ok else 1)
PY
echo "PASS: goaccess read $sent requests with status codes$expected"
