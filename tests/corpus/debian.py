#!/usr/bin/env python3
"""Real C libraries nobody here wrote, from Debian's source packages: what korvane-dis
finds in them, and edits of their disassemblies checked against GNU's own build of the
same edit.

    tests/corpus/debian.py --dis build/korvane-dis --asm build/korvane [--work DIR]
                           [--edits 20] [--check] [--seed 1] [--shifts stand-in|loops|calls]

Each package's sources are fetched with `apt-get source` (a deb-src line for the
archive is needed: .ci/run adds one) into WORK/src, once. Its library's C files are
compiled by GCC for SH (sh4-linux-gnu-gcc -m4-nofpu -mb, at -O0, -O2 and -Os). SHAD and
SHLD, which the SH-2 lacks, become a same-size SH-2 stand-in (SHLL Rn: these programs
are compared with GNU's build, not run), or with --shifts loops SH-2 loops that shift
one bit at a time (the same results, T and every other register kept; the code grows,
so GCC's literal pools and branches fall out of reach in about half of the files, which
are left out, and GNU as relaxes the branches that do: shapes the stand-in never
makes), or with --shifts calls calls of SH-2 helpers that do the same (8 bytes a shift:
most files stay whole). A file sh-elf-as -isa=sh2 still refuses is left out. The files
are linked flat at $6004000 after a start that calls one function of the library's
interface; what the C library would provide is stubbed (RTS, NOP).
korvane-dis is given the image and its base only. Measured, per image:
- instructions shown as instructions, bytes of data shown as code, table entries and
  pointers (as tests/corpus/measure.py measures them; a label before every item of the
  compiler's assembly is the ground truth);
- the round trip: korvane rebuilds the image byte for byte;
- EDITS edits: two NOPs inserted before a random instruction that korvane-dis shows
  (not in a delay slot), the same two NOPs inserted before the same instruction (and
  its labels) in the compiler's assembly and built by GNU. The edit is kept when
  `korvane-dis --check --write` passes and korvane's build equals GNU's byte for byte,
  reported when --check (or the assembler) says why not, broken when neither said
  anything and the builds differ: a silently wrong edit.
With --check the status is 1 when an edit broke, an image did not rebuild or (with
--kept P) fewer than P percent of the edits were kept. Exits with 77 (skipped) when a
tool is missing or apt-get source cannot fetch a package.
"""
import argparse
import os
import random
import re
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import measure  # noqa: E402  (the instrumented build and what korvane-dis shows)

CC = "sh4-linux-gnu-gcc"
CFLAGS = ["-m4-nofpu", "-mb", "-mdiv=call-div1", "-ffreestanding", "-fno-builtin", "-fno-pic", "-S"]
LEVELS = {"O0": ["-O0"], "O2": ["-O2"], "Os": ["-Os"]}
# Each package: the directory its sources unpack to (a prefix), the library's files, and
# the function the start calls.
PACKAGES = {
    "zlib": ("zlib-", ["adler32.c", "compress.c", "crc32.c", "deflate.c", "infback.c", "inffast.c", "inflate.c",
                       "inftrees.c", "trees.c", "uncompr.c", "zutil.c"], "compress"),
    "bzip2": ("bzip2-", ["blocksort.c", "huffman.c", "crctable.c", "randtable.c", "compress.c", "decompress.c",
                         "bzlib.c"], "BZ2_bzBuffToBuffCompress"),
    "lz4": ("lz4-", ["lib/lz4.c", "lib/lz4hc.c"], "LZ4_compress_default"),
    "cjson": ("cjson-", ["cJSON.c"], "cJSON_Parse"),
    "lua5.4": ("lua5.4-", ["src/%s.c" % f for f in ("lapi", "lcode", "lctype", "ldebug", "ldo", "ldump", "lfunc", "lgc",
                                                   "llex", "lmem", "lobject", "lopcodes", "lparser", "lstate", "lstring",
                                                   "ltable", "ltm", "lundump", "lvm", "lzio", "lauxlib", "lbaselib",
                                                   "lstrlib", "ltablib")], "luaL_newstate"),
}
SH4_SHIFT = re.compile(r"^\s*(sh[al]d)\s+r(\d+),r(\d+)\s*$")
STAND_IN = re.compile(r"^(\s*)sh[al]d(\s+)r\d+,(r\d+)", re.M)
DELAYED = re.compile(r"^\s*(bra|bsr|braf|bsrf|jmp|jsr|rts|bt/s|bf/s|bt\.s|bf\.s)\b\s*(@?r(\d+))?")


def shift_loop(kind, m, n, k):
    """SHAD/SHLD Rm,Rn as SH-2 code: the count's low five bits, Rn shifted left one bit
    at a time while Rm >= 0, otherwise right (SHLR, or SHAR for SHAD) (~Rm & 31) + 1
    times, which gives 0 (or the sign) for a count of -32. A scratch register and T are
    kept on the stack, so nothing else changes."""
    s = 0 if 0 not in (m, n) else 1 if 1 not in (m, n) else 2
    if s == 0:
        mask = ["\tand\t#31,r0"]
    else:
        mask = ["\t%s\tr%d" % (op, s) for op in ("shll16", "shll8", "shll2", "shll", "shlr16", "shlr8", "shlr2", "shlr")]
    right = "shar" if kind == "shad" else "shlr"
    lab = ".Lsh2_%s_" % k
    return (["\tmov.l\tr%d,@-r15" % s, "\tmovt\tr%d" % s, "\tmov.l\tr%d,@-r15" % s, "\tmov\tr%d,r%d" % (m, s),
             "\tcmp/pz\tr%d" % s, "\tbt\t%sleft" % lab, "\tnot\tr%d,r%d" % (s, s)] + mask +
            ["\tadd\t#1,r%d" % s, "%sright:" % lab, "\t%s\tr%d" % (right, n), "\tdt\tr%d" % s, "\tbf\t%sright" % lab,
             "\tbra\t%sdone" % lab, "\tnop", "%sleft:" % lab] + mask +
            ["\ttst\tr%d,r%d" % (s, s), "\tbt\t%sdone" % lab, "%sloop:" % lab, "\tshll\tr%d" % n, "\tdt\tr%d" % s,
             "\tbf\t%sloop" % lab, "%sdone:" % lab, "\tmov.l\t@r15+,r%d" % s, "\tshlr\tr%d" % s,
             "\tmov.l\t@r15+,r%d" % s])


def shift_call(kind, m, n, k):
    """SHAD/SHLD Rm,Rn as a call of a helper placed after the function (shift_helper):
    PR kept on the stack around the BSR, 8 bytes where the SH-4 has 2."""
    return ["\tsts.l\tpr,@-r15", "\tbsr\t.Lsh2h_%s_%s_%d_%d" % (k, kind, m, n), "\tnop", "\tlds.l\t@r15+,pr"]


def shift_helper(kind, m, n, k):
    """The routine a shift_call calls: the loop of shift_loop, then RTS."""
    tag = "%s_%s_%d_%d" % (k, kind, m, n)
    return [".Lsh2h_%s:" % tag] + shift_loop(kind, m, n, "h" + tag) + ["\trts", "\tnop"]


def verify_loops(work, calls=False):
    """The loops (or, with calls, the helpers that run them) against SHAD and SHLD
    themselves, under qemu-sh4eb (which has them): 400
    counts and values (0, 31, 32, -1, -32, -33, random) through five register pairs each
    (Rm = Rn among them); the result, T and Rm must be as SHAD/SHLD leave them. "" when
    they are, why not otherwise."""
    rng = random.Random(3)
    vec = [(rng.choice([0, 1, 31, 32, -1, -31, -32, -33, 33, rng.randint(-64, 64), rng.getrandbits(32) - (1 << 31)])
            & 0xFFFFFFFF, rng.getrandbits(32)) for _ in range(400)]
    body = ["\t.text", "\t.global _start", "_start:", "\tmov\t#0,r10"]
    block = 0
    helpers = []
    for kind in ("shld", "shad"):
        for m, n in ((2, 1), (0, 3), (3, 0), (1, 1), (4, 5)):
            block += 1
            loads = ["\tmov.l\t@r8+,r%d" % m, "\tadd\t#4,r8"] if m == n else ["\tmov.l\t@r8+,r%d" % m, "\tmov.l\t@r8+,r%d" % n]
            body += ["\tmov.l\tP%d,r8" % block, "\tmov.l\tC%d,r9" % block, "\tbra\tO%d" % block, "\tnop", "\t.align 2",
                     "P%d:\t.long\tvec" % block, "C%d:\t.long\t%d" % (block, len(vec)), "O%d:" % block, "L%d:" % block]
            body += loads + ["\tmov\tr%d,r11" % m, "\tmov\tr%d,r12" % n, "\t%s\tr%d,r%d" % (kind, m, n), "\tmov\tr%d,r13" % n,
                             "\tmov\tr12,r%d" % n, "\tmov\tr11,r%d" % m, "\tsett"]
            body += shift_call(kind, m, n, block) if calls else shift_loop(kind, m, n, block)
            if calls:
                helpers += shift_helper(kind, m, n, block)
            body += ["\tmovt\tr14", "\tcmp/eq\tr%d,r13" % n, "\tbt\t1f", "\tadd\t#1,r10", "1:", "\ttst\tr14,r14", "\tbf\t2f",
                     "\tadd\t#1,r10", "2:", "\tcmp/eq\tr%d,r11" % m if m != n else "\tsett", "\tbt\t3f", "\tadd\t#1,r10",
                     "3:", "\tdt\tr9", "\tbf\tL%d" % block]
    # The exit status: how many checks failed, at most 255.
    body += ["\tmov\tr10,r4", "\tmov\t#127,r1", "\tshll\tr1", "\tadd\t#1,r1", "\tcmp/hi\tr1,r4", "\tbf\t4f",
             "\tmov\tr1,r4", "4:", "\tmov\t#1,r3", "\ttrapa\t#0x17"] + helpers + ["\t.align 2", "vec:"]
    body += ["\t.long\t0x%X,0x%X" % cv for cv in vec]
    with open(os.path.join(work, "loops.s"), "w") as fh:
        fh.write("\n".join(body) + "\n")
    with open(os.path.join(work, "loops.ld"), "w") as fh:
        fh.write("ENTRY(_start) PHDRS { image PT_LOAD FLAGS(7); } SECTIONS { . = 0x400000; .text : { *(.text) } :image }\n")
    run(["sh-elf-as", "-big", "-o", "loops.o", "loops.s"], work)
    link = ["sh-elf-ld", "-EB", "-z", "max-page-size=4096", "-T", "loops.ld", "loops.o", "-o", "loops.elf"]
    if run(link + ["--no-warn-rwx-segments"], work, check=False).returncode != 0:
        run(link, work)
    r = run(["qemu-sh4eb", "./loops.elf"], work, check=False)
    return "" if r.returncode == 0 else "the SH-2 %s differ from SHAD/SHLD in %s%d of 12,000 checks" % (
        "helpers" if calls else "loops", "at least " if r.returncode == 255 else "", r.returncode)


def sh2_shifts(text, calls=False, islands=False):
    """GCC's SH-4 assembly with every SHAD and SHLD rewritten as SH-2 code: a loop in
    place (shift_loop) or a call of a helper (shift_call). One in a delay slot goes before
    its branch (which keeps T and does not read Rn), the slot left a NOP. None when a
    slot's branch reads the shifted register, the slot is also a branch target, or the
    shift is of R15 or by it (the stack)."""
    lines = text.split("\n")
    out = []
    k = 0
    for line in lines:
        m = SH4_SHIFT.match(line)
        if not m:
            out.append(line)
            continue
        k += 1
        kind, rm, rn = m.group(1), int(m.group(2)), int(m.group(3))
        if 15 in (rm, rn):
            return None
        code = shift_call(kind, rm, rn, "@") if calls else shift_loop(kind, rm, rn, k)
        last = len(out) - 1
        labelled = False
        while last >= 0 and (not out[last].strip() or out[last].lstrip().startswith(("!", "."))):
            labelled = labelled or out[last].rstrip().endswith(":")
            last -= 1
        branch = DELAYED.match(out[last]) if last >= 0 else None
        if branch:
            # A slot that is also a branch target, or whose branch reads Rn: left out.
            if labelled or (branch.group(3) is not None and int(branch.group(3)) == rn):
                return None
            out[last:last] = code
            out.append("\tnop")
        else:
            out += code
    if k == 0:
        return text
    return "\n".join(place_helpers(out, islands) if calls else out)


HELPER_CALL = re.compile(r"^\tbsr\t\.Lsh2h_@_(sh[al]d)_(\d+)_(\d+)$")
BARRIER = re.compile(r"^\s+(bra|braf|jmp|rts|rte)\b")


def place_helpers(lines, islands):
    """The helpers that shift_call calls, placed where no code falls into them: after the
    function's .size line, or (islands) nearer the calls for a function longer than a BSR
    reaches (4 KiB), before the first code label after an unconditional jump and its
    slot (past the literals there)."""
    def instruction(line):
        return line[:1] in " \t" and line.strip() and not line.lstrip().startswith((".", "!"))

    def label(line):
        return line[:1] not in " \t" and line.rstrip().endswith(":")

    def code_follows(i):
        for line in lines[i + 1:]:
            if instruction(line):
                return True
            if line.strip() and not label(line):
                return False  # data (a literal) or a directive first
        return False

    out, pending, placed = [], {}, 0
    after_jump = island = False

    def emit():
        nonlocal placed, pending
        for kind, m, n in pending:
            out.extend(shift_helper(kind, m, n, placed))
        placed += 1
        pending = {}

    for i, line in enumerate(lines):
        call = HELPER_CALL.match(line)
        if call:
            key = (call.group(1), int(call.group(2)), int(call.group(3)))
            pending[key] = True
            line = "\tbsr\t.Lsh2h_%d_%s_%d_%d" % ((placed,) + key)
        if islands and island and pending and label(line) and code_follows(i):
            emit()
        if instruction(line):
            island = after_jump
            after_jump = BARRIER.match(line) is not None
        out.append(line)
        if line.lstrip().startswith(".size") and pending:
            emit()
    if pending:
        emit()
    return out


NOPS = "            NOP\n            NOP\n"


def run(cmd, cwd, check=True):
    return measure.run(cmd, cwd, check, timeout=300)


def fetch(src, package, prefix):
    """The unpacked source directory of a package, fetched once; None when it cannot be."""
    os.makedirs(src, exist_ok=True)
    have = [d for d in os.listdir(src) if d.startswith(prefix) and os.path.isdir(os.path.join(src, d))]
    if not have:
        r = run(["apt-get", "source", "-qq", package], src, check=False)
        if r.returncode != 0:
            # The newest version may be listed by a mirror that no longer holds it (a
            # security update's sources): the other versions the archive lists, in its order.
            shown = run(["apt-cache", "showsrc", "--only-source", package], src, check=False).stdout
            for version in dict.fromkeys(re.findall(r"^Version: (\S+)$", shown, re.M)):
                r = run(["apt-get", "source", "-qq", "%s=%s" % (package, version)], src, check=False)
                if r.returncode == 0:
                    break
        if r.returncode != 0:
            print("apt-get source %s failed (a deb-src line for the archive is needed):\n%s" % (package, r.stdout[-600:]))
            return None
        have = [d for d in os.listdir(src) if d.startswith(prefix) and os.path.isdir(os.path.join(src, d))]
    return os.path.join(src, sorted(have)[0]) if have else None


# Headers a package's build makes, which its sources include.
MADE_HEADERS = {"lua5.4-deb-multiarch.h": '#define DEB_HOST_MULTIARCH "sh4-linux-gnu"\n'}


def compile_all(work, root, files, flags, shifts="stand-in"):
    """(file, assembly) for every file GCC compiles and sh-elf-as -isa=sh2 accepts, its
    SHAD and SHLD as the same-size stand-in, as SH-2 loops or as calls of SH-2 helpers."""
    made = os.path.join(work, "made")
    os.makedirs(made, exist_ok=True)
    for name, text in MADE_HEADERS.items():
        with open(os.path.join(made, name), "w") as fh:
            fh.write(text)
    out = []
    for f in files:
        path = os.path.join(root, f)
        r = run([CC] + CFLAGS + flags + ["-I", os.path.dirname(path), "-I", made, "-o", "-", path], work, check=False)
        if r.returncode != 0:
            continue
        if shifts == "stand-in":
            tries = [lambda: STAND_IN.sub(r"\1shll\2\3", r.stdout)]
        elif shifts == "calls":  # helpers after each function, else nearer the calls
            tries = [lambda: sh2_shifts(r.stdout, True), lambda: sh2_shifts(r.stdout, True, True)]
        else:
            tries = [lambda: sh2_shifts(r.stdout)]
        for made_by in tries:
            text = made_by()
            if text is None:
                break
            with open(os.path.join(work, "probe.s"), "w") as fh:
                fh.write(text)
            if run(["sh-elf-as", "-isa=sh2", "-big", "-o", "probe.o", "probe.s"], work, check=False).returncode == 0:
                out.append((os.path.basename(f), text))
                break
    return out


def sources_of(work, name):
    """The sources korvane-dis wrote for NAME.bin, in the order they are assembled."""
    top = name + ".bin.s"
    parts = [l[len("; part ") + 17:].strip() for l in open(os.path.join(work, top)) if l.startswith("; part ")]
    return parts + [top]


def gnu_edit(work, name, count, names, address):
    """GNU's build with two NOPs before the item at address (and the labels before it)."""
    label = names[address]
    index = int(label.rsplit("_", 1)[1])
    path = os.path.join(work, "%s.%d.s" % (name, index))
    with open(path) as fh:
        lines = fh.read().split("\n")
    at = lines.index(label + ":")
    while at > 0 and (re.match(r"^[A-Za-z_.$][\w.$]*:$", lines[at - 1]) or not lines[at - 1].strip()):
        at -= 1
    edited = lines[:at] + ["\tnop", "\tnop"] + lines[at:]
    with open(os.path.join(work, "edit.s"), "w") as fh:
        fh.write("\n".join(edited))
    objects = ["start.o" if i == 0 else "%s.%d.o" % (name, i) for i in range(count)]
    objects[index] = "edit.o"
    if run(["sh-elf-as", "-isa=sh2", "-big", "-o", "edit.o", "edit.s"], work, check=False).returncode != 0:
        return None  # GNU as refuses the edit too (a literal or branch out of reach)
    if os.path.exists(os.path.join(work, "stubs.o")):
        objects.append("stubs.o")
    return measure.link(work, name + ".gnu", objects)


def korvane_edit(work, name, dis, asm, address):
    """korvane's build of korvane-dis's sources with two NOPs before the statement at
    address, after --check --write: (image or None, what was reported)."""
    order = sources_of(work, name)
    edit = os.path.join(work, "edit")
    shutil.rmtree(edit, ignore_errors=True)
    os.makedirs(edit)
    mark = "; %08X " % address
    for s in order:
        with open(os.path.join(work, s)) as fh:
            text = fh.read()
        at = text.find(mark)
        if at >= 0:
            line = text.rfind("\n", 0, at) + 1
            text = text[:line] + NOPS + text[line:]
        with open(os.path.join(edit, s), "w") as fh:
            fh.write(text)
    r = run([dis, "--check", order[-1], "--write"], edit, check=False)
    if r.returncode != 0:
        said = [l for l in r.stdout.strip().splitlines() if ": rewrote " not in l]
        return None, said[0] if said else "status %d" % r.returncode
    for s in order:
        a = run([asm, s], edit, check=False)
        if a.returncode != 0:
            return None, a.stdout.strip()
    with open(os.path.join(edit, order[-1][:-2] + ".bin"), "rb") as fh:
        return fh.read(), None


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dis", required=True)
    ap.add_argument("--asm", required=True)
    ap.add_argument("--work", default="/tmp/korvane-debian")
    ap.add_argument("--edits", type=int, default=20)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--check", action="store_true")
    ap.add_argument("--kept", type=float, default=0.0,
                    help="with --check: the share of edits (percent) that must be kept")
    ap.add_argument("--verbose", action="store_true", help="say why each reported edit was")
    ap.add_argument("--packages", nargs="*", default=list(PACKAGES))
    ap.add_argument("--shifts", choices=["stand-in", "loops", "calls"], default="stand-in",
                    help="SHAD/SHLD as a same-size SHLL (every file kept), as SH-2 loops in place, or as calls of "
                         "SH-2 helpers placed after each function (the code grows: files whose literals or branches "
                         "then fall out of reach are left out)")
    a = ap.parse_args()
    dis, asm = os.path.abspath(a.dis), os.path.abspath(a.asm)
    work = os.path.abspath(a.work)
    for tool in (CC, "sh-elf-as", "sh-elf-ld", "sh-elf-objcopy", "sh-elf-nm", "apt-get", "dpkg-source"):
        if not shutil.which(tool):
            print("skipped: %s is not installed (packages gcc-sh4-linux-gnu, binutils-sh-elf, dpkg-dev)" % tool)
            return 77
    os.makedirs(work, exist_ok=True)
    with open(os.path.join(HERE, "gcc", "start.s")) as fh:
        start = fh.read()
    rng = random.Random(a.seed)
    failed = []
    if a.shifts != "stand-in":
        if not shutil.which("qemu-sh4eb"):
            print("skipped: qemu-sh4eb is not installed (package qemu-user): the %s cannot be checked" % a.shifts)
            return 77
        why = verify_loops(work, a.shifts == "calls")
        if why:
            print("FAILED " + why)
            return 1
    totals = {"code": 0, "code shown": 0, "data as code": 0, "kept": 0, "reported": 0, "broken": 0, "unverified": 0,
              "live": 0, "live shown": 0, "unused": 0, "unused shown": 0}
    print("%-14s %14s %14s %9s %12s %10s %5s %5s %8s %6s" % ("image", "live", "unused", "data/code", "table entries",
                                                              "pointers", "same", "kept", "reported", "broken"))
    for package in a.packages:
        prefix, files, entry = PACKAGES[package]
        root = fetch(os.path.join(work, "src"), package, prefix)
        if root is None:
            print("skipped: apt-get source %s" % package)
            return 77
        for level, flags in LEVELS.items():
            name = "%s-%s" % (package, level)
            compiled = compile_all(work, root, files, flags, a.shifts)
            if not compiled:
                continue
            names, live = {}, set()
            image, where = measure.build(work, name, [("start.s", start.replace("main", entry))] + compiled, names,
                                         live)
            if image is None:
                failed.append("%s: GNU as refused it: %s" % (name, where.splitlines()[0]))
                continue
            statements, same = measure.shown(work, name, asm, dis)
            r, _ = measure.measure(statements, where, live)
            if not same:
                failed.append(name + ": the round trip changed the image")
            # Two-NOP edits before instructions korvane-dis shows, that GNU's build has.
            places = sorted(addr for addr, (mn, ops, size, rest) in statements.items()
                            if size == 2 and not mn.startswith("DC.") and addr in names and where[addr][0] == "code"
                            and not names[addr].endswith("_0")
                            and "in a delay slot" not in rest)
            delayed = {addr + 2 for addr, (mn, ops, size, rest) in statements.items() if mn in measure_delayed()}
            places = [p for p in places if p not in delayed]
            counts = {"kept": 0, "reported": 0, "broken": 0, "unverified": 0}
            for address in rng.sample(places, min(a.edits, len(places))):
                gnu = gnu_edit(work, name, len(compiled) + 1, names, address)
                ours, why = korvane_edit(work, name, dis, asm, address)
                if a.verbose and ours is None:
                    print("  $%08X: %s" % (address, why))
                if ours is None:
                    counts["reported"] += 1
                elif gnu is None:
                    counts["unverified"] += 1
                elif ours == gnu:
                    counts["kept"] += 1
                else:
                    counts["broken"] += 1
                    if a.verbose:
                        at = next((i for i in range(min(len(ours), len(gnu))) if ours[i] != gnu[i]), min(len(ours), len(gnu)))
                        print("  $%08X: broken: sizes %d/%d, first difference at $%08X: %s (korvane) %s (GNU)" % (
                            address, len(ours), len(gnu), measure.BASE + at, ours[at:at + 8].hex(), gnu[at:at + 8].hex()))
                    failed.append("%s: two NOPs before $%08X: korvane's build differs from GNU's, nothing said" %
                                  (name, address))
            for k in counts:
                totals[k] += counts[k]
            for k in ("code", "code shown", "data as code", "live", "live shown", "unused", "unused shown"):
                totals[k] += r[k]
            print("%-14s %6d/%-7d %6d/%-7d %9d %6d/%-6d %5d/%-5d %5s %5d %8d %6d" % (
                name, r["live shown"], r["live"], r["unused shown"], r["unused"], r["data as code"],
                r["table entries shown"], r["table entries"],
                r["pointers shown"], r["pointers"], "yes" if same else "NO", counts["kept"], counts["reported"],
                counts["broken"]))
            sys.stdout.flush()
    edits = totals["kept"] + totals["reported"] + totals["broken"]
    print("all: %d of %d instructions shown (%.2f%%; live %d of %d, %.2f%%; unused %d of %d, %.2f%%), "
          "%d bytes of data shown as code; edits: %d kept (%.1f%%), "
          "%d reported, %d broken" % (totals["code shown"], totals["code"],
                                       100.0 * totals["code shown"] / max(totals["code"], 1),
                                       totals["live shown"], totals["live"],
                                       100.0 * totals["live shown"] / max(totals["live"], 1),
                                       totals["unused shown"], totals["unused"],
                                       100.0 * totals["unused shown"] / max(totals["unused"], 1),
                                       totals["data as code"],
                                       totals["kept"], 100.0 * totals["kept"] / max(edits, 1), totals["reported"],
                                       totals["broken"]))
    if edits and 100.0 * totals["kept"] / edits < a.kept:
        failed.append("%.1f%% of edits kept, below %.0f%%" % (100.0 * totals["kept"] / edits, a.kept))
    for f in failed:
        print("FAILED " + f)
    return 1 if (a.check and failed) else 0


def measure_delayed():
    return {"BRA", "BSR", "BRAF", "BSRF", "JMP", "JSR", "RTS", "RTE", "BT/S", "BF/S"}


if __name__ == "__main__":
    sys.exit(main())
