#!/usr/bin/env bash
# Installs what is missing, builds Framory with its tests, runs every test,
# and checks that every program the tests started comes from a package the
# bootstrap installs (so the run passes on a fresh machine too).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${FRAMORY_BUILD_DIR:-$root/build}"

bash "$root/scripts/bootstrap.sh"
# A compiler cache, where one is installed, makes the build of a fresh clone
# quick; nothing needs it.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON \
  "${launcher[@]}"
cmake --build "$build" --parallel "$(nproc)"
cd "$build"
# The tests note each program they start here (tests/support/ProgramLog.h).
rm -f "$build/test-programs.log"
status=0
ctest --output-on-failure --parallel "$(nproc)" --timeout 600 || status=$?
"$build/tests/check_test_programs" --root "$root" --build "$build" \
  --log "$build/test-programs.log" || status=1
exit "$status"
