#!/usr/bin/env bash
# Scans the server's TLS listener with testssl.sh and fails on a bad finding.
#
# usage: tools/testssl_check.sh BUILD_DIR|VANEHOST   scan a vanehost started here
#        tools/testssl_check.sh --target HOST:PORT    scan a server already running
#                                                     (made with --make-cert's files)
#        tools/testssl_check.sh --make-cert DIR       write the test certificate set
#                                                     (ca.pem, fullchain.pem, key.pem)
#
# With a build folder (its stage/vanehost) or the program itself, it makes a
# test certificate authority and a server certificate signed by it (RSA
# 2048, for 127.0.0.1 and localhost, leaf first in fullchain.pem as certbot
# writes it), starts vanehost on free loopback ports with one virtual
# server that has UseSSL 1, and scans its TLS port. testssl.sh runs its
# default checks (protocols, cipher categories, forward secrecy, server
# defaults, HTTP headers, vulnerabilities, each cipher, client
# simulations; about a minute and a quarter on loopback) and trusts the
# test authority (--add-ca), so the certificate's chain is checked like a
# real one. (--fast would save a third of that but tests RC4 with the
# local openssl, which has none, so RC4 would go unchecked.)
#
# What fails the check (tools/testssl_verdict.py decides). testssl.sh
# rates each finding CRITICAL, HIGH, MEDIUM, LOW, OK or INFO (WARN and
# FATAL are its own trouble). On its
# screen it writes "NOT ok" beside findings it rates HIGH (e.g. "SSLv3
# offered (NOT ok)") and "VULNERABLE" for an attack that works, at any
# rating. So a finding fails when:
#   - it is rated CRITICAL ("CRITICAL"), or
#   - it is rated HIGH ("NOT ok"), or
#   - its text says VULNERABLE, in capitals, whatever its rating
#     ("VULNERABLE"; testssl.sh writes "not vulnerable" for a pass), or
#     says "NOT ok".
# Ignored, because they come from the test certificate, not the server:
#   - cert_revocation: a certificate from a private test authority names
#     no CRL or OCSP responder (testssl.sh rates that HIGH).
# The scan itself must have worked: a FATAL finding, a missing protocol,
# cipher or vulnerability result, or a vanehost that did not answer over
# TLS, or that ended during the scan, fails too.
#
# Exit status: 0 passed, 1 failed, 77 skipped (testssl.sh not installed).
set -u
cd "$(dirname "$0")/.."

IGNORED_IDS="cert_revocation"
SCAN_TIMEOUT=${SCAN_TIMEOUT:-900}

say() { printf '   %s\n' "$*"; }
fail() { say "FAIL: $*"; exit 1; }

# make_cert DIR: a test authority and a server certificate signed by it.
make_cert() {
  local d=$1
  mkdir -p "$d" || return 1
  openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj '/CN=Brisvane test authority' \
    -addext 'basicConstraints=critical,CA:TRUE' -addext 'keyUsage=critical,keyCertSign,cRLSign' \
    -keyout "$d/ca.key" -out "$d/ca.pem" &&
  openssl req -new -newkey rsa:2048 -nodes -subj /CN=localhost \
    -keyout "$d/key.pem" -out "$d/server.csr" &&
  printf '%s\n' 'basicConstraints=critical,CA:FALSE' 'keyUsage=critical,digitalSignature,keyEncipherment' \
    'extendedKeyUsage=serverAuth' 'subjectAltName=DNS:localhost,IP:127.0.0.1' >"$d/server.ext" &&
  openssl x509 -req -in "$d/server.csr" -CA "$d/ca.pem" -CAkey "$d/ca.key" -CAcreateserial \
    -days 90 -sha256 -extfile "$d/server.ext" -out "$d/server.pem" &&
  cat "$d/server.pem" "$d/ca.pem" >"$d/fullchain.pem"
} >/dev/null 2>&1

. tools/ports.sh

target= vanehost=
case "${1:-}" in
  --make-cert)
    [ $# -eq 2 ] || { echo "usage: $0 --make-cert DIR" >&2; exit 2; }
    make_cert "$2" || { echo "openssl could not make the certificates" >&2; exit 1; }
    echo "$2/fullchain.pem $2/key.pem (authority: $2/ca.pem)"; exit 0 ;;
  --target)
    [ $# -ge 2 ] || { echo "usage: $0 --target HOST:PORT [CA_FILE]" >&2; exit 2; }
    target=$2; ca_given=${3:-} ;;
  ''|-*) echo "usage: $0 BUILD_DIR|VANEHOST | --target HOST:PORT [CA_FILE] | --make-cert DIR" >&2; exit 2 ;;
  *)
    vanehost=$1
    [ -d "$vanehost" ] && vanehost=$vanehost/stage/vanehost
    [ -x "$vanehost" ] || fail "no vanehost at $vanehost" ;;
esac

command -v testssl >/dev/null || command -v testssl.sh >/dev/null ||
  { say "skipped: testssl.sh is not installed (tools/deps.sh all installs it)"; exit 77; }
testssl=$(command -v testssl || command -v testssl.sh)

work=$(mktemp -d /tmp/brisvane-testssl.XXXXXX)
chmod 755 "$work"
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null; wait "$server_pid" 2>/dev/null; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

if [ -n "$vanehost" ]; then
  make_cert "$work/certs" || fail "openssl could not make the test certificates"
  ca=$work/certs/ca.pem
  read -r port ssl_port < <(free_ports 2)
  mkdir -p "$work/htdocs" "$work/logs"
  printf '<html><body>TLS scan</body></html>\n' >"$work/htdocs/index.html"
  reg=$work/registry.reg
  set_reg() {
    python3 tools/reg_set.py "$reg" 'HKEY_LOCAL_MACHINE\SOFTWARE\Halvex\Brisvane\2.0\Default'"\\$1" "$2" "$3" "$4"
  }
  set_reg Network Port dword "$port"
  set_reg Network SSLPort dword "$ssl_port"
  set_reg Log AccessLogMask dword 1
  set_reg Log AccessLogFileName sz "$work/logs/AccessLog.TXT"
  set_reg Log ErrorLogFileName sz "$work/logs/ErrorLog.TXT"
  set_reg Log TraceLogFileName sz "$work/logs/TraceLog.TXT"
  set_reg 'Virtual\0000\Server' DocRoot sz "$work/htdocs"
  set_reg 'Virtual\0000' UseSSL dword 1
  set_reg 'Virtual\0000' ServerCertificate sz "$work/certs/fullchain.pem"
  set_reg 'Virtual\0000' ServerPrivateKey sz "$work/certs/key.pem"
  BRISVANE_REGISTRY=$reg "$vanehost" >"$work/logs/vanehost.out" 2>&1 </dev/null &
  server_pid=$!
  for _ in $(seq 100); do
    kill -0 "$server_pid" 2>/dev/null || break
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
    sleep 0.1
  done
  kill -0 "$server_pid" 2>/dev/null || { tail -n 20 "$work/logs/vanehost.out" | sed 's/^/   /'; fail "vanehost did not start"; }
  target=127.0.0.1:$ssl_port
  if ! curl -s --max-time 10 --cacert "$ca" -o "$work/got" "https://$target/index.html" ||
     ! cmp -s "$work/got" "$work/htdocs/index.html"; then
    tail -n 10 "$work/logs/ErrorLog.TXT" 2>/dev/null | sed 's/^/   /'
    fail "vanehost's TLS listener did not answer on $target (the page over https with the test certificate)"
  fi
else
  ca=${ca_given:-}
fi

say "testssl.sh against $target (bounded by ${SCAN_TIMEOUT}s)"
json=$work/scan.json
ca_args=()
[ -n "$ca" ] && ca_args=(--add-ca "$ca")
start=$(date +%s)
timeout -k 10 "$SCAN_TIMEOUT" "$testssl" --quiet --color 0 --warnings off --nodns none \
  --connect-timeout 10 --openssl-timeout 10 "${ca_args[@]}" --jsonfile "$json" "$target" >"$work/scan.out" 2>&1
rc=$?
say "scan took $(( $(date +%s) - start ))s, testssl.sh exit status $rc"
[ $rc -eq 124 ] || [ $rc -eq 137 ] && fail "the scan did not end within ${SCAN_TIMEOUT}s"
if [ -n "$server_pid" ] && ! kill -0 "$server_pid" 2>/dev/null; then
  tail -n 20 "$work/logs/vanehost.out" | sed 's/^/   /'
  fail "vanehost ended during the scan"
fi
[ -s "$json" ] || { tail -n 20 "$work/scan.out" | sed 's/^/   /'; fail "testssl.sh wrote no findings"; }

python3 tools/testssl_verdict.py "$json" $IGNORED_IDS
verdict=$?
[ $verdict -eq 0 ] || fail "testssl.sh found what the check does not accept (above)"
say "passed: no CRITICAL or HIGH finding and nothing VULNERABLE"
exit 0
