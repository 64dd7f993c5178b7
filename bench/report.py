#!/usr/bin/env python3
"""Reports on the benchmarks' JSON output (--benchmark_out).

  report.py table [readers.json]            markdown table of the reader benchmarks: ns per
                                            request of each way, and the library's time over
                                            each other way's (below 1: the library is faster)
  report.py peers [peers.json]              markdown table of the hostile shapes through each
                                            way's live reader: ns per byte at each size, and the
                                            library's over the best URL library's
  report.py plot [hostile.json] [out.png]   gnuplot PNG of the hostile sizes: ns/byte against
                                            the text's size, one panel per reader, one line per
                                            shape

Defaults: build/bench/results/readers.json, build/bench/results/peers.json,
build/bench/results/hostile.json, docs/scaling.png.
With repetitions the median is used.
"""
import json
import os
import subprocess
import sys
from collections import defaultdict

WAYS = ["library", "baseline", "uriparser", "boost_url"]
READERS = ["live", "stream", "camera", "clip"]


def load(path, prefix):
    """name parts -> run, preferring median aggregates over single runs."""
    with open(path) as f:
        runs = json.load(f)["benchmarks"]
    medians = {r["run_name"]: r for r in runs
               if r.get("run_type") == "aggregate" and r.get("aggregate_name") == "median"}
    singles = {r["run_name"]: r for r in runs if r.get("run_type") != "aggregate"}
    chosen = {**singles, **medians}
    # Name parts after the prefix, less the run settings ("min_time:0.200", "iterations:3").
    parts = {name: [p for p in name.split("/") if ":" not in p] for name in chosen}
    return {tuple(parts[name][1:]): run for name, run in chosen.items()
            if parts[name][0] == prefix}


def table(path):
    runs = load(path, "readers")
    ns = {key: run["per_request"] * 1e9 for key, run in runs.items()}
    others = WAYS[1:]
    print("| reader | " + " | ".join(f"{w} ns/req" for w in WAYS) + " | "
          + " | ".join(f"library/{w}" for w in others) + " |")
    print("|---" * (1 + len(WAYS) + len(others)) + "|")
    for reader in READERS:
        if (reader, "library") not in ns:
            continue
        lib = ns[reader, "library"]
        cells = [f"{ns[reader, w]:.0f}" if (reader, w) in ns else "-" for w in WAYS]
        ratios = [f"{lib / ns[reader, w]:.2f}" if (reader, w) in ns else "-" for w in others]
        print(f"| {reader} | " + " | ".join(cells) + " | " + " | ".join(ratios) + " |")
    print("\nns/req: CPU time per request over the reader's corpus (bench/corpus.h), median of"
          " the repetitions; library/x: the library's time over x's.")
    return 0


def peers(path):
    runs = load(path, "peers")
    ns = {key: run["ns_per_byte"] for key, run in runs.items()}  # (shape, way, size)
    sizes = sorted({int(size) for (_, _, size) in ns})
    label = lambda s: f"{s >> 20} MB" if s >= 1 << 20 else f"{s >> 10} KB"
    print("| shape | way | " + " | ".join(label(s) for s in sizes) + " |")
    print("|---" * (2 + len(sizes)) + "|")
    for shape in ["params", "equals", "ampersands", "headers"]:
        for way in WAYS:
            cells = [f"{ns[shape, way, str(s)]:.2f}" if (shape, way, str(s)) in ns else "-"
                     for s in sizes]
            print(f"| {shape} | {way} | " + " | ".join(cells) + " |")
        ratios = []
        for s in sizes:
            best = min((ns[shape, w, str(s)] for w in ("uriparser", "boost_url")
                        if (shape, w, str(s)) in ns), default=None)
            lib = ns.get((shape, "library", str(s)))
            ratios.append(f"{lib / best:.2f}" if best and lib else "-")
        print(f"| {shape} | library/best library | " + " | ".join(ratios) + " |")
    print("\nns/byte: CPU time of the live reader per byte of text (one run); best library: the"
          " faster of uriparser and Boost.URL at that size.")
    return 0


def plot(path, out):
    runs = load(path, "hostile")
    series = defaultdict(lambda: defaultdict(dict))  # reader -> shape -> size -> ns/byte
    for (shape, reader, size), run in runs.items():
        series[reader][shape][int(size)] = run["ns_per_byte"]
    readers = [r for r in READERS if r in series]
    sizes = [size for shapes in series.values() for row in shapes.values() for size in row]
    script = ["set terminal pngcairo size 1200,900 font ',10'", f"set output '{out}'",
              "set multiplot layout 2,2 title 'Hostile request texts: time per byte against"
              " size (flat: linear time; only the live reader reads on past the first blank,"
              " into the headers)'",
              "set logscale x 2", "set logscale y", "set format y '%g'",
              "set xtics ('1K' 1024, '16K' 16384, '256K' 262144, '1M' 1048576, '16M' 16777216)",
              f"set xrange [{min(sizes) / 1.5}:{max(sizes) * 1.5}]",
              "set xlabel 'text size (bytes)'", "set ylabel 'ns/byte'",
              "set key outside right top", "set grid"]
    for reader in readers:
        shapes = sorted(series[reader])
        for shape in shapes:
            points = sorted(series[reader][shape].items())
            script += [f"${reader}_{shape} << EOD"] + [f"{s} {v}" for s, v in points] + ["EOD"]
        script.append(f"set title '{reader} reader'")
        script.append("plot " + ", ".join(f"${reader}_{shape} with linespoints title '{shape}'"
                                          for shape in shapes))
    script.append("unset multiplot")
    os.makedirs(os.path.dirname(out) or ".", exist_ok=True)
    subprocess.run(["gnuplot"], input="\n".join(script) + "\n", text=True, check=True)
    print(f"wrote {out}")
    return 0


def main(argv):
    mode = argv[1] if len(argv) > 1 else "table"
    if mode == "table":
        return table(argv[2] if len(argv) > 2 else "build/bench/results/readers.json")
    if mode == "peers":
        return peers(argv[2] if len(argv) > 2 else "build/bench/results/peers.json")
    if mode == "plot":
        return plot(argv[2] if len(argv) > 2 else "build/bench/results/hostile.json",
                    argv[3] if len(argv) > 3 else "docs/scaling.png")
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
