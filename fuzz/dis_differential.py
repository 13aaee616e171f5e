#!/usr/bin/env python3
"""Differential check of korvane-dis: the executable of this tree against the one built
from a reference commit, over a set of images and option sets: every file the run
writes (sources, parts, the --info-out file), its console output and exit status must
be the same, byte for byte.

    fuzz/dis_differential.py --new build/korvane-dis [--asm build/korvane] [--count 300]
                             [--seed 1] [--work DIR]

The images: the test programs and the bundled example assembled by korvane; the
programs of tests/corpus/asm assembled by sh-elf-as where it is installed; images of
zeros, $FF and pointer tables; code of bench/gen.py; COUNT random images of random
sizes, some of them random words with every fourth an RTS, BRA or a PC-relative load.
Each is disassembled with several option sets (plain, at $06000000, without guesses,
as a Saturn program, with --info-out, with an info file of names and tables).
It fails when any run differs; the first few are kept in WORK/differences/.
"""
import argparse
import filecmp
import multiprocessing
import os
import random
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
import differential  # noqa: E402  (the reference build, shared with the assembler's check)

# The behaviour the disassembler's refactorings are compared against: the tree after
# every walker of the analysis went onto the one instruction step (against the tree
# before it, 312 images and 1,872 runs differed in one image only, a fix: values the
# semantics compute, an EXTU.B and an XTRCT of known registers, name a place after the
# image that a MAC.W reads).
REFERENCE = "adc28b61b8b853c5fec2a549c3ab316de868eee4"

OPTION_SETS = [
    [],
    ["--base", "$6000000"],
    ["--base", "$6000000", "--no-guess"],
    ["--format", "saturn"],
    ["--base", "$6000000", "--info-out", "found.info"],
    ["--base", "$6000000", "--info", "given.info"],
]

INFO = ("label $6000010 HANDLER\n"
        "entry $6000020\n"
        "data $6000040-$6000060 pointers\n"
        "table $6000080 4 2 relative $6000080\n"
        "const $6000100\n"
        "comment $6000004 the start\n")


def assembled(asm, work, path):
    """The image korvane makes of a source (None when it does not assemble)."""
    d = os.path.join(work, "asm")
    os.makedirs(d, exist_ok=True)
    name = os.path.basename(path)
    shutil.copy(path, os.path.join(d, name))
    for inc in os.listdir(os.path.dirname(path)):
        if inc.endswith(".inc") or inc.endswith(".bin"):
            shutil.copy(os.path.join(os.path.dirname(path), inc), d)
    r = subprocess.run([asm, name], cwd=d, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    out = os.path.join(d, os.path.splitext(name)[0] + ".bin")
    if r.returncode != 0 or not os.path.exists(out):
        return None
    with open(out, "rb") as f:
        return f.read()


def gnu_assembled(work, path):
    if not shutil.which("sh-elf-as"):
        return None
    d = os.path.join(work, "gnu")
    os.makedirs(d, exist_ok=True)
    obj = os.path.join(d, "p.o")
    bin_ = os.path.join(d, "p.bin")
    if subprocess.run(["sh-elf-as", "-big", "-isa=sh2", path, "-o", obj],
                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode != 0:
        return None
    subprocess.run(["sh-elf-objcopy", "-O", "binary", "-j", ".text", obj, bin_], check=True)
    with open(bin_, "rb") as f:
        return f.read()


def images(asm, work, count, seed):
    out = []
    sources = [os.path.join(ROOT, "examples", "demo.s")]
    programs = os.path.join(ROOT, "tests", "data", "programs")
    sources += [os.path.join(programs, f) for f in sorted(os.listdir(programs)) if f.endswith(".s")]
    for s in sources:
        image = assembled(asm, work, s)
        if image:
            out.append(("korvane-" + os.path.basename(s), image))
    corpus = os.path.join(ROOT, "tests", "corpus", "asm")
    for f in sorted(os.listdir(corpus)):
        if f.endswith(".s"):
            image = gnu_assembled(work, os.path.join(corpus, f))
            if image:
                out.append(("gnu-" + f, image))
    subprocess.run([sys.executable, os.path.join(ROOT, "bench", "gen.py"), "20000",
                    os.path.join(work, "gen.s"), os.path.join(work, "gen_gnu.s")], check=True)
    gen = assembled(asm, work, os.path.join(work, "gen.s"))
    if gen:
        out.append(("gen", gen))
    out.append(("zeros", bytes(64 * 1024)))
    out.append(("ff", b"\xff" * 5000))
    out.append(("pointers", b"".join(struct.pack(">I", 0x6000000 + 4 * ((i * 37) % 512)) for i in range(512))))
    rnd = random.Random(seed)
    for i in range(count):
        size = rnd.choice([2, 16, 64, 256, 1024, 4096, 20000])
        if i % 2 == 0:
            data = bytes(rnd.randrange(256) for _ in range(size))
        else:
            words = []
            for k in range(size // 2):
                if k % 4 == 3:
                    words.append(rnd.choice([0x000B, 0xA000 | rnd.randrange(0x1000), 0xD000 | rnd.randrange(0x1000),
                                             0x9000 | rnd.randrange(0x1000), 0xC700 | rnd.randrange(256)]))
                else:
                    words.append(rnd.randrange(0x10000))
            data = b"".join(struct.pack(">H", w) for w in words)
        out.append(("random%04d" % i, data))
    return out


def outputs(directory):
    return {f: os.path.join(directory, f) for f in os.listdir(directory)}


def run_one(exe, directory, image, options):
    shutil.rmtree(directory, ignore_errors=True)
    os.makedirs(directory)
    with open(os.path.join(directory, "img.bin"), "wb") as f:
        f.write(image)
    with open(os.path.join(directory, "given.info"), "w") as f:
        f.write(INFO)
    r = subprocess.run([exe, "img.bin"] + options, cwd=directory, stdout=subprocess.PIPE,
                       stderr=subprocess.STDOUT, timeout=120)
    return r.returncode, r.stdout


def compare(item):
    index, name, image, options = item
    base = os.path.join(WORKER["work"], "runs", str(os.getpid()))
    a_dir, b_dir = base + "-ref", base + "-new"
    a = run_one(WORKER["reference"], a_dir, image, options)
    b = run_one(WORKER["new"], b_dir, image, options)
    same = a == b
    fa, fb = outputs(a_dir), outputs(b_dir)
    same = same and sorted(fa) == sorted(fb)
    if same:
        same = all(filecmp.cmp(fa[f], fb[f], shallow=False) for f in fa)
    return index, name, same


WORKER = {}


def init_worker(reference, new, work):
    WORKER.update(reference=reference, new=new, work=work)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--new", required=True)
    ap.add_argument("--asm", default=None)
    ap.add_argument("--count", type=int, default=300)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "dis-differential"))
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    os.makedirs(os.path.join(work, "runs"), exist_ok=True)
    new = os.path.abspath(args.new)
    asm = os.path.abspath(args.asm or os.path.join(os.path.dirname(new), "korvane"))
    reference = differential.build_reference(work, REFERENCE, "korvane-dis")
    items = []
    for name, image in images(asm, work, args.count, args.seed):
        for options in OPTION_SETS:
            items.append((len(items), name, image, options))
    differences = []
    with multiprocessing.Pool(2, init_worker, (reference, new, work)) as pool:
        for index, name, same in pool.imap_unordered(compare, items, chunksize=8):
            if not same:
                differences.append(index)
    kept = os.path.join(work, "differences")
    shutil.rmtree(kept, ignore_errors=True)
    for index in sorted(differences)[:10]:
        _, name, image, options = items[index]
        os.makedirs(kept, exist_ok=True)
        with open(os.path.join(kept, "%05d-%s.bin" % (index, name)), "wb") as f:
            f.write(image)
        with open(os.path.join(kept, "%05d-%s.options" % (index, name)), "w") as f:
            f.write(" ".join(options) + "\n")
    print("dis differential: %d runs (%d images, %d option sets) against %s, %d differences"
          % (len(items), len(items) // len(OPTION_SETS), len(OPTION_SETS), REFERENCE[:12], len(differences)))
    if differences:
        print("images that differ are kept in " + kept)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
