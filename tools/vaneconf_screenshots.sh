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

export WINEDEBUG=-all DISPLAY=:${BRISVANE_XDISPLAY:-87}
export WINEPREFIX
WINEPREFIX=$(mktemp -d /tmp/brisvane-shots.XXXXXX)
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
# Unmanaged windows close at once; managed ones stall each close by ~2 s.
/usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
/usr/lib/wine/wineserver -w

/usr/lib/wine/wine64 build/win64/stage/vaneconf_tour.exe "$(/usr/lib/wine/wine64 winepath -w "$out" 2>/dev/null)" &
tour=$!
while kill -0 "$tour" 2>/dev/null; do
  if [ -f "$out/shot.req" ]; then
    read -r name x y w h <"$out/shot.req"
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png" || echo "failed: $name" >&2
    rm -f "$out/shot.req"
  fi
  sleep 0.1
done
wait "$tour"
ls "$out"/*.png
