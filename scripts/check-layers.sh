#!/usr/bin/env bash
# Fails when the logic folders of src/ include each other in a cycle (a folder reaching, through its
# includes, a folder that reaches back to it). The platform interfaces (src/platform/*.h) count as a folder;
# their Linux implementations and the application, which wire everything, do not.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root/src"
python3 - <<'PY'
import os, re, sys
folders = ["base", "core", "capture", "text", "net", "insert", "training", "platform"]
edges = {f: {} for f in folders}  # folder -> {included folder: first file that includes it}
for folder in folders:
    for dirpath, dirnames, filenames in os.walk(folder):
        if folder == "platform":
            dirnames[:] = []  # the interfaces only, not platform/linux
        for name in sorted(filenames):
            if not name.endswith((".h", ".cpp")):
                continue
            path = os.path.join(dirpath, name)
            for line in open(path, encoding="utf-8"):
                m = re.match(r'\s*#\s*include\s+"([a-z]+)/', line)
                if m and m.group(1) in folders and m.group(1) != folder:
                    edges[folder].setdefault(m.group(1), path)

def cycle_from(start):
    stack = [(start, [start])]
    seen = set()
    while stack:
        node, trail = stack.pop()
        for nxt in edges[node]:
            if nxt == start:
                return trail + [start]
            if nxt not in seen:
                seen.add(nxt)
                stack.append((nxt, trail + [nxt]))
    return None

problems = set()
for folder in folders:
    cycle = cycle_from(folder)
    if cycle:
        rotated = min(tuple(cycle[i:-1] + cycle[:i] + [cycle[i]]) for i in range(len(cycle) - 1))
        problems.add(rotated)
for cycle in sorted(problems):
    steps = [f"{a} -> {b} ({edges[a][b]})" for a, b in zip(cycle, cycle[1:])]
    print("[layers] include cycle: " + "; ".join(steps), file=sys.stderr)
if problems:
    sys.exit(1)
print(f"[layers] no include cycle between {', '.join(folders)}")
PY
