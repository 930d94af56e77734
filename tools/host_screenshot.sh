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

. tools/screenshot_lib.sh
start_screen "${BRISVANE_XDISPLAY:-88}"

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
  take_shot "$out"
  sleep 0.1
done
wait "$driver"
ls "$out"/status.png
