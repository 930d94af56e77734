#!/usr/bin/env bash
# A scripted vaneconf session against a registry file, then a server start
# that serves what was configured: a realm, a user, a group and an access
# entry protecting a path. Also the refusals with their exact texts, the
# TLS values kept by every save, a backup and restore that gives back the
# identical file, the foreign export, a reload signalled to the running
# server, and `check`.
# usage: vaneconf_session_test.sh STAGE_DIR
set -u
stage=$1
source "$(dirname "$0")/../../tools/testlib.sh"
need curl python3
start_work

vc() { "$stage/vaneconf" "$@"; }
# expect_refusal TEXT COMMAND...: exit status 1 and TEXT as the one error line.
expect_refusal() {
  local text=$1 rc=0; shift
  vc "$@" 2>"$work/err" >/dev/null || rc=$?
  [ "$rc" = 1 ] || fail "vaneconf $* exited with $rc"
  [ "$(cat "$work/err")" = "vaneconf: $text" ] || fail "vaneconf $*: $(cat "$work/err")"
}

port=$(free_port)
mkdir -p "$work/docs/private"
printf 'open page\n' > "$work/docs/index.html"
printf 'secret page\n' > "$work/docs/private/doc.txt"

vc set Port "$port" || fail "set Port"
vc set AccessLogFileName "$work/access.log" || fail "set AccessLogFileName"
vc set ErrorLogFileName "$work/error.log" || fail "set ErrorLogFileName"
vc set DocRoot "$work/docs" || fail "set DocRoot"
vc set SecurityType 2 || fail "set SecurityType"
vc set RecvTimeOut 30 || fail "set RecvTimeOut"
[ "$(vc get RecvTimeOut)" = 30 ] || fail "RecvTimeOut reads $(vc get RecvTimeOut)"
grep -qi '^"RecvTimeOut"=dword:00007530' "$BRISVANE_REGISTRY" || fail "30 s not stored as 30000 ms"

vc realm add Staff 2>"$work/err" || fail "realm add"
grep -q 'adding default realm "Web Server"' "$work/err" || fail "no default realm notice"
printf 'wonder:land\n' | vc user add Staff alice || fail "user add"
vc group add Staff readers || fail "group add"
vc group add-member Staff readers alice || fail "add-member"
vc access add /private Staff || fail "access add"
vc access grant /private alice GET,HEAD || fail "grant"
vc access revoke /private '*' || fail "revoke"

expect_refusal "Must have at least one virtual server" server delete localhost
expect_refusal "Fields can not be blank" map Alias add /x ""
expect_refusal "Realm already exists." realm add Staff
expect_refusal "Port: must be a number" set Port 80a
vc access add /nowhere Missing || fail "access add /nowhere"
expect_refusal "The associated realm cannot be found" access grant /nowhere bob GET
vc access delete /nowhere || fail "access delete"
vc show | grep -q 'wonder' && fail "show printed a password"
vc show | grep -q '^  alice: GET,HEAD$' || fail "show lacks alice's rights"

vc set MasterUser "" && vc set SecurityType 1 2>"$work/err" || fail "set SecurityType 1"
grep -q 'lets anyone PUT and DELETE' "$work/err" || fail "no warning for an open server"
vc set SecurityType 2 || fail "set SecurityType 2"

# The TLS values: each is set on its own save and kept by the later ones.
ssl_port=$(free_port)
tls=("SSLPort=$ssl_port" "UseSSL=1" "ServerCertificate=$work/tls/fullchain.pem"
     "ServerPrivateKey=$work/tls/privkey.pem" "RedirectToSSL=1")
for pair in "${tls[@]}"; do
  vc -s localhost set "${pair%%=*}" "${pair#*=}" || fail "set ${pair%%=*}"
done
vc set DefaultIndex index.html || fail "a later save"
# check_tls WHEN: show and get give every TLS value as it was set.
check_tls() {
  vc show >"$work/show" || fail "$1: show"
  for pair in "${tls[@]}"; do
    grep -qxF "${pair%%=*} = ${pair#*=}" "$work/show" || fail "$1: show lacks ${pair/=/ = }"
    [ "$(vc -s localhost get "${pair%%=*}")" = "${pair#*=}" ] || fail "$1: get ${pair%%=*}"
  done
}
check_tls "after later saves"
grep -qi '^"SSLPort"=dword:' "$BRISVANE_REGISTRY" || fail "SSLPort not stored as a number"
expect_refusal "RedirectToSSL: must be 0 or 1" set RedirectToSSL maybe

# Backup, change, restore: the registry file comes back byte for byte.
cp "$BRISVANE_REGISTRY" "$work/before.reg"
vc backup "$work/backup.dat" || fail "backup"
vc backup "$work/backup.dat" 2>"$work/err" && fail "a backup overwrote a file"
grep -q '^BackupConfiguration: ' "$work/err" || fail "backup failure: $(cat "$work/err")"
vc set Port 1 && vc server add other.example || fail "changes after the backup"
vc set UseSSL 0 && vc set SSLPort 1 && vc set ServerPrivateKey "" && vc set RedirectToSSL 0 ||
  fail "TLS changes after the backup"
vc -p Second set Port 2 || fail "second profile"
vc restore "$work/backup.dat" </dev/null 2>/dev/null && fail "restore ran without --yes"
vc restore --yes "$work/backup.dat" >/dev/null || fail "restore"
cmp -s "$BRISVANE_REGISTRY" "$work/before.reg" || fail "the restored registry differs"
check_tls "after the restore"
printf 'not a backup\n' > "$work/bad.dat"
vc restore --yes "$work/bad.dat" 2>/dev/null && fail "a bad backup was restored"
cmp -s "$BRISVANE_REGISTRY" "$work/before.reg" || fail "a refused restore changed the registry"

# No certificate exists: serve plain HTTP only.
vc set UseSSL 0 || fail "set UseSSL 0"
start_vanehost "$stage" /
url=http://127.0.0.1:$port
status() { local u=$1; shift; curl -s -o "$work/body" -w '%{http_code}' "$@" "$u"; }
[ "$(status "$url/private/doc.txt")" = 401 ] || fail "no credentials were not refused"
[ "$(status "$url/private/doc.txt" -u 'alice:wonder:land')" = 200 ] || fail "alice was refused"
cmp -s "$work/body" "$work/docs/private/doc.txt" || fail "alice got the wrong body"
[ "$(status "$url/private/doc.txt" -u 'alice:wrong')" = 401 ] || fail "a wrong password got in"

# A change while the server runs reaches it through the flush event.
vc access grant /private '*' GET,HEAD || fail "grant to everyone"
for _ in $(seq 1 50); do
  [ "$(status "$url/private/doc.txt")" = 200 ] && break
  sleep 0.2
done
[ "$(status "$url/private/doc.txt")" = 200 ] || fail "the running server did not reload"
stop_vanehost

vc export-foreign || fail "export-foreign"
lo=$(printf '%02x' $((port & 255))); hi=$(printf '%02x' $((port >> 8)))
grep -qi "^\"TCP Port\"=hex:$lo,$hi,00,00" "$BRISVANE_REGISTRY" || fail "TCP Port not little-endian"

vc check >/dev/null || fail "check refused a good file"
cp "$BRISVANE_REGISTRY" "$work/damaged.reg"
printf 'this line is damaged\n"Port"=dword:xyz\n' >> "$work/damaged.reg"
rc=0
BRISVANE_REGISTRY=$work/damaged.reg vc check >"$work/out" 2>/dev/null || rc=$?
[ "$rc" = 1 ] || fail "check on a damaged file exited with $rc"
[ "$(grep -c ': line [0-9]*: ' "$work/out")" = 2 ] || fail "check output: $(cat "$work/out")"

vc --help | grep -q '^usage: vaneconf' || fail "--help"
vc access --help | grep -q 'access grant' || fail "access --help"
echo "PASS"
