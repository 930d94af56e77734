#!/usr/bin/env bash
# The Debian package end to end, on a machine where it may be installed
# (as root; systemd need not run): builds it, checks it with lintian (no
# errors) and its unit with systemd-analyze, installs it with dpkg -i,
# runs /usr/sbin/vanehost -s as the user brisvane the way the unit does,
# fetches a page and a CGI program (which must run as brisvane), then
# purges the package and checks what is left. Exit 0 passed, 1 failed,
# 77 skipped. Everything it installs is removed again on every path.
set -u
cd "$(dirname "$0")/.."
root=$PWD
[ "$(id -u)" = 0 ] || { echo "   skipped: needs root to install a package"; exit 77; }
logs=$root/build/test-deb
mkdir -p "$logs"
work=$(mktemp -d)
installed=0
pid=

fail() { echo "   FAIL: $*"; exit 1; }
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  if [ "$installed" = 1 ]; then
    rm -f /usr/lib/brisvane/cgi-bin/whoami
    dpkg --purge brisvane >>"$logs/dpkg.log" 2>&1
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

if dpkg-query -W -f='${Status}' brisvane 2>/dev/null | grep -q 'installed'; then
  echo "   skipped: a brisvane package is installed here already; it is left alone"
  exit 77
fi

deb=$(bash tools/package_deb.sh "$work" 2>"$logs/package.log") || { cat "$logs/package.log"; fail "package build"; }
echo "   built $(basename "$deb")"

# lintian: no error; warnings and informational tags are shown.
lintian --tag-display-limit 0 --display-info "$deb" >"$logs/lintian.log" 2>&1
[ $? -le 1 ] || { cat "$logs/lintian.log"; fail "lintian did not run"; }
grep -E '^[EWI]: ' "$logs/lintian.log" | sed 's/^/   lintian /'
grep -q '^E: ' "$logs/lintian.log" && fail "lintian reports errors"

# The package's contents, as the layout promises.
dpkg-deb -c "$deb" >"$work/contents"
for path in ./usr/sbin/vanehost ./usr/sbin/brisvane-service ./usr/bin/vaneconf \
  ./usr/lib/brisvane/libvanecore.so ./usr/lib/brisvane/isapi/hello.so ./usr/lib/brisvane/cgi-win/profile_echo \
  ./etc/brisvane/registry.reg ./usr/share/brisvane/icons/folder.gif ./usr/lib/systemd/system/brisvane.service; do
  grep -q " $path\$" "$work/contents" || fail "$path is not in the package"
done
grep -q ' ./var/www/' "$work/contents" && fail "the package ships files in /var/www"
[ "$(dpkg-deb -f "$deb" Version)" = "$(sed -n 's|.*"Brisvane/\([^"]*\)".*|\1|p' base/product.h)" ] || fail "version differs from the product's"

installed=1
dpkg -i "$deb" >"$logs/dpkg.log" 2>&1 || { cat "$logs/dpkg.log"; fail "dpkg -i"; }
echo "   installed"

uid=$(id -u brisvane 2>/dev/null) || fail "no user brisvane"
[ "$uid" -lt 1000 ] || fail "brisvane is no system user (uid $uid)"
[ "$(stat -c '%U:%G %a' /etc/brisvane/registry.reg)" = "root:brisvane 660" ] ||
  fail "registry.reg is $(stat -c '%U:%G %a' /etc/brisvane/registry.reg)"
[ "$(stat -c '%G' /etc/brisvane)" = brisvane ] && [ $(( 0$(stat -c '%a' /etc/brisvane) & 020 )) != 0 ] ||
  fail "/etc/brisvane is $(stat -c '%U:%G %a' /etc/brisvane)"
[ $(( 0$(stat -c '%a' /etc/brisvane/registry.reg) & 07 )) = 0 ] || fail "others may read the settings"

unit=/usr/lib/systemd/system/brisvane.service
if command -v systemd-analyze >/dev/null; then
  systemd-analyze verify "$unit" >"$logs/verify.log" 2>&1 || { cat "$logs/verify.log"; fail "systemd-analyze verify"; }
  echo "   unit verified with systemd-analyze"
  if systemd-analyze security --offline=yes --no-pager "$unit" >"$logs/security.log" 2>&1; then
    echo "   systemd-analyze security: $(grep -o 'Overall exposure level.*' "$logs/security.log")"
  else
    echo "   systemd-analyze security could not rate the unit here (see build/test-deb/security.log)"
  fi
else
  echo "   systemd-analyze is not installed: unit not verified"
fi
grep -qx 'User=brisvane' "$unit" || fail "the unit does not run as brisvane"
# The same unit as the service tool writes for the same host.
mkdir "$work/units"
BRISVANE_UNIT_DIR=$work/units /usr/sbin/brisvane-service a "/usr/sbin/vanehost -s" >"$work/tool.log" 2>&1
cmp -s "$unit" "$work/units/brisvane.service" || { diff "$unit" "$work/units/brisvane.service"; fail "the service tool writes another unit"; }

# Settings as an administrator makes them: root's vaneconf finds the
# installed registry, and its save keeps the file the group's.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
(umask 022; env -u BRISVANE_REGISTRY vaneconf set Port "$port") >"$work/vaneconf.log" 2>&1 ||
  { cat "$work/vaneconf.log"; fail "vaneconf set Port"; }
grep -qi "\"Port\"=dword:$(printf %08x "$port")" /etc/brisvane/registry.reg || fail "vaneconf did not write /etc/brisvane/registry.reg"
[ "$(stat -c '%G %a' /etc/brisvane/registry.reg)" = "brisvane 660" ] ||
  fail "after root's save registry.reg is $(stat -c '%U:%G %a' /etc/brisvane/registry.reg)"

# Installing the package again (as an upgrade does) keeps those settings.
dpkg -i --force-confnew "$deb" >>"$logs/dpkg.log" 2>&1 || { tail "$logs/dpkg.log"; fail "dpkg -i again"; }
grep -qi "\"Port\"=dword:$(printf %08x "$port")" /etc/brisvane/registry.reg || fail "installing again replaced the settings"
[ "$(stat -c '%U:%G %a' /etc/brisvane/registry.reg)" = "root:brisvane 660" ] || fail "installing again changed the settings' owner or mode"

# A CGI program that tells whose rights it has.
cat >/usr/lib/brisvane/cgi-bin/whoami <<'SH'
#!/bin/sh
printf 'Content-Type: text/plain\r\n\r\n'
id -un
SH
chmod 0755 /usr/lib/brisvane/cgi-bin/whoami

# As the unit does: user and group brisvane, only the capability to bind
# low ports, no new privileges, from a neutral folder.
(cd / && exec env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin setpriv --reuid=brisvane --regid=brisvane --init-groups \
  --inh-caps=+net_bind_service --ambient-caps=+net_bind_service --no-new-privs \
  /usr/sbin/vanehost -s) >"$work/host.out" 2>&1 &
pid=$!
for _ in $(seq 50); do
  curl -s -o /dev/null "http://127.0.0.1:$port/" && break
  kill -0 "$pid" 2>/dev/null || { cat "$work/host.out"; fail "vanehost -s ended at start"; }
  sleep 0.2
done
page=$(curl -s -m 10 "http://127.0.0.1:$port/") || { cat "$work/host.out"; fail "no page"; }
[ "$page" = "$(cat dist/HTDOCS/index.html)" ] || fail "the page is not the welcome page"
curl -s -m 10 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/ICONS/folder.gif" | grep -qx 200 || fail "no icon"
who=$(curl -s -m 10 "http://127.0.0.1:$port/CGI-BIN/whoami") || fail "no CGI answer"
[ "$who" = brisvane ] || fail "the CGI program ran as [$who]"
echo "   served a page, an icon and a CGI program as user brisvane"
curl -s -m 10 "http://127.0.0.1:$port/ISAPI/hello.so" | grep -qi hello || fail "the ISAPI sample did not answer"
kill -TERM "$pid"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
kill -0 "$pid" 2>/dev/null && fail "vanehost did not stop on SIGTERM"
wait "$pid"; rc=$?; pid=
[ "$rc" = 0 ] || fail "vanehost ended with $rc"
grep -q 'running as root' "$work/host.out" /var/log/brisvane/error.log && fail "warned of root without root"
ls /var/log/brisvane/access.log >/dev/null 2>&1 || fail "no access log in /var/log/brisvane"

# As root by hand: a warning in the error log and on the console.
(cd / && env -u BRISVANE_REGISTRY timeout 20 /usr/sbin/vanehost -s) >"$work/root.out" 2>&1 &
pid=$!
for _ in $(seq 50); do grep -q 'running as root' /var/log/brisvane/error.log 2>/dev/null && break; sleep 0.2; done
kill -TERM "$pid"; wait "$pid"; pid=
grep -qx 'running as root: programs started by the server run as root too' "$work/root.out" || fail "no warning on the console"
grep -q 'running as root: programs started by the server run as root too' /var/log/brisvane/error.log || fail "no warning in the error log"

# Purge: nothing of the package is left.
rm -f /usr/lib/brisvane/cgi-bin/whoami
dpkg --purge brisvane >>"$logs/dpkg.log" 2>&1 || { cat "$logs/dpkg.log"; fail "dpkg --purge"; }
installed=0
for path in /usr/sbin/vanehost /usr/sbin/brisvane-service /usr/bin/vaneconf /usr/lib/brisvane /usr/share/brisvane \
  /usr/share/doc/brisvane /etc/brisvane /var/log/brisvane /var/www/brisvane "$unit"; do
  [ -e "$path" ] && fail "$path is left after purge"
done
getent passwd brisvane >/dev/null && fail "user brisvane is left after purge"
getent group brisvane >/dev/null && fail "group brisvane is left after purge"
dpkg-query -W -f='${Status}' brisvane 2>/dev/null | grep -q 'config-files\|installed' && fail "dpkg still knows the package"
echo "   purged; nothing left"
exit 0
