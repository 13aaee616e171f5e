#!/usr/bin/env python3
"""Builds the disassembler's corpus and measures what korvane-dis finds in it.

    tests/corpus/measure.py --dis build/korvane-dis --asm build/korvane [--work DIR] [--check]

The corpus: the C programs in gcc/ built with GCC for SH (sh4-linux-gnu-gcc -m4-nofpu -mb,
at -O0, -O2, -Os and -O2 -mbigtable, -ffreestanding -nostdlib), kept only where
sh-elf-as -isa=sh2 accepts the compiler's assembly, and the hand-written sources in
asm/, each linked flat at $6004000 with gcc/start.s first. The ground truth comes from
the assembly itself: before every instruction and every datum a label is inserted
(which changes no byte), and the linked program's symbol table says where each one is.

korvane-dis is given only the image and its base. Measured, per image and in total:
- instructions shown as instructions, of those the compiler (or the author) wrote;
- bytes of data shown as instructions (must be 0);
- switch tables: entries of the compiler's relative tables (.byte/.short/.long L1-L2)
  written with their target's comment "-> L", and pointers (.long symbol) written
  DC.L label;
- the round trip: korvane rebuilds the image from the sources byte for byte.
With --check the exit status is 1 when a figure misses its mark (99% of compiled
instructions, 90% of hand-written ones, no data as code, every table and pointer).
Exits with status 77 (skipped) when GCC for SH or GNU binutils for SH are missing.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
BASE = 0x6004000
CC = "sh4-linux-gnu-gcc"
CFLAGS = ["-m4-nofpu", "-mb", "-mdiv=call-div1", "-ffreestanding", "-nostdlib", "-fno-builtin",
          "-fno-pic", "-S"]
LEVELS = {"O0": ["-O0"], "O2": ["-O2"], "Os": ["-Os"], "O2big": ["-O2", "-mbigtable"]}
LINK = """SECTIONS {
  . = 0x%X;
  .text : { start.o(.text) *(.text*) *(.rodata*) *(.data*) *(.bss*) *(COMMON) }
}
""" % BASE

DATA = {".long": 4, ".int": 4, ".4byte": 4, ".short": 2, ".word": 2, ".hword": 2, ".2byte": 2,
        ".byte": 1}


def run(cmd, cwd, check=True, timeout=None):
    r = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=timeout)
    if check and r.returncode != 0:
        raise RuntimeError("%s: %s" % (" ".join(cmd), r.stdout))
    return r


def string_size(text):
    """Bytes of a quoted GNU as string (escapes counted as they assemble)."""
    n, i = 0, 0
    while i < len(text):
        if text[i] == "\\":
            i += 1
            if text[i] in "01234567":
                j = i
                while j < len(text) and j - i < 3 and text[j] in "01234567":
                    j += 1
                i = j
            elif text[i] == "x":
                i += 1
                while i < len(text) and text[i] in "0123456789abcdefABCDEF":
                    i += 1
            else:
                i += 1
        else:
            i += 1
        n += 1
    return n


def split_operands(text):
    out, depth, cur, quoted = [], 0, "", False
    for c in text:
        if c == '"':
            quoted = not quoted
        if c == "," and not quoted and depth == 0:
            out.append(cur.strip())
            cur = ""
            continue
        depth += c == "("
        depth -= c == ")"
        cur += c
    if cur.strip():
        out.append(cur.strip())
    return out


SYMBOL = re.compile(r"(?<![\w.$])([A-Za-z_][\w.$]*)")
REGISTER = re.compile(r"^(r\d+|pr|gbr|vbr|sr|mach|macl|fpul|pc)$", re.I)


def annotate(source, graph=None):
    """The source with a label before every instruction and datum, and what each is:
    name -> (kind, size, extra): kind "code", "data", "table" (relative entries),
    "pointer" (.long symbol). With graph (a dict), graph["owner"][name] is the global
    symbol (function or object) each item belongs to and graph["refs"][symbol] the
    symbols its items name: the compiler's own call and reference graph."""
    lines, facts, n = [], {}, 0
    rept = 0
    owner = None
    for raw in source.splitlines():
        line = raw.split("!")[0] if '"' not in raw else raw
        text = line.strip()
        # GCC puts mergeable strings in sections the linker may merge; labels inside
        # them would stop that, so they go to plain .rodata.
        if text.startswith(".section") and ".rodata" in text:
            lines.append("\t.section .rodata")
            continue
        if text.startswith(".rept"):
            rept += 1
        if text.startswith(".endr"):
            rept -= 1
        m = re.match(r"^([A-Za-z_.$][\w.$]*:)\s*(.*)$", text)
        label = ""
        if m:
            label, text = m.group(1), m.group(2)
        if label:
            lines.append(label)
            if not label.startswith(".L") and graph is not None:
                owner = label[:-1]
        if graph is not None and owner and text and not text.startswith((".section", ".text", ".data", ".align",
                                                                          ".global", ".type", ".size", ".file")):
            body = text.split(None, 1)[1] if " " in text or "\t" in text else ""
            refs = graph.setdefault("refs", {}).setdefault(owner, set())
            for sym in SYMBOL.findall(re.sub(r'"(?:[^"\\]|\\.)*"', "", body)):
                if not REGISTER.match(sym):
                    refs.add(sym)
        if not text or rept:
            lines.append(text)
            continue
        word = text.split()[0]
        rest = text[len(word):].strip()
        fact = None
        if word in DATA:
            ops = split_operands(rest)
            kind = "data"
            if word in (".long", ".short", ".word", ".byte") and ops and all(
                    re.match(r"^\.?L\w+\s*-\s*\.?L\w+$", o) for o in ops):
                kind = "table"
            elif word == ".long" and ops and all(re.match(r"^[A-Za-z_.][\w.]*$", o) for o in ops):
                kind = "pointer"
            fact = (kind, DATA[word] * len(ops), DATA[word])
        elif word in (".string", ".asciz"):
            fact = ("data", string_size(rest.strip()[1:-1]) + 1, 1)
        elif word == ".ascii":
            fact = ("data", string_size(rest.strip()[1:-1]), 1)
        elif word in (".zero", ".skip", ".space"):
            fact = ("data", int(split_operands(rest)[0], 0), 1)
        elif not word.startswith("."):
            fact = ("code", 2, 2)
        if fact:
            name = "gt_%d" % n
            n += 1
            facts[name] = fact
            if graph is not None:
                graph.setdefault("owner", {})[name] = owner
            lines.append(name + ":")
        lines.append(text)
    return "\n".join(lines) + "\n", facts


def stubs(work, objects):
    """An object that defines every symbol the objects use but none defines (a library's
    calls into the C library), each as RTS with a NOP; None when none is missing."""
    defined, used = set(), set()
    for obj in objects:
        for line in run(["sh-elf-nm", obj], work).stdout.splitlines():
            parts = line.split()
            if len(parts) == 2 and parts[0] == "U":
                used.add(parts[1])
            elif len(parts) == 3 and parts[1] in "TtDdBbRrCc":
                defined.add(parts[2])
    missing = sorted(used - defined)
    if not missing:
        return None
    text = "\t.text\n" + "".join("\t.global %s\n\t.align 2\n%s:\n\trts\n\tnop\n" % (m, m) for m in missing)
    with open(os.path.join(work, "stubs.s"), "w") as fh:
        fh.write(text)
    run(["sh-elf-as", "-isa=sh2", "-big", "-o", "stubs.o", "stubs.s"], work)
    return "stubs.o"


def link(work, name, objects):
    """Links the objects flat at BASE: the image."""
    with open(os.path.join(work, "link.ld"), "w") as fh:
        fh.write(LINK)
    run(["sh-elf-ld", "-T", "link.ld", "-o", name + ".elf"] + objects, work)
    run(["sh-elf-objcopy", "-O", "binary", name + ".elf", name + ".bin"], work)
    with open(os.path.join(work, name + ".bin"), "rb") as fh:
        return fh.read()


def build(work, name, sources, names=None, live=None):
    """Assembles and links; returns (image, {address: (kind, size, width)}) or None when
    GNU as refuses the program for SH-2. Symbols no source defines are stubbed. With
    names, each item's address maps to its label and its source's index there. With
    live (a set), the addresses of the items a run may reach are added to it: those of
    the symbols the compiler's references lead to from _start."""
    facts = {}
    objects = []
    owners, refs = {}, {}
    for i, (src_name, text) in enumerate(sources):
        graph = {}
        annotated, f = annotate(text, graph)
        owners.update({"%s_%d" % (k, i): v for k, v in graph.get("owner", {}).items()})
        for k, v in graph.get("refs", {}).items():
            refs.setdefault(k, set()).update(v)
        f = {"%s_%d" % (k, i): v for k, v in f.items()}
        annotated = re.sub(r"\bgt_(\d+):", lambda m: "gt_%s_%d:" % (m.group(1), i), annotated)
        facts.update(f)
        path = os.path.join(work, "%s.%d.s" % (name, i))
        with open(path, "w") as fh:
            fh.write(annotated)
        obj = "start.o" if i == 0 else "%s.%d.o" % (name, i)
        r = run(["sh-elf-as", "-isa=sh2", "-big", "-o", obj, path], work, check=False)
        if r.returncode != 0:
            return None, r.stdout
        objects.append(obj)
    stub = stubs(work, objects)
    image = link(work, name, objects + ([stub] if stub else []))
    nm = run(["sh-elf-nm", name + ".elf"], work).stdout
    where = {}
    for line in nm.splitlines():
        parts = line.split()
        if len(parts) == 3 and parts[2] in facts:
            where[int(parts[0], 16)] = facts[parts[2]]
            if names is not None:
                names[int(parts[0], 16)] = parts[2]
    if live is not None:
        reached, todo = set(), ["_start"]
        while todo:
            sym = todo.pop()
            if sym not in reached:
                reached.add(sym)
                todo.extend(refs.get(sym, ()))
        live.update(int(p[0], 16) for p in (l.split() for l in nm.splitlines())
                    if len(p) == 3 and p[2] in facts and owners.get(p[2]) in reached)
    return image, where


STATEMENT = re.compile(r"^(?:L[0-9A-F]{8}:)?\s+(\S+)\s*([^;]*?)\s*; ([0-9A-F]{8}) (?:FF x (\d+)|([0-9A-F]+))(.*)$")


def shown(work, name, asm, dis):
    """What korvane-dis wrote: address -> (mnemonic, operands, size, rest of comment);
    and whether the round trip rebuilt the image."""
    for f in os.listdir(work):
        if f.startswith(name + ".bin") and f.endswith(".s"):
            os.unlink(os.path.join(work, f))
    r = run([dis, name + ".bin", "--base", "$%X" % BASE], work)
    order = [l.strip()[len("korvane "):] for l in r.stdout.splitlines() if l.strip().startswith("korvane ")]
    if not order:
        order = [name + ".bin.s"]
    statements = {}
    for s in order:
        with open(os.path.join(work, s)) as fh:
            for line in fh:
                m = STATEMENT.match(line.rstrip("\n"))
                if not m or m.group(1) in ("SETPC", "INCBIN"):
                    continue
                size = int(m.group(4)) if m.group(4) else len(m.group(5)) // 2
                statements[int(m.group(3), 16)] = (m.group(1), m.group(2), size, m.group(6))
    for s in order:
        run([asm, s], work)
    with open(os.path.join(work, name + ".bin"), "rb") as a, open(os.path.join(work, order[-1][:-2] + ".bin"), "rb") as b:
        same = a.read() == b.read()
    return statements, same


def measure(statements, where, live=None):
    """What korvane-dis found of the program's items; with live (the addresses a run may
    reach), its instructions counted apart as live and unused."""
    covering = {}
    for addr, (mn, ops, size, rest) in statements.items():
        for b in range(size):
            covering[addr + b] = addr
    def instruction(addr):
        s = statements.get(addr)
        if not s:
            return False
        mn, ops, size, rest = s
        return not (mn.startswith("DC.") or mn == "PAD") or "in a delay slot" in rest
    r = {"code": 0, "code shown": 0, "data bytes": 0, "data as code": 0, "table entries": 0,
         "table entries shown": 0, "pointers": 0, "pointers shown": 0,
         "live": 0, "live shown": 0, "unused": 0, "unused shown": 0}
    # Tables of unknown length: the entries their annotation lists targets for.
    listed = {}
    for addr, (mn, ops, size, rest) in statements.items():
        m = re.search(r"unknown length: entries of (\d+) from \S+ give (.*)$", rest)
        if m:
            w = int(m.group(1))
            for k in range(len(m.group(2).split(","))):
                listed[addr + k * w] = True
    missed = []
    for addr, (kind, size, width) in sorted(where.items()):
        if kind == "code":
            r["code"] += 1
            r["code shown"] += instruction(addr)
            if live is not None:
                which = "live" if addr in live else "unused"
                r[which] += 1
                r[which + " shown"] += instruction(addr)
            if not instruction(addr):
                missed.append(addr)
            continue
        r["data bytes"] += size
        for b in range(size):
            a = covering.get(addr + b)
            if a is not None and instruction(a):
                r["data as code"] += 1
        for e in range(0, size, width):
            s = statements.get(addr + e)
            if kind == "table":
                r["table entries"] += 1
                r["table entries shown"] += bool((s and "-> L" in s[3]) or (addr + e) in listed)
            elif kind == "pointer":
                r["pointers"] += 1
                r["pointers shown"] += bool(s and s[0] == "DC.L" and s[1].startswith("L"))
                if not (s and s[0] == "DC.L" and s[1].startswith("L")):
                    missed.append(("pointer", hex(addr + e)))
            if kind == "table" and not ((s and "-> L" in s[3]) or (addr + e) in listed):
                missed.append(("table entry", hex(addr + e)))
    return r, missed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dis", required=True)
    ap.add_argument("--asm", required=True)
    ap.add_argument("--work", default="/tmp/korvane-corpus")
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--verbose", nargs="*", default=[], help="images whose misses are listed")
    a = ap.parse_args()
    dis, asm = os.path.abspath(a.dis), os.path.abspath(a.asm)
    a.work = os.path.abspath(a.work)  # the tools run in it
    for tool in (CC, "sh-elf-as", "sh-elf-ld", "sh-elf-objcopy", "sh-elf-nm"):
        if not shutil.which(tool):
            print("skipped: %s is not installed (packages gcc-sh4-linux-gnu, binutils-sh-elf)" % tool)
            return 77
    os.makedirs(a.work, exist_ok=True)
    with open(os.path.join(HERE, "gcc", "start.s")) as fh:
        start = fh.read()
    images = []
    for c in sorted(f for f in os.listdir(os.path.join(HERE, "gcc")) if f.endswith(".c") and f != "rt.c"):
        for level, flags in LEVELS.items():
            name = "%s-%s" % (c[:-2], level)
            out = os.path.join(a.work, name + ".gcc.s")
            run([CC] + CFLAGS + flags + ["-I", os.path.join(HERE, "gcc"), "-o", out,
                 os.path.join(HERE, "gcc", c)], a.work)
            with open(out) as fh:
                images.append(("compiled", name, [("start.s", start), (c, fh.read())]))
    asm_dir = os.path.join(HERE, "asm")
    for s in sorted(f for f in os.listdir(asm_dir) if f.endswith(".s")):
        with open(os.path.join(asm_dir, s)) as fh:
            images.append(("hand-written", s[:-2], [("start.s", start), (s, fh.read())]))

    totals = {}
    failed = []
    print("%-22s %12s %10s %14s %12s %6s" % ("image", "instructions", "data/code", "table entries",
                                             "pointers", "same"))
    for kind, name, sources in images:
        image, where = build(a.work, name, sources)
        if image is None:
            print("%-22s refused by sh-elf-as -isa=sh2: %s" % (name, where.splitlines()[0]))
            continue
        statements, same = shown(a.work, name, asm, dis)
        r, missed = measure(statements, where)
        if a.verbose and name in a.verbose:
            print("missed:", " ".join(x if isinstance(x, str) else str(x) for x in
                                       [hex(m) if isinstance(m, int) else m for m in missed][:60]))
        t = totals.setdefault(kind, {k: 0 for k in r})
        for k, v in r.items():
            t[k] += v
        print("%-22s %6d/%-6d %10d %7d/%-6d %6d/%-5d %6s" % (
            name, r["code shown"], r["code"], r["data as code"], r["table entries shown"],
            r["table entries"], r["pointers shown"], r["pointers"], "yes" if same else "NO"))
        if not same:
            failed.append(name + ": the round trip changed the image")
    for kind, t in totals.items():
        share = 100.0 * t["code shown"] / max(t["code"], 1)
        print("%s: %d of %d instructions shown (%.2f%%), %d bytes of data shown as code, "
              "%d of %d table entries, %d of %d pointers" % (
                  kind, t["code shown"], t["code"], share, t["data as code"],
                  t["table entries shown"], t["table entries"], t["pointers shown"], t["pointers"]))
        mark = 99.0 if kind == "compiled" else 90.0
        if share < mark:
            failed.append("%s: %.2f%% of instructions, below %.0f%%" % (kind, share, mark))
        if t["data as code"]:
            failed.append("%s: data shown as code" % kind)
        if kind == "compiled" and t["table entries shown"] != t["table entries"]:
            failed.append("compiled: a switch table entry without its target")
        if kind == "compiled" and t["pointers shown"] != t["pointers"]:
            failed.append("compiled: a pointer written as a number")
    for f in failed:
        print("FAILED " + f)
    return 1 if (a.check and failed) else 0


if __name__ == "__main__":
    sys.exit(main())
