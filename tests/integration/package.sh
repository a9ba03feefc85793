#!/usr/bin/env bash
# The Debian package end to end: CPack builds it, it holds the programs, their
# manual pages, the resource folder and the desktop files, lintian finds no
# error, the desktop entries and the AppStream metadata validate, and the
# program unpacked from it starts and gets its page ticking.
# Runs inside scripts/test-env. Usage: package.sh BUILD_DIR
set -euo pipefail

build=$(realpath "$1")
work=$(mktemp -d /tmp/bopling-package.XXXXXX)
pid=
stop() { [[ -z $pid ]] || { kill "$pid" && wait "$pid"; } 2>/dev/null || true; rm -rf "$work"; }
trap stop EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack could not build the package"; }
deb=$(echo "$work"/out/bopling_*.deb)
[[ -f $deb ]] || fail "no package in $work/out"

dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files"
for f in bin/bopling bin/bopling-analyze bin/bopling-creature \
  share/man/man1/bopling.1.gz share/man/man1/bopling-analyze.1.gz share/man/man1/bopling-creature.1.gz \
  share/bopling/web/index.html share/bopling/moves/blast.gif share/bopling/icons/bopling.svg \
  share/applications/bopling.desktop share/icons/hicolor/scalable/apps/bopling.svg \
  share/metainfo/org.bopling.Bopling.metainfo.xml share/bopling/bopling-autostart.desktop \
  share/bopling/screenshot.png share/doc/bopling/copyright; do
  grep -qx "./usr/$f" "$work/files" || fail "the package lacks /usr/$f"
done
depends=$(dpkg-deb -f "$deb" Depends)
for d in libpulse0 libqt6webenginewidgets6 libqt6webenginecore6-bin qt6-qpa-plugins; do
  [[ $depends == *"$d"* ]] || fail "Depends lacks $d: $depends"
done

lintian --fail-on error "$deb" || fail "lintian found errors"

root=$work/root
dpkg -x "$deb" "$root"
desktop-file-validate "$root/usr/share/applications/bopling.desktop" \
  "$root/usr/share/bopling/bopling-autostart.desktop" || fail "a desktop entry is not valid"
metainfo=$root/usr/share/metainfo/org.bopling.Bopling.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "the AppStream metadata is not valid"
grep -q '<launchable type="desktop-id">bopling.desktop</launchable>' "$metainfo" || fail "no launchable"
shot=$(sed -n 's|.*<image>.*/\(.*\)</image>.*|\1|p' "$metainfo")
[[ -n $shot && -f $root/usr/share/bopling/$shot ]] || fail "the screenshot '$shot' is not in the package"

for program in bopling bopling-analyze bopling-creature; do
  "$root/usr/bin/$program" --help | grep -q "^Usage: $program" || fail "$program --help"
  [[ $("$root/usr/bin/$program" --version) == "$program "[0-9]* ]] || fail "$program --version"
  zcat "$root/usr/share/man/man1/$program.1.gz" | grep -q 'Shows the version' || fail "$program.1 lacks --help"
done

QX_DEBUG=1 QX_TEST_AUDIO="$build/demo/bopling-demo.wav" QX_LOG="$work/state.log" \
  "$root/usr/bin/bopling" >"$work/bopling.out" 2>&1 &
pid=$!
for _ in $(seq 90); do
  grep -q '"js":{.*"ticks":[1-9]' "$work/state.log" 2>/dev/null && exit 0
  kill -0 "$pid" 2>/dev/null || break
  sleep 1
done
cat "$work/bopling.out" "$work/state.log" 2>/dev/null
fail "the installed program did not get its page ticking"
