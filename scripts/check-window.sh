#!/usr/bin/env bash
# Starts a program under a virtual X server and checks what a person would see
# first: its main window, titled "ocumbra", and no window titled "Error" (the
# program's error box). The program runs for SECONDS (default 1) after its
# window appeared, then it is ended.
#
#   scripts/check-window.sh [--seconds N] PROGRAM [ARGUMENTS...]
#
# Exit status 0 when the window appeared and no error box did; 1 otherwise
# (with what was on the screen and the program's output).
set -euo pipefail

seconds=1
if [ "${1:-}" = "--seconds" ]; then
  seconds=$2
  shift 2
fi
if [ $# -lt 1 ]; then
  echo "usage: $0 [--seconds N] PROGRAM [ARGUMENTS...]" >&2
  exit 2
fi

if [ -z "${OCU_INSIDE_XVFB:-}" ]; then
  # The screen of the person: a real X server, not Qt's offscreen platform.
  unset QT_QPA_PLATFORM
  exec env OCU_INSIDE_XVFB=1 xvfb-run -a -s "-screen 0 1280x1024x24" "$0" --seconds "$seconds" "$@"
fi

out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$@" >"$out" 2>&1 &
pid=$!

windows() { xwininfo -root -tree 2>/dev/null || true; }
seen=""
for _ in $(seq 1 100); do  # up to 20 s for the window to appear
  if ! kill -0 "$pid" 2>/dev/null; then break; fi
  if windows | grep -q '"ocumbra": ('; then
    seen=yes
    break
  fi
  sleep 0.2
done
if [ -n "$seen" ]; then sleep "$seconds"; fi

status=0
shown=$(windows)
if [ -z "$seen" ]; then
  echo "check-window: no window titled \"ocumbra\" appeared" >&2
  status=1
elif grep -q '"Error": (' <<<"$shown"; then
  echo "check-window: an error box appeared" >&2
  status=1
elif ! kill -0 "$pid" 2>/dev/null; then
  echo "check-window: the program ended by itself" >&2
  status=1
fi
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
if [ "$status" -ne 0 ]; then
  echo "--- windows:" >&2
  grep '"' <<<"$shown" | sed 's/^ */  /' >&2 || true
  echo "--- output of $1:" >&2
  cat "$out" >&2
fi
exit "$status"
