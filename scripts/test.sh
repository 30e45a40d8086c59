#!/usr/bin/env bash
# Installs what Quenda needs, checks formatting, then builds and runs every test twice: once under
# AddressSanitizer + UndefinedBehaviorSanitizer, once as a normal build (whose ctest summary ends the run).
# In between, the libFuzzer targets are built with clang and each runs for FUZZ_SECONDS (default 30).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bash "$root/scripts/install-deps.sh"
bash "$root/scripts/check-format.sh"
bash "$root/scripts/check-layers.sh"

jobs=$(nproc)
echo "[test] sanitizer build"
BUILD_TYPE=Debug bash "$root/scripts/build.sh" "$root/build-asan" -DQUENDA_SANITIZE=ON
# The full output goes to a log; only its summary is shown unless something failed.
asan_log="$root/build-asan/ctest.log"
if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    LSAN_OPTIONS=suppressions="$root/scripts/lsan.supp" \
    ctest --test-dir "$root/build-asan" --output-on-failure -j"$jobs" >"$asan_log" 2>&1; then
  cat "$asan_log"
  echo "[test] the sanitizer build failed" >&2
  exit 1
fi
grep -E 'tests passed' "$asan_log"

echo "[test] fuzz targets (clang, libFuzzer), ${FUZZ_SECONDS:-30} s each on top of fuzz/corpus"
CC=clang CXX=clang++ bash "$root/scripts/build.sh" "$root/build-fuzz" \
  -DQUENDA_FUZZ=ON -DQUENDA_BUILD_TESTS=OFF -DQUENDA_LINUX_DESKTOP=OFF
for target in fuzz_groq_stream fuzz_backend_stream fuzz_training_log fuzz_stored_blobs; do
  work=$(mktemp -d)
  # New inputs go to a scratch folder; the committed corpus is read, never changed. Crashes land in build-fuzz.
  if ! "$root/build-fuzz/fuzz/$target" -max_total_time="${FUZZ_SECONDS:-30}" -artifact_prefix="$root/build-fuzz/$target-" \
      "$work" "$root/fuzz/corpus/$target" >"$work.log" 2>&1; then
    tail -n 60 "$work.log"
    echo "[test] $target failed; the input is in $root/build-fuzz/" >&2
    exit 1
  fi
  echo "[test] $target: $(grep -E '^Done' "$work.log")"
  rm -rf "$work" "$work.log"
done

echo "[test] normal build"
bash "$root/scripts/build.sh" "$root/build"
ctest --test-dir "$root/build" --output-on-failure -j"$jobs"
