#!/usr/bin/env bash
# Installs what Quenda needs, builds it and starts it. With no arguments it starts the tray application on
# the user's desktop (on a machine without a display it says so and shows a short tour of the command line
# instead); otherwise the arguments go to `quenda`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"
quenda="$root/build/src/app/quenda"
if [ "$#" -gt 0 ]; then
  exec "$quenda" "$@"
fi
if [ -n "${DISPLAY:-}" ]; then
  echo "Starting Quenda in the tray: hold Right Ctrl, speak, let go. \`quenda quit\` (or the tray menu) ends it."
  exec "$quenda"
fi
echo "No display here (DISPLAY is not set), so the tray application cannot start. The command line works:"
echo
"$quenda" help
echo
echo "\$ quenda snippets list"
"$quenda" snippets list
echo "\$ quenda dictionary list"
"$quenda" dictionary list
echo "\$ quenda expand \"...\""
"$quenda" expand "Send it to my address please."
