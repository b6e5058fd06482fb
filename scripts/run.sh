#!/usr/bin/env bash
# Installs what is missing, builds Framory and starts it on the current display.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FRAMORY_BUILD_DIR:-$root/build}"

bash "$root/scripts/bootstrap.sh"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build" --parallel "$(nproc)" --target framory
if [ -z "${DISPLAY:-}" ]; then
  echo "run.sh: DISPLAY is not set; Framory needs an X display" >&2
  exit 1
fi
exec "$build/framory" "$@"
