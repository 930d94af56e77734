#!/usr/bin/env bash
# Photographs every dialog and property page of vaneconf under Xvfb and
# wine64, one PNG per view, into build/screenshots (or $1). A developer
# tool: it needs xvfb, imagemagick and a configured build/win64.
set -eu
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-build/screenshots}")
mkdir -p "$out"
rm -f "$out"/*.png "$out/shot.req"
cmake --build build/win64 --target vaneconf_tour >/dev/null

. tools/screenshot_lib.sh
start_screen "${BRISVANE_XDISPLAY:-87}"

/usr/lib/wine/wine64 build/win64/stage/vaneconf_tour.exe "$(/usr/lib/wine/wine64 winepath -w "$out" 2>/dev/null)" &
tour=$!
while kill -0 "$tour" 2>/dev/null; do
  take_shot "$out"
  sleep 0.1
done
wait "$tour"
ls "$out"/*.png
