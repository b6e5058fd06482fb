// The reader that finds the programs a test script starts: a program it
// misses is one the bootstrap check cannot ask for, and a word it takes for a
// program by mistake fails the check on every machine.
#include "support/ShellWords.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace framory::testing {
namespace {

std::set<std::string> Programs(const std::string& script,
                               const std::set<std::string>& runners = {}) {
  const ShellScan scan = ScanShell(script, runners);
  std::set<std::string> names;
  for (const ShellCommandUse& use : scan.commands)
    if (scan.functions.count(use.name) == 0) names.insert(use.name);
  return names;
}

TEST(ShellWords, FindsEveryCommandPositionBashHas) {
  const std::string script = R"(#!/bin/bash
set -eu
a=1 b=2 ffprobe -v error "$file" | grep -q video && xdotool key a || xsetroot -solid red
if ! pactl info >/dev/null 2>&1; then pulseaudio --start; fi
while read -r line; do md5sum "$line"; done < <(find . -type f)
count=$(identify -format %w "$x" | wc -l)
old=`xprop -root`
( cd /tmp && unrtf --text note.rtf ) &
{ openbox; } 2>/dev/null
for f in $(ls /tmp); do stat "$f"; done
case "$1" in
  --depth|-d) curl -s http://localhost/ ;;
  *) ip link set lo up ;;
esac
timeout -s KILL 10 ffmpeg -i x
env -u LD_LIBRARY_PATH ldd /bin/true
nice -n 19 stress --cpu 2 &
exec /usr/bin/Xvfb :1
bash -c 'djpeg a.jpg | cjpeg > b.jpg'
command xmessage hello
)";
  const std::set<std::string> expected = {
      "ffprobe", "grep",  "xdotool", "xsetroot", "pactl", "pulseaudio", "md5sum",
      "find",    "identify", "wc",   "xprop",    "unrtf", "openbox",    "ls",
      "stat",    "curl",  "ip",      "timeout",  "ffmpeg", "env",       "ldd",
      "nice",    "stress", "/usr/bin/Xvfb", "bash", "djpeg", "cjpeg", "xmessage"};
  EXPECT_EQ(Programs(script), expected);
}

TEST(ShellWords, TakesNoTextDataOrShellWordForAProgram) {
  const std::string script = R"(#!/bin/bash
# xsetroot in a comment is not run
echo "ffmpeg in a string"; printf '%s\n' 'curl in quotes'
PACKAGES=(
  # a comment in the array
  xdotool openbox
  stress
)
cat <<EOF
vlc would be a command here
EOF
cat <<-'END'
	mpv neither
	END
[[ $x == foo && -n "$y" ]] && true
(( i += 1 ))
n=$(( 2 * 3 ))
helper() { local x=$1; "$x" --flag; }
function other { helper; }
helper; other
"$FRAMORY_BIN" --help
./scripts/run.sh
$SUDO apt-get update
trap 'kill $pid' EXIT
if command -v ccache >/dev/null; then :; fi
)";
  EXPECT_EQ(Programs(script), (std::set<std::string>{"cat"}));
}

TEST(ShellWords, ArgumentsOfAFunctionThatRunsThemAreCommands) {
  const std::string common = R"(
check() {
  local what="$1"; shift
  if "$@"; then echo ok; fi
}
wait_until() { local limit=$1; shift; until "$@"; do sleep 0.1; done; }
)";
  const ShellScan defined = ScanShell(common);
  EXPECT_EQ(defined.runners, (std::set<std::string>{"check", "wait_until"}));

  const std::string test = R"(
check "the menu entry is valid" desktop-file-validate "$dir/framory.desktop"
check "the server answers" wait_until "$E2E_WAIT" pactl info
check "unrtf reads it" sh -c "unrtf --text '$file' | grep -q Hello"
)";
  EXPECT_EQ(Programs(test, defined.runners),
            (std::set<std::string>{"desktop-file-validate", "pactl", "sh", "unrtf", "grep"}));
}

TEST(ShellWords, NamesTheLineEachProgramStartsOn) {
  const ShellScan scan = ScanShell("true\n\nxdotool \\\n  key a\ncat <<X\nline\nX\nxsetroot\n");
  ASSERT_EQ(scan.commands.size(), 3u);
  EXPECT_EQ(scan.commands[0].name, "xdotool");
  EXPECT_EQ(scan.commands[0].line, 3);
  EXPECT_EQ(scan.commands[1].name, "cat");
  EXPECT_EQ(scan.commands[2].name, "xsetroot");
  EXPECT_EQ(scan.commands[2].line, 8);
}

}  // namespace
}  // namespace framory::testing
