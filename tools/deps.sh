#!/usr/bin/env bash
# Installs, with apt-get, whatever the build and the tests need and this
# machine lacks. Usage: tools/deps.sh [native|windows|package|deb|all]
set -u
want=${1:-all}

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }
add() { for p in "$@"; do have "$p" || need+=("$p"); done; }

add cmake ninja-build g++ googletest curl wget perl goaccess libcgi-pm-perl php-cgi python3 libssl-dev openssl
case "$want" in
  windows|all) add g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 nsis ;;
esac
case "$want" in
  # The Debian package: its build (package), and for its test its checker
  # and its dependencies.
  package|deb|all) add dpkg-dev ;;
esac
case "$want" in
  deb|all) add lintian adduser init-system-helpers ;;
esac
case "$want" in
  # The TLS scan of the test command.
  all) add testssl.sh ;;
esac

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq >/dev/null 2>&1 || true
  if ! apt-get install -y -qq "${need[@]}" >/tmp/brisvane-apt.log 2>&1; then
    echo "apt-get install failed; see /tmp/brisvane-apt.log" >&2
    exit 1
  fi
fi

# systemd-analyze checks the package's unit: systemd is installed for it
# only when that removes nothing (the package lists are fresh by now).
case "$want" in
  deb|all)
    if ! have systemd; then
      plan=$(apt-get -s install systemd 2>/dev/null)
      if grep -q '^Inst systemd ' <<<"$plan" && ! grep -q '^Remv ' <<<"$plan"; then
        echo "Installing: systemd (for systemd-analyze)"
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq systemd >>/tmp/brisvane-apt.log 2>&1 ||
          echo "systemd could not be installed; the unit is not verified" >&2
      fi
    fi ;;
esac
exit 0
