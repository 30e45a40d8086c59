#!/usr/bin/env bash
# The whisper kernels are compiled for x86-64-v3. Code in them that ran at program start (a static
# initialiser) would stop Quenda on an older processor before it could say the engine is unavailable.
set -euo pipefail
status=0
for object in "$@"; do
  if objdump -h "$object" | grep -qE '\.(init_array|ctors)'; then
    echo "FAIL: $object runs code at program start"
    status=1
  fi
done
[ "$status" -eq 0 ] && echo "PASS: $# kernel objects, none runs code at program start"
exit "$status"
