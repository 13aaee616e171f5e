#!/usr/bin/env python3
"""Times korvane-dis against GNU's disassembler on a 4 MiB image of generated code.

    bench/dis_bench.py [--build DIR] [--work DIR] [--runs 5] [--map]

The image is the one korvane assembles from bench/gen.py's program of 2,000,000 lines
(code with data islands, literal pools and strings). It prints, medians of --runs runs
interleaved:
- korvane-dis (writing its sources) against sh-elf-objdump -D -b binary -m sh2 -EB;
- the round trip: korvane-dis, then korvane on every source in the printed order;
- peak RSS of korvane-dis (GNU time);
and checks that the round trip rebuilds the image byte for byte. With --map it also times
korvane-dis writing the map page beside its sources (--map g.bin.html), interleaved
with the others, and prints the page's size.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
TIME = shutil.which("time") or "/usr/bin/time"


def run(cmd, cwd, out=subprocess.DEVNULL):
    r = subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.PIPE)
    if r.returncode != 0:
        sys.exit("failed: %s\n%s" % (" ".join(cmd), r.stderr.decode()))
    return r


def timed(cmd, cwd):
    start = time.perf_counter()
    run(cmd, cwd)
    return time.perf_counter() - start


def sources(work):
    parts = sorted(f for f in os.listdir(work) if f.startswith("g.bin.part") and f.endswith(".s"))
    return parts + ["g.bin.s"]


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--work", default=os.path.join(ROOT, "build-bench", "dis"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--map", action="store_true", help="also time korvane-dis --map")
    a = ap.parse_args()
    if not os.path.exists(os.path.join(a.build, "CMakeCache.txt")):
        run(["cmake", "-S", ROOT, "-B", a.build, "-DCMAKE_BUILD_TYPE=Release",
             "-DKORVANE_TESTS=OFF"], ROOT)
    run(["cmake", "--build", a.build, "-j2", "--target", "korvane", "korvane-dis"], ROOT)
    asm = os.path.join(a.build, "korvane")
    dis = os.path.join(a.build, "korvane-dis")
    os.makedirs(a.work, exist_ok=True)
    # Sources left by another build (whose fingerprints it may not accept) go first.
    for f in sources(a.work):
        if os.path.exists(os.path.join(a.work, f)):
            os.unlink(os.path.join(a.work, f))
    run([sys.executable, os.path.join(HERE, "gen.py"), "2000000", "g.s", "g_gnu.s"], a.work)
    run([asm, "g.s"], a.work)
    with open(os.path.join(a.work, "g.bin"), "rb") as f:
        image = f.read()

    times = {"dis": [], "objdump": [], "round trip": [], "map": []}
    for _ in range(a.runs):
        times["dis"].append(timed([dis, "g.bin"], a.work))
        if a.map:
            times["map"].append(timed([dis, "g.bin", "--map", "g.bin.html"], a.work))
        times["objdump"].append(timed(["sh-elf-objdump", "-D", "-b", "binary", "-m", "sh2", "-EB",
                                       "g.bin"], a.work))
        start = time.perf_counter()
        run([dis, "g.bin"], a.work)
        for s in sources(a.work):
            run([asm, s], a.work)
        times["round trip"].append(time.perf_counter() - start)
    with open(os.path.join(a.work, "g.bin.bin"), "rb") as f:
        if f.read() != image:
            sys.exit("the round trip did not rebuild the image")
    report = os.path.join(a.work, ".rss")
    run([TIME, "-f", "%M", "-o", report, dis, "g.bin"], a.work)
    with open(report) as f:
        rss = int(f.read().split()[-1])
    m = {k: statistics.median(v) for k, v in times.items() if v}
    print("image: %d bytes, %d sources; %d runs, medians" % (len(image), len(sources(a.work)), a.runs))
    print("  korvane-dis        %.3f s   %.1f MiB peak RSS" % (m["dis"], rss / 1024))
    if a.map:
        print("  korvane-dis --map  %.3f s   (+%.1f %%; the page: %.1f MiB)"
              % (m["map"], 100 * (m["map"] / m["dis"] - 1), os.path.getsize(os.path.join(a.work, "g.bin.html")) / 2**20))
    print("  sh-elf-objdump -D  %.3f s" % m["objdump"])
    print("  round trip         %.3f s   (korvane-dis, then korvane on every source)" % m["round trip"])
    print("  korvane-dis / objdump = %.3f; round trip / objdump = %.3f; identical image"
          % (m["dis"] / m["objdump"], m["round trip"] / m["objdump"]))


if __name__ == "__main__":
    main()
