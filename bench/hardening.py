#!/usr/bin/env python3
"""The benchmark program built without and with the hardening flags, run in
turns (plain, hardened, then hardened, plain, ...) so that a change in the
machine's load, and whatever running first or second brings, falls on both
alike. Prints each benchmark's median over the rounds for
both builds, their ratio, and the spread of the plain build's rounds: a
ratio within that spread is noise.

usage: hardening.py PLAIN HARDENED [ROUNDS] [BENCHMARK ARGUMENTS...]
"""
import json
import os
import statistics
import subprocess
import sys
import tempfile

MILLISECONDS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def run_once(program, arguments, out):
    subprocess.run([program, f"--benchmark_out={out}", "--benchmark_out_format=json"] + arguments,
                   check=True, stdout=subprocess.DEVNULL)
    with open(out) as f:
        report = json.load(f)
    return {b["name"]: b["real_time"] * MILLISECONDS[b["time_unit"]] for b in report["benchmarks"]
            if b.get("run_type") == "iteration" and not b.get("error_occurred")}


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    plain, hardened = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    arguments = sys.argv[4:]
    times = {plain: {}, hardened: {}}
    with tempfile.TemporaryDirectory() as scratch:
        out = os.path.join(scratch, "report.json")
        for r in range(rounds):
            for program in (plain, hardened) if r % 2 == 0 else (hardened, plain):
                print(f"round {r + 1} of {rounds}: {program}", file=sys.stderr, flush=True)
                for name, t in run_once(program, arguments, out).items():
                    times[program].setdefault(name, []).append(t)
    print(f"\n{'benchmark (median of %d rounds, ms)' % rounds:52} {'plain':>10} {'hardened':>10}"
          f" {'ratio':>7} {'plain spread':>13}")
    for name, runs in times[plain].items():
        other = times[hardened].get(name)
        if not other:
            continue
        a, b = statistics.median(runs), statistics.median(other)
        spread = (max(runs) - min(runs)) / a if a > 0 else 0.0
        print(f"{name:52} {a:10.4f} {b:10.4f} {b / a:7.3f} {100 * spread:12.1f}%")


if __name__ == "__main__":
    main()
