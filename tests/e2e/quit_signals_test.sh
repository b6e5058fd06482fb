#!/usr/bin/env bash
# xvfb-args: --size 640x480
# SIGTERM, SIGINT and SIGHUP while a clip of type 10 (MPEG-4) or 11
# (uncompressed) records end the program like "Stop and Exit": exit status 0,
# the clip finished with its header counts and index, the run's settings
# saved, no journal record left behind. A signal that arrives while a modal
# dialog runs its own loop ends the program all the same.
source "$(dirname "$0")/e2e_common.bash"
source "$(dirname "$0")/shutdown_common.bash"

echo "--- SIGTERM while the welcome dialog is open"
seed_project welcome "OutputType=11" "TimerValue=250"
start_framory
require "the welcome dialog appears" wait_window "$WELCOME"
kill -s TERM "$FRAMORY_PID"
require "the program ends after SIGTERM" wait_framory_exit
check "the exit status is 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
check "the store holds all 27 values" registry_has_all_values
check "the stored period is kept" registry_is TimerValue 250

run=0
for signal in TERM INT HUP; do
  for type in 10 11; do
    run=$((run + 1))
    echo "--- SIG$signal during a clip of type $type"
    rm -f "$REGISTRY_FILE"
    start_recording "$type" "sig${signal}_$type"
    kill -s "$signal" "$FRAMORY_PID"
    require "the program ends after SIG$signal" wait_framory_exit
    check "the exit status after SIG$signal is 0 (got $FRAMORY_STATUS)" test "$FRAMORY_STATUS" = 0
    check_finished_clip "$CLIP"
    check_run_settings_saved
    check "no journal record is left" test "$(journal_records)" = 0
  done
done
e2e_finish
