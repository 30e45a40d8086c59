#!/usr/bin/env bash
# Checks what a desktop gets when Quenda is installed: a valid desktop entry and AppStream metainfo, the files
# under the standard prefixes, and a Debian package that depends on Debian's own package names.
# Usage: check-packaging.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$1
build_dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

desktop-file-validate "$source_dir/data/com.quenda.Quenda.desktop"
appstreamcli validate --no-net --pedantic "$source_dir/data/com.quenda.Quenda.metainfo.xml" >"$work/appstream.log" ||
  { cat "$work/appstream.log"; exit 1; }

DESTDIR="$work/root" cmake --install "$build_dir" --prefix /usr >/dev/null
for path in bin/quenda share/applications/com.quenda.Quenda.desktop share/metainfo/com.quenda.Quenda.metainfo.xml \
    share/icons/hicolor/scalable/apps/com.quenda.Quenda.svg \
    share/icons/hicolor/scalable/status/com.quenda.Quenda-{idle,listening,processing}.svg; do
  [ -e "$work/root/usr/$path" ] || { echo "not installed: /usr/$path"; exit 1; }
done
# The whisper library's licence notices travel with a Quenda that carries it.
if grep -q '^QUENDA_WHISPER:BOOL=ON' "$build_dir/CMakeCache.txt"; then
  [ -e "$work/root/usr/share/doc/quenda/whisper.cpp-and-ggml.txt" ] || { echo "not installed: the whisper licence"; exit 1; }
fi
# Nothing but the program, its data and its licence notices: no tests, benchmarks or headers.
unexpected=$(cd "$work/root/usr" && find . -type f |
  grep -v -E '^\./(bin/quenda|share/(applications|metainfo|icons|doc/quenda)/)' || true)
[ -z "$unexpected" ] || { echo "installed by mistake: $unexpected"; exit 1; }

(cd "$work" && cpack --config "$build_dir/CPackConfig.cmake" -G DEB -B "$work/deb" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log"; exit 1; }
deb=$(ls "$work"/deb/quenda_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for package in libqt6widgets6 libqt6dbus6 libpulse0 qt6-qpa-plugins libqt6svg6 pocketsphinx-en-us; do
  [[ ", $depends," == *", $package"[\ ,]* ]] || { echo "the package does not depend on $package"; exit 1; }
done
dpkg-deb -c "$deb" >"$work/contents"
grep -q './usr/share/applications/com.quenda.Quenda.desktop' "$work/contents" ||
  { echo "the package lacks the desktop entry"; exit 1; }
echo "[packaging] $(basename "$deb") is complete"
