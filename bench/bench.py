#!/usr/bin/env python3
"""Times korvane against GNU as for SH (sh-elf-as -big) and measures peak memory.

    bench/bench.py [--build DIR] [--work DIR] [--runs 5] [--smoke] [--no-callgrind]

Builds korvane (Release) unless --build names an existing build, generates programs
with bench/gen.py, checks that both assemblers produce the same bytes, then times the
whole processes (median of --runs runs, the commands interleaved) and reads each
one's peak RSS from the kernel (wait4). It prints:

- 100,000 and 1,000,000 lines: korvane (writing its .bin and full .log) against
  sh-elf-as -big, and against sh-elf-as -big -al=FILE (writing a listing);
- growth from 100,000 to 1,000,000 lines;
- 10,000 labels with 9,998 references against the plain program, per line;
- peak RSS for 10,000,000 lines, an ORG gap of 256 MiB and an INCBIN of 256 MiB;
- instructions per source line (valgrind --tool=callgrind), where valgrind exists.

--smoke generates a small program and checks only the byte comparison (for CI).
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


def sh(cmd, cwd, quiet=True):
    r = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if r.returncode != 0:
        sys.exit("failed (%d): %s\n%s" % (r.returncode, " ".join(cmd), r.stdout))
    if not quiet:
        print(r.stdout, end="")
    return r.stdout


TIME = shutil.which("time") or ("/usr/bin/time" if os.path.exists("/usr/bin/time") else None)


def measure(cmd, cwd):
    """One run: (wall seconds, peak RSS in KiB, exit status).

    The peak RSS comes from GNU time where it is installed: the kernel's figure for a
    child also counts the memory of the process that forked it, and a small C program
    adds far less than this Python script would."""
    report = os.path.join(cwd, ".rss")
    full = [TIME, "-f", "%M", "-o", report] + cmd if TIME else cmd
    start = time.perf_counter()
    p = subprocess.Popen(full, cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    wall = time.perf_counter() - start
    peak = usage.ru_maxrss
    if TIME:
        with open(report) as f:
            peak = int(f.read().split()[-1])
    return wall, peak, os.waitstatus_to_exitcode(status)


def timed(cmds, cwd, runs):
    """Median wall time and the largest peak RSS of each command, runs interleaved."""
    walls = {k: [] for k in cmds}
    rss = {k: 0 for k in cmds}
    for _ in range(runs):
        for name, cmd in cmds.items():
            wall, peak, code = measure(cmd, cwd)
            if code != 0:
                sys.exit("%s exited with %d" % (name, code))
            walls[name].append(wall)
            rss[name] = max(rss[name], peak)
    return {k: statistics.median(v) for k, v in walls.items()}, rss


def generate(n, work, tag, labels=False):
    k, g = os.path.join(work, tag + ".s"), os.path.join(work, tag + "_gnu.s")
    cmd = [sys.executable, os.path.join(HERE, "gen.py"), str(n), k, g]
    if labels:
        cmd.append("--labels")
    sh(cmd, work)
    return tag + ".s", tag + "_gnu.s"


def same_bytes(korvane, work, ksrc, gsrc):
    """Assembles with both and compares the images (GNU's linked at address 0)."""
    sh([korvane, ksrc], work)
    base = ksrc[:-2]
    sh(["sh-elf-as", "-big", "-o", base + "_gnu.o", gsrc], work)
    sh(["sh-elf-ld", "-EB", "-Ttext=0", "-e", "0", "-o", base + "_gnu.elf", base + "_gnu.o"], work)
    sh(["sh-elf-objcopy", "-O", "binary", "-j", ".text", base + "_gnu.elf", base + "_gnu.bin"], work)
    ours = open(os.path.join(work, base + ".bin"), "rb").read()
    theirs = open(os.path.join(work, base + "_gnu.bin"), "rb").read()
    # GNU as pads the end of its section to a multiple of 4 with a NOP.
    if theirs[: len(ours)] != ours or len(theirs) - len(ours) not in (0, 2):
        for i in range(0, min(len(ours), len(theirs)), 2):
            if ours[i:i + 2] != theirs[i:i + 2]:
                sys.exit("images differ at offset %d: %s vs %s" % (i, ours[i:i + 2].hex(), theirs[i:i + 2].hex()))
        sys.exit("images differ in size: %d vs %d" % (len(ours), len(theirs)))
    return len(ours)


def callgrind_per_line(korvane, work, src, lines):
    if not shutil.which("valgrind"):
        return None
    out = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", korvane, src],
                         cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True).stderr
    for line in out.splitlines():
        if "Collected" in line:
            return int(line.split()[-1].replace(",", "")) / lines
    return None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(ROOT, "build-bench"))
    ap.add_argument("--work", default=os.path.join(ROOT, "build-bench", "work"))
    ap.add_argument("--runs", type=int, default=5)
    ap.add_argument("--smoke", action="store_true")
    ap.add_argument("--no-callgrind", action="store_true")
    a = ap.parse_args()
    a.build = os.path.abspath(a.build)
    a.work = os.path.abspath(a.work)

    korvane = os.path.join(a.build, "korvane")
    # Always brought up to date: a stale binary would be measured otherwise.
    if not os.path.exists(os.path.join(a.build, "CMakeCache.txt")):
        sh(["cmake", "-S", ROOT, "-B", a.build, "-DCMAKE_BUILD_TYPE=Release", "-DKORVANE_TESTS=OFF"], ROOT)
    sh(["cmake", "--build", a.build, "-j2", "--target", "korvane"], ROOT)
    os.makedirs(a.work, exist_ok=True)
    have_gnu = all(shutil.which(t) for t in ("sh-elf-as", "sh-elf-ld", "sh-elf-objcopy"))

    if a.smoke:
        k, g = generate(3000, a.work, "smoke")
        if have_gnu:
            size = same_bytes(korvane, a.work, k, g)
            print("smoke: 3000 lines, %d bytes, identical to GNU as" % size)
        else:
            sh([korvane, k], a.work)
            print("smoke: 3000 lines assembled (GNU as not installed, no comparison)")
        return
    if not have_gnu:
        sys.exit("the benchmark needs GNU binutils for SH (apt-get install binutils-sh-elf)")
    if not TIME:
        print("note: GNU time is not installed (apt-get install time); peak RSS figures include "
              "this script's own memory")

    print("korvane %s, %d runs each, median wall time, peak RSS" % (korvane, a.runs))
    results = {}
    for n, tag in ((100_000, "p100k"), (1_000_000, "p1m")):
        k, g = generate(n, a.work, tag)
        size = same_bytes(korvane, a.work, k, g)
        cmds = {
            "korvane": [korvane, k],
            "as": ["sh-elf-as", "-big", "-o", tag + ".o", g],
            "as -al": ["sh-elf-as", "-big", "-al=" + tag + ".lst", "-o", tag + "_l.o", g],
        }
        wall, rss = timed(cmds, a.work, a.runs)
        results[n] = wall["korvane"]
        print("\n%d lines (%d bytes of image, identical to GNU as):" % (n, size))
        for name in cmds:
            print("  %-8s %8.3f s  %8.1f MiB" % (name, wall[name], rss[name] / 1024))
        print("  korvane / as        = %.3f" % (wall["korvane"] / wall["as"]))
        print("  korvane / as -al    = %.3f" % (wall["korvane"] / wall["as -al"]))
        if not a.no_callgrind and n == 100_000:
            per = callgrind_per_line(korvane, a.work, k, n)
            if per:
                print("  instructions per source line (callgrind): %.0f" % per)
    print("\ngrowth 100,000 -> 1,000,000 lines: %.2fx the time" % (results[1_000_000] / results[100_000]))

    k, g = generate(1_000_000, a.work, "labels", labels=True)
    same_bytes(korvane, a.work, k, g)
    wall, rss = timed({"labels": [korvane, k]}, a.work, a.runs)
    print("10,000 labels, 9,998 references, 1,000,000 lines: %.3f s (%.1f%% of the plain program), %.1f MiB"
          % (wall["labels"], 100 * wall["labels"] / results[1_000_000], rss["labels"] / 1024))

    print("\npeak RSS:")
    k, _ = generate(10_000_000, a.work, "p10m")
    wall, rss = timed({"10m": [korvane, k]}, a.work, 3)
    print("  10,000,000 lines:      %6.1f MiB  (%.2f s, %.2fx the time of 1,000,000 lines)"
          % (rss["10m"] / 1024, wall["10m"], wall["10m"] / results[1_000_000]))
    with open(os.path.join(a.work, "gap.s"), "w") as f:
        f.write("NOP\nORG $10000000\nNOP\n")
    wall, rss = timed({"gap": [korvane, "gap.s"]}, a.work, 1)
    print("  ORG gap of 256 MiB:    %6.1f MiB  (%.2f s)" % (rss["gap"] / 1024, wall["gap"]))
    with open(os.path.join(a.work, "big.raw"), "wb") as f:
        block = bytes(range(256)) * 4096
        for _ in range(256):
            f.write(block)
    with open(os.path.join(a.work, "inc.s"), "w") as f:
        f.write('NOP\nINCBIN "big.raw"\nNOP\n')
    wall, rss = timed({"inc": [korvane, "inc.s"]}, a.work, 1)
    print("  INCBIN of 256 MiB:     %6.1f MiB  (%.2f s)" % (rss["inc"] / 1024, wall["inc"]))
    for name in ("p10m.s", "p10m_gnu.s", "p10m.log", "p10m.bin", "big.raw", "inc.bin", "gap.bin"):
        try:
            os.remove(os.path.join(a.work, name))
        except FileNotFoundError:
            pass


if __name__ == "__main__":
    main()
