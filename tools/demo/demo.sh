#!/usr/bin/env bash
# The demo: packs the sample firmware into an updater, starts three simulated devices (one needs the update, one is
# up to date, one is of another type) and runs the updater window against them. With a display the user drives it;
# without one it runs on a virtual display, presses Next as a user would and saves a screenshot of each state.
# Usage: tools/demo/demo.sh BUILD_DIR OUT_DIR
set -euo pipefail
BUILD=$1
OUT=$2
TOOLS=$BUILD/tools
NERID=$TOOLS/nerid

rm -rf "$OUT"
mkdir -p "$OUT/run"
chmod 700 "$OUT/run"
# The updater lists the simulator's ports from here (and the machine's real serial ports, if it has any).
export XDG_RUNTIME_DIR=$OUT/run

"$TOOLS/nerid-sample-firmware" -o "$OUT/firmware.hex"
"$NERID" pack "$OUT/firmware.hex" -o "$OUT/updater"
"$NERID" info "$OUT/updater" | sed 's/^/   /'

PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT

# start_sim NAME ARGS...: one simulated device; waits until its port is registered (in the staging folder).
start_sim() {
  local name=$1
  shift
  XDG_RUNTIME_DIR=$OUT/stage "$NERID" sim --dump "$OUT/$name.json" "$@" >"$OUT/$name.port" 2>"$OUT/$name.log" &
  PIDS+=($!)
  for _ in $(seq 100); do
    [ -s "$OUT/$name.port" ] && return 0
    sleep 0.05
  done
  echo "demo: the simulator '$name' did not start:" >&2
  cat "$OUT/$name.log" >&2
  exit 1
}

# The devices register their ports in a staging folder that then appears under the updater's folder at once, so
# that one search pass sees all three. Line rate for the device to be programmed: its update can be watched (30 s).
start_devices() {
  mkdir -p "$OUT/stage"
  chmod 700 "$OUT/stage"
  start_sim needs-update --version 1.04 --id 0x00A10001 --baud 19200
  start_sim up-to-date --version 1.05 --id 0x00A10002
  start_sim other-type --type 9 --version 2.00 --id 0x00A10003
  mv "$OUT/stage/nerid" "$OUT/run/nerid"
  for n in needs-update up-to-date other-type; do
    sed -i "s|$OUT/stage/|$OUT/run/|" "$OUT/$n.port"
    echo "   device '$n' on $(cat "$OUT/$n.port")"
  done
}

report() {
  echo "== results"
  for n in needs-update up-to-date other-type; do
    # The simulator writes its dump on every reset and when it stops.
    printf '   %-13s ' "$n:"
    "$NERID" verify "$OUT/$n.json" "$OUT/firmware.hex" | sed "s|^[^:]*: ||" || true
  done
}

if [ -n "${DISPLAY:-}" ] && [ -z "${NERID_DEMO_HEADLESS:-}" ]; then
  echo "== three simulated devices"
  start_devices
  echo "== the updater window: press Next to update the device that needs it, then Close"
  "$OUT/updater"
  cleanup
  PIDS=()
  report
  exit 0
fi

echo "== no display: the updater runs on a virtual display, screenshots go to $OUT"
# Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 800x500x24 -nolisten tcp 3>"$OUT/display" >"$OUT/xvfb.log" 2>&1 &
XVFB=$!
PIDS+=($XVFB)
for _ in $(seq 200); do
  [ -s "$OUT/display" ] && break
  if ! kill -0 "$XVFB" 2>/dev/null; then
    echo "demo: the virtual display did not start:" >&2
    cat "$OUT/xvfb.log" >&2
    exit 1
  fi
  sleep 0.1
done
export DISPLAY=":$(cat "$OUT/display")"

shot() { # NAME: the window as the user sees it
  local id
  id=$(xdotool search --name ' v\.' | head -1)
  import -window "$id" "$OUT/$1.png"
  echo "   screenshot $OUT/$1.png"
}

# The window first, then the devices: the search is seen running before they appear.
"$OUT/updater" >"$OUT/updater.log" 2>&1 &
UPDATER=$!
PIDS+=($UPDATER)
for _ in $(seq 100); do
  xdotool search --name ' v\.' >/dev/null 2>&1 && break
  sleep 0.1
done
sleep 1
shot 1-searching
echo "== three simulated devices"
start_devices
sleep 2.5
shot 2-devices-listed

# Next, as a user would click it (the button sits at 341, 329 in the window, 100 × 31).
WIN=$(xdotool search --name ' v\.' | head -1)
xdotool mousemove --window "$WIN" 390 344 click 1
sleep 8
shot 3-programming
for _ in $(seq 600); do
  [ -s "$OUT/needs-update.json" ] && grep -q '"resets": 1' "$OUT/needs-update.json" && break
  sleep 0.1
done
sleep 1
shot 4-finished
kill -TERM "$UPDATER"
wait "$UPDATER" || true
cleanup
PIDS=()
report
