#!/usr/bin/env bash
# curl's Basic authentication against a running vanehost in access-list
# mode: the challenge, credentials sent up front and after a challenge,
# wrong passwords, rights per user and group, and writes outside any entry.
# usage: auth_clients_test.sh STAGE_DIR
set -u
stage=$1
source "$(dirname "$0")/../../tools/testlib.sh"
need curl python3
start_work

port=$(free_port)
mkdir -p "$work/docs/private"
printf 'open page\n' > "$work/docs/index.html"
printf 'secret page\n' > "$work/docs/private/doc.txt"
printf 'uploaded\n' > "$work/upload.txt"
root=$profile_root
vs="$root\\Virtual\\0000"
reg_set "$root\\Network" Port dword "$port"
reg_set "$root\\Log" ErrorLogFileName sz "$work/error.log"
reg_set "$root\\Log" AccessLogFileName sz "$work/access.log"
reg_set "$vs\\Server" DocRoot sz "$work/docs"
reg_set "$vs\\Server" SecurityType dword 2
reg_set "$vs\\Authentication\\Staff" Description sz "test realm"
reg_set "$vs\\Authentication\\Staff\\Users" alice sz "wonder:land"
reg_set "$vs\\Authentication\\Staff\\Users" bob sz "builder"
reg_set "$vs\\Authentication\\Staff\\Groups\\readers" bob sz ""
reg_set "$vs\\Access\\/private" Realm sz Staff
reg_set "$vs\\Access\\/private" User_Or_Class dword 0
reg_set "$vs\\Access\\/private" DisableAutoIndex dword 0
reg_set "$vs\\Access\\/private" AllowFirst dword 0
reg_set "$vs\\Access\\/private\\Users" alice dword 36   # GET and PUT
reg_set "$vs\\Access\\/private\\Groups" readers dword 4  # GET

start_vanehost "$stage" /

url=http://127.0.0.1:$port
# status URL [curl options...]: the status code of one request.
status() { local u=$1; shift; curl -s -o "$work/body" -D "$work/head" -w '%{http_code}' "$@" "$u"; }

code=$(status "$url/private/doc.txt")
[ "$code" = 401 ] || fail "no credentials answered $code"
grep -q $'^WWW-Authenticate: Basic realm="Staff"\r$' "$work/head" || fail "challenge: $(cat "$work/head")"

code=$(status "$url/private/doc.txt" -u 'alice:wonder:land')
[ "$code" = 200 ] || fail "alice answered $code"
cmp -s "$work/body" "$work/docs/private/doc.txt" || fail "alice got the wrong body"

code=$(status "$url/private/doc.txt" -u 'alice:wonder')
[ "$code" = 401 ] || fail "a wrong password answered $code"

# Credentials sent only after the server's challenge.
code=$(status "$url/private/doc.txt" --anyauth -u 'bob:builder')
[ "$code" = 200 ] || fail "bob after the challenge answered $code"
cmp -s "$work/body" "$work/docs/private/doc.txt" || fail "bob got the wrong body"

code=$(status "$url/private/new.txt" -u 'bob:builder' -T "$work/upload.txt")
[ "$code" = 401 ] || fail "bob's PUT answered $code"
[ -e "$work/docs/private/new.txt" ] && fail "bob's PUT wrote the file"

code=$(status "$url/private/new.txt" -u 'alice:wonder:land' -T "$work/upload.txt")
[ "$code" = 201 ] || fail "alice's PUT answered $code"
cmp -s "$work/docs/private/new.txt" "$work/upload.txt" || fail "upload differs"

code=$(status "$url/index.html")
[ "$code" = 200 ] || fail "an unprotected read answered $code"
code=$(status "$url/outside.txt" -u 'alice:wonder:land' -T "$work/upload.txt")
[ "$code" = 403 ] || fail "a PUT outside every entry answered $code"

grep -q ' alice \[.*\] "GET /private/doc.txt HTTP/1.1" 200 ' "$work/access.log" ||
  fail "no access line naming alice"
grep -q 'Forbidden by default' "$work/error.log" || fail "no error line for the refused PUT"

stop_vanehost
echo "PASS"
