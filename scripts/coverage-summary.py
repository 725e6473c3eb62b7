#!/usr/bin/env python3
"""Per-folder summary of a gcovr JSON report: lines and functions run, then
every function no test runs, grouped by folder, each with the reason the
reasons file gives for it (and a count of those with none). Used by
scripts/coverage."""
import json
import re
import subprocess
import sys
from collections import defaultdict


def demangle(names):
    if not names:
        return []
    try:
        out = subprocess.run(["c++filt"], input="\n".join(names), capture_output=True,
                             text=True, check=True).stdout.splitlines()
        return out if len(out) == len(names) else names
    except (OSError, subprocess.CalledProcessError):
        return names


def reasons(path):
    """The rules of the reasons file: "REGEX -- reason" a line, the regular
    expression searched in the summary's "file:line  function" text; blank
    lines and lines starting with # are skipped."""
    rules = []
    if not path:
        return rules
    with open(path) as f:
        for text in f:
            text = text.strip()
            if not text or text.startswith("#") or " -- " not in text:
                continue
            pattern, why = text.split(" -- ", 1)
            rules.append((re.compile(pattern.strip()), why.strip()))
    return rules


def main(path, reasonspath=None):
    rules = reasons(reasonspath)
    with open(path) as f:
        report = json.load(f)
    lines = defaultdict(lambda: [0, 0])
    funcs = defaultdict(lambda: [0, 0])
    unrun = defaultdict(list)
    for entry in report["files"]:
        name = entry["file"]
        folder = name.split("/")[0] if "/" in name else "."
        for line in entry.get("lines", []):
            if line.get("gcovr/noncode"):
                continue
            lines[folder][1] += 1
            if line.get("count", 0) > 0:
                lines[folder][0] += 1
        # One entry per function name: inline copies and template instances
        # count once, run when any copy ran.
        seen = {}
        for fn in entry.get("functions", []):
            key = fn["name"]
            seen[key] = seen.get(key, False) or fn.get("execution_count", 0) > 0
        for key, ran in seen.items():
            funcs[folder][1] += 1
            if ran:
                funcs[folder][0] += 1
            else:
                line = next(fn["lineno"] for fn in entry["functions"] if fn["name"] == key)
                unrun[folder].append((f"{name}:{line}", key))

    def pct(pair):
        return 100.0 * pair[0] / pair[1] if pair[1] else 100.0

    print(f"{'folder':<12} {'lines':>15} {'functions':>17}")
    for folder in sorted(set(lines) | set(funcs)):
        l, fu = lines[folder], funcs[folder]
        print(f"{folder:<12} {l[0]:>6}/{l[1]:<6} {pct(l):5.1f}% {fu[0]:>5}/{fu[1]:<5} {pct(fu):5.1f}%")
    print()
    unexplained = 0
    for folder in sorted(unrun):
        items = unrun[folder]
        print(f"== {folder}: {len(items)} functions no test runs")
        for (where, _), pretty in zip(items, demangle([k for _, k in items])):
            text = f"{where}  {pretty}"
            why = next((w for pattern, w in rules if pattern.search(text)), None)
            if why is None:
                unexplained += 1
                why = "NO REASON GIVEN"
            print(f"  {text}\n      ({why})")
    print(f"\n{unexplained} unrun functions without a reason")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2] if len(sys.argv) > 2 else None))
