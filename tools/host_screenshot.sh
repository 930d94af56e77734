#!/usr/bin/env bash
# Photographs vanehost's status window under Xvfb and wine64, after a few
# requests put lines into it, as build/screenshots/status.png (or in $1). A
# developer tool: it needs xvfb, imagemagick, curl and a configured build/win64.
set -eu
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshots}")
mkdir -p "$out"
rm -f "$out/status.png" "$out/shot.req" "$out/ready"
cmake --build build/win64 --target vanehost vanecore host_screenshot_driver >/dev/null
port=${BRISVANE_SHOT_PORT:-18097}

export WINEDEBUG=-all DISPLAY=:${BRISVANE_XDISPLAY:-88}
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/brisvane-hostshot.XXXXXX)
Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
cleanup() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
sleep 1
/usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
/usr/lib/wine/wineserver -w

win_out=$(/usr/lib/wine/wine64 winepath -w "$out" 2>/dev/null)
/usr/lib/wine/wine64 build/win64/tests/host_screenshot_driver.exe "$port" "$win_out\\ready" "$win_out\\shot.req" &
driver=$!
while kill -0 "$driver" 2>/dev/null; do
  if [ -f "$out/ready" ]; then
    for page in / /missing.html /nowhere/ /missing.html; do
      curl -s -o /dev/null "http://127.0.0.1:$port$page" || true
    done
    rm -f "$out/ready"
  fi
  if [ -f "$out/shot.req" ]; then
    read -r name x y w h <"$out/shot.req"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png" || echo "failed: $name" >&2
    rm -f "$out/shot.req"
  fi
  sleep 0.1
done
wait "$driver"
ls "$out"/status.png
