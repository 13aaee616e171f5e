#!/usr/bin/env python3
"""Times korvane-run: SH-2 instructions a second, cycle counting on, on one core.

    bench/run_bench.py [--build DIR] [--work DIR] [--runs 5] [--iterations N] [--smoke]

The routine is a loop of 13 instructions an iteration (loads and stores to RAM, ALU
work, a compare and a branch taken or not, a word load used at once, DT and BF/S with
its slot), run N times (50,000,000 by default: 650 million instructions). It prints the
median of --runs runs as instructions and SH-2 cycles a second, with the wall time and
peak RSS; --smoke runs it once, small, and checks the result only.
"""
import argparse
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TIME = shutil.which("time") or "/usr/bin/time"

LOOP = """        SETPC   $6000000
START:  MOV.L   @(COUNT,PC),R8
        MOV.L   @(BUF,PC),R9
        MOV     #0,R0
@LOOP:  MOV.L   @R9,R1
        ADD     #3,R0
        XOR     R0,R1
        MOV.L   R1,@(4,R9)
        SHLL2   R1
        CMP/HI  R0,R1
        BF      @SKIP
        ADD     R1,R2
@SKIP:  MOV.W   @(2,R9),R0
        EXTU.W  R0,R3
        DT      R8
        BF/S    @LOOP
        ADD     R3,R2
        RTS
        NOP
        ALIGN.L
COUNT:  DC.L    %d
BUF:    DC.L    $6100000
"""


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--work", default="/tmp/korvane-run-bench")
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--iterations", type=int, default=50_000_000)
    ap.add_argument("--smoke", action="store_true")
    a = ap.parse_args()
    if a.smoke:
        a.runs, a.iterations = 1, 100_000
    a.build, a.work = os.path.abspath(a.build), os.path.abspath(a.work)  # the commands run in the work directory
    os.makedirs(a.work, exist_ok=True)
    with open(os.path.join(a.work, "loop.s"), "w") as f:
        f.write(LOOP % a.iterations)
    if subprocess.run([os.path.join(a.build, "korvane"), "loop.s"], cwd=a.work, stdout=subprocess.DEVNULL).returncode:
        sys.exit("loop.s does not assemble")
    cmd = [os.path.join(a.build, "korvane-run"), "loop.bin", "--base", "0x6000000", "--call", "0x6000000",
           "--ram", "0x6100000-0x6110000", "--max-steps", str(20 * a.iterations + 100)]
    times, rss, out = [], [], ""
    for _ in range(a.runs):
        start = time.perf_counter()
        r = subprocess.run(["taskset", "-c", "0"] + cmd if shutil.which("taskset") else cmd, cwd=a.work,
                           capture_output=True, text=True)
        times.append(time.perf_counter() - start)
        out = r.stdout
        if r.returncode != 0:
            sys.exit("korvane-run failed: " + r.stdout + r.stderr)
    steps = int(re.search(r"^steps: (\d+)$", out, re.M).group(1))
    cycles = int(re.search(r"^cycles: (\d+)$", out, re.M).group(1))
    if steps != 13 * a.iterations + 5:
        sys.exit("unexpected step count %d" % steps)
    if os.path.exists(TIME):
        r = subprocess.run([TIME, "-f", "%M"] + cmd, cwd=a.work, capture_output=True, text=True)
        rss.append(int(r.stderr.strip().splitlines()[-1]))
    t = statistics.median(times)
    print("korvane-run: %d instructions, %d cycles in %.3f s (median of %d): %.0f million instructions/s, "
          "%.0f million cycles/s%s" % (steps, cycles, t, a.runs, steps / t / 1e6, cycles / t / 1e6,
                                        ", peak RSS %.1f MiB" % (rss[0] / 1024) if rss else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main())
