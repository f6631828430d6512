#!/usr/bin/env bash
# Builds ocumbra (Release) and starts it on its built-in default image.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh"
cmake -S "$top" -B "$top/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" --target ocumbra kalentry ocumbra-sim
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "No display found: starting ocumbra under a virtual X server (xvfb-run)."
  exec xvfb-run -a "$top/build/bin/ocumbra" "$@"
fi
exec "$top/build/bin/ocumbra" "$@"
