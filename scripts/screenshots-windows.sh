#!/usr/bin/env bash
# Screenshots of every window and page, in the desktop's light and dark palettes, into docs/screenshots/.
# Each set is taken in a private headless session (scripts/session.sh) from the real tray application.
# Usage: scripts/screenshots-windows.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out="$root/docs/screenshots"
mkdir -p "$out"
# Qt follows the GTK theme the session names, as it does on GNOME, Xfce and other GTK desktops.
for scheme in light:Adwaita dark:Adwaita:dark; do
  name=${scheme%%:*}
  QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=${scheme#*:} "$root/scripts/session.sh" run \
    /usr/bin/python3 "$root/tests/desktop/windows/screenshots.py" "$build/src/app/quenda" "$out" "$name"
done
