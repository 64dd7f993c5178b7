#!/usr/bin/env python3
"""Runs the store load program (tovarine_store_load) a few times and tabulates its figures.

  store_load.py [--program PATH] [--runs 3] [--out FILE] [program options ...]

Each run's own report goes to standard output as it comes; then a markdown table of every run
(wall time, saves per second, median, p99 and worst save, the saves a worst one was passed by,
failed saves, loads) with the ratios of the store to plain SQLite, and the commit measured.
Program options (--writers 64 --saves 20 --loaders 8 --dir FOLDER ...) go to every run.
--out writes every run's figures as one JSON list. The default program is the bench preset's,
build/bench/bench/tovarine_store_load. The status is the worst of the runs': 0 when every save
into the store succeeded and its data was there in every run.
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COLUMNS = [("wall_s", "wall s", "{:.2f}"), ("saves_per_s", "saves/s", "{:.1f}"),
           ("median_ms", "median ms", "{:.1f}"), ("p99_ms", "p99 ms", "{:.0f}"),
           ("worst_ms", "worst ms", "{:.0f}"), ("worst_passed_by", "worst passed by", "{}"),
           ("failed", "failed", "{}"), ("loads", "loads", "{}")]


def run_once(program, options):
    """(status, figures of each way) of one run of the program."""
    with tempfile.NamedTemporaryFile(suffix=".json") as out:
        status = subprocess.call([program, *options, "--json", out.name])
        sys.stdout.flush()
        try:
            with open(out.name) as f:
                return status, json.load(f)
        except ValueError:  # the run stopped before it wrote its figures
            return max(status, 2), []


def commit():
    try:
        return subprocess.run(["git", "-C", ROOT, "log", "-1", "--oneline"], capture_output=True,
                              text=True, check=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return "unknown"


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--program",
                        default=os.path.join(ROOT, "build/bench/bench/tovarine_store_load"))
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--out")
    args, options = parser.parse_known_args()

    status, runs = 0, []
    for n in range(1, args.runs + 1):
        print(f"--- run {n} of {args.runs}", flush=True)
        run_status, figures = run_once(args.program, options)
        status = max(status, run_status)
        runs.append(figures)

    print(f"\ncommit {commit()}\n")
    print("| run | way | " + " | ".join(title for _, title, _ in COLUMNS) + " |")
    print("|---|---|" + "---:|" * len(COLUMNS))
    for n, figures in enumerate(runs, 1):
        for way in figures:
            cells = [form.format(way[key]) for key, _, form in COLUMNS]
            print(f"| {n} | {way['way']} | " + " | ".join(cells) + " |")
    print()
    for n, figures in enumerate(runs, 1):
        ways = {way["way"]: way for way in figures}
        if "tovarine" in ways and "sqlite" in ways:
            store, plain = ways["tovarine"], ways["sqlite"]
            print(f"run {n}: tovarine / sqlite: throughput "
                  f"{store['saves_per_s'] / plain['saves_per_s']:.2f}, worst save "
                  f"{store['worst_ms'] / plain['worst_ms']:.2f}")
    if args.out:
        with open(args.out, "w") as f:
            json.dump({"commit": commit(), "runs": runs}, f, indent=1)
    return status


if __name__ == "__main__":
    sys.exit(main())
