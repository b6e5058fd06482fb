#!/usr/bin/env bash
# The remote control as a desktop shortcut or a script meets it, on a private
# session bus (its own dbus-daemon, which also lets other users connect, as a
# badly configured shared bus would): with no Framory running, every command
# says "Framory is not running" with status 1 and starts nothing; --quit ends
# a recorder whose welcome dialog waits for an answer; then the real program,
# driven only through `framory --toggle-recording`, `--shot`,
# `--toggle-view`, `--status` and `--quit`, changes what each names, the
# state read back matches, and each change is signalled on the bus once
# (watched with dbus-monitor). Unknown methods, wrong arguments, writing the
# state, and every call from another user are refused without effect. The
# same commands reach the recorder through its socket where the caller has no
# bus, and a second plain start reaches it through the bus.
if [ -z "${FRAMORY_TEST_PRIVATE_BUS:-}" ]; then
  export FRAMORY_TEST_PRIVATE_BUS=1
  config=$(mktemp "${TMPDIR:-/tmp}/framory-bus.XXXXXX")
  cat >"$config" <<'CONFIG'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:tmpdir=/tmp</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
CONFIG
  dbus-run-session --config-file="$config" -- "$0" "$@"
  status=$?
  rm -f "$config"
  exit "$status"
fi
source "$(dirname "$0")/e2e_common.bash"

# remote OPTION...: runs framory with the options; its status goes to STATUS,
# its output to $E2E_ROOT/out and $E2E_ROOT/err.
remote() {
  "$FRAMORY_BIN" "$@" >"$E2E_ROOT/out" 2>"$E2E_ROOT/err"
  STATUS=$?
}
# said FILE TEXT: the file holds exactly the one line TEXT.
said() {
  [ "$(cat "$1")" = "$2" ] && [ "$(wc -l <"$1")" = 1 ] && return 0
  echo "  $(basename "$1") holds: $(od -c "$1" | head -5)"
  return 1
}
status_line() {
  "$FRAMORY_BIN" --status 2>/dev/null
}
status_is() {
  local line
  line=$(status_line)
  [ "$line" = "$1" ] && return 0
  echo "  --status says '$line', expected '$1'"
  return 1
}
NAME="org.framory.Framory.Display${DISPLAY#:}"
gdbus_call() {
  gdbus call --session --dest "$NAME" --object-path /org/framory/Framory "$@"
}

echo "--- no Framory running"
for option in --status --toggle-recording --toggle-view --shot --quit; do
  remote "$option"
  check "$option ends with status 1 (got $STATUS)" test "$STATUS" = 1
  if [ "$option" = --status ]; then
    check "--status prints exactly 'Framory is not running'" \
      said "$E2E_ROOT/out" "Framory is not running"
    check "and nothing on stderr" test ! -s "$E2E_ROOT/err"
  else
    check "$option says exactly 'Framory is not running' on stderr" \
      said "$E2E_ROOT/err" "Framory is not running"
    check "and nothing on stdout" test ! -s "$E2E_ROOT/out"
  fi
done
name_owned() {
  gdbus call --session --dest org.freedesktop.DBus --object-path /org/freedesktop/DBus \
    --method org.freedesktop.DBus.NameHasOwner "$NAME" | grep -q true
}
check "no command started a recorder: no window" test "$(count_windows .)" = 0
name_free() { ! name_owned; }
check "and nobody owns $NAME on the bus" name_free
remote --status
check "still not running afterwards (status $STATUS)" test "$STATUS" = 1

echo "--- quit while the welcome dialog waits for an answer"
seed_project Remote "OutputType=3" "TimerValue=1000"
start_framory
require "the welcome dialog appears" wait_window "$WELCOME"
remote --quit
check "--quit ends with status 0 (got $STATUS)" test "$STATUS" = 0
require "the recorder ends from inside the dialog" wait_framory_exit
check "with status 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0

# Every StateChanged signal on the bus, one line each.
dbus-monitor --session "type='signal',interface='org.framory.Framory1'" \
  "type='method_call',interface='org.framory.Framory1'" >"$E2E_ROOT/monitor.log" 2>&1 &
E2E_HELPER_PIDS+=($!)
monitor_ready() { [ -s "$E2E_ROOT/monitor.log" ]; }
require "dbus-monitor watches the bus" wait_until "$E2E_WAIT" monitor_ready
signals() {
  awk '
    /^(signal|method call|method return|error)/ {
      if (record != "") print record
      record = ($0 ~ /member=StateChanged/) ? "state" : ""
      next
    }
    record != "" && /string "(CurrentFile|OutputType|Recording)"/ {
      match($0, /"[A-Za-z]+"/)
      key = substr($0, RSTART + 1, RLENGTH - 2)
      getline
      sub(/^ *variant +/, "")
      record = record " " key "=" $0
    }
    END { if (record != "") print record }
  ' "$E2E_ROOT/monitor.log"
}

echo "--- the running recorder, driven through the command line"
start_and_open_project
require "--status reaches the recorder" wait_until "$E2E_WAIT" status_is \
  "paused; output type 3 (PNG pictures); no file yet"
check "the recorder owns $NAME on the bus" name_owned

remote --toggle-recording
check "--toggle-recording ends with status 0 (got $STATUS) and prints nothing" \
  test "$STATUS" = 0 -a ! -s "$E2E_ROOT/out" -a ! -s "$E2E_ROOT/err"
check "the options view says recording" wait_window "$OPTIONS_ACTIVE"
check "--status says recording" status_is "recording; output type 3 (PNG pictures); no file yet"

remote --shot
check "--shot ends with status 0 (got $STATUS)" test "$STATUS" = 0
check "--shot writes one picture" wait_until "$E2E_WAIT" test -s "$PROJECT_FOLDER/pic0.png"
check "the picture is a PNG an outside decoder reads" \
  sh -c "identify -format '%m' '$PROJECT_FOLDER/pic0.png' | grep -qx PNG"
check "--status names it" \
  status_is "recording; output type 3 (PNG pictures); file $PROJECT_FOLDER/pic0.png"
check "exactly one picture" test "$(pictures)" = 1

remote --toggle-recording
check "--toggle-recording pauses (status $STATUS)" wait_window "$OPTIONS_PAUSED"
remote --shot
check "--shot while paused ends with status 1 (got $STATUS)" test "$STATUS" = 1
check "it says why on stderr" said "$E2E_ROOT/err" "framory: Framory is paused; no shot was taken"
check "and takes no picture" test "$(pictures)" = 1
check "--status says paused with the last picture" \
  status_is "paused; output type 3 (PNG pictures); file $PROJECT_FOLDER/pic0.png"

echo "--- the state is signalled once per change"
signalled() { signals | grep -qF "$1"; }
check "a StateChanged says recording before the picture" \
  wait_until "$E2E_WAIT" signalled 'state CurrentFile=string "" OutputType=int32 3 Recording=boolean true'
check "a StateChanged names the picture while recording" wait_until "$E2E_WAIT" signalled \
  "state CurrentFile=string \"$PROJECT_FOLDER/pic0.png\" OutputType=int32 3 Recording=boolean true"
check "a StateChanged says paused after it" wait_until "$E2E_WAIT" signalled \
  "state CurrentFile=string \"$PROJECT_FOLDER/pic0.png\" OutputType=int32 3 Recording=boolean false"
signals | grep '^state' >"$E2E_ROOT/states"
check "no state is signalled twice in a row" \
  test "$(uniq "$E2E_ROOT/states" | wc -l)" = "$(wc -l <"$E2E_ROOT/states")"
last_three=$(tail -n 3 "$E2E_ROOT/states" | grep -o 'Recording=boolean [a-z]*' | tr '\n' ' ')
check "the last three say recording, recording (the picture), paused: $last_three" \
  test "$last_three" = "Recording=boolean true Recording=boolean true Recording=boolean false "

echo "--- the options view"
# The view hides on a toggle when it is the window in front (else it is
# brought forward, as with the chord); a view just shown gets there once the
# window manager has given it the keyboard.
options_in_front() {
  local id
  id=$(find_window "$OPTIONS_ANY")
  [ -n "$id" ] || return 1
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$id" ] && return 0
  focus_window "$id"
  [ "$(xdotool getactivewindow 2>/dev/null)" = "$id" ]
}
require "the options view is in front" wait_until "$E2E_WAIT" options_in_front
remote --toggle-view
check "--toggle-view ends with status 0 (got $STATUS)" test "$STATUS" = 0
check "--toggle-view hides the options view" wait_window_gone "$OPTIONS_ANY"
remote --toggle-view
check "--toggle-view shows it again" wait_window "$OPTIONS_PAUSED"
require "the options view is in front again" wait_until "$E2E_WAIT" options_in_front
remote --toggle-view
require "--toggle-view hides it once more" wait_window_gone "$OPTIONS_ANY"
"$FRAMORY_BIN" >"$E2E_ROOT/second.out" 2>&1
check "a second plain start ends with status 0 (got $?)" test $? = 0
check "the second start brought the options view back" wait_window "$OPTIONS_PAUSED"
check "it asked over the bus" grep -q 'member=ShowOptionsView' "$E2E_ROOT/monitor.log"

echo "--- callers the recorder must not obey"
before=$(status_line)
out=$(gdbus_call --method org.framory.Framory1.StartRecordingEverything 2>&1)
check "an unknown method is refused as unknown" grep -q 'UnknownMethod' <<<"$out"
out=$(gdbus_call --method org.framory.Framory1.ToggleRecording extra 2>&1)
check "a known method with arguments is refused" grep -q 'UnknownMethod' <<<"$out"
out=$(gdbus_call --method org.freedesktop.DBus.Properties.Set org.framory.Framory1 State \
  "<@a{sv} {'Recording': <true>}>" 2>&1)
check "the state cannot be written" grep -q 'PropertyReadOnly' <<<"$out"
out=$(gdbus_call --method org.example.Other.ToggleRecording 2>&1)
check "another interface is refused" grep -q 'UnknownInterface' <<<"$out"
# Another user on the same bus (which this bus lets in).
as_nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
out=$(as_nobody gdbus call --session --dest "$NAME" --object-path /org/framory/Framory \
  --method org.framory.Framory1.ToggleRecording 2>&1)
check "another user's ToggleRecording is denied" grep -q 'AccessDenied' <<<"$out"
out=$(as_nobody gdbus call --session --dest "$NAME" --object-path /org/framory/Framory \
  --method org.freedesktop.DBus.Properties.Get org.framory.Framory1 State 2>&1)
check "another user cannot read the state (the current file's path)" grep -q 'AccessDenied' <<<"$out"
out=$(as_nobody gdbus call --session --dest "$NAME" --object-path /org/framory/Framory \
  --method org.framory.Framory1.Quit 2>&1)
check "another user's Quit is denied" grep -q 'AccessDenied' <<<"$out"
as_nobody env HOME=/nonexistent XDG_RUNTIME_DIR= "$FRAMORY_BIN" --toggle-recording \
  >"$E2E_ROOT/out" 2>"$E2E_ROOT/err"
STATUS=$?
check "another user's command line ends with status 1 (got $STATUS)" test "$STATUS" = 1
check "it does not reach this user's recorder" said "$E2E_ROOT/err" "Framory is not running"
check "none of them changed anything" status_is "$before"
check "the recorder runs on, paused" wait_window "$OPTIONS_PAUSED"

echo "--- without a session bus, through the socket"
check "--status without a bus" sh -c "env -u DBUS_SESSION_BUS_ADDRESS '$FRAMORY_BIN' --status |
  grep -qx 'paused; output type 3 (PNG pictures); file $PROJECT_FOLDER/pic0.png'"
env -u DBUS_SESSION_BUS_ADDRESS "$FRAMORY_BIN" --toggle-recording
check "--toggle-recording without a bus ends with 0 (got $?)" test $? = 0
check "and resumes" wait_window "$OPTIONS_ACTIVE"
remote --toggle-recording
check "the bus pauses again (status $STATUS)" wait_window "$OPTIONS_PAUSED"

echo "--- quit"
remote --quit
check "--quit ends with status 0 (got $STATUS)" test "$STATUS" = 0
require "the recorder ends" wait_framory_exit
check "with status 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
check "its settings were saved on the way out" registry_is OutputType 3
remote --status
check "afterwards --status ends with status 1 (got $STATUS)" test "$STATUS" = 1
check "and says 'Framory is not running'" said "$E2E_ROOT/out" "Framory is not running"
e2e_finish
