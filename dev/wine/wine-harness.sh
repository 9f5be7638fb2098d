#!/usr/bin/env bash
# Wine side of the Windows test run: the build's own headless prefix, a warm wineserver, and COM ports mapped to
# pseudo-terminals. Usage:
#   wine-harness.sh prefix              create and prepare the prefix (once; later calls return at once)
#   wine-harness.sh start | stop        prefix, then keep wineserver running | stop it and every wine process in it
#   wine-harness.sh map-port COMn PATH  make COMn open PATH (a pty slave), restarting wineserver so wine sees it
#   wine-harness.sh unmap-port COMn     remove that mapping again
# WINEPREFIX defaults to build/mingw/wineprefix, the prefix the mingw preset's tests run in.
# The pool ports COM5..COM8 are mapped once to links in $WINEPREFIX/../wine-ports/; a test claims one by pointing
# that link at its own pty slave (dev/wine/with_com_port.py), so no wineserver restart stops other running tests.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$ROOT/build/mingw/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEARCH=win64
unset DISPLAY WAYLAND_DISPLAY # console programs only; nothing may wait for a screen

POOL_PORTS=(COM5 COM6 COM7 COM8)
POOL_DIR=$(dirname "$WINEPREFIX")/wine-ports
PORTS_KEY='HKLM\Software\Wine\Ports'

reg_add() { wine reg add "$@" /f >/dev/null; }

create_prefix() {
  local ready="$WINEPREFIX/.nerid-ready"
  [ -e "$ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    [ -e "$ready" ] && exit 0
    echo "== wine: creating prefix $WINEPREFIX"
    local t0=$SECONDS
    rm -rf "$WINEPREFIX"
    # No Mono or Gecko: the tests need neither, and their installers would ask on a screen.
    WINEDLLOVERRIDES="mscoree=;mshtml=" wineboot -i
    wineserver -w
    # Wine ships Tahoma and Marlett but does not look in the Debian font folder.
    local fonts="$WINEPREFIX/drive_c/windows/Fonts"
    mkdir -p "$fonts"
    for f in tahoma.ttf tahomabd.ttf marlett.ttf; do
      ln -sf "/usr/share/wine/fonts/$f" "$fonts/$f"
    done
    # Without a window manager every window close would wait 2 s for one.
    reg_add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N
    for c in "${POOL_PORTS[@]}"; do
      reg_add "$PORTS_KEY" /v "$c" /t REG_SZ /d "$POOL_DIR/$c"
    done
    wineserver -w
    touch "$ready"
    echo "== wine: prefix ready in $((SECONDS - t0)) s"
  ) 9>"$WINEPREFIX.lock"
}

# Wine's device manager gives every /dev/ttyS*, /dev/ttyUSB*, /dev/ttyACM* a COM name of its own, the kernel console
# included, and leaves old links behind. Only pseudo-terminals and the pool links may stay reachable: the tests must
# never write to a port they did not create. (SERIALCOMM still lists the removed names; opening them fails.)
drop_host_ports() {
  local link target
  for link in "$WINEPREFIX"/dosdevices/com*; do
    [ -L "$link" ] || continue
    target=$(readlink "$link")
    case "$target" in
      /dev/pts/*|"$POOL_DIR"/*) ;;
      *) rm -f "$link" ;;
    esac
  done
}

# The first program of a new wineserver runs wineboot, which opens wine's desktop (explorer.exe /desktop) without a
# screen, DISPLAY being unset here; the server keeps that desktop about a second after its last program leaves.
# A window test started meanwhile joins that desktop, where no window can be made ("no driver could be loaded"),
# and keeps it alive for the tests after it. So the harness returns only once that desktop has closed.
desktop_pids() {
  local pid
  for pid in $(pgrep -f 'explorer\.exe /desktop' || true); do
    tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && echo "$pid"
  done
  return 0
}

wait_desktop_closed() {
  local deadline=$((SECONDS + 20))
  while [ -n "$(desktop_pids)" ]; do
    if [ $SECONDS -ge $deadline ]; then
      echo "wine-harness: wine's desktop without a screen is still open after 20 s; window tests may fail" >&2
      return 0
    fi
    sleep 0.1
  done
}

# A warm wineserver, with the device manager started (it reads the port mappings only when the server starts).
# A server that already runs is kept: wineserver -p then fails, and that is fine.
boot() {
  wineserver -p </dev/null >/dev/null 2>&1 || true # a daemon: it must not hold a caller's pipe open
  wine cmd /c exit >/dev/null 2>&1 || true
  drop_host_ports
  wait_desktop_closed
}

# The DPI test sets the screen's LogPixels for the updaters it starts and removes it again; a run killed in between
# must not leave the next one's windows at another DPI.
reset_dpi() { wine reg delete 'HKCU\Control Panel\Desktop' /v LogPixels /f >/dev/null 2>&1 || true; }

start() { create_prefix; mkdir -p "$POOL_DIR"; boot; reset_dpi; }
stop() { wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; }
restart() { stop; boot; }

map_port() { # COMn PATH
  [[ "$1" =~ ^COM[0-9]+$ ]] || { echo "map-port: not a COM name: $1" >&2; exit 2; }
  local dev; dev=$(readlink -f "$2")
  case "$dev" in /dev/pts/*) ;; *) echo "map-port: not a pseudo-terminal: $2" >&2; exit 2 ;; esac
  [ -c "$dev" ] || { echo "map-port: no such pseudo-terminal: $2" >&2; exit 2; }
  create_prefix
  reg_add "$PORTS_KEY" /v "$1" /t REG_SZ /d "$dev"
  restart
}

unmap_port() { # COMn
  [[ "$1" =~ ^COM[0-9]+$ ]] || { echo "unmap-port: not a COM name: $1" >&2; exit 2; }
  wine reg delete "$PORTS_KEY" /v "$1" /f >/dev/null 2>&1 || true
  rm -f "$WINEPREFIX/dosdevices/${1,,}" # the device manager never removes a link it made
  restart
}

case "${1:-}" in
  prefix) create_prefix ;;
  start) start ;;
  stop) stop ;;
  map-port) map_port "$2" "$3" ;;
  unmap-port) unmap_port "$2" ;;
  *) sed -n '2,8p' "$0" >&2; exit 2 ;;
esac
