# Shared by the screenshot tools: a private Xvfb display and Wine prefix,
# and the loop that photographs what a Windows program asks for.
# Source it; call start_screen DISPLAYNUMBER first.

start_screen() {  # start_screen N: Xvfb on :N and a fresh unmanaged-window Wine prefix
  export WINEDEBUG=-all DISPLAY=:$1
  export WINEPREFIX
  WINEPREFIX=$(mktemp -d /tmp/brisvane-shots.XXXXXX)
  Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  screen_xvfb=$!
  trap stop_screen EXIT
  sleep 1
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
  # Unmanaged windows close at once; managed ones stall each close by ~2 s.
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  /usr/lib/wine/wineserver -w
}

stop_screen() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  kill "$screen_xvfb" 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}

# take_shot OUT: when the program wrote OUT/shot.req ("name x y w h"),
# photographs that part of the screen as OUT/name.png and removes the request.
take_shot() {
  local out=$1 name x y w h
  [ -f "$out/shot.req" ] || return 0
  # Under `set -e` a failed read would end the script without a word; a
  # request not fully there yet is read on a later pass.
  read -r name x y w h <"$out/shot.req" || return 0
  [ -n "$h" ] || return 0
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$name.png" || echo "failed: $name" >&2
  rm -f "$out/shot.req"
}
