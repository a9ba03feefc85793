#!/usr/bin/env bash
# The Debian packages end to end: CPack builds them, bopling holds the
# programs, their manual pages, the resource folder and the desktop files and
# needs no web engine, bopling-web holds the web renderer, lintian finds no
# error, the desktop entries and the AppStream metadata validate, and the
# program unpacked from them gets its page ticking with either renderer.
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
webdeb=$(echo "$work"/out/bopling-web_*.deb)
[[ -f $deb && -f $webdeb ]] || fail "no packages in $work/out"

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
for d in libpulse0 libqt6qml6 qt6-qpa-plugins; do
  [[ $depends == *"$d"* ]] || fail "Depends lacks $d: $depends"
done
[[ $depends != *webengine* ]] || fail "bopling depends on the web engine: $depends"
dpkg-deb -c "$webdeb" >"$work/webfiles"
grep -q '/usr/lib/bopling/renderer/bopling-webhost.so$' "$work/webfiles" || fail "bopling-web lacks its module"
# A module nothing links needs no ldconfig run: no maintainer scripts.
control=$(dpkg-deb --ctrl-tarfile "$webdeb" | tar -t)
[[ $control != *post* ]] || fail "bopling-web runs maintainer scripts: $control"
webdepends=$(dpkg-deb -f "$webdeb" Depends)
for d in "bopling (= " libqt6webenginewidgets6 libqt6webenginecore6-bin; do
  [[ $webdepends == *"$d"* ]] || fail "bopling-web's Depends lacks $d: $webdepends"
done

lintian --fail-on error "$deb" "$webdeb" || fail "lintian found errors"

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

# Ticking with the renderer given (none: the default), the page's process
# matching `web` in the state log.
ticks() {
  rm -f "$work/state.log"
  QX_DEBUG=1 QX_TEST_AUDIO="$build/demo/bopling-demo.wav" QX_LOG="$work/state.log" \
    "$root/usr/bin/bopling" "$@" >"$work/bopling.out" 2>&1 &
  pid=$!
  for _ in $(seq 90); do
    if grep -q "\"web\":$web,.*\"js\":{.*\"ticks\":[1-9]" "$work/state.log" 2>/dev/null; then
      kill "$pid" && wait "$pid" 2>/dev/null
      pid=
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 1
  done
  cat "$work/bopling.out" "$work/state.log" 2>/dev/null
  fail "the installed program did not get its page ticking ($*)"
}
web=0 ticks
{ timeout 5 "$root/usr/bin/bopling" --renderer=web 2>&1 || true; } | grep -q 'install the bopling-web package' ||
  fail "no word of the missing web renderer"
dpkg -x "$webdeb" "$root"
web='[1-9][0-9]*' ticks --renderer=web
