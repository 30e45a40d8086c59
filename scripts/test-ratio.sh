#!/usr/bin/env bash
# Prints the lines of test code against the lines of product code (non-blank, non-comment lines of
# .cpp/.h/.py; bench/ and fuzz/ count as neither) and their ratio.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

count() {
    git ls-files -- "$1/*.cpp" "$1/*.h" "$1/*.py" | python3 -c '
import sys
total = 0
for path in sys.stdin.read().split():
    python = path.endswith(".py")
    in_block = False
    for line in open(path, encoding="utf-8", errors="replace"):
        s = line.strip()
        if python:
            if s and not s.startswith("#"):
                total += 1
            continue
        if in_block:
            if "*/" in s:
                in_block = False
                s = s.split("*/", 1)[1].strip()
            else:
                continue
        if s.startswith("/*"):
            if "*/" not in s:
                in_block = True
                continue
            s = s.split("*/", 1)[1].strip()
        if s and not s.startswith("//"):
            total += 1
print(total)'
}

src=$(count src)
tests=$(count tests)
ratio=$(python3 -c "print(f'{100 * $tests / $src:.1f}')")
echo "[ratio] product ${src} lines, tests ${tests} lines, tests/product ${ratio}%"
