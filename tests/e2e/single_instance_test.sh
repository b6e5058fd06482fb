#!/usr/bin/env bash
# One recorder per user and display. A second start on the same display (in
# any spelling of the display's name) brings the running recorder's options
# view forward and ends with status 0, without touching the settings store or
# the clip journal; the Ctrl-Shift chord then toggles that one recorder. A
# recorder that does not answer still leaves the second start ending with 0.
# Another display has a recorder of its own, and the socket a killed recorder
# left behind does not keep the next start from running.
source "$(dirname "$0")/e2e_common.bash"

INSTANCE_FOLDER="$XDG_RUNTIME_DIR/framory"

# second_start DISPLAY: runs another framory on DISPLAY and waits for it to
# end; its status goes to SECOND_STATUS (empty when it did not end).
second_start() {
  DISPLAY="$1" "$FRAMORY_BIN" >"$E2E_ROOT/second.out" 2>"$E2E_ROOT/second.err" &
  local pid=$!
  SECOND_STATUS=""
  second_gone() { ! kill -0 "$pid" 2>/dev/null; }
  if wait_until "$E2E_WAIT" second_gone; then
    wait "$pid"
    SECOND_STATUS=$?
  else
    E2E_HELPER_PIDS+=("$pid")
    echo "  the second start still runs; its output:"
    cat "$E2E_ROOT/second.out" "$E2E_ROOT/second.err"
  fi
}

# What must not change under a second start: the store's bytes, its inode and
# modification time (a rewrite of the same text shows there), and the files
# of the clip journal.
store_state() {
  stat -c '%i %y %s' "$REGISTRY_FILE"
  find "$XDG_STATE_HOME" -printf '%p %s %T@\n' 2>/dev/null | sort
}

options_mapped() {
  local id
  id=$(find_window "$OPTIONS_ANY")
  [ -n "$id" ] && xwininfo -id "$id" | grep -q 'Map State: IsViewable'
}

seed_project single
start_and_open_project
cp "$REGISTRY_FILE" "$E2E_ROOT/store.before"
state_before=$(store_state)

echo "--- a second start while the options view is hidden"
# "Hide this Window" is the default button. With no automatic trigger the
# recorder resumes as the view goes.
require "Enter hides the options view" press_in_window "$OPTIONS_ANY" Return
require "the options view is gone" wait_window_gone "$OPTIONS_ANY"
second_start "$DISPLAY.0"
check "a second start on $DISPLAY.0 ends with status 0 (got ${SECOND_STATUS:-none})" \
  test "$SECOND_STATUS" = 0
check "the second start prints nothing" test ! -s "$E2E_ROOT/second.err"
check "the running recorder shows its options view again" wait_window "$OPTIONS_ACTIVE"
check "the options window is mapped" options_mapped
check "the second start opened no welcome dialog" test -z "$(xdotool search --onlyvisible --name "$WELCOME")"

echo "--- a second start while the options view is shown"
second_start "unix$DISPLAY"
check "a second start on unix$DISPLAY ends with status 0 (got ${SECOND_STATUS:-none})" \
  test "$SECOND_STATUS" = 0
check "the options view stays shown (a show is not a toggle)" \
  test "$(count_windows "$OPTIONS_ANY")" = 1

echo "--- a second start while another window is in front"
xmessage -name framory_other_window -geometry 600x400+0+0 "another window" >/dev/null 2>&1 &
E2E_HELPER_PIDS+=($!)
other_window() { xdotool search --onlyvisible --classname '^framory_other_window$' 2>/dev/null | head -n 1; }
other_shown() { [ -n "$(other_window)" ]; }
wait_until "$E2E_WAIT" other_shown
options_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$(find_window "$OPTIONS_ANY")" ]; }
other_active() { [ "$(xdotool getactivewindow 2>/dev/null)" = "$(other_window)" ]; }
focus_window "$(other_window)"
require "the other window is in front" wait_until "$E2E_WAIT" other_active
second_start "$DISPLAY"
check "a second start ends with status 0 (got ${SECOND_STATUS:-none})" test "$SECOND_STATUS" = 0
check "the options view comes in front" wait_until "$E2E_WAIT" options_active
check "the store is byte-identical" cmp -s "$REGISTRY_FILE" "$E2E_ROOT/store.before"
check "the store and the journal were not rewritten" test "$(store_state)" = "$state_before"

echo "--- the chord toggles the one recorder"
check "Ctrl-Shift pauses the recorder" toggle_recorder_to Paused
check "Ctrl-Shift resumes it" toggle_recorder_to Active
check "Ctrl-Shift pauses it again" toggle_recorder_to Paused

echo "--- a recorder that does not answer"
kill -STOP "$FRAMORY_PID"
second_start "$DISPLAY"
kill -CONT "$FRAMORY_PID"
check "the second start still ends with status 0 (got ${SECOND_STATUS:-none})" \
  test "$SECOND_STATUS" = 0
check "it says on stderr that the recorder did not answer" \
  grep -q 'did not answer' "$E2E_ROOT/second.err"
check "the store is still untouched" test "$(store_state)" = "$state_before"

echo "--- another display has its own recorder"
# A display number of its own, chosen as with-xvfb.sh does: at random, and
# not one whose server may still be going away.
start_other_display() {
  local candidate pid announced fifo="$E2E_ROOT/displayfd"
  mkfifo "$fifo"
  for _ in 1 2 3 4 5 6; do
    candidate=$((100 + RANDOM % 900))
    [ ":$candidate" = "$DISPLAY" ] && continue
    if [ -e "/tmp/.X${candidate}-lock" ] || [ -e "/tmp/.X11-unix/X${candidate}" ] ||
      grep -q "@/tmp/.X11-unix/X${candidate}\$" /proc/net/unix 2>/dev/null; then
      continue
    fi
    Xvfb ":$candidate" -displayfd 3 -screen 0 800x600x24 -nolisten tcp -ac 3>"$fifo" \
      >"$E2E_ROOT/xvfb2.log" 2>&1 &
    pid=$!
    announced=""
    read -r -t 20 announced <"$fifo" || true
    if [ -n "$announced" ]; then
      E2E_HELPER_PIDS+=("$pid")
      OTHER=":$candidate"
      other_reachable() { DISPLAY="$OTHER" xprop -root >/dev/null 2>&1; }
      wait_until "$E2E_WAIT" other_reachable
      return
    fi
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  return 1
}
OTHER=""
require "a second X server runs" start_other_display
other_pid=""
start_on_other() {
  DISPLAY="$OTHER" "$FRAMORY_BIN" >"$E2E_ROOT/other.log" 2>&1 &
  other_pid=$!
  E2E_HELPER_PIDS+=("$other_pid")
}
other_welcome() {
  [ -n "$(DISPLAY="$OTHER" xdotool search --onlyvisible --pid "$other_pid" --name "$WELCOME" 2>/dev/null)" ]
}
other_settled() { other_welcome || ! kill -0 "$other_pid" 2>/dev/null; }
other_refused() {
  ! kill -0 "$other_pid" 2>/dev/null && grep -q 'cannot open the X display' "$E2E_ROOT/other.log"
}
# On a loaded machine a fresh server now and then refuses a first client; a
# start that could not open the display at all (which is not what this test
# is about) is made again.
start_on_other
for _ in 1 2; do
  wait_until "$E2E_WAIT" other_settled
  other_refused || break
  echo "  $OTHER refused the start; starting again"
  start_on_other
done
wait_until "$E2E_WAIT" other_settled
other_welcome || cat "$E2E_ROOT/other.log"
check "a start on $OTHER runs and shows its welcome dialog" other_welcome
check "the recorder on $DISPLAY runs on" framory_running
check "the recorder on $DISPLAY keeps its options view" window_shown "$OPTIONS_ANY"
kill "$other_pid" 2>/dev/null
other_gone() { ! kill -0 "$other_pid" 2>/dev/null; }
wait_until "$E2E_WAIT" other_gone

echo "--- a socket left by a killed recorder"
kill -KILL "$FRAMORY_PID"
require "the recorder ends after kill -9" wait_framory_exit
socket_left() { compgen -G "$INSTANCE_FOLDER/display$DISPLAY@*.socket" >/dev/null; }
check "its socket file is still there" socket_left
start_framory
require "the next start runs: its welcome dialog appears" wait_window "$WELCOME"
second_start "$DISPLAY"
check "a second start now reaches the new recorder (status ${SECOND_STATUS:-none})" \
  test "$SECOND_STATUS" = 0 -a ! -s "$E2E_ROOT/second.err"
check "the new recorder keeps its welcome dialog" window_shown "$WELCOME"
require "Esc in the welcome dialog is accepted" press_in_window "$WELCOME" Escape
require "the program ends" wait_framory_exit
check "the exit status is 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
e2e_finish
