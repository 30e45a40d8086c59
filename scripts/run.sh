#!/usr/bin/env bash
# Installs what Quenda needs, builds it and runs it. With no arguments it shows a short tour of the
# command line on the user's own settings; otherwise the arguments go to `quenda`.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/build.sh" "$root/build"
quenda="$root/build/src/app/quenda"
if [ "$#" -gt 0 ]; then
  exec "$quenda" "$@"
fi
"$quenda" help
echo
echo "\$ quenda snippets list"
"$quenda" snippets list
echo "\$ quenda dictionary list"
"$quenda" dictionary list
echo "\$ quenda expand \"...\""
"$quenda" expand "Send it to my address please."
