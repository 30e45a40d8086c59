#!/usr/bin/env bash
# A soak of real dictations: `quenda run` in a private headless session, the hotkey held through XTest
# while Debian's speech recordings play into the microphone, the words typed into a fixture editor.
# Prints each dictation's outcome and memory, then the totals; exits 1 unless every dictation arrived,
# one space apart from the text before it.
#
#   scripts/soak.sh [DICTATIONS]     (default 100; build first: bash scripts/build.sh build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$root/build}
[ -x "$build/bench/soak_dictation" ] || { echo "build first: bash scripts/build.sh build" >&2; exit 2; }
exec "$root/scripts/session.sh" run "$build/bench/soak_dictation" "${1:-100}"
