#!/usr/bin/env bash
# xvfb-args: --no-wm
# The X server goes away while a clip of type 10 or 11 records (a crashed
# server, a logout without a session manager). The toolkit ends the program
# with status 1 by itself; the clip must still be finished and the run's
# settings saved. Each run stops its own X server, so each gets a session of
# its own; the session this script was started in is not used.
if [ "${1:-}" != --run ]; then
  status=0
  for type in 10 11; do
    "$(dirname "$0")/../support/with-xvfb.sh" --size 640x480 -- "$0" --run "$type" || status=1
  done
  exit $status
fi
type="$2"
source "$(dirname "$0")/e2e_common.bash"
source "$(dirname "$0")/shutdown_common.bash"

echo "--- the X server stops during a clip of type $type"
start_recording "$type" "xloss_$type"
require "with-xvfb.sh names the X server's process (${XVFB_PID:-none})" test -n "${XVFB_PID:-}"
kill -TERM "$XVFB_PID"
require "the program ends after the X server stopped" wait_framory_exit
check "the exit status stays 1 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 1
check_finished_clip "$CLIP"
check_run_settings_saved
check "no journal record is left" test "$(journal_records)" = 0
e2e_finish
