#!/usr/bin/env python3
"""Edits of disassembled programs that run: each either still runs the same or is reported.

    tests/corpus/edits.py --dis build/korvane-dis --asm build/korvane [--work DIR] [--edits 100] [--check]

Every C program of gcc/ is built with GCC for SH (as measure.py builds it, at -O0, -O2,
-Os and -O2 -mbigtable), and every GNU-as program of asm/ with sh-elf-as, each with
gcc/start_linux.s, linked flat at $400000, and run under qemu-sh4eb: it prints its result
as 8 hexadecimal digits (a program that does not run as built, such as one that reads the
SH7604's registers, is left out). korvane-dis disassembles the
image from its base alone; then, for --edits random places per program (an instruction
not in a delay slot), two NOPs are inserted there (one NOP for every tenth edit, which
moves the code by 2), `korvane-dis --check --write` is run, the source is assembled and
the program run again. Also: one NOP of the program deleted, one routine grown by 100
instructions. Each edit is counted as kept (the same output), reported (--check or the
assembler said why it could not be kept) or broken (neither said anything, and the
program printed something else or crashed): with --check, a broken edit is a failure.
Exits with status 77 (skipped) when GCC for SH, binutils for SH or qemu-sh4eb is missing.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
BASE = 0x400000
CC = "sh4-linux-gnu-gcc"
CFLAGS = ["-m4-nofpu", "-mb", "-mdiv=call-div1", "-ffreestanding", "-nostdlib", "-fno-builtin", "-fno-pic", "-S"]
LEVELS = {"O0": ["-O0"], "O2": ["-O2"], "Os": ["-Os"], "O2big": ["-O2", "-mbigtable"]}
LINK = ("SECTIONS { . = 0x%X; .text : { start.o(.text) *(.text*) *(.rodata*) *(.data*) *(.bss*) *(COMMON) } }\n"
        % BASE)
WRAP = ("ENTRY(_start) PHDRS { image PT_LOAD FLAGS(7); } SECTIONS { . = 0x%X; "
        ".text : { _start = .; *(.data) } :image }\n" % BASE)
DELAYED = {"BRA", "BSR", "BRAF", "BSRF", "JMP", "JSR", "RTS", "RTE", "BT/S", "BF/S"}
STATEMENT = re.compile(r"^(?:(\S+):)?\s+(\S+)\s*([^;]*?)\s*; ([0-9A-F]{8}) ([0-9A-F]+)(.*)$")


def run(cmd, cwd, check=True, timeout=60):
    r = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout)
    if check and r.returncode != 0:
        raise RuntimeError("%s: %s" % (" ".join(cmd), r.stdout.decode(errors="replace")))
    return r


def execute(work, name):
    """Wraps NAME.bin as a Linux program and runs it: its output, or None on a crash."""
    run(["sh-elf-objcopy", "-I", "binary", "-O", "elf32-sh", "-B", "sh", name + ".bin", name + ".o"], work)
    link = ["sh-elf-ld", "-EB", "-z", "max-page-size=4096", "-T", "wrap.ld", name + ".o", "-o", name + ".elf"]
    if run(link + ["--no-warn-rwx-segments"], work, check=False).returncode != 0:
        run(link, work)
    try:
        r = run(["qemu-sh4eb", "./" + name + ".elf"], work, check=False, timeout=20)
    except subprocess.TimeoutExpired:
        return None
    return r.stdout if r.returncode == 0 else None


def build(work, name, c, flags):
    """Builds one program: a C file of gcc/ at FLAGS, or a GNU-as source of asm/ (FLAGS None)."""
    if flags is None:
        out = os.path.join(HERE, "asm", c)
    else:
        out = os.path.join(work, name + ".gcc.s")
        run([CC] + CFLAGS + flags + ["-I", os.path.join(HERE, "gcc"), "-o", out, os.path.join(HERE, "gcc", c)], work)
    if run(["sh-elf-as", "-isa=sh2", "-big", "-o", name + ".prog.o", out], work, check=False).returncode != 0:
        return False
    run(["sh-elf-ld", "-T", "link.ld", "-o", name + ".full.elf", "start.o", name + ".prog.o"], work)
    run(["sh-elf-objcopy", "-O", "binary", name + ".full.elf", name + ".bin"], work)
    return True


def places(source):
    """Lines where an instruction starts that is not in a delay slot."""
    out = []
    previous = ""
    for i, line in enumerate(source):
        m = STATEMENT.match(line)
        if not m:
            continue
        mnemonic, rest = m.group(2), m.group(6)
        instruction = not (mnemonic.startswith("DC.") or mnemonic in ("PAD", "SETPC", "ALIGN.L", "ALIGN.W"))
        if instruction and previous not in DELAYED:
            out.append(i)
        previous = mnemonic if instruction or "in a delay slot" in rest else ""
    return out


def attempt(work, name, lines, expected, dis, asm, why=None):
    """Writes the edited source, checks, assembles, runs: kept, reported or broken."""
    with open(os.path.join(work, "e.s"), "w") as f:
        f.write("\n".join(lines) + "\n")
    for cmd in ([dis, "--check", "e.s", "--write"], [asm, "e.s"]):
        r = run(cmd, work, check=False)
        if r.returncode != 0:
            if why is not None:
                why.append(r.stdout.decode(errors="replace").strip().split("\n")[0])
            return "reported"
    return "kept" if execute(work, "e") == expected else "broken"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dis", required=True)
    ap.add_argument("--asm", required=True)
    ap.add_argument("--work", default="/tmp/korvane-edits")
    ap.add_argument("--edits", type=int, default=100)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--reasons", action="store_true", help="print why each reported edit was reported")
    ap.add_argument("--only", help="only the programs whose name starts so")
    a = ap.parse_args()
    dis, asm = os.path.abspath(a.dis), os.path.abspath(a.asm)
    a.work = os.path.abspath(a.work)  # the tools run in it
    for tool in (CC, "sh-elf-as", "sh-elf-ld", "sh-elf-objcopy", "qemu-sh4eb"):
        if not shutil.which(tool):
            print("skipped: %s is not installed (packages gcc-sh4-linux-gnu, binutils-sh-elf, qemu-user)" % tool)
            return 77
    os.makedirs(a.work, exist_ok=True)
    with open(os.path.join(a.work, "link.ld"), "w") as f:
        f.write(LINK)
    with open(os.path.join(a.work, "wrap.ld"), "w") as f:
        f.write(WRAP)
    # The start-up code every program is linked with.
    run(["sh-elf-as", "-isa=sh2", "-big", "-o", "start.o", os.path.join(HERE, "gcc", "start_linux.s")], a.work)
    rng = random.Random(a.seed)
    total = {"kept": 0, "reported": 0, "broken": 0}
    broken = []
    print("%-14s %6s %9s %7s" % ("program", "kept", "reported", "broken"))
    programs = [("%s-%s" % (c[:-2], level), c, flags)
                for c in sorted(f for f in os.listdir(os.path.join(HERE, "gcc")) if f.endswith(".c") and f != "rt.c")
                for level, flags in LEVELS.items()]
    programs += [(s[:-2], s, None) for s in sorted(os.listdir(os.path.join(HERE, "asm"))) if s.endswith(".s")]
    for name, c, flags in programs:
        if a.only and not name.startswith(a.only):
            continue
        if not build(a.work, name, c, flags):
            print("%-14s refused by sh-elf-as -isa=sh2" % name)
            continue
        expected = execute(a.work, name)
        if expected is None and flags and "-O2" in flags:
            # calls.c at -O2: GCC 12 turns ackermann's calls into loops whose code recurses
            # without end under qemu-sh4eb (as GNU as builds it, before any disassembly);
            # without sibling calls it runs.
            if build(a.work, name, c, flags + ["-fno-optimize-sibling-calls"]):
                expected = execute(a.work, name)
            if expected is not None:
                print("%-14s runs only with -fno-optimize-sibling-calls: built so" % name)
        if expected is None:
            print("%-14s does not run under qemu as built: left out" % name)
            continue
        for f in os.listdir(a.work):
            if f.startswith(name + ".bin") and f.endswith(".s"):
                os.unlink(os.path.join(a.work, f))
        run([dis, name + ".bin", "--base", "$%X" % BASE], a.work)
        with open(os.path.join(a.work, name + ".bin.s")) as f:
            source = f.read().splitlines()
        # The round trip first: the source as written runs the same.
        if attempt(a.work, name, source, expected, dis, asm) != "kept":
            raise RuntimeError(name + ": the unedited source does not run the same")
        spots = places(source)
        counts = {"kept": 0, "reported": 0, "broken": 0}
        edits = []
        for k in range(a.edits):
            at = rng.choice(spots)
            insert = ["            NOP"] if k % 10 == 9 else ["            NOP", "            NOP"]
            edits.append(("%d NOP before line %d" % (len(insert), at + 1), source[:at] + insert + source[at:]))
        nops = [i for i in spots if STATEMENT.match(source[i]).group(2) == "NOP"]
        if nops and not STATEMENT.match(source[nops[0]]).group(1):  # an unlabelled NOP, not in a slot
            edits.append(("deleting the NOP on line %d" % (nops[0] + 1), source[:nops[0]] + source[nops[0] + 1:]))
        at = spots[len(spots) // 2]
        edits.append(("100 NOPs before line %d" % (at + 1), source[:at] + ["            NOP"] * 100 + source[at:]))
        for what, lines in edits:
            why = []
            outcome = attempt(a.work, name, lines, expected, dis, asm, why)
            if why and a.reasons:
                print("  %s: reported: %s" % (what, why[0]))
            counts[outcome] += 1
            if outcome == "broken":
                broken.append("%s: %s" % (name, what))
        for k in counts:
            total[k] += counts[k]
        print("%-14s %6d %9d %7d" % (name, counts["kept"], counts["reported"], counts["broken"]))
    print("all: %d kept, %d reported, %d broken" % (total["kept"], total["reported"], total["broken"]))
    for b in broken[:20]:
        print("BROKEN " + b)
    return 1 if (a.check and broken) else 0


if __name__ == "__main__":
    sys.exit(main())
