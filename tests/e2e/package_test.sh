#!/usr/bin/env bash
# xvfb-args: --no-wm
# The Debian package as CPack builds it: the default file name, control
# fields with dependencies worked out from the linked libraries, the files a
# user expects in it, a menu entry that desktop-file-validate accepts, no
# lintian error or warning, stripped programs, and AppStream metadata that
# appstreamcli accepts.
set -u
if [ -z "${FRAMORY_BUILD_DIR:-}" ]; then
  echo "FRAMORY_BUILD_DIR must name the build folder" >&2
  exit 2
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/framory-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
check() {
  local what="$1"
  shift
  if "$@"; then echo "PASS: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}

if ! (cd "$FRAMORY_BUILD_DIR" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1); then
  cat "$work/cpack.log"
  echo "FAIL: cpack could not build the package"
  exit 1
fi
deb=$(find "$work" -maxdepth 1 -name 'framory_*_amd64.deb' | head -n 1)
check "the package has the Debian default name framory_<version>_amd64.deb" test -n "$deb"
[ -n "$deb" ] || exit 1

field() { dpkg-deb -f "$deb" "$1"; }
check "Package is framory" test "$(field Package)" = framory
check "Architecture is amd64" test "$(field Architecture)" = amd64
check "Version is set ($(field Version))" test -n "$(field Version)"
depends=$(field Depends)
for lib in libqt6widgets6 libavformat59 libx11-6 libjpeg62-turbo libpng16-16 libc6; do
  check "Depends names $lib (generated from the linked libraries)" \
    grep -q "$lib" <<<"$depends"
done

files=$(dpkg-deb -c "$deb" | awk '{print $6 ($7 == "->" ? " -> " $8 : "")}')
for path in ./usr/lib/framory/framory ./usr/lib/framory/framory.html ./usr/lib/framory/framory.wmv \
  ./usr/lib/framory/libCinelink.so ./usr/lib/framory/QuickTime.qts \
  ./usr/share/applications/framory.desktop ./usr/share/framory/framory-autostart.desktop \
  ./usr/share/icons/hicolor/48x48/apps/framory.png ./usr/share/man/man1/framory.1.gz \
  ./usr/share/doc/framory/copyright ./usr/share/doc/framory/changelog.gz \
  ./usr/share/metainfo/org.framory.Framory.metainfo.xml; do
  check "the package holds $path" grep -q "^$path\( ->.*\)\?$" <<<"$files"
done
check "bin/framory is a link to ../lib/framory/framory" \
  grep -qx './usr/bin/framory -> ../lib/framory/framory' <<<"$files"
check "nothing from the build or test tree is packaged" \
  test -z "$(grep -E 'test|gtest|bench|include/' <<<"$files")"

dpkg-deb -x "$deb" "$work/root"
check "desktop-file-validate accepts the menu entry" \
  desktop-file-validate "$work/root/usr/share/applications/framory.desktop"
check "desktop-file-validate accepts the autostart entry" \
  desktop-file-validate "$work/root/usr/share/framory/framory-autostart.desktop"
check "the menu entry lists Recorder among its categories" \
  grep -qx 'Categories=AudioVideo;Video;Recorder;' "$work/root/usr/share/applications/framory.desktop"
check "the manual page is the --help text" \
  zgrep -q 'show the version and exit' "$work/root/usr/share/man/man1/framory.1.gz"


# lintian's errors and warnings (E: and W: lines) must be none; its
# informational notes are allowed. Running as root only adds a remark.
lintian --no-cfg "$deb" >"$work/lintian.log" 2>&1
grep -E '^[EW]: ' "$work/lintian.log" >"$work/lintian.faults"
check "lintian reports no error and no warning" test ! -s "$work/lintian.faults"
cat "$work/lintian.faults"
check "no maintainer script calls ldconfig for the private libraries" \
  test -z "$(dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -E 'postinst|postrm')"
for binary in framory libCinelink.so QuickTime.qts; do
  check "$binary is stripped" \
    test -z "$(readelf -S "$work/root/usr/lib/framory/$binary" | grep -E '\.debug_|\.symtab')"
done
check "the copyright file is machine-readable and names the linked libraries' licences" \
  grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$work/root/usr/share/doc/framory/copyright"
for what in FFmpeg 'Qt 6' libjpeg-turbo libpng zlib; do
  check "the copyright file names $what" grep -q "$what" "$work/root/usr/share/doc/framory/copyright"
done
check "appstreamcli validate --no-net accepts the metainfo file" \
  appstreamcli validate --no-net "$work/root/usr/share/metainfo/org.framory.Framory.metainfo.xml"
check "the metainfo file launches the menu entry the package installs" \
  grep -q '<launchable type="desktop-id">framory.desktop</launchable>' \
  "$work/root/usr/share/metainfo/org.framory.Framory.metainfo.xml"

[ "$failures" = 0 ] && { echo "all checks passed"; exit 0; }
echo "$failures check(s) failed"
exit 1
