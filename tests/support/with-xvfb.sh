#!/usr/bin/env bash
# Runs a command inside a private X session: Xvfb on a free display number with
# openbox as window manager. Both are stopped afterwards, whatever the command
# does, and the command's exit status is returned. Nothing depends on the
# caller's DISPLAY.
#
#   with-xvfb.sh [--depth N] [--size WxH] [--no-wm] -- command [args...]
set -u

depth=24
size=1920x1080
wm=1
while [ $# -gt 0 ]; do
  case "$1" in
    --depth) depth="$2"; shift 2 ;;
    --size) size="$2"; shift 2 ;;
    --no-wm) wm=0; shift ;;
    --) shift; break ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: with-xvfb.sh [--depth N] [--size WxH] [--no-wm] -- command" >&2; exit 2; }

xvfb_pid=""
wm_pid=""
cleanup() {
  [ -n "$wm_pid" ] && kill "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$wm_pid" ] && wait "$wm_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && wait "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Each session takes a display number of its own, picked at random from a wide
# range rather than the lowest free one: a server that has just stopped may
# still be removing its sockets, and a new server on the same number could
# lose its socket to that clean-up. The server says on fd 3 when it accepts
# connections; the session is used only once a client has really connected.
start_server() {
  local number="$1" fifo_dir
  fifo_dir=$(mktemp -d)
  mkfifo "$fifo_dir/fd"
  Xvfb ":$number" -displayfd 3 -screen 0 "${size}x${depth}" -nolisten tcp +extension RECORD \
    +extension MIT-SHM -ac 3>"$fifo_dir/fd" >"$fifo_dir/xvfb.log" 2>&1 &
  xvfb_pid=$!
  local announced=""
  read -r -t 20 announced <"$fifo_dir/fd" || true
  if [ -z "$announced" ]; then
    cat "$fifo_dir/xvfb.log" >&2
    rm -rf "$fifo_dir"
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=""
    return 1
  fi
  rm -rf "$fifo_dir"
  for _ in $(seq 1 100); do
    if DISPLAY=":$number" xprop -root _XKB_RULES_NAMES >/dev/null 2>&1; then
      display_number="$number"
      return 0
    fi
    sleep 0.05
  done
  kill "$xvfb_pid" 2>/dev/null
  wait "$xvfb_pid" 2>/dev/null
  xvfb_pid=""
  return 1
}

display_number=""
for _attempt in 1 2 3 4 5 6; do
  candidate=$((100 + (RANDOM % 900)))
  if [ -e "/tmp/.X${candidate}-lock" ] || [ -e "/tmp/.X11-unix/X${candidate}" ]; then
    continue
  fi
  # A server that is still shutting down may have removed its files but
  # still hold its abstract socket, which clients try first: a new server on
  # that number would have its first clients reach the dying one.
  if grep -q "@/tmp/.X11-unix/X${candidate}\$" /proc/net/unix 2>/dev/null; then
    continue
  fi
  start_server "$candidate" && break
done
if [ -z "$display_number" ]; then
  echo "with-xvfb.sh: Xvfb did not start" >&2
  exit 1
fi
export DISPLAY=":$display_number"
# For tests that stop the server themselves.
export XVFB_PID="$xvfb_pid"
unset WAYLAND_DISPLAY XAUTHORITY

# openbox announces itself before it has finished starting, and a map request
# that reaches it meanwhile can sit unhandled in its queue until some later
# event wakes it up. So the session is handed over only once openbox has put
# a probe window into a frame; while waiting, a root property change wakes it.
wait_until_wm_frames_windows() {
  local probe_pid id framed=0
  xmessage -name framory_wm_probe -geometry +0+0 probe >/dev/null 2>&1 &
  probe_pid=$!
  for _ in $(seq 1 400); do
    id=$(xdotool search --all --classname '^framory_wm_probe$' 2>/dev/null | head -n 1)
    if [ -n "$id" ] && ! xwininfo -children -id "$id" 2>/dev/null |
      grep -q '^ *Parent window id: .*(the root window)'; then
      framed=1
      break
    fi
    kill -0 "$probe_pid" 2>/dev/null || break
    xprop -root -f _FRAMORY_WM_WAKE 32c -set _FRAMORY_WM_WAKE 1 2>/dev/null
    sleep 0.05
  done
  kill "$probe_pid" 2>/dev/null
  wait "$probe_pid" 2>/dev/null
  xprop -root -remove _FRAMORY_WM_WAKE 2>/dev/null
  [ "$framed" = 1 ] || echo "with-xvfb.sh: openbox does not frame windows" >&2
}

if [ "$wm" = 1 ]; then
  # Wait until the window manager has announced itself on the root window. On
  # a loaded machine openbox sometimes fails to connect right after the server
  # came up; start it again when it quit before announcing itself.
  wm_ready=0
  for _attempt in 1 2 3; do
    openbox --sm-disable >"${FRAMORY_OPENBOX_LOG:-/dev/null}" 2>&1 &
    wm_pid=$!
    for _ in $(seq 1 300); do
      if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
        wm_ready=1
        break
      fi
      kill -0 "$wm_pid" 2>/dev/null || break
      sleep 0.05
    done
    [ "$wm_ready" = 1 ] && break
    kill "$wm_pid" 2>/dev/null
    wait "$wm_pid" 2>/dev/null
    wm_pid=""
  done
  [ "$wm_ready" = 1 ] || echo "with-xvfb.sh: openbox did not start" >&2
  [ "$wm_ready" = 1 ] && wait_until_wm_frames_windows
fi

"$@"
status=$?
exit $status
