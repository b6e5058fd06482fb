#!/usr/bin/env bash
# Runs a command beside a private PipeWire daemon and WirePlumber session
# manager, in a runtime folder of their own (XDG_RUNTIME_DIR points at it), so
# nothing depends on or disturbs the caller's sound and video servers. Both
# are stopped afterwards and the command's exit status is returned.
#
#   with-pipewire.sh -- command [args...]
set -u
[ "${1:-}" = "--" ] && shift
[ $# -gt 0 ] || { echo "usage: with-pipewire.sh -- command" >&2; exit 2; }
# WirePlumber needs a session bus: a private one for the whole run.
if [ -z "${FRAMORY_PRIVATE_BUS:-}" ]; then
  FRAMORY_PRIVATE_BUS=1 exec dbus-run-session -- "$0" -- "$@"
fi

run=$(mktemp -d /tmp/framory-pipewire.XXXXXX)
chmod 0700 "$run"
pids=()
cleanup() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[$i]}" 2>/dev/null; done
  rm -rf "$run"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

export XDG_RUNTIME_DIR="$run" PIPEWIRE_RUNTIME_DIR="$run"
# WirePlumber keeps its state under the home folder; a private one.
export HOME="$run/home" XDG_CONFIG_HOME="$run/home/.config" XDG_STATE_HOME="$run/home/.state"
mkdir -p "$HOME"
pipewire >"$run/pipewire.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 100); do [ -S "$run/pipewire-0" ] && break; sleep 0.1; done
[ -S "$run/pipewire-0" ] || { cat "$run/pipewire.log" >&2; echo "with-pipewire.sh: pipewire did not start" >&2; exit 2; }
wireplumber >"$run/wireplumber.log" 2>&1 &
pids+=($!)
"$@"
status=$?
if [ "$status" != 0 ]; then
  echo "--- pipewire.log" >&2; tail -n 20 "$run/pipewire.log" >&2
  echo "--- wireplumber.log" >&2; tail -n 20 "$run/wireplumber.log" >&2
fi
exit "$status"
