#!/usr/bin/env python3
"""Scaling report over the hostile benchmarks' JSON output (build/bench/results/hostile.json).

For each shape and reader: ns/byte at every size, its growth from the smallest size to the
largest, and at the largest the local heap's peak per byte of text and the page faults per call.
Exits 1 when ns/byte grows more than MAX_GROWTH times or the peak ratio at the largest size
exceeds MAX_PEAK_RATIO. A report, not a gate.
"""
import json
import sys
from collections import defaultdict

MAX_GROWTH = 4.0
MAX_PEAK_RATIO = 40.0


def main(path):
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    table = defaultdict(dict)  # (shape, reader) -> size -> (ns_per_byte, peak_ratio, faults)
    for run in runs:
        parts = run["name"].split("/")
        if run.get("run_type") == "aggregate" or parts[0] != "hostile":
            continue
        table[parts[1], parts[2]][int(parts[3])] = (run["ns_per_byte"], run["peak_ratio"],
                                                    run.get("faults", 0))
    sizes = sorted({size for row in table.values() for size in row})
    label = lambda s: f"{s >> 20}M" if s >= 1 << 20 else f"{s >> 10}K"
    print(f"{'shape':<11}{'reader':<8}" + "".join(f"{label(s):>10}" for s in sizes)
          + f"{'growth':>8}{'peak':>7}{'faults':>8}")
    failed = False
    for (shape, reader), row in table.items():
        first, last = row[min(row)], row[max(row)]
        growth = last[0] / first[0]
        bad = growth > MAX_GROWTH or last[1] > MAX_PEAK_RATIO
        failed |= bad
        cells = "".join(f"{row[s][0]:>10.3g}" if s in row else f"{'-':>10}" for s in sizes)
        print(f"{shape:<11}{reader:<8}{cells}{growth:>8.2f}{last[1]:>7.2f}{last[2]:>8.0f}"
              + ("  <-- super-linear or too much memory" if bad else ""))
    print("ns/byte at each size; growth: largest over smallest; peak: local heap bytes per byte"
          " of text, faults: page faults per call, both at the largest size")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "build/bench/results/hostile.json"))
