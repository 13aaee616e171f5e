#!/usr/bin/env python3
"""Edits of generated programs, each checked by running both builds: kept, reported or silently wrong.

    tests/corpus/against.py --dis build/korvane-dis --asm build/korvane --run build/korvane-run
                            [--work DIR] [--programs 3] [--edits 20] [--seed 1] [--kept 90]
                            [--only SHAPE] [--reasons]

Programs of the shapes that analyses of binaries get wrong are generated (each its own
random sizes, constants and counts), assembled with korvane and disassembled from the
base alone; every program's MAIN returns a checksum of what it computed in R0. Shapes:
  direct    functions called directly (BSR, JSR through a literal), loops, constants
  tables    handlers that each call through a small table of function pointers, the
            tables side by side
  numbers   at base 0, larger than 64 KiB: counts equal to the addresses of tables at
            $10000 and above
  mova      byte arrays that MOVA names and a loop reads, whose words decode as code
  open      a switch through word offsets with no bound check (a table of unknown length)
  dead      routines no path reaches, called through addresses kept scrambled, with
            loads of literals
  slot      routines that only a table of pointers names, with a PC-relative load in a
            BRA's delay slot between literals
  bss       a table kept after the image (a C program's .bss), a function pointer stored
            there and called
Each source is edited at random: two NOPs at one place (the small edits), two NOPs at
several places, or a block of 40-300 NOPs; `korvane-dis --check --write`, `korvane`,
then `korvane-run --against` runs MAIN of the original and of the edited build. An edit
is "kept" when both run the same, "reported" when --check or the assembler refused it,
and "silently wrong" when neither said anything and the runs differ. It prints the
counts of each shape (the programs and edits of a shape depend only on --seed) and exits 1 when anything is silently wrong, or when fewer than
--kept percent of the small edits of the direct shape are kept.
"""
import argparse
import os
import random
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import edits  # noqa: E402  (its process runner and the places an instruction starts)

STACK = 0x100000  # above the base: 4 KiB of stack RAM there
INDENT = "            "


class Program:
    """A source being generated: lines, unique labels, and values worked out after a first
    assembly (`%(EXPR)` where EXPR names labels: offsets, scrambled addresses, slot loads)."""

    def __init__(self, rng, base):
        self.rng = rng
        self.base = base
        self.lines = ["        SETPC   $%X" % base]
        self.count = 0
        self.bss = None  # (address, size) of memory after the image that MAIN uses

    def label(self, stem):
        self.count += 1
        return "%s%d" % (stem, self.count)

    def put(self, *lines):
        self.lines.extend(lines)

    def at(self, label, statement):
        self.lines.append("%-11s %s" % (label + ":", statement))

    def constant(self):
        return self.rng.randrange(1, 1 << 31)


def prologue(p):
    p.at("MAIN", "STS.L   PR,@-R15")
    p.put("        MOV.L   R8,@-R15", "        MOV.L   R9,@-R15", "        MOV     #0,R8")


def epilogue(p, pool):
    """MAIN returns R8 in R0; the scratch registers are cleared (only R0 is a result)."""
    p.put("        MOV     R8,R0", "        MOV.L   @R15+,R9", "        MOV.L   @R15+,R8", "        LDS.L   @R15+,PR")
    p.put(*["        MOV     #0,R%d" % r for r in range(1, 8)])
    p.put("        RTS", "        NOP", "        ALIGN.L")
    for label, value in pool:
        p.at(label, "DC.L    %s" % value)


def call(p, pool, target, argument):
    """A call of target with R4 = argument, its result added to the checksum."""
    if p.rng.random() < 0.5:
        p.put("        BSR     %s" % target, "        MOV     #%d,R4" % argument)
    else:
        lit = p.label("PF")
        pool.append((lit, target))
        p.put("        MOV.L   @(%s,PC),R3" % lit, "        JSR     @R3", "        MOV     #%d,R4" % argument)
    p.put("        ADD     R0,R8")


def leaf(p, name, shared=None):
    """A leaf function of R4: a loop over a literal constant (its pool shared with another
    routine's literal, labelled shared)."""
    c, loop = p.label("C"), p.label("LP")
    p.at(name, "MOV.L   @(%s,PC),R1" % c)
    p.put("        MOV     R4,R0", "        MOV     #%d,R2" % p.rng.randrange(1, 9))
    p.at(loop, "ADD     R1,R0")
    p.put("        DT      R2", "        BF/S    %s" % loop, "        SHLL    R0")
    p.put("        RTS", "        XOR     R4,R0", "        ALIGN.L")
    p.at(c, "DC.L    $%X" % p.constant())
    if shared:
        p.at(shared, "DC.L    $%X" % p.constant())


def direct(p):
    names = ["F%d" % i for i in range(p.rng.randrange(3, 7))]
    pool = []
    prologue(p)
    for n in names:
        call(p, pool, n, p.rng.randrange(1, 100))
    epilogue(p, pool)
    for i, n in enumerate(names):
        if i % 3 == 2:  # one that calls the one before it
            p.at(n, "STS.L   PR,@-R15")
            p.put("        BSR     %s" % names[i - 1], "        ADD     #3,R4", "        LDS.L   @R15+,PR",
                  "        RTS", "        ADD     #1,R0")
        else:
            leaf(p, n)


def tables(p):
    handlers = p.rng.randrange(3, 7)
    through = p.rng.random() < 0.5  # the handlers themselves called through a table
    pool = [("PH", "HT")] if through else []
    prologue(p)
    if through:
        p.put("        MOV.L   @(PH,PC),R9")
    for h in range(handlers):
        if through:
            p.put("        MOV.L   @R9+,R1", "        JSR     @R1", "        MOV     #%d,R4" % p.rng.randrange(0, 50),
                  "        ADD     R0,R8")
        else:
            call(p, pool, "H%d" % h, p.rng.randrange(0, 50))
    epilogue(p, pool)
    for h in range(handlers):
        p.at("H%d" % h, "STS.L   PR,@-R15")
        p.put("        MOV.L   @(H%dT,PC),R1" % h, "        MOV     R4,R0", "        AND     #1,R0",
              "        SHLL2   R0", "        MOV.L   @(R0,R1),R2", "        JSR     @R2", "        NOP",
              "        LDS.L   @R15+,PR", "        RTS", "        ADD     #%d,R0" % p.rng.randrange(1, 100),
              "        ALIGN.L")
        p.at("H%dT" % h, "DC.L    T%d" % h)
    for g in range(2 * handlers):
        p.at("G%d" % g, "MOV     R4,R0")
        p.put("        RTS", "        ADD     #%d,R0" % p.rng.randrange(1, 100))
    p.put("        ALIGN.L")
    for h in range(handlers):  # small tables side by side
        a, b = p.rng.sample(range(2 * handlers), 2)
        p.at("T%d" % h, "DC.L    G%d,G%d" % (a, b))
    if through:
        p.at("HT", "DC.L    " + ",".join("H%d" % h for h in range(handlers)))


def numbers(p):
    """Counts equal to the addresses of tables at $10000 and above (the image at base 0)."""
    count = p.rng.randrange(1, 4)
    pool = []
    prologue(p)
    for k in range(count):
        p.put("        MOV.L   @(N%d,PC),R1" % k, "        ADD     R1,R8",  # a count
              "        MOV.L   @(P%d,PC),R2" % k, "        MOV.L   @R2,R1", "        ADD     R1,R8")  # a table
        pool += [("N%d" % k, "$%X" % (0x10000 + 0x100 * k)), ("P%d" % k, "TB%d" % k)]
    epilogue(p, pool)
    leaf(p, "F0")
    letters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ abcdefghijklmnopqrstuvwxyz"
    for _ in range(0xF800 // 64):  # messages, then as many bytes as reach $10000
        p.put('        DC.B    "%s",$0' % "".join(p.rng.choice(letters) for _ in range(63)))
    p.at("FILLEND", 'DC.B    %(TEXT(0x10000-FILLEND))')
    for k in range(count):
        p.at("TB%d" % k, "DC.L    " + ",".join("$%X" % p.constant() for _ in range(8)))
        for _ in range(7):
            p.put("        DC.L    " + ",".join("$%X" % p.constant() for _ in range(8)))


def mova(p):
    """Byte arrays read through MOVA by a counted loop; their words decode as routines."""
    arrays = p.rng.randrange(1, 4)
    pool = []
    prologue(p)
    for k in range(arrays):
        call(p, pool, "SUM%d" % k, 0)
    epilogue(p, pool)
    for k in range(arrays):
        loop = p.label("SL")
        p.at("SUM%d" % k, "MOVA    @(BY%d,PC),R0" % k)
        words = [0xE000 | p.rng.randrange(256), 0x7001 | (p.rng.randrange(8) << 8), 0x000B, 0x0009]
        words = words * p.rng.randrange(1, 4)
        p.put("        MOV     R0,R1", "        MOV     #%d,R5" % (2 * len(words)), "        MOV     #0,R0")
        p.at(loop, "MOV.B   @R1+,R2")
        p.put("        EXTU.B  R2,R2", "        DT      R5", "        BF/S    %s" % loop, "        ADD     R2,R0",
              "        RTS", "        NOP", "        ALIGN.L")
        p.at("BY%d" % k, "DC.W    " + ",".join("$%04X" % w for w in words))
        p.put("        ALIGN.L")


def open_table(p):
    """A switch through word offsets from the end of a BRAF's slot, with no bound check."""
    cases = p.rng.randrange(3, 7)
    pool = []
    prologue(p)
    for k in range(cases):
        call(p, pool, "DISP", k)
    epilogue(p, pool)
    p.at("DISP", "MOV     R4,R1")
    p.put("        SHLL    R1", "        MOVA    @(JT,PC),R0", "        MOV.W   @(R0,R1),R1", "        BRAF    R1")
    p.at("JS", "NOP")
    p.put("        ALIGN.L")
    p.at("JT", "DC.W    " + ",".join("%%(CASE%d-(JS+2))" % k for k in range(cases)))
    for k in range(cases):
        p.at("CASE%d" % k, "MOV     #%d,R0" % p.rng.randrange(0, 100))
        p.put("        RTS", "        ADD     R4,R0")


def dead(p):
    """Routines no path reaches, each called through an offset kept in data (so no analysis
    sees the call), reading a literal from the pool of a routine after it."""
    islands = p.rng.randrange(1, 4)
    pool = []
    prologue(p)
    for k in range(islands):
        pool.append(("PD%d" % k, "DT%d" % k))
        p.put("        MOV.L   @(PD%d,PC),R1" % k, "        MOV.L   @R1,R2", "        ADD     R2,R1",
              "        JSR     @R1", "        MOV     #%d,R4" % p.rng.randrange(1, 50), "        ADD     R0,R8")
        call(p, pool, "DF%d" % k, p.rng.randrange(1, 50))
    epilogue(p, pool)
    for k in range(islands):
        p.at("DT%d" % k, "DC.L    %%(ISL%d-DT%d)" % (k, k))
        p.at("ISL%d" % k, "MOV.L   @(IC%d,PC),R0" % k)
        p.put("        ADD     R4,R0", "        RTS", "        NOP")
        # the routine that is called, whose pool the island shares
        p.at("DF%d" % k, "MOV.L   @(FC%d,PC),R1" % k)
        p.put("        MOV     R4,R0", "        ADD     R1,R0", "        RTS", "        SHLL    R0", "        ALIGN.L")
        p.at("IC%d" % k, "DC.L    $%X" % p.constant())
        p.at("FC%d" % k, "DC.L    $%X" % p.constant())


def slot(p):
    """Routines that only a table of pointers names, each with a PC-relative load in a
    BRA's delay slot (it reads from the branch target + 2) between literals, the literal
    it loads in the pool of a routine called directly after it."""
    routines = p.rng.randrange(2, 5)
    pool = [("PT", "RT")]
    prologue(p)
    p.put("        MOV.L   @(PT,PC),R9")
    for k in range(routines):
        p.put("        MOV.L   @R9+,R1", "        JSR     @R1", "        MOV     #%d,R4" % p.rng.randrange(1, 50),
              "        ADD     R0,R8")
        call(p, pool, "SF%d" % k, p.rng.randrange(1, 50))
    epilogue(p, pool)
    for k in range(routines):
        p.at("RTN%d" % k, "MOV     R4,R0")
        p.put("        BRA     RTN%dB" % k, "        DC.W    %%(SLOTL(RTN%dB,RTN%dC))" % (k, k), "        ALIGN.L")
        p.at("RTN%dA" % k, "DC.L    $%X" % p.constant())
        p.at("RTN%dB" % k, "ADD     R1,R0")
        p.put("        RTS", "        NOP")
        leaf(p, "SF%d" % k, "RTN%dC" % k)
    p.at("RT", "DC.L    " + ",".join("RTN%d" % k for k in range(routines)))


def bss(p):
    """A table after the image (as C's .bss follows a flat image): a function pointer is
    stored there and called through twice; the image's last long is read after the store."""
    gap = p.rng.choice([0, 0, 16, 64, 1024])
    pool = [("PBSS", "%%(IMGEND+%d)" % gap), ("PF", "F0"), ("PLAST", "LAST")]
    prologue(p)
    p.put("        MOV.L   @(PBSS,PC),R9", "        MOV.L   @(PF,PC),R2", "        MOV.L   R2,@R9",
          "        MOV.L   R2,@(4,R9)", "        MOV.L   @(PLAST,PC),R3", "        MOV.L   @R3,R1", "        ADD     R1,R8")
    for k in range(2):
        p.put("        MOV.L   @(%d,R9),R2" % (4 * k), "        JSR     @R2", "        MOV     #%d,R4" % (5 + k),
              "        ADD     R0,R8")
    p.put("        MOV     #0,R2", "        MOV.L   R2,@R9", "        MOV.L   R2,@(4,R9)")  # the code addresses are no result
    epilogue(p, pool)
    leaf(p, "F0")
    p.at("LAST", "DC.L    $%X" % p.constant())
    p.at("IMGEND", "")
    p.bss = gap


SHAPES = {"direct": (direct, 0x400000), "tables": (tables, 0x400000), "numbers": (numbers, 0),
          "mova": (mova, 0x400000), "open": (open_table, 0x400000), "dead": (dead, 0x400000),
          "slot": (slot, 0x400000), "bss": (bss, 0x6004000)}


def labels_of(log):
    """The label table of korvane's listing: name -> address."""
    out = {}
    with open(log) as f:
        text = f.read()
    for m in re.finditer(r"^(\S+)\s+\$([0-9A-F]+)\s*$", text.split("labels (", 1)[-1], re.M):
        out[m.group(1)] = int(m.group(2), 16)
    return out


def slot_load(target, literal):
    """MOV.L @(disp,PC),R1 in the delay slot of a branch to target, reading literal: counted
    as if it stood at the target - 2."""
    return 0xD100 | ((literal - (((target - 2) & ~3) + 4)) // 4)


def fill_holes(template, value):
    """The template with every %(EXPR) (parentheses inside balanced) replaced by value(EXPR)."""
    out, at = [], 0
    while True:
        start = template.find("%(", at)
        if start < 0:
            return "".join(out) + template[at:]
        depth, end = 0, start + 1
        while True:
            depth += {"(": 1, ")": -1}.get(template[end], 0)
            if depth == 0:
                break
            end += 1
        out += [template[at:start], value(template[start + 2:end])]
        at = end + 1


def generate(shape, rng, work, asm):
    """The program's image and base, and where the memory after the image that MAIN uses
    starts (None: none): assembled once with the worked-out values at 0, then with them."""
    make, base = SHAPES[shape]
    p = Program(rng, base)
    make(p)
    template = "\n".join(p.lines) + "\n"
    path = os.path.join(work, "p.s")
    with open(path, "w") as f:
        f.write(fill_holes(template, lambda e: "0"))
    edits.run([asm, "p.s"], work)
    labels = labels_of(os.path.join(work, "p.log"))
    names = dict(labels, SLOTL=slot_load, TEXT=lambda n: ",".join('"%s"' % ("." * min(200, n - i)) for i in range(0, n, 200)))

    def value(expr):
        v = eval(expr, {"__builtins__": {}}, names)
        return v if isinstance(v, str) else "$%X" % (v & 0xFFFFFFFF)
    with open(path, "w") as f:
        f.write(fill_holes(template, value))
    edits.run([asm, "p.s"], work)
    end = labels.get("IMGEND")
    return base, None if end is None else end + p.bss


def runs_alike(work, run, base, bss, other):
    """korvane-run of MAIN in p.bin against OTHER: status 0 when both return the same."""
    ram = ["--ram", "$%X-$%X" % (base + STACK, base + STACK + 0x1000)]
    if bss is not None:  # the memory after the image that MAIN uses, before the stack
        ram = ["--ram", "$%X-$%X" % (bss, bss + 0x100)] + ram
    cmd = [run, "p.bin", "--base", "$%X" % base, "--call", "$%X" % base, "--max-steps", "100000"] + ram
    if other is not None:
        cmd += ["--against", other]
    return edits.run(cmd, work, check=False)


def edit_source(rng, source, spots, kind):
    """The source with an edit: two NOPs at one place, at several, or a block of 40-300."""
    if kind == "small":
        at, count = [rng.choice(spots)], [2]
    elif kind == "several":
        at = sorted(rng.sample(spots, min(len(spots), rng.randrange(2, 5))), reverse=True)
        count = [2] * len(at)
    else:
        at, count = [rng.choice(spots)], [rng.randrange(40, 301)]
    lines = list(source)
    for i, n in zip(at, count):
        lines[i:i] = [INDENT + "NOP"] * n
    return lines, "%s: %s NOPs before line(s) %s" % (kind, "/".join(map(str, count)), ",".join(str(i + 1) for i in at))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dis", required=True)
    ap.add_argument("--asm", required=True)
    ap.add_argument("--run", required=True)
    ap.add_argument("--work", default="/tmp/korvane-against")
    ap.add_argument("--programs", type=int, default=3, help="programs of each shape")
    ap.add_argument("--edits", type=int, default=20, help="edits of each program")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--kept", type=float, default=90, help="least percent of small edits kept (direct calls)")
    ap.add_argument("--only", choices=sorted(SHAPES), help="only this shape")
    ap.add_argument("--reasons", action="store_true", help="print why each edit was reported, and each silent one")
    a = ap.parse_args()
    dis, asm, run = (os.path.abspath(x) for x in (a.dis, a.asm, a.run))
    work = os.path.abspath(a.work)
    os.makedirs(work, exist_ok=True)
    silent = []
    small = {"kept": 0, "all": 0}
    print("%-8s %6s %9s %15s %12s" % ("shape", "kept", "reported", "silently wrong", "small kept"))
    for shape in SHAPES:
        if a.only and shape != a.only:
            continue
        counts = {"kept": 0, "reported": 0, "silent": 0, "small": 0, "small kept": 0}
        rng = random.Random("%d %s" % (a.seed, shape))  # each shape its own: --only gives the same programs
        for n in range(a.programs):
            base, bss = generate(shape, rng, work, asm)
            if runs_alike(work, run, base, bss, None).returncode != 0:
                raise RuntimeError("%s %d: the generated program does not run" % (shape, n))
            if os.path.exists(os.path.join(work, "p.bin.s")):  # the last program's, replaced
                os.unlink(os.path.join(work, "p.bin.s"))
            edits.run([dis, "p.bin", "--base", "$%X" % base], work)
            with open(os.path.join(work, "p.bin.s")) as f:
                source = f.read().splitlines()
            spots = edits.places(source)
            kinds = ["small"] * 6 + ["several"] * 2 + ["block"] * 2
            for k in range(a.edits + 1):
                kind = "none" if k == 0 else kinds[rng.randrange(len(kinds))]
                lines, what = (source, "unedited") if k == 0 else edit_source(rng, source, spots, kind)
                with open(os.path.join(work, "e.s"), "w") as f:
                    f.write("\n".join(lines) + "\n")
                said = None
                for cmd in ([dis, "--check", "e.s", "--write"], [asm, "e.s"]):
                    r = edits.run(cmd, work, check=False)
                    if r.returncode != 0:
                        said = r.stdout.decode(errors="replace").strip().split("\n")[0]
                        break
                if k == 0:  # the round trip: the source as written keeps everything
                    if said is not None or runs_alike(work, run, base, bss, "e.bin").returncode != 0:
                        raise RuntimeError("%s %d: the unedited source does not run the same: %s" % (shape, n, said))
                    continue
                if said is not None:
                    outcome = "reported"
                    if a.reasons:
                        print("  %s %d %s: reported: %s" % (shape, n, what, said))
                else:
                    r = runs_alike(work, run, base, bss, "e.bin")
                    outcome = "kept" if r.returncode == 0 else "silent"
                    if outcome == "silent":
                        why = [x for x in r.stdout.decode(errors="replace").split("\n") if x.startswith(("differ", "korvane-run"))]
                        silent.append("%s %d %s: %s" % (shape, n, what, "; ".join(why[:3])))
                counts[outcome] += 1
                if kind == "small":
                    counts["small"] += 1
                    counts["small kept"] += outcome == "kept"
        share = 100.0 * counts["small kept"] / counts["small"] if counts["small"] else 100.0
        print("%-8s %6d %9d %15d %11.0f%%" % (shape, counts["kept"], counts["reported"], counts["silent"], share))
        if shape == "direct":
            small["kept"] += counts["small kept"]
            small["all"] += counts["small"]
    for s in silent[:20 if not a.reasons else len(silent)]:
        print("SILENT " + s)
    failed = bool(silent)
    if small["all"] and 100.0 * small["kept"] < a.kept * small["all"]:
        print("only %d of %d small edits kept where functions are called directly (at least %g%% wanted)"
              % (small["kept"], small["all"], a.kept))
        failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
