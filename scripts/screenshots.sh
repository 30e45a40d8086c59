#!/usr/bin/env bash
# Takes the README's screenshots in private headless sessions: the tray menu (opened through the tray's
# D-Bus interface, as a panel does) and the floating pill during a real dictation into a text field; then
# every window and page, once in the desktop's light palette and once in its dark one (Qt follows the GTK
# theme the session names, as on GNOME, Xfce and other GTK desktops).
# Usage: scripts/screenshots.sh [BUILD_DIR]   (writes docs/screenshots/*.png)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
out="$root/docs/screenshots"
mkdir -p "$out"

if [ "${2:-}" != "--inside-session" ]; then
  "$root/scripts/session.sh" run bash "$root/scripts/screenshots.sh" "$build" --inside-session
  for scheme in light:Adwaita dark:Adwaita:dark; do
    QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=${scheme#*:} "$root/scripts/session.sh" run /usr/bin/python3 \
      "$root/scripts/screenshot-windows.py" "$build/src/app/quenda" "$out" "${scheme%%:*}"
  done
  exit 0
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

quenda="$build/src/app/quenda"
recording=/usr/share/pocketsphinx/test/data/librivox/sense_and_sensibility_01_austen_64kb-0870.wav
shoot() { # shoot FILE X Y WIDTH HEIGHT
  /usr/bin/python3 - "$@" <<'PY'
import sys
import gi
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk
path, x, y, w, h = sys.argv[1], *map(int, sys.argv[2:])
Gdk.pixbuf_get_from_window(Gdk.get_default_root_window(), x, y, w, h).savev(path, "png", [], [])
PY
  echo "[screenshots] $1"
}

coproc TRAY { /usr/bin/python3 "$root/tests/desktop/fixtures/sni_host.py"; }
read -r _ <&"${TRAY[0]}"
"$quenda" config set hasCompletedOnboarding true --bool >/dev/null
"$quenda" config set entitlementsMigration_0_3_17 true --bool >/dev/null
coproc EDITOR { "$build/tests/desktop/quenda_fixture_editor" --no-menu 2>/dev/null; }
read -r _ <&"${EDITOR[0]}"
echo "focus multi" >&"${EDITOR[1]}"; read -r _ <&"${EDITOR[0]}"
xdotool search --name "Quenda fixture" windowmove 100 120 windowsize 640 300 >/dev/null
"$quenda" >"$work/quenda.log" 2>&1 &
quenda_pid=$!
for _ in $(seq 100); do grep -q "Tray icon shown" "$work/quenda.log" && break; sleep 0.1; done
sleep 2

# The pill, next to the pointer, while a recording is dictated into the focused field.
xdotool mousemove 300 330
xdotool keydown Control_R
paplay "$recording" &
player=$!
sleep 4.5
shoot "$out/pill.png" 60 80 720 380
wait "$player"
sleep 0.3
xdotool keyup Control_R
for _ in $(seq 100); do grep -q "Insertion: Inserted" "$work/quenda.log" && break; sleep 0.1; done
sleep 1

# The tray menu, opened by a click on the icon, listing the dictation.
xdotool mousemove 700 40
echo "activate 700 40" >&"${TRAY[1]}"; read -r _ <&"${TRAY[0]}"
sleep 1
shoot "$out/tray-menu.png" 680 20 480 240
xdotool key Escape

"$quenda" quit >/dev/null
wait "$quenda_pid" || true
echo quit >&"${EDITOR[1]}" || true
echo quit >&"${TRAY[1]}" || true
