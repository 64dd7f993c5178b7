#!/usr/bin/env python3
"""Lines per second of `tovarine read KIND --each` replaying an access log.

Writes LINES generated lines in the Combined Log Format (live requests with the usual
parameters, some repeated, some in other letter case, a third from Mozilla clients) to a file,
then runs the tool on it a few times, output to /dev/null, and reports the best run.

    python3 bench/each_throughput.py [TOOL] [--lines N] [--runs N] [--explain]
"""
import argparse
import os
import random
import subprocess
import sys
import tempfile
import time


def log_line(rng, n):
    params = [f"server={rng.randrange(1, 9)}", f"device={rng.randrange(0, 4)}"]
    if rng.random() < 0.5:
        params.append(f"framerate={rng.choice(['25', '12.5', '7.5', '1e1'])}")
    if rng.random() < 0.5:
        params.append(f"timeout={rng.randrange(5, 120)}")
    if rng.random() < 0.2:
        params.append("Server=3")
    if rng.random() < 0.2:
        params.append("server=4")
    params.append(f"cpid={n}")
    agent = rng.choice(["Mozilla/5.0 (X11; Linux x86_64)", "curl/8.5.0", "recorder/2.1", "-"])
    return (f'10.{n % 256}.{n // 256 % 256}.7 - - [08/Dec/2026:10:{n // 60 % 60:02d}:'
            f'{n % 60:02d} +0000] "GET /live?{"&".join(params)} HTTP/1.1" 200 {rng.randrange(99, 9999)} '
            f'"-" "{agent}"\n')


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("tool", nargs="?", default="build/default/tools/tovarine")
    parser.add_argument("--lines", type=int, default=100_000)
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--explain", action="store_true")
    args = parser.parse_args()

    rng = random.Random(20261208)
    with tempfile.NamedTemporaryFile("w", suffix=".log", delete=False) as log:
        for n in range(args.lines):
            log.write(log_line(rng, n))
    try:
        command = [args.tool, "read", "live", "--each", log.name]
        if args.explain:
            command.append("--explain")
        best = None
        for _ in range(args.runs):
            started = time.perf_counter()
            subprocess.run(command, stdout=subprocess.DEVNULL, check=True)
            elapsed = time.perf_counter() - started
            best = elapsed if best is None else min(best, elapsed)
    finally:
        os.unlink(log.name)
    what = "read live --each" + (" --explain" if args.explain else "")
    print(f"{what}: {args.lines} lines in {best:.3f} s, "
          f"{args.lines / best:,.0f} lines/s (best of {args.runs})")


if __name__ == "__main__":
    sys.exit(main())
