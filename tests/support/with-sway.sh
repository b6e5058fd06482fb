#!/usr/bin/env bash
# Runs a command inside a private Wayland desktop: a headless sway (software
# rendering, no input devices) with PipeWire and WirePlumber, on a private
# session bus where the ScreenCast portal (xdg-desktop-portal with its wlroots
# back end) can be activated. Everything, the command included, runs as an
# unprivileged user, since sway refuses to run as root; when started as root
# the session runs as FRAMORY_SWAY_USER (default 65534, nobody) with a home
# and runtime folder of its own in a temporary folder. Everything started is
# stopped afterwards and the command's exit status is returned.
#
#   with-sway.sh [--size WxH] [--no-portal] [--keep] [--env NAME]... -- command [args...]
#
# --env passes the caller's variable NAME on to the command (the session
# starts from an empty environment); DISPLAY, for instance, lets a program
# that needs X11 as well (through an Xvfb started beside) run inside.
#
# The command finds WAYLAND_DISPLAY, XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS,
# SWAYSOCK (for swaymsg) and PIPEWIRE_RUNTIME_DIR set, HOME pointing at the
# private home, and FRAMORY_SWAY_OUTPUT naming the one output (HEADLESS-1).
# The logs of sway, PipeWire, WirePlumber and the portals are in
# $FRAMORY_SWAY_LOGS; they are printed when the command fails. The command's
# own files must be readable by that user (the build tree usually is).
set -u

size=640x480
portal=1
keep=0
passed=()
while [ $# -gt 0 ]; do
  case "$1" in
    --env) [ -n "${!2+x}" ] && passed+=("$2=${!2}"); shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --no-portal) portal=0; shift ;;
    --keep) keep=1; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || {
  echo "usage: with-sway.sh [--size WxH] [--no-portal] [--keep] [--env NAME]... -- command" >&2
  exit 2
}

for program in sway swaymsg swaybg pipewire wireplumber dbus-run-session setpriv; do
  command -v "$program" >/dev/null || { echo "with-sway.sh: $program is not installed" >&2; exit 2; }
done

here=$(cd "$(dirname "$0")" && pwd)
base=$(mktemp -d /tmp/framory-sway.XXXXXX)
chmod 0755 "$base"

if [ "$(id -u)" = 0 ]; then
  user_id=${FRAMORY_SWAY_USER:-65534}
  group_id=$(getent passwd "$user_id" | cut -d: -f4)
  group_id=${group_id:-65534}
  as_user=(setpriv --reuid="$user_id" --regid="$group_id" --clear-groups --)
else
  user_id=$(id -u)
  group_id=$(id -g)
  as_user=()
fi

home="$base/home"
run="$base/run"
logs="$base/logs"
mkdir -p "$home/.config/sway" "$home/.config/xdg-desktop-portal-wlr" "$run" "$logs"
chmod 0700 "$run"
cat >"$home/.config/sway/config" <<EOF
output * mode $size bg #000000 solid_color
xwayland disable
default_border none
EOF
# No chooser: the one output is shared without asking.
cat >"$home/.config/xdg-desktop-portal-wlr/config" <<EOF
[screencast]
output_name=HEADLESS-1
chooser_type=none
max_fps=30
EOF
chown -R "$user_id:$group_id" "$home" "$run" "$logs"

cleanup() {
  if [ "$keep" = 1 ]; then
    echo "with-sway.sh: kept $base" >&2
  else
    rm -rf "$base"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The session itself, run as the user inside dbus-run-session: starts each
# component, waits until it is really up, runs the command, then stops the
# components in the reverse order.
session=$(
  cat <<'EOS'
set -u
pids=()
stop_all() {
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[$i]}" 2>/dev/null; done
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do wait "${pids[$i]}" 2>/dev/null; done
}
trap stop_all EXIT
fail() {
  echo "with-sway.sh: $1" >&2
  for f in "$FRAMORY_SWAY_LOGS"/*.log; do echo "--- $f" >&2; tail -n 30 "$f" >&2; done
  exit 2
}
wait_for() {  # seconds, test command...
  local limit=$(( $1 * 10 )); shift
  for _ in $(seq 1 "$limit"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}

pipewire >"$FRAMORY_SWAY_LOGS/pipewire.log" 2>&1 &
pids+=($!)
wait_for 10 test -S "$XDG_RUNTIME_DIR/pipewire-0" || fail "pipewire did not start"
wireplumber >"$FRAMORY_SWAY_LOGS/wireplumber.log" 2>&1 &
pids+=($!)

WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
  sway -c "$HOME/.config/sway/config" >"$FRAMORY_SWAY_LOGS/sway.log" 2>&1 &
pids+=($!)
sway_pid=$!
wait_for 20 sh -c 'ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock' || fail "sway did not start"
export SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock | head -n 1)
wait_for 20 sh -c 'ls "$XDG_RUNTIME_DIR"/wayland-[0-9]' || fail "sway opened no display"
export WAYLAND_DISPLAY=$(basename "$(ls "$XDG_RUNTIME_DIR"/wayland-[0-9] | head -n 1)")
wait_for 20 sh -c 'swaymsg -t get_outputs | grep -q HEADLESS-1' || fail "sway has no output"
export FRAMORY_SWAY_OUTPUT=HEADLESS-1
# The first frame drawn: until then a capture may see nothing.
wait_for 10 sh -c 'swaymsg -t get_outputs | grep -q "\"active\": true"' || fail "output not active"

if [ "$FRAMORY_SWAY_PORTAL" = 1 ]; then
  # The wlroots back end needs the display; it is started here rather than
  # activated by the bus, whose activation environment lacks it. The
  # front end is activated on the first call, by then with the back end's
  # name on the bus.
  /usr/libexec/xdg-desktop-portal-wlr -l INFO >"$FRAMORY_SWAY_LOGS/portal-wlr.log" 2>&1 &
  pids+=($!)
  wait_for 10 sh -c 'dbus-send --session --print-reply --dest=org.freedesktop.DBus \
      /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
      string:org.freedesktop.impl.portal.desktop.wlr | grep -q "boolean true"' ||
    fail "xdg-desktop-portal-wlr did not start"
  /usr/libexec/xdg-desktop-portal >"$FRAMORY_SWAY_LOGS/portal.log" 2>&1 &
  pids+=($!)
  wait_for 10 sh -c 'dbus-send --session --print-reply --dest=org.freedesktop.DBus \
      /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
      string:org.freedesktop.portal.Desktop | grep -q "boolean true"' ||
    fail "xdg-desktop-portal did not start"
fi

"$@"
status=$?
if [ "$status" != 0 ]; then
  for f in "$FRAMORY_SWAY_LOGS"/*.log; do echo "--- $f" >&2; tail -n 30 "$f" >&2; done
fi
exit "$status"
EOS
)

env -i PATH="$PATH" HOME="$home" USER=nobody LANG=C.UTF-8 \
  XDG_RUNTIME_DIR="$run" PIPEWIRE_RUNTIME_DIR="$run" XDG_CONFIG_HOME="$home/.config" \
  XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland \
  FRAMORY_SWAY_LOGS="$logs" FRAMORY_SWAY_PORTAL="$portal" \
  ${FRAMORY_TEST_PROGRAM_LOG:+FRAMORY_TEST_PROGRAM_LOG="$FRAMORY_TEST_PROGRAM_LOG"} \
  "${passed[@]}" "${as_user[@]}" dbus-run-session -- bash -c "$session" with-sway "$@"
