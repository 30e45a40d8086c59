#!/usr/bin/env bash
# Installs what Quenda needs, checks formatting, then builds and runs every test twice: once under
# AddressSanitizer + UndefinedBehaviorSanitizer, once as a normal build (whose ctest summary ends the run).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/check-format.sh"

jobs=$(nproc)
echo "[test] sanitizer build"
BUILD_TYPE=Debug bash "$root/scripts/build.sh" "$root/build-asan" -DQUENDA_SANITIZE=ON
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir "$root/build-asan" --output-on-failure -j"$jobs" | tail -n 4

echo "[test] normal build"
bash "$root/scripts/build.sh" "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j"$jobs"
