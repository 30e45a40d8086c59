#!/usr/bin/env bash
# Fails when a C++ file differs from the project's clang-format style.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
files=$(git ls-files -- '*.cpp' '*.h')
[ -z "$files" ] && exit 0
# shellcheck disable=SC2086
clang-format --dry-run --Werror $files
echo "[format] $(echo "$files" | wc -l) files formatted correctly"
