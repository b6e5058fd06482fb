#!/usr/bin/env bash
# The command line as a person meets it in a terminal: --help and --version
# print and end without touching a display, a bad option is one line and
# status 2, and a missing or dead X display is one line naming it and
# status 1 (not a toolkit abort).
source "$(dirname "$0")/e2e_common.bash"

run() {
  "$@" >"$E2E_ROOT/out" 2>"$E2E_ROOT/err"
  STATUS=$?
}

run env -u DISPLAY "$FRAMORY_BIN" --help
check "--help ends with status 0 (got $STATUS)" test "$STATUS" = 0
check "--help prints the usage without a display" grep -q '^Usage: framory' "$E2E_ROOT/out"
check "--help lists --version" grep -q -- '--version' "$E2E_ROOT/out"

run env -u DISPLAY "$FRAMORY_BIN" --version
check "--version ends with status 0 (got $STATUS)" test "$STATUS" = 0
check "--version prints the program and version" grep -qE '^framory [0-9]+\.[0-9]+' "$E2E_ROOT/out"

run "$FRAMORY_BIN" --record-everything
check "a bad option ends with status 2 (got $STATUS)" test "$STATUS" = 2
check "a bad option is one line on stderr naming it" \
  test "$(wc -l <"$E2E_ROOT/err")" = 1 -a -n "$(grep -- '--record-everything' "$E2E_ROOT/err")"
check "a bad option opens no window" test "$(count_windows .)" = 0

run env -u DISPLAY "$FRAMORY_BIN"
check "no DISPLAY ends with status 1 (got $STATUS)" test "$STATUS" = 1
check "no DISPLAY is one line saying so" \
  test "$(wc -l <"$E2E_ROOT/err")" = 1 -a -n "$(grep DISPLAY "$E2E_ROOT/err")"

# A display number with no server behind it (nothing listens on its socket).
dead=""
for n in $(seq 900 999); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { dead=":$n"; break; }
done
run env DISPLAY="$dead" "$FRAMORY_BIN"
check "a dead display ends with status 1 (got $STATUS)" test "$STATUS" = 1
check "a dead display is one line naming $dead" \
  test "$(wc -l <"$E2E_ROOT/err")" = 1 -a -n "$(grep -F "\"$dead\"" "$E2E_ROOT/err")"
check "no core dump or toolkit abort" test -z "$(grep -iE 'abort|core|qt\.qpa' "$E2E_ROOT/err")"

e2e_finish
