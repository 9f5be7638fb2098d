#!/usr/bin/env bash
# The demo: packs the sample firmware into an updater, starts three simulated devices (one needs the update, one is
# up to date, one is of another type) and runs the updater window against them. With a display the user drives it;
# without one it runs on a virtual display, presses Next as a user would and saves a screenshot of each state, first
# with the sample's English name, then with a Cyrillic one (a Russian window), then in English at GDK_SCALE=2 (a high-DPI
# screen: every design pixel is two).
# Usage: dev/demo/demo.sh BUILD_DIR OUT_DIR
set -euo pipefail
BUILD=$1
OUT=$2
TOOLS=$BUILD/bin
NERID=$TOOLS/nerid

rm -rf "$OUT"
mkdir -p "$OUT"

PIDS=()
cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${PIDS[@]}"; do wait "$p" 2>/dev/null || true; done
  PIDS=()
}
trap cleanup EXIT

# prepare DIR [SAMPLE ARGS...]: the firmware and its updater in DIR; the updater lists the ports of DIR/run (and the
# machine's real serial ports, if it has any).
prepare() {
  local dir=$1
  shift
  mkdir -p "$dir/run" "$dir/stage"
  chmod 700 "$dir/run" "$dir/stage"
  "$TOOLS/nerid-sample-firmware" -o "$dir/firmware.hex" "$@"
  "$NERID" pack "$dir/firmware.hex" -o "$dir/updater"
  "$NERID" info "$dir/updater" | sed 's/^/   /'
}

# start_sim DIR NAME ARGS...: one simulated device; waits until its port is registered (in the staging folder).
start_sim() {
  local dir=$1 name=$2
  shift 2
  XDG_RUNTIME_DIR=$dir/stage "$NERID" sim --dump "$dir/$name.json" "$@" >"$dir/$name.port" 2>"$dir/$name.log" &
  PIDS+=($!)
  for _ in $(seq 100); do
    [ -s "$dir/$name.port" ] && return 0
    sleep 0.05
  done
  echo "demo: the simulator '$name' did not start:" >&2
  cat "$dir/$name.log" >&2
  exit 1
}

# start_devices DIR NAME SIM ARGS...: the three devices, with NAME as their installed firmware's name. They register their ports in a staging folder that then appears
# under the updater's folder at once, so that one search pass sees all three.
start_devices() {
  local dir=$1 name=$2
  shift 2
  start_sim "$dir" needs-update --name "$name" --version 1.04 --id 0x00A10001 "$@"
  start_sim "$dir" up-to-date --name "$name" --version 1.05 --id 0x00A10002
  start_sim "$dir" other-type --name "$name" --type 9 --version 2.00 --id 0x00A10003
  mv "$dir/stage/nerid" "$dir/run/nerid"
  for n in needs-update up-to-date other-type; do
    sed -i "s|$dir/stage/|$dir/run/|" "$dir/$n.port"
    echo "   device '$n' on $(cat "$dir/$n.port")"
  done
}

# report DIR: what each simulated device holds now (the simulator writes its dump on every reset and on exit).
report() {
  local dir=$1
  echo "== results"
  for n in needs-update up-to-date other-type; do
    printf '   %-13s ' "$n:"
    "$NERID" verify "$dir/$n.json" "$dir/firmware.hex" | sed "s|^[^:]*: ||" || true
  done
}

if [ -n "${DISPLAY:-}" ] && [ -z "${NERID_DEMO_HEADLESS:-}" ]; then
  prepare "$OUT"
  echo "== three simulated devices"
  start_devices "$OUT" SAMPLE --baud 19200
  echo "== the updater window: press Next to update the device that needs it, then Close"
  XDG_RUNTIME_DIR=$OUT/run "$OUT/updater"
  cleanup
  report "$OUT"
  exit 0
fi

echo "== no display: the updater runs on a virtual display, screenshots go to $OUT"
# Xvfb picks a free display itself and writes its number once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$OUT/display" >"$OUT/xvfb.log" 2>&1 &
XVFB=$!
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
trap 'cleanup; kill "$XVFB" 2>/dev/null || true' EXIT

window() { xdotool search --name ' v\.' | head -1; }

shot() { # FILE: the window as the user sees it
  import -window "$(window)" "$1"
  echo "   screenshot $1"
}

# headless DIR PREFIX SCALE NAME SIM ARGS...: one whole run at GDK_SCALE=SCALE, driven as a user would, with screenshots
# PREFIX-*.png.
headless() {
  local dir=$1 prefix=$2 scale=$3 name=$4
  shift 4
  # The window first, then the devices: the search is seen running before they appear.
  XDG_RUNTIME_DIR=$dir/run GDK_SCALE=$scale "$dir/updater" >"$dir/updater.log" 2>&1 &
  local updater=$!
  PIDS+=($updater)
  for _ in $(seq 100); do
    [ -n "$(window)" ] && break
    sleep 0.1
  done
  sleep 1
  shot "$OUT/$prefix-1-searching.png"
  echo "== three simulated devices"
  start_devices "$dir" "$name" "$@"
  sleep 2.5
  shot "$OUT/$prefix-2-devices-listed.png"
  # Next, as a user clicks it: the button sits at 341, 329 in the window and is 100 × 31 (design pixels).
  xdotool mousemove --window "$(window)" $((390 * scale)) $((344 * scale)) click 1
  sleep 6
  shot "$OUT/$prefix-3-programming.png"
  for _ in $(seq 900); do
    grep -qs '"resets": 1' "$dir/needs-update.json" && break
    sleep 0.1
  done
  sleep 1
  shot "$OUT/$prefix-4-finished.png"
  kill -TERM "$updater"
  wait "$updater" || true
  cleanup
  report "$dir"
}

echo "== English: the sample firmware"
prepare "$OUT/en"
headless "$OUT/en" en 1 SAMPLE --baud 19200
echo "== Russian: the sample firmware with a Cyrillic device name"
prepare "$OUT/ru" --cyrillic
headless "$OUT/ru" ru 1 Тестер-1 --baud 19200
echo "== English at GDK_SCALE=2"
prepare "$OUT/scale2"
headless "$OUT/scale2" en-scale2 2 SAMPLE --baud 19200
