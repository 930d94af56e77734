#!/usr/bin/env bash
# Tests the x86_64 setup program under wine64 in a fresh prefix: a silent
# install puts the files, Start-menu entries and uninstall entry in place,
# the installed server serves pages, and a silent uninstall stops it and
# takes everything of its own away but the settings and the logs; a second
# install removed with /PURGE leaves nothing at all.
# Usage: tools/test_windows_installer.sh SETUP.EXE
# Prints "ok" or one "FAIL: ..." line per fault; exit status 0 when all held.
set -u
setup=$(realpath "$1")
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEDEBUG=-all
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/brisvane-setup-wine.XXXXXX)
host_pid=

cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  timeout 20 "$wineserver" -k >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT

faults=0
fail() { echo "FAIL: $*"; faults=$((faults + 1)); }

# Waits (at most 60 s) until every program of the prefix has ended.
settle() { timeout 60 "$wineserver" -w >/dev/null 2>&1 || fail "wine programs still running after 60 s"; }

timeout 120 "$wine" wineboot -i >/dev/null 2>&1
# No display here: Wine's null graphics driver still runs windows.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
timeout 20 "$wineserver" -k >/dev/null 2>&1

dir_win='C:\Program Files\Brisvane'
dir="$WINEPREFIX/drive_c/Program Files/Brisvane"
menu="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Brisvane"
uninst_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brisvane'
settings_key='HKLM\SOFTWARE\Halvex\Brisvane'
network_key='HKLM\SOFTWARE\Halvex\Brisvane\2.0\Default\Network'

# A port nothing listens on, set in the profile before the server starts.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$wine" reg add "$network_key" /v Port /t REG_DWORD /d "$port" /f >/dev/null 2>&1

# reg_value KEY NAME: the data of one value, empty when it is not there.
reg_value() {
  "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v n="$2" '$1 == n { sub(/^ *[^ ]+ +REG_[A-Z_]+ +/, ""); print }'
}

install() {
  timeout 120 "$wine" "$setup" /S "/D=$dir_win" >/dev/null 2>&1
  local rc=$?
  settle
  [ $rc -eq 0 ] || fail "silent install ended with status $rc"
}

# uninstall [switches]: the uninstaller copies itself away and returns at
# once; its copy has done its work when the prefix is idle again.
uninstall() {
  timeout 120 "$wine" "$dir_win\\uninstall.exe" /S "$@" >/dev/null 2>&1 || fail "silent uninstall did not start"
  settle
}

started=$(date +%s)
install
for f in vanehost.exe vanecore.dll vaneconf.exe service.exe uninstall.exe ERROR.TEMP \
         HTDOCS/index.html ICONS/folder.gif CGI-WIN/profile_echo.exe ISAPI/hello.dll ISAPI/echo.dll; do
  [ -f "$dir/$f" ] || fail "not installed: $f"
done
for d in HTDOCS ICONS CGI-BIN CGI-WIN ISAPI Logs; do
  [ -d "$dir/$d" ] || fail "folder not made: $d"
done
for l in "Brisvane Server" "Brisvane Configuration" "Uninstall Brisvane"; do
  [ -f "$menu/$l.lnk" ] || fail "no Start-menu entry: $l"
done
[ "$(reg_value "$uninst_key" InstallLocation)" = "$dir_win" ] || fail "uninstall entry: InstallLocation is '$(reg_value "$uninst_key" InstallLocation)'"
[ "$(reg_value "$uninst_key" QuietUninstallString)" = "\"$dir_win\\uninstall.exe\" /S" ] ||
  fail "uninstall entry: QuietUninstallString is '$(reg_value "$uninst_key" QuietUninstallString)'"
for v in DisplayName DisplayVersion UninstallString Publisher; do
  [ -n "$(reg_value "$uninst_key" $v)" ] || fail "uninstall entry lacks $v"
done

# The installed host in application mode, on the port set above.
timeout 180 "$wine" "$dir_win\\vanehost.exe" >/dev/null 2>&1 &
host_pid=$!
page=
for _ in $(seq 60); do
  page=$(curl -s --max-time 5 "http://127.0.0.1:$port/" 2>/dev/null) && [ -n "$page" ] && break
  sleep 1
done
if [ "$page" = "$(cat "$dir/HTDOCS/index.html")" ]; then
  isapi=$(curl -s --max-time 20 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/ISAPI/hello.dll")
  [ "$isapi" = 200 ] || fail "the installed ISAPI sample answered $isapi"
else
  fail "the installed server did not serve its start page on port $port"
fi

# The uninstaller stops the running host itself (it closes its window).
uninstall
if kill -0 "$host_pid" 2>/dev/null; then
  fail "the host still runs after the uninstall"
fi
curl -s --max-time 3 -o /dev/null "http://127.0.0.1:$port/" && fail "port $port still answers after the uninstall"
host_pid=
for f in vanehost.exe vanecore.dll vaneconf.exe service.exe uninstall.exe HTDOCS/index.html ICONS CGI-WIN ISAPI; do
  [ -e "$dir/$f" ] && fail "left after uninstall: $f"
done
[ -d "$menu" ] && fail "Start-menu folder left after uninstall"
"$wine" reg query "$uninst_key" >/dev/null 2>&1 && fail "uninstall entry left after uninstall"
# Kept by choice: the settings, and the logs the server wrote.
[ "$(reg_value "$network_key" Port)" = "$(printf '0x%x' "$port")" ] || fail "the settings did not survive the uninstall"
[ -n "$(ls -A "$dir/Logs" 2>/dev/null)" ] || fail "the server's logs did not survive the uninstall"

# Again, removed with /PURGE: nothing of it stays.
install
[ -f "$dir/vanehost.exe" ] || fail "second install did not put vanehost.exe in place"
uninstall /PURGE
[ -e "$dir" ] && fail "install folder left after /PURGE: $(cd "$dir" && find . | head -5 | tr '\n' ' ')"
"$wine" reg query "$settings_key" >/dev/null 2>&1 && fail "settings left after /PURGE"
"$wine" reg query "$uninst_key" >/dev/null 2>&1 && fail "uninstall entry left after /PURGE"

echo "took $(($(date +%s) - started)) s after the prefix was made"
[ $faults -eq 0 ] && echo ok
[ $faults -eq 0 ]
