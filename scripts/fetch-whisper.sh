#!/usr/bin/env bash
# Fetches the speech-recognition library the whisper engine is built from: the pinned npm package
# whisper.rn@0.7.4 carries a complete whisper.cpp tree (ggml and whisper.cpp, MIT) in its cpp/ folder.
# `npm pack` only downloads the tarball (no install scripts run); its sha256 is checked, and only cpp/ is
# unpacked, outside the source tree. Prints the folder. Usage: scripts/fetch-whisper.sh [DEST_ROOT]
set -euo pipefail
package=whisper.rn
version=0.7.4
sha256=268af5c2279fff64db016759b35386177386eca5990b71fd515e9d138dd54f1c
dest_root=${1:-${QUENDA_DEPS_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/quenda-deps}}
dest="$dest_root/$package-$version"

if [ -f "$dest/cpp/whisper.h" ] && [ -f "$dest/.complete" ]; then
  echo "$dest/cpp"
  exit 0
fi
if ! command -v npm >/dev/null 2>&1; then
  echo "[fetch-whisper] npm is needed to fetch $package@$version (scripts/install-deps.sh installs it)" >&2
  exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && npm pack --silent --ignore-scripts "$package@$version" >/dev/null)
tarball="$work/$package-$version.tgz"
actual=$(sha256sum "$tarball" | cut -d' ' -f1)
if [ "$actual" != "$sha256" ]; then
  echo "[fetch-whisper] $package@$version has sha256 $actual, expected $sha256: refused" >&2
  exit 1
fi
mkdir -p "$work/unpacked"
tar -xzf "$tarball" -C "$work/unpacked" package/cpp
rm -rf "$dest"
mkdir -p "$dest"
mv "$work/unpacked/package/cpp" "$dest/cpp"
touch "$dest/.complete"
echo "[fetch-whisper] $package@$version unpacked into $dest" >&2
echo "$dest/cpp"
