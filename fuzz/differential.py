#!/usr/bin/env python3
"""Differential check: the korvane executable of this tree against the one built from
a reference commit, byte for byte: .bin, .log, console output and exit status.

    fuzz/differential.py --new build/korvane [--count 10000] [--seed 1] [--work DIR]

The reference commit's sources are taken from git history (git archive), built in
WORK/reference and run beside the new executable over:
- the test sources (the fuzz findings, the test programs, every line of
  tests/data/encodings.s on its own, the bundled example);
- COUNT generated programs, most of them valid (every mnemonic with its operand forms,
  every directive, global and local labels used before and after their definition,
  literal pools, included files) and the rest chaotic (the valid lines mutated byte by
  byte, operand soup, limits: 10,001 labels, 9,999 references, long words and strings).

It fails on the first few differences it finds (each program is kept in
WORK/differences/) and when a console message of the assembler was never produced.
Every run is made in a directory of its own with a file-size limit of 32 MiB and a
time limit of 20 s; both executables get the same.
"""
import argparse
import multiprocessing
import os
import random
import re
import resource
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)

# The behaviour every refactoring is compared against: the commit before the one-table
# refactoring's second round began (numbers already checked against their fields, so
# no difference is intended; the rule for them below is kept for older references).
REFERENCE = "b668ae4385d49d57bab9530fc5f13381d7b602a6"

# ---- the generator -----------------------------------------------------------------

FORMAT0 = ["CLRMAC", "CLRT", "DIV0U", "NOP", "RTE", "RTS", "SETT", "SLEEP"]
FORMAT1 = ["BRAF", "BSRF", "CMP/PL", "CMP/PZ", "DT", "JMP", "JSR", "MOVT", "ROTL", "ROTR",
           "ROTCL", "ROTCR", "SHAL", "SHAR", "SHLL", "SHLR", "SHLL2", "SHLR2", "SHLL8",
           "SHLR8", "SHLL16", "SHLR16", "TAS.B"]
FORMAT2 = ["ADDC", "ADDV", "CMP/GE", "CMP/GT", "CMP/HI", "CMP/HS", "CMP/STR", "DIV0S", "DIV1",
           "DMULS.L", "DMULU.L", "EXTS.B", "EXTS.W", "EXTU.B", "EXTU.W", "MAC.L", "MAC.W",
           "MUL.L", "MULS.W", "MULU.W", "NEGC", "NEG", "NOT", "SUB", "SUBC", "SUBV", "SWAP.B",
           "SWAP.W", "XTRCT"]
STORES = ["STC", "STC.L", "STS", "STS.L"]
LOADS = ["LDC", "LDC.L", "LDS", "LDS.L"]
IMMEDIATE = ["AND.B", "OR.B", "TST.B", "XOR.B", "TRAPA"]
FAMILY = ["ADD", "AND", "CMP/EQ", "MOV.B", "MOV.W", "MOV.L", "MOVA", "MOV", "OR", "TST", "XOR"]
BRANCHES = ["BF", "BF/S", "BT", "BT/S", "BRA", "BSR"]
SYSREGS = ["SR", "GBR", "VBR", "MACH", "MACL", "PR", "PC"]
INCLUDES = ["inc3.bin", "inc5k.bin", "empty.bin", "missing.bin", "p.bin", "p.log", "alias.bin"]


class Gen:
    def __init__(self, rnd):
        self.r = rnd
        self.labels = ["L%d" % i for i in range(12)] + ["LOOP", "START", "TABLE", "DATA_1"]

    def reg(self):
        r = self.r
        n = r.choice([0, 0, 1, 2, 4, 7, 8, 15, r.randrange(16)])
        return r.choice(["R%d", "R%d", "r%d"]) % n

    def num(self, small=False):
        r = self.r
        v = r.choice([0, 1, 2, 4, 8, 12, 60, 127, 128, 255, 256, -1, -128, 1020, 1024,
                      0x7FFFFFFF, 0xFFFFFFFF, r.randrange(64), r.randrange(1 << 16)])
        if small:
            v = r.choice([0, 1, 2, 4, 8, 16, 30, 60, 64, -4, 255])
        spell = r.random()
        if v < 0:
            text = "-%d" % -v
        elif spell < 0.3:
            text = "$%X" % v
        elif spell < 0.4:
            text = "0x%x" % v
        else:
            text = "%d" % v
        return ("#" if r.random() < 0.5 else "") + text

    def label(self):
        r = self.r
        name = r.choice(self.labels)
        return ("@" + name) if r.random() < 0.25 and not self.unique else name

    def local_cluster(self):
        """A global label, then a loop over local labels that are its own."""
        self.clusters += 1
        return ["G%d: MOV #4,R1" % self.clusters, "@LOOP: ADD #1,R0", "DT R1",
                "BF/S @LOOP", "NOP", "BRA @OUT", "NOP", "DC.L @LOOP,G%d" % self.clusters,
                "@OUT: NOP"]

    def sysreg(self):
        return self.r.choice(SYSREGS)

    def operand(self):
        """Any operand form the assembler knows, valid for some instruction or none."""
        r = self.r
        k = r.randrange(26)
        reg, reg2, num = self.reg(), self.reg(), self.num(True)
        forms = [reg, "@" + reg, "@-" + reg, "@" + reg + "+", "@(R0,%s)" % reg,
                 "@(%s,%s)" % (num.lstrip("#"), reg), "@(%s,GBR)" % num.lstrip("#"),
                 "@(%s,PC)" % self.label().lstrip("@"), self.num(), self.label(), self.sysreg(),
                 "[R0,%s]" % reg, "@(%s,R0)" % reg, "@(%s,%s)" % (reg, num.lstrip("#")),
                 "(%s,%s)" % (num.lstrip("#"), reg), "@(R0,GBR)", '"%s"' % self.text(),
                 "-" + reg, reg + "+", "@(%s,%s+)" % (num.lstrip("#"), reg), "@(%s,%s)" % (reg, reg2),
                 "@(GBR,%s)" % num.lstrip("#"), "@(PC,%s)" % self.label().lstrip("@"),
                 "@(,%s)" % reg, "@(%s,)" % reg, "(%s)" % reg]
        return forms[k]

    def text(self):
        r = self.r
        return r.choice(["A", "ab", "Hello, world", "x;y", "a,b", "tab\there", "q\"", "(1,2)",
                         "line\nfeed", "X" * r.choice([1, 200, 256, 257])])

    def operands_for(self, m):
        r = self.r
        if r.random() < self.soup:  # any operands at all
            return [self.operand() for _ in range(r.randrange(4))]
        if m in FORMAT0:
            return [] if r.random() < 0.9 else [self.reg()]
        if m in FORMAT1:
            return [r.choice([self.reg(), "@" + self.reg()])]
        if m in FORMAT2:
            if m.startswith("MAC"):
                return ["@%s+" % self.reg(), "@%s+" % self.reg()]
            return [self.reg(), self.reg()]
        if m in STORES:
            return [self.sysreg(), r.choice([self.reg(), "@-" + self.reg()])]
        if m in LOADS:
            return [r.choice([self.reg(), "@%s+" % self.reg()]), self.sysreg()]
        if m in IMMEDIATE:
            ops = [self.num()]
            if m != "TRAPA" and r.random() < 0.7:
                ops.append(r.choice(["@(R0,GBR)", "[R0,GBR]", "@(R0,GBR)", "@R1", "@(GBR,R0)"]))
            return ops
        if m in BRANCHES:
            return [self.label()]
        if m in FAMILY:
            reg, n = self.reg(), self.num(True).lstrip("#")
            pcrel = "@(%s,PC)" % self.label().lstrip("@")
            registers = [[self.reg(), self.reg()]]
            immediate = [[self.num(), "R0"]]
            sized = [
                ["@" + reg, self.reg()], ["@%s+" % reg, self.reg()], [self.reg(), "@" + reg],
                [self.reg(), "@-" + reg], ["@(R0,%s)" % reg, self.reg()],
                [self.reg(), "@(R0,%s)" % reg], ["@(%s,%s)" % (n, reg), "R0"],
                ["R0", "@(%s,%s)" % (n, reg)], ["@(%s,GBR)" % n, "R0"], ["R0", "@(%s,GBR)" % n],
            ]
            if m in ("ADD", "MOV"):
                immediate = [[self.num(), self.reg()]]
            valid = {"MOVA": [[pcrel, "R0"]], "MOV.B": sized, "MOV.W": sized + [[pcrel, reg]],
                     "MOV.L": sized + [[pcrel, reg], ["@(%s,%s)" % (n, reg), self.reg()],
                                       [self.reg(), "@(%s,%s)" % (n, reg)]]}
            choices = valid.get(m, registers + immediate)
            if self.soup > 0.1:  # chaotic: any of the family's forms with any mnemonic
                choices = registers + immediate + sized + [[pcrel, reg], [self.num(), self.reg()]]
            return r.choice(choices)
        if m in ("ORG", "PAD"):
            return [r.choice(["$%X" % r.randrange(0x400), "%d" % r.randrange(2048), "0",
                              self.label(), "@5"])]
        if m == "SETPC":
            return [r.choice(["$%X" % r.randrange(0x400), "$6000000", "$7FFFFFFF", "$FFFFFFF0",
                              "0", "$400000", "-2", self.label()])]
        if m.startswith("DC."):
            items = []
            odd = [self.reg(), ""] if self.soup > 0.1 else []
            labels = [self.label()] if m == "DC.L" or self.soup > 0.1 else []
            for _ in range(r.randrange(1, 6)):
                items.append(r.choice([self.num(), self.num(), '"%s"' % self.text()] + labels + odd))
            return items
        if m == "INCBIN":
            if self.soup < 0.1:
                return ['"%s"' % r.choice(["inc3.bin", "inc5k.bin"])]
            return [r.choice(['"%s"' % r.choice(INCLUDES), r.choice(INCLUDES)])]
        if m == "IMOV.L":
            return [self.num(), r.choice([self.reg(), self.reg(), "@" + self.reg(), "GBR"])]
        return []

    def statement(self):
        r = self.r
        line = ""
        for _ in range(r.choice([0, 0, 0, 1, 1, 2])):
            name = r.choice(self.labels)
            if self.unique:
                if name in self.defined:
                    continue
                self.defined.add(name)
            line += ("@" if r.random() < 0.3 and not self.unique else "") + name + ": "
        m = r.choice(FORMAT0 + FORMAT1 + FORMAT2 + STORES + LOADS + IMMEDIATE + FAMILY * 3 +
                     BRANCHES * 2 + ["ORG", "PAD", "SETPC", "DC.B", "DC.W", "DC.L", "INCBIN",
                                     "IMOV.L", "IDATA", "ALIGN.W", "ALIGN.L", "OPT", "END"])
        if m != "END" or r.random() < 0.2:
            line += (m.lower() if r.random() < 0.1 else m)
            ops = self.operands_for(m)
            sep = r.choice([",", ",", ", "])
            if ops:
                line += r.choice([" ", "\t", "  "]) + sep.join(ops)
        if r.random() < 0.2:
            line += r.choice([" ; comment", ";x", "\t; a, b", " ;"])
        return line

    def mutate(self, line):
        r = self.r
        alphabet = ' ,;:@()[]#$-+"\t\rRrGBPC0123456789xXAFa.LZ'
        s = list(line)
        for _ in range(r.randrange(1, 4)):
            op = r.randrange(3)
            i = r.randrange(len(s) + 1)
            if op == 0 or not s:
                s.insert(i, r.choice(alphabet))
            elif op == 1 and i < len(s):
                del s[i]
            elif i < len(s):
                s[i] = r.choice(alphabet)
        return "".join(s)

    def program(self, chaotic):
        r = self.r
        # Valid-heavy programs define each label once and seldom write odd operands.
        self.soup = 0.15 if chaotic else 0.03
        self.unique = not chaotic
        self.defined = set()
        self.clusters = 0
        lines = []
        if r.random() < 0.3:
            lines.append("SETPC $%X" % r.choice([0, 0x400000, 0x6000000, 3]))
        for _ in range(r.randrange(1, 40)):
            if r.random() < 0.05:
                lines.append(r.choice(["", "   ", "; only a comment", "\t"]))
                continue
            if self.unique and r.random() < 0.05:
                lines.extend(self.local_cluster())
                continue
            line = self.statement()
            if chaotic and r.random() < 0.3:
                line = self.mutate(line)
            lines.append(line)
        if r.random() < 0.5:
            lines.append("IDATA")
        if r.random() < 0.7:
            # define most of the labels somewhere, so that many programs succeed
            names = [n for n in self.labels if n not in self.defined]
            for name in r.sample(names, len(names) if self.unique else r.randrange(len(names))):
                lines.append("%s: NOP" % name)
        end = r.choice(["\n", "\n", "\r\n", ""])
        return (end if end else "\n").join(lines) + end


def special_programs():
    """Limits and rare messages that random programs seldom reach."""
    yield "".join("LBL%d: NOP\n" % i for i in range(10001))
    yield "".join("DC.L X%d\n" % i for i in range(10001))
    yield "".join("BRA T\n" for _ in range(9999)) + "T: NOP\n"
    yield "T: " + "".join("BRA T\n" for _ in range(9998))
    yield "DC.B 1,2\nSETPC 0\nORG $FFFFFFFF\n"
    yield "ABCDEFGHIJKLMNOPQRSTUVWXYZ\n"
    yield "MOV @ABCDEFGHIJKLMNOPQRST,R1\n"
    yield "MOV ABCDEFGHIJKLMNOPQRSTU,R1\n"
    yield "MOV.L @(1,2,3),R1\n"
    yield "DC.B \"" + "x" * 300 + "\"\n"
    yield "DC.B \"open\n"
    yield "DC.B $1G\nDC.B 1Z\n"
    yield "IMOV.L #1,R1\n"
    yield ""
    yield "DC.B -\"A\"\n"
    yield "DC.B \"\"\n"
    yield "A: NOP\n"
    yield "MOV X,R1\n"
    yield "BRA FAR\nORG $2000\nFAR: NOP\n"
    yield "L1: NOP\nL1: NOP\n"
    yield "BRA NOWHERE\n"
    yield "INCBIN R1\n"
    yield "INCBIN \"empty.bin\"\n"
    yield "INCBIN \"p.bin\"\n"
    yield "DC.L 1,,2\n"
    yield "MOV\n"
    yield "ADD R1,R2,R3,R4\n"
    yield "END\nFOO\n"
    yield "OPERANDX1234567890123\n"


def corpus():
    for d in ["tests/data/fuzz", "tests/data/programs", "examples"]:
        for name in sorted(os.listdir(os.path.join(ROOT, d))):
            with open(os.path.join(ROOT, d, name), "rb") as f:
                yield f.read().decode("latin-1")
    with open(os.path.join(ROOT, "tests/data/encodings.s"), "rb") as f:
        text = f.read().decode("latin-1")
    yield text
    for line in text.split("\n"):
        stmt = line.split(";")[0].strip() if not line.startswith(";") else ""
        if stmt:
            yield stmt + "\n"


# ---- running -----------------------------------------------------------------------

def limits():
    resource.setrlimit(resource.RLIMIT_FSIZE, (32 << 20, 32 << 20))


def run_one(exe, directory, source):
    for name in ("p.bin", "p.log"):
        path = os.path.join(directory, name)
        if os.path.lexists(path):
            os.unlink(path)
    with open(os.path.join(directory, "p.s"), "wb") as f:
        f.write(source.encode("latin-1"))
    try:
        p = subprocess.run([exe, "p.s"], cwd=directory, stdout=subprocess.PIPE,
                           stderr=subprocess.STDOUT, timeout=20, preexec_fn=limits)
        status, out = p.returncode, p.stdout
    except subprocess.TimeoutExpired:
        status, out = "timeout", b""
    files = []
    for name in ("p.bin", "p.log"):
        path = os.path.join(directory, name)
        if os.path.exists(path):
            with open(path, "rb") as f:
                files.append(f.read())
        else:
            files.append(None)
    return status, out, files[0], files[1]


def prepare(directory):
    os.makedirs(directory, exist_ok=True)
    with open(os.path.join(directory, "inc3.bin"), "wb") as f:
        f.write(b"\x01\x02\x03")
    with open(os.path.join(directory, "inc5k.bin"), "wb") as f:
        f.write(bytes(i % 251 for i in range(5000)))
    open(os.path.join(directory, "empty.bin"), "wb").close()
    alias = os.path.join(directory, "alias.bin")
    if not os.path.lexists(alias):
        os.symlink("p.bin", alias)


WORKER = {}


def init_worker(reference, new, work):
    directory = os.path.join(work, "run-%d" % os.getpid())
    prepare(directory)
    WORKER.update(reference=reference, new=new, directory=directory)


# ---- intended differences ------------------------------------------------------------
# Since the reference commit, a number that does not fit its instruction field stops the
# run ("number out of range", "invalid address reference") where the reference cut it to
# the field. A difference is intended exactly when the new run stops with one of these on
# a line that holds such a number, and everything else equals the reference's run of the
# same program with that statement made an operand error (same image, same listing).

IMMEDIATE8 = {"MOV", "ADD", "CMP/EQ", "AND", "OR", "XOR", "TST"}
SIZES = {"MOV.B": 1, "MOV.W": 2, "MOV.L": 4}
STATEMENT = re.compile(r"^[ \t]*((?:[^ \t:;]+:[ \t]*)*)([^ \t;:]+)(.*)$")


def slot_value(slot):
    """The number a slot of an operand spells, as the lexer reads it, or None."""
    t = slot["text"]
    if not t:
        return None
    try:
        if slot["hex"]:
            v = int(t, 16)
        elif t[0].isdigit():
            v = int(t[2:], 16) if len(t) >= 2 and t[1] == "X" else int(t, 10)
        else:
            return None
    except ValueError:
        return None
    return (-v if slot["minus"] else v) & 0xFFFFFFFF


def lex_operands(text):
    """The operands of a statement as the lexer splits them: each a list of one or two
    slots (text without decorations, hex and minus marks). None for a string operand."""
    ops, slots, paren = [], [], False

    def new_slot():
        slots.append({"text": "", "hex": False, "minus": False})

    new_slot()
    for c in text.upper():
        if c in "\n;":
            break
        if c == '"':
            return None
        if c in " \t\r)]#+":
            continue
        if c == "$":
            slots[-1]["hex"] = True
        elif c == "-":
            slots[-1]["minus"] = True
        elif c in "([":
            paren = True
        elif c == "@" and not paren:
            continue
        elif c == ",":
            if not paren or len(slots) == 2:
                ops.append(slots)
                slots, paren = [], False
                new_slot()
            else:
                new_slot()
        else:
            slots[-1]["text"] += c
    ops.append(slots)
    return ops


def misfit(line):
    """(labels, mnemonic) when the statement writes a number that does not fit its field."""
    line = line.replace("\r", "")
    m = STATEMENT.match(line)
    if not m:
        return None
    labels, mnemonic, rest = m.group(1), m.group(2).upper(), m.group(3)
    ops = lex_operands(rest)
    if not ops:
        return None
    fits8 = lambda v: v <= 0xFF or v >= 0xFFFFFF80
    first = ops[0]
    if mnemonic in ("TRAPA", "AND.B", "OR.B", "TST.B", "XOR.B") or mnemonic in IMMEDIATE8:
        v = slot_value(first[-1])
        if len(first) == 1 and v is not None and not fits8(v):
            return labels, mnemonic
    if mnemonic in SIZES:
        size = SIZES[mnemonic]
        for op in ops[:2]:
            if len(op) != 2:
                continue
            values = [slot_value(x) for x in op]
            numbers = [v for v in values if v is not None]
            if not numbers:
                continue
            most = 255 if any(x["text"] == "GBR" for x in op) else 15
            v = numbers[-1]
            if v % size or v // size > most:
                return labels, mnemonic
    return None


def intended(source, new_result):
    out = new_result[1].decode("latin-1").rstrip("\r\n")
    m = re.fullmatch(r"(number out of range|invalid address reference) on line (\d+)", out)
    if not m:
        return False
    lines = source.split("\n")
    n = int(m.group(2))
    if n > len(lines):
        return False
    found = misfit(lines[n - 1])
    if not found:
        return False
    labels, mnemonic = found
    lines[n - 1] = labels + " " + mnemonic + ' "x",R1'
    ref = run_one(WORKER["reference"], WORKER["directory"], "\n".join(lines))
    return ref[2] == new_result[2] and ref[3] == new_result[3]


def compare(item):
    index, source = item
    a = run_one(WORKER["reference"], WORKER["directory"], source)
    b = run_one(WORKER["new"], WORKER["directory"], source)
    if a != b and intended(source, b):
        return index, True, b[1], True
    return index, a == b, b[1], False


MESSAGES = [
    r"empty source file", r"parsing failure on line \d+",
    r"what`s this colon doing on line \d+\?", r"duplicate label .{20} on line \d+",
    r"label name too long on line \d+", r"what is this junk before this quote on line \d+\?",
    r"empty string on line \d+", r"string too long on line \d+",
    r"too many commas inside operand on line \d+", r"operand too long on line \d+",
    r"thought there was a hex number, but something weird showed up on line \d+",
    r"thought there was a decimal number, but something weird showed up on line \d+",
    r"there is something that appears to be a one-character-long label name on line \d+",
    r"missing argument on line \d+", r".{7} incorrect or missing operand on line \d+",
    r"expected filename \(in quotes\) on line \d+", r"included file .* is empty",
    r"included file .* is an output of this run", r"output too large on line \d+",
    r"overflowed label table on line \d+", r"overflowed label reference database :\(",
    r"IMOV was used on line \d+ but no IDATA area was specified afterward",
    r"label .{20} undefined", r"invalid address reference on line \d+",
    r"number out of range on line \d+",
]


def build_reference(work, reference=REFERENCE, target="korvane"):
    """The executable target built from the reference commit's sources (git archive)."""
    # Named by the commit, so that a work directory kept from another reference is not
    # taken for this one.
    src = os.path.join(work, "reference-src-" + reference[:12])
    build = os.path.join(work, "reference-build-" + reference[:12])
    exe = os.path.join(build, target)
    if os.path.exists(exe):
        return exe
    shutil.rmtree(src, ignore_errors=True)
    os.makedirs(src)
    archive = subprocess.run(["git", "-C", ROOT, "archive", reference], stdout=subprocess.PIPE,
                             check=True).stdout
    subprocess.run(["tar", "-x", "-C", src], input=archive, check=True)
    subprocess.run(["cmake", "-S", src, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                    "-DKORVANE_TESTS=OFF"], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", build, "-j2", "--target", target], check=True,
                   stdout=subprocess.DEVNULL)
    return exe


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--new", required=True)
    ap.add_argument("--count", type=int, default=10000)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--work", default=os.path.join(ROOT, "build", "differential"))
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    reference = build_reference(work)
    new = os.path.abspath(args.new)

    programs = list(corpus()) + list(special_programs())
    fixed = len(programs)
    rnd = random.Random(args.seed)
    gen = Gen(rnd)
    for i in range(args.count):
        programs.append(gen.program(chaotic=(i % 3 == 2)))

    differences = []
    seen = set()
    succeeded = 0
    intended_count = 0
    with multiprocessing.Pool(2, init_worker, (reference, new, work)) as pool:
        for index, same, out, wanted in pool.imap_unordered(compare, enumerate(programs),
                                                             chunksize=64):
            line = out.decode("latin-1").rstrip("\r\n")
            intended_count += wanted
            succeeded += not line
            for k, pattern in enumerate(MESSAGES):
                if re.fullmatch(pattern, line):
                    seen.add(k)
            if not same:
                differences.append(index)
    kept = os.path.join(work, "differences")
    shutil.rmtree(kept, ignore_errors=True)
    for index in sorted(differences)[:20]:
        os.makedirs(kept, exist_ok=True)
        with open(os.path.join(kept, "%05d.s" % index), "wb") as f:
            f.write(programs[index].encode("latin-1"))
    missing = [MESSAGES[k] for k in range(len(MESSAGES)) if k not in seen]
    print("differential: %d programs (%d from the test sources and limits, %d generated), "
          "%d assembled without error, %d intended differences (numbers that do not fit their "
          "fields), %d differences; %d of %d messages produced" %
          (len(programs), fixed, args.count, succeeded, intended_count, len(differences),
           len(seen), len(MESSAGES)))
    for m in missing:
        print("never produced: " + m)
    if differences:
        print("programs that differ are kept in " + kept)
    return 1 if differences or missing else 0


if __name__ == "__main__":
    sys.exit(main())
