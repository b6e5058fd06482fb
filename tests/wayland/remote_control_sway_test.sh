#!/usr/bin/env bash
# The remote control in a sway session, run the way sway's own key bindings
# run it: `swaymsg exec` starts `framory --toggle-recording` and the others
# in sway's environment, which (XWayland being off) has a Wayland display and
# no X display. The recorder's windows live on an Xvfb beside sway, standing
# in for XWayland; its pictures come from sway's screen. With no recorder
# the command says "Framory is not running" with status 1; with one, each
# command changes what it names, --status reports it, a shot holds sway's
# background colour, and --quit ends the recorder.
#
# The recorder is given sway's display by the full path of its socket (the
# common steps give it a runtime folder of its own), while sway's commands
# name it within sway's runtime folder: both spellings must find the one
# recorder.
#
# Run by CMake as with-xvfb.sh -- with-sway.sh --env ... -- this script.
if [ -z "${WAYLAND_DISPLAY:-}" ] || [ -z "${SWAYSOCK:-}" ]; then
  echo "no sway session: run the test through tests/support/with-sway.sh" >&2
  exit 2
fi
case "$WAYLAND_DISPLAY" in
  /*) ;;
  *) export WAYLAND_DISPLAY="$XDG_RUNTIME_DIR/$WAYLAND_DISPLAY" ;;
esac
source "$(dirname "$0")/../e2e/e2e_common.bash"

# through_sway OPTION: sway runs `framory OPTION` as a binding's exec does;
# waits for it to end. Output in $E2E_ROOT/out and err, status in STATUS.
# (A sway command line ends at ";", so the exec runs a script.) This sway
# was handed the Xvfb's DISPLAY by the session; a sway without XWayland
# gives its commands none, so the script drops it.
cat >"$E2E_ROOT/in-sway" <<SCRIPT
#!/bin/sh
unset DISPLAY
if [ "\$1" = --env ]; then env >"$E2E_ROOT/sway.env"; exit 0; fi
"$FRAMORY_BIN" "\$1" >"$E2E_ROOT/out" 2>"$E2E_ROOT/err"
echo \$? >"$E2E_ROOT/status.part"
mv "$E2E_ROOT/status.part" "$E2E_ROOT/status"
SCRIPT
chmod +x "$E2E_ROOT/in-sway"
through_sway() {
  rm -f "$E2E_ROOT/status"
  swaymsg exec "$E2E_ROOT/in-sway $1" >/dev/null
  STATUS=none
  wait_until "$E2E_WAIT" test -f "$E2E_ROOT/status" && STATUS=$(cat "$E2E_ROOT/status")
}
sway_status_is() {
  through_sway --status
  [ "$STATUS" = 0 ] && [ "$(cat "$E2E_ROOT/out")" = "$1" ] && return 0
  echo "  --status through sway: status $STATUS, '$(cat "$E2E_ROOT/out" "$E2E_ROOT/err")'"
  return 1
}

swaymsg exec "$E2E_ROOT/in-sway --env" >/dev/null
wait_until "$E2E_WAIT" test -s "$E2E_ROOT/sway.env"
check "sway's commands have a Wayland display, named within sway's runtime folder" \
  grep -q '^WAYLAND_DISPLAY=wayland-' "$E2E_ROOT/sway.env"
check "and no X display" sh -c "! grep -q '^DISPLAY=' '$E2E_ROOT/sway.env'"

echo "--- no Framory running"
through_sway --status
check "--status ends with status 1 (got $STATUS)" test "$STATUS" = 1
check "it prints 'Framory is not running'" test "$(cat "$E2E_ROOT/out")" = "Framory is not running"
through_sway --toggle-recording
check "--toggle-recording ends with status 1 (got $STATUS)" test "$STATUS" = 1
check "it says 'Framory is not running'" test "$(cat "$E2E_ROOT/err")" = "Framory is not running"
check "and started nothing" test "$(count_windows .)" = 0

echo "--- a recorder driven by sway"
swaymsg output "$FRAMORY_SWAY_OUTPUT" bg '#FF0000' solid_color >/dev/null
seed_project SwayRemote "OutputType=3" "TimerValue=1000"
start_and_open_project
require "--status through sway reaches it" wait_until "$E2E_WAIT" sway_status_is \
  "paused; output type 3 (PNG pictures); no file yet"
through_sway --toggle-recording
check "--toggle-recording ends with status 0 (got $STATUS)" test "$STATUS" = 0
check "the recorder records" wait_window "$OPTIONS_ACTIVE"
check "--status says so" sway_status_is "recording; output type 3 (PNG pictures); no file yet"
# Until the recorder has chosen its way of reading sway's screen (the
# portal refuses here, the screen copies take over) a shot takes nothing.
shot_taken() {
  through_sway --shot
  [ "$STATUS" = 0 ] && [ "$(pictures)" -ge 1 ]
}
check "--shot through sway takes a picture" wait_until "$E2E_WAIT" shot_taken
picture="$PROJECT_FOLDER/pic0.png"
colour=$(convert "$picture" -format '%[pixel:p{20,20}]' info: 2>/dev/null)
check "the picture shows sway's red background (got '$colour')" \
  sh -c "[ '$colour' = 'srgb(255,0,0)' ] || [ '$colour' = 'red' ]"
check "--status names it" \
  sway_status_is "recording; output type 3 (PNG pictures); file $picture"
through_sway --toggle-recording
check "--toggle-recording pauses (status $STATUS)" wait_window "$OPTIONS_PAUSED"
through_sway --shot
check "--shot while paused ends with status 1 (got $STATUS)" test "$STATUS" = 1
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
through_sway --toggle-view
check "--toggle-view hides the options view (status $STATUS)" wait_window_gone "$OPTIONS_ANY"
check "a terminal with the X display reaches the same recorder" \
  sh -c "'$FRAMORY_BIN' --status | grep -qx 'paused; output type 3 (PNG pictures); file $picture'"
through_sway --quit
check "--quit ends with status 0 (got $STATUS)" test "$STATUS" = 0
require "the recorder ends" wait_framory_exit
check "with status 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
through_sway --status
check "afterwards --status says not running (status $STATUS)" \
  test "$STATUS" = 1 -a "$(cat "$E2E_ROOT/out")" = "Framory is not running"
e2e_finish
