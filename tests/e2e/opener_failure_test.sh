#!/usr/bin/env bash
# The desktop has nothing to open a file with: xdg-open runs but fails (exit
# status 3, as xdg-open reports a missing tool). "Help and Tutorials..." then
# shows its "Unable to Open Help File" box, as for a missing page, and
# "Browse Results" (which has no box) leaves one stderr line naming the
# folder and xdg-open. The stand-in xdg-open notes what it was asked to open.
source "$(dirname "$0")/e2e_common.bash"

mkdir -p "$E2E_ROOT/bin"
cat >"$E2E_ROOT/bin/xdg-open" <<OPENER
#!/bin/sh
printf '%s\n' "\$1" >>"$E2E_ROOT/opened"
echo "xdg-open: no method available for opening '\$1'" >&2
exit 3
OPENER
chmod +x "$E2E_ROOT/bin/xdg-open"
export PATH="$E2E_ROOT/bin:$PATH"

HELP_BOX='^Unable to Open Help File$'
seed_project opener
start_framory
require "the welcome dialog appears" wait_window "$WELCOME"
welcome=$(find_window "$WELCOME")
# "Help and Tutorials..." sits at 109,120 (73 x 14) of the 293 x 163 template.
require "'Help and Tutorials...' is clicked" click_control "$welcome" 293 163 109 120 73 14
check "xdg-open was asked to open the help page" \
  wait_until "$E2E_WAIT" grep -q 'framory\.html$' "$E2E_ROOT/opened"
check "its failure shows the 'Unable to Open Help File' box" wait_window "$HELP_BOX"
check "stderr names the page and xdg-open's status" \
  grep -q 'xdg-open could not open .*framory\.html (exit status 3)' "$E2E_ROOT/framory.log"
require "Enter closes the box" dismiss_box "$HELP_BOX"

require "Enter on the welcome dialog starts the project" press_in_window "$WELCOME" Return
require "the options view appears, paused" wait_window "$OPTIONS_PAUSED"
require "the 'Framory Pausing...' box appears" wait_window "$PAUSING_BOX"
require "Enter closes the 'Framory Pausing...' box" dismiss_box "$PAUSING_BOX"

# "Browse Results" sits at 249, 155 (61 x 14) of the options view.
require "'Browse Results' is clicked" click_options_control 249 155 61 14
folder_line() {
  grep -qF "xdg-open could not open $PROJECT_FOLDER (exit status 3)" "$E2E_ROOT/framory.log"
}
check "stderr names the results folder and xdg-open's status" \
  wait_until "$E2E_WAIT" folder_line
exit_with_escape
e2e_finish
