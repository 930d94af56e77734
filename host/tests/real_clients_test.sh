#!/usr/bin/env bash
# curl and wget against a running vanehost: a document, a byte range, an
# upload with PUT, a directory's default document, and a clean stop.
# usage: real_clients_test.sh STAGE_DIR
set -u
stage=$1
source "$(dirname "$0")/../../tools/testlib.sh"
need curl wget python3
start_work

port=$(free_port)
mkdir -p "$work/docs/sub"
printf 'hello from brisvane\n' > "$work/docs/sub/index.html"
head -c 10000 /dev/urandom > "$work/docs/blob.bin"
reg_set "$profile_root\\Network" Port dword "$port"
reg_set "$profile_root\\Virtual\\0000\\Server" DocRoot sz "$work/docs"
# Master-user security without a master account: uploads are allowed.
reg_set "$profile_root\\Virtual\\0000\\Server" SecurityType dword 1
reg_set "$profile_root\\Log" AccessLogFileName sz "$work/access.log"
reg_set "$profile_root\\Log" ErrorLogFileName sz "$work/error.log"
start_vanehost "$stage" /

url=http://127.0.0.1:$port
curl -sf "$url/blob.bin" -o "$work/got.bin" || fail "curl GET"
cmp -s "$work/got.bin" "$work/docs/blob.bin" || fail "document differs"
curl -sf -r 100-199 "$url/blob.bin" -o "$work/range.bin" || fail "curl range"
cmp -s "$work/range.bin" <(tail -c +101 "$work/docs/blob.bin" | head -c 100) || fail "range differs"
code=$(curl -s -o /dev/null -w '%{http_code}' -T "$work/docs/blob.bin" "$url/uploaded.bin")
[ "$code" = 201 ] || fail "curl -T answered $code"
cmp -s "$work/docs/uploaded.bin" "$work/docs/blob.bin" || fail "upload differs"
(cd "$work" && wget -q "$url/sub/" -O wget.html) || fail "wget"
grep -q 'hello from brisvane' "$work/wget.html" || fail "wget got the wrong page"
code=$(curl -s -o /dev/null -w '%{http_code}' "$url/sub")
[ "$code" = 302 ] || fail "directory without slash answered $code"
grep -q '"GET /blob.bin HTTP/1.1" 200 10000' "$work/access.log" || fail "no access line for the GET"

stop_vanehost
echo "PASS"
