#!/usr/bin/env bash
# Runs a command (a Windows GUI program or test under wine) on a private, fresh Xvfb screen, stopped afterwards.
# usage: with_display.sh COMMAND ...   (exit status: COMMAND's). Wine on Xvfb renders every control of the window.
set -euo pipefail
[ $# -gt 0 ] || { sed -n '3p' "$0" >&2; exit 2; }
fdfile=$(mktemp)
trap 'rm -f "$fdfile"' EXIT
# -displayfd: Xvfb picks a free display number and writes it once the screen accepts clients.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true; wait "$xvfb" 2>/dev/null || true; rm -f "$fdfile"' EXIT
for _ in $(seq 1 200); do
  [ -s "$fdfile" ] && break
  kill -0 "$xvfb" 2>/dev/null || { echo "with_display.sh: Xvfb did not start" >&2; exit 2; }
  sleep 0.02
done
display=$(head -n1 "$fdfile")
[ -n "$display" ] || { echo "with_display.sh: Xvfb gave no display" >&2; exit 2; }
export DISPLAY=":$display"
rc=0
"$@" || rc=$?
exit $rc
