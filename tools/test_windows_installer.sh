#!/usr/bin/env bash
# Tests the x86_64 setup program under wine64 in a fresh prefix: a silent
# install puts the files, Start-menu entries and uninstall entry in place
# and the installed server serves pages; a second install with /SERVICE
# over the running program stops it, replaces it and runs the server as a
# service; a third one updates it and restarts the service; a silent
# uninstall stops and removes the service and takes everything of its own
# away but the settings and the logs; one more install removed with /PURGE
# leaves nothing at all.
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
keep_pid=

cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null
  [ -n "$keep_pid" ] && kill "$keep_pid" 2>/dev/null
  timeout 20 "$wineserver" -k >/dev/null 2>&1
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
trap "exit 1" TERM INT

faults=0
fail() { echo "FAIL: $*"; faults=$((faults + 1)); }

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
service_key='HKLM\System\CurrentControlSet\Services\Brisvane'

# A port nothing listens on, set in the profile before the server starts.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$wine" reg add "$network_key" /v Port /t REG_DWORD /d "$port" /f >/dev/null 2>&1

# reg_value KEY NAME: the data of one value, empty when it is not there.
reg_value() {
  "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
    awk -v n="$2" '$1 == n { sub(/^ *[^ ]+ +REG_[A-Z_]+ +/, ""); print }'
}

install() {  # install [switches]
  timeout 120 "$wine" "$setup" /S "$@" "/D=$dir_win" >/dev/null 2>&1
  local rc=$?
  [ $rc -eq 0 ] || fail "silent install $* ended with status $rc"
}

# uninstall [switches]: the uninstaller copies itself away and returns at
# once; its copy's last step removes the uninstall entry.
uninstall() {
  timeout 120 "$wine" "$dir_win\\uninstall.exe" /S "$@" >/dev/null 2>&1 || fail "silent uninstall did not start"
  for _ in $(seq 90); do
    "$wine" reg query "$uninst_key" >/dev/null 2>&1 || return 0
    sleep 1
  done
  fail "uninstall entry left 90 s after uninstall $*"
}

# fetch_start_page WHO: the start page must come from the installed site.
fetch_start_page() {
  local page=
  for _ in $(seq 60); do
    page=$(curl -s --max-time 5 "http://127.0.0.1:$port/" 2>/dev/null) && [ -n "$page" ] && break
    sleep 1
  done
  [ -n "$page" ] && [ "$page" = "$(cat "$dir/HTDOCS/index.html")" ] ||
    fail "$1 did not serve the installed start page on port $port"
}

# The Linux process of this prefix's service host, if it runs.
service_host_pid() {
  local p
  for p in $(pgrep -f 'vanehost\.exe -s'); do
    tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$p"
  done
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
timeout 300 "$wine" "$dir_win\\vanehost.exe" >/dev/null 2>&1 &
host_pid=$!
fetch_start_page "the installed program"
isapi=$(curl -s --max-time 20 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/ISAPI/hello.dll")
[ "$isapi" = 200 ] || fail "the installed ISAPI sample answered $isapi"

# Wine ends its services when no other program of the prefix runs: this
# one keeps them up until the end.
timeout 600 "$wine" ping -n 600 127.0.0.1 >/dev/null 2>&1 &
keep_pid=$!

# Over the running program, now as a service: the setup program stops the
# program (its Shutdown command), replaces the files and starts the service.
install /SERVICE
for _ in $(seq 20); do kill -0 "$host_pid" 2>/dev/null || break; sleep 1; done
kill -0 "$host_pid" 2>/dev/null && fail "the running program was not stopped by the second install"
host_pid=
[ "$(reg_value "$service_key" ImagePath)" = "$dir_win\\vanehost.exe -s" ] ||
  fail "service command line is '$(reg_value "$service_key" ImagePath)'"
fetch_start_page "the installed service"

# An update over the running service stops it for the files and starts it
# again: another process serves afterwards.
before=$(service_host_pid)
install
after=$(service_host_pid)
[ -n "$before" ] && [ -n "$after" ] && [ "$before" != "$after" ] ||
  fail "the update did not restart the service (process '$before', then '$after')"
fetch_start_page "the restarted service"

# The uninstaller stops and removes the service.
uninstall
"$wine" reg query "$service_key" >/dev/null 2>&1 && fail "service left after uninstall"
curl -s --max-time 3 -o /dev/null "http://127.0.0.1:$port/" && fail "port $port still answers after the uninstall"
for f in vanehost.exe vanecore.dll vaneconf.exe service.exe uninstall.exe HTDOCS/index.html ICONS CGI-WIN ISAPI; do
  [ -e "$dir/$f" ] && fail "left after uninstall: $f"
done
[ -d "$menu" ] && fail "Start-menu folder left after uninstall"
"$wine" reg query "$uninst_key" >/dev/null 2>&1 && fail "uninstall entry left after uninstall"
# Kept by choice: the settings, and the logs the server wrote.
[ "$(reg_value "$network_key" Port)" = "$(printf '0x%x' "$port")" ] || fail "the settings did not survive the uninstall"
[ -n "$(ls -A "$dir/Logs" 2>/dev/null)" ] || fail "the server's logs did not survive the uninstall"

# Again, removed with /PURGE: nothing of it stays.
kill "$keep_pid" 2>/dev/null
keep_pid=
install
[ -f "$dir/vanehost.exe" ] || fail "the last install did not put vanehost.exe in place"
uninstall /PURGE
[ -e "$dir" ] && fail "install folder left after /PURGE: $(cd "$dir" && find . | head -5 | tr '\n' ' ')"
"$wine" reg query "$settings_key" >/dev/null 2>&1 && fail "settings left after /PURGE"
"$wine" reg query "$uninst_key" >/dev/null 2>&1 && fail "uninstall entry left after /PURGE"

echo "took $(($(date +%s) - started)) s after the prefix was made"
[ $faults -eq 0 ] && echo ok
[ $faults -eq 0 ]
