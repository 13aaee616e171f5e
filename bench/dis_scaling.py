#!/usr/bin/env python3
"""How korvane-dis's time and memory grow with the image: doubling images of four kinds
from 256 KiB to 16 MiB.

    bench/dis_scaling.py [--build DIR] [--work DIR] [--runs 3] [--smallest K] [--largest K]

The kinds: zeros (at base 0 they read as one long table of pointers), $FF (padding),
pointer tables (longs at $6000000 pointing at each other, the image one table), and
code (bench/gen.py's program assembled by korvane, repeated to the size). For each size
it prints the median time of --runs runs and the peak RSS, and for each kind the growth
of the time per byte from the smallest to the largest image (1.0 is linear). It fails
when a run fails.
"""
import argparse
import os
import shutil
import statistics
import struct
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TIME = shutil.which("time") or "/usr/bin/time"


def run(cmd, cwd):
    r = subprocess.run(cmd, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if r.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), r.stderr.decode()))


def clear(work, name):
    for f in os.listdir(work):
        if f.startswith(name + ".") and f.endswith(".s"):
            os.unlink(os.path.join(work, f))


def pointers(size):
    base = 0x6000000
    words = size // 4
    return b"".join(struct.pack(">I", base + 4 * ((i * 7919) % words)) for i in range(words))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--work", default=os.path.join(ROOT, "build-bench", "scaling"))
    ap.add_argument("--runs", type=int, default=3)
    ap.add_argument("--smallest", type=int, default=256, help="KiB")
    ap.add_argument("--largest", type=int, default=16384, help="KiB")
    a = ap.parse_args()
    a.build, a.work = os.path.abspath(a.build), os.path.abspath(a.work)
    if not os.path.exists(os.path.join(a.build, "CMakeCache.txt")):
        run(["cmake", "-S", ROOT, "-B", a.build, "-DCMAKE_BUILD_TYPE=Release", "-DKORVANE_TESTS=OFF"], ROOT)
    run(["cmake", "--build", a.build, "-j2", "--target", "korvane", "korvane-dis"], ROOT)
    dis = os.path.join(a.build, "korvane-dis")
    os.makedirs(a.work, exist_ok=True)
    run([sys.executable, os.path.join(HERE, "gen.py"), "400000", "code.s", "code_gnu.s"], a.work)
    run([os.path.join(a.build, "korvane"), "code.s"], a.work)
    with open(os.path.join(a.work, "code.bin"), "rb") as f:
        code = f.read()

    kinds = [
        ("zeros", [], lambda n: bytes(n)),
        ("$FF", [], lambda n: b"\xff" * n),
        ("pointer tables", ["--base", "$6000000"], pointers),
        ("code", [], lambda n: (code * (n // len(code) + 1))[:n]),
    ]
    sizes = []
    k = a.smallest
    while k <= a.largest:
        sizes.append(k * 1024)
        k *= 2
    print("%-15s %9s %9s %10s" % ("image", "size", "time", "peak RSS"))
    for name, options, make in kinds:
        first = last = None
        for size in sizes:
            image = "img.bin"
            with open(os.path.join(a.work, image), "wb") as f:
                f.write(make(size))
            times = []
            for _ in range(a.runs):
                clear(a.work, image)
                start = time.perf_counter()
                run([dis, image] + options, a.work)
                times.append(time.perf_counter() - start)
            clear(a.work, image)
            report = os.path.join(a.work, ".rss")
            run([TIME, "-f", "%M", "-o", report, dis, image] + options, a.work)
            with open(report) as f:
                rss = int(f.read().split()[-1])
            t = statistics.median(times)
            print("%-15s %6d KiB %8.3fs %7.1f MiB" % (name, size // 1024, t, rss / 1024))
            first = first or (t, size)
            last = (t, size)
            clear(a.work, image)
        growth = (last[0] / last[1]) / (first[0] / first[1])
        print("%-15s time per byte, largest against smallest: %.2f" % (name, growth))


if __name__ == "__main__":
    main()
