#!/usr/bin/env python3
"""Programs in the manner of the 1990s vendor C compiler for SH, with their truth, and
what korvane-dis finds in them.

    tests/corpus/vendor.py --dis build/korvane-dis --asm build/korvane [--programs 6]
                           [--seed 1] [--work DIR] [--min-code PCT] [--min-cases PCT]
                           [--no-pool-as-code] [--generate-only]

Each program is one module of a game: a main program linked at $6004000, or an overlay
linked at $6010000, $6020000 or $60A0000 that the loader puts there and enters at its
first byte (an overlay's truth also names a wrong base, the address some other loader
would use, so that a base finder can be tested; it is disassembled there too). Written
for GNU as (`sh-elf-as -isa=sh2 -big`), linked by `sh-elf-ld` and flattened by
`sh-elf-objcopy -O binary`, each program is in WORK: NAME.s, NAME.bin and NAME.json,
the truth: every byte's kind (code, pool, table, ptrs, fill, text, zero, data) and the
shape of the routine it belongs to, every routine start, every switch table with its
entries and their targets, the link base and the wrong base. A label stands before every
item of the source (no byte changes), and `sh-elf-nm` says where each one is.

The shapes, each in every program, in a random order with random registers, sizes and
pool places (the same for a seed):
  frame      prologue saving R14..R8 and PR, frame through R14, calls through literals
             with arguments in R4-R7, an if/else whose BRA is followed by a pool
  leaf       no prologue, RTS with its slot
  state      object states without a prologue: each stores the next state's address into
             the object (MOV.L Rm,@(disp,Rn)) and BRAs to a shared tail; a runner JMPs
             through the object
  callptr    a function's address passed in R5 to a routine that stores it in RAM
  tail       a routine that saves PR, calls, restores PR and BRAs into a sibling's body
  ptrtab     lists of function pointers run by a loop: short ones ended by 0, and rows
             interleaved with numbers
  sw_and     AND #mask,R0; a table of addresses named by a literal (in the pool)
  sw_state   a state byte of @(disp,GBR) or RAM, no bound: MOVA; MOV.W @(R0,Rn),Rn;
             ADD R0,Rn; JMP @Rn
  sw_pre     an index scaled by the caller, no bound
  sw_braf    MOVA; MOV.W @(R0,Rn),R0; BRAF R0, the table after the slot
  sw_pool    the MOVA's table in the pool area after the routine
  sw_bsrf    BSRF through offsets of routine starts from the return address
  sw_byte    MOVA of a byte table; entry*2 added to a literal base before JMP
  sw_cmp     CMP/HI and BT bound, for contrast
The literals wait for the first place after an unconditional jump (BRA, JMP or RTS and
its slot), so a pool may hold the literals of the routine before, and a routine's own
may stand after the routine that follows; pools are aligned with $0009, $0000 or $FFFF.
Data between routines and at the end: text, zero fill, blocks of numbers (some equal to
addresses in the image or to instructions).

The measure: `korvane-dis NAME.bin --base B --entry E`, its source read statement by
statement (each says its address; instructions and delay-slot words are code), then
`korvane` rebuilds it. Per shape: real code bytes shown as code, switch entries written
with their target (`-> Lxxxxxxxx` or `DC.L Lxxxxxxxx`), routine starts with a label,
pool/table/pointer bytes shown as code, other data shown as code; per program: the
rebuild is the image byte for byte (an overlay's at its wrong base too). A table of
unknown length lists its plausible targets in a comment: such entries are counted apart
("listed"), not as written with their target. Exits 1 when a rebuild differs, below
--min-code or --min-cases (percent over all programs at their true base), or with
--no-pool-as-code when a pool or table byte is shown as code; 77 (skipped) without
binutils for SH.
"""
import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
MAIN_BASE = 0x6004000
OVERLAY_BASES = (0x6010000, 0x6020000, 0x60A0000)
RAM = 0x60F0000  # objects and state bytes live here, outside every image
FILLS = (0x0009, 0x0000, 0xFFFF)
GNU = ("sh-elf-as", "sh-elf-ld", "sh-elf-objcopy", "sh-elf-nm")
SAVED = ["r14", "r13", "r12", "r11", "r10", "r9", "r8"]
SCRATCH = ["r1", "r2", "r3", "r5", "r6", "r7"]  # never R0 (MOVA's) nor R4 (the argument)


def run(cmd, cwd, check=True):
    r = subprocess.run(cmd, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if check and r.returncode != 0:
        raise RuntimeError("%s: %s" % (" ".join(cmd), r.stdout))
    return r


class Module:
    """A source being written: its lines, its items (label, kind, shape) in order, the
    literals waiting for a pool, and the byte position of each statement (exact: every
    size here is known, and the base is 4-aligned)."""

    def __init__(self, rng):
        self.rng = rng
        self.lines = []
        self.items = []
        self.current = None  # (kind, shape) of the open item
        self.pending = []  # [label, size, value, shape, position of its first load, lines]
        self.pos = 0
        self.count = 0
        self.routines = []  # (name, shape)
        self.tables = []  # {"label", "width", "targets": [label], "shape"}
        self.data = []  # blocks waiting for a place between routines

    def name(self, stem):
        self.count += 1
        return "%s_%d" % (stem, self.count)

    def item(self, kind, shape, label=None):
        label = label or self.name("t")
        self.lines.append(label + ":")
        self.items.append((label, kind, shape))
        self.current = (kind, shape)
        return label

    def ins(self, shape, *statements):
        if self.current != ("code", shape):
            self.item("code", shape)
        for s in statements:
            self.lines.append("\t" + s)
            self.pos += 2

    def label(self, name):
        self.lines.append(name + ":")

    def routine(self, name, shape):
        self.routines.append((name, shape))
        self.label(name)
        self.current = None  # a new code item starts at every routine

    def lit(self, value, shape, size=4):
        """The label of a literal waiting for the next pool (one already waiting with the
        same value is shared, as the compiler shares them)."""
        for p in self.pending:
            if p[1] == size and p[2] == value and p[5] is None:
                return p[0]
        label = self.name("k")
        self.pending.append([label, size, value, shape, self.pos, None])
        return label

    def table(self, label, shape, width, targets, entries, near=False):
        """A switch table: entries are the source's expressions; near, it follows at once
        (aligned), else it waits for the pool."""
        self.tables.append({"label": label, "width": width, "targets": targets, "shape": shape})
        lines = ["\t.%s %s" % ({1: "byte", 2: "short", 4: "long"}[width], e) for e in entries]
        if near:
            self.align(4)
            self.item("table", shape, label)
            self.lines += lines
            self.pos += width * len(entries)
            self.align(2)
        else:
            self.pending.append([label, width * len(entries), None, shape, self.pos, lines])

    def align(self, n):
        if self.pos % 2:  # after a byte table
            self.item("fill", "fill")
            self.lines.append("\t.byte 0")
            self.pos += 1
        if self.pos % n:
            fill = self.rng.choice(FILLS)
            self.item("fill", "fill")
            self.lines.append("\t.balignw %d,0x%04X" % (n, fill))
            self.pos += n - self.pos % n

    def flush(self):
        """The waiting literals and tables: longs, the tables (each 4-aligned), words."""
        longs = [p for p in self.pending if p[5] is None and p[1] == 4]
        tables = [p for p in self.pending if p[5] is not None]
        words = [p for p in self.pending if p[5] is None and p[1] == 2]
        for p in longs + tables + words:
            self.align(4 if p[5] is not None or p is longs[0] else 2)
            self.item("table" if p[5] else "pool", p[3], p[0])
            self.lines += p[5] or ["\t.%s %s" % ("long" if p[1] == 4 else "short", p[2])]
            self.pos += p[1]
        self.pending = []
        self.align(2)

    def may_flush(self):
        """At a routine's end: the pool now, or (sometimes, while every load still reaches
        past one more routine) after the next routine."""
        oldest = min([p[4] for p in self.pending] or [self.pos])
        oldest_word = min([p[4] for p in self.pending if p[1] == 2 and p[5] is None] or [self.pos])
        if self.rng.random() < 0.45 and self.pos - oldest < 450 and self.pos - oldest_word < 120:
            return
        self.flush()
        if self.data and self.rng.random() < 0.5:
            self.put_data(self.data.pop(0))

    def put_data(self, block):
        kind, label, lines, size, align = block
        self.align(align)
        self.item(kind, "data", label)
        self.lines += lines
        self.pos += size
        self.align(2)


def prologue(m, sh, saved, pr=True, frame=0):
    m.ins(sh, *["mov.l %s,@-r15" % r for r in saved])
    if pr:
        m.ins(sh, "sts.l pr,@-r15")
    if frame:
        m.ins(sh, "add #-%d,r15" % frame, "mov r15,r14")


def epilogue(m, sh, saved, pr=True, frame=0, result=None):
    if frame:
        m.ins(sh, "add #%d,r14" % frame, "mov r14,r15")
    if pr:
        m.ins(sh, "lds.l @r15+,pr")
    if result:
        m.ins(sh, "mov %s,r0" % result)
    rest = ["mov.l @r15+,%s" % r for r in reversed(saved)]
    if rest:
        m.ins(sh, *rest[:-1])
        m.ins(sh, "rts", rest[-1])  # the last restore in the slot
    else:
        m.ins(sh, "rts", "nop")


def call(m, sh, target, args):
    """MOV.L @(disp,PC),Rn; the arguments; JSR @Rn; a slot (an argument or NOP)."""
    r = m.rng.choice([r for r in ("r0", "r1", "r2", "r3") if not any(r in a for a in args)])
    m.ins(sh, "mov.l %s,%s" % (m.lit(target, sh), r))
    slot = "nop"
    if args and args[-1].startswith("mov #") and m.rng.random() < 0.5:  # never a PC-relative load in a slot
        args, slot = args[:-1], args[-1]
    m.ins(sh, *args)
    m.ins(sh, "jsr @%s" % r, slot)


def number_args(m, sh, count):
    out = []
    for i in range(count):
        k = m.rng.random()
        if k < 0.5:
            out.append("mov #%d,r%d" % (m.rng.randrange(-128, 128), 4 + i))
        elif k < 0.8:
            out.append("mov.l %s,r%d" % (m.lit("0x%X" % m.rng.randrange(1 << 32), sh), 4 + i))
        else:
            out.append("mov.w %s,r%d" % (m.lit(str(m.rng.randrange(128, 0x7FFF)), sh, 2), 4 + i))
    return out


def data_block(m, kind):
    """A block of data to be placed between routines or at the end, and its label."""
    label = m.name("d")
    rng = m.rng
    if kind == "text":
        words = ["PLAYER", "START", "GAME OVER", "STAGE %d", "SCORE", "CONTINUE?", "PAUSE", "LOADING",
                 "OPTIONS", "SOUND TEST", "HI-SCORE", "TIME", "READY", "PRESS BUTTON"]
        text = " ".join(rng.choice(words) for _ in range(rng.randrange(1, 5)))
        lines, size, align = ['\t.ascii "%s"' % text, "\t.byte 0"], len(text) + 1, 2
    elif kind == "zero":
        size = rng.choice([4, 16, 64, 256])
        lines, align = ["\t.space %d" % size], 4
    else:  # numbers: some equal to addresses of the image, some to instructions
        longs = []
        for _ in range(rng.randrange(8, 64)):
            k = rng.random()
            longs.append("0x%X" % (rng.randrange(1 << 32) if k < 0.5 else rng.randrange(1 << 16) if k < 0.7
                                  else (rng.choice([0x000B0009, 0x2F862F96, 0x4F22E000]))))
            if k > 0.9:
                longs[-1] = "%s+%d" % (rng.choice([r for r, _ in m.routines] or ["_start"]), 2 * rng.randrange(8))
        lines, size, align = ["\t.long " + ",".join(longs)], 4 * len(longs), 4
    m.data.append(("data" if kind == "numbers" else kind, label, lines, size, align))
    return label


# The shapes: each plans (names, and the instructions main uses to call it) and emits.

def frame(m, name):
    sh = "frame"
    saved = SAVED[:m.rng.randrange(2, 8)]  # R14 the frame, R13 a variable, the last the argument
    size = 4 * m.rng.randrange(1, 8)
    text = data_block(m, "text")

    def emit():
        m.routine(name, sh)
        prologue(m, sh, saved, True, size)
        var, arg = saved[1], saved[-1]
        m.ins(sh, "mov r4,%s" % arg)
        for c in m.rng.sample(m.leaves, min(len(m.leaves), m.rng.randrange(1, 4))):
            call(m, sh, c, number_args(m, sh, m.rng.randrange(0, 4)))
            m.ins(sh, "mov.l r0,@(%d,r14)" % (4 * m.rng.randrange(size // 4)))
        call(m, sh, m.rng.choice(m.leaves), ["mov.l %s,r4" % m.lit(text, sh)])
        m.ins(sh, "mov r0,%s" % var)
        if m.rng.random() < 0.8:  # if/else: the pool after the BRA
            other, join = m.name("el"), m.name("jn")
            m.ins(sh, "tst %s,%s" % (arg, arg), "bt %s" % other)
            call(m, sh, m.rng.choice(m.leaves), number_args(m, sh, 2))
            m.ins(sh, "bra %s" % join, "mov r0,%s" % var)
            m.flush()
            m.label(other)
            m.current = None
            m.ins(sh, "mov.l %s,%s" % (m.lit("0x%X" % m.rng.randrange(1 << 32), sh), var))
            m.label(join)
        epilogue(m, sh, saved, True, size, var)
    return emit, ["mov #%d,r4" % m.rng.randrange(128)]


def leaf(m, name):
    sh = "leaf"

    def emit():
        m.routine(name, sh)
        r = m.rng.choice(SCRATCH)
        m.ins(sh, "mov.l %s,%s" % (m.lit("0x%X" % m.rng.randrange(1 << 32), sh), r), "mov r4,r0")
        for _ in range(m.rng.randrange(1, 6)):
            m.ins(sh, m.rng.choice(["add %s,r0" % r, "shll r0", "xor r5,r0", "add #%d,r0" % m.rng.randrange(-64, 64),
                                    "and #%d,r0" % m.rng.randrange(256), "mov.l @(%d,r4),%s" % (4 * m.rng.randrange(8), r)]))
        m.ins(sh, "rts", m.rng.choice(["nop", "add r6,r0", "neg r0,r0"]))
    return emit, number_args(m, sh, 3)


def state(m, name):
    sh = "state"
    states = [m.name("st") for _ in range(m.rng.randrange(2, 5))]
    tail = m.name("sttail")
    at = 4 * m.rng.randrange(1, 8)
    obj = "0x%X" % (RAM + 0x40 * m.rng.randrange(64))

    def emit():
        m.routine(name, sh)  # the runner: a tail call through the object
        m.ins(sh, "mov.l @(%d,r4),r0" % at, "jmp @r0", "nop")
        order = list(enumerate(states))
        m.rng.shuffle(order)
        for k, s in order:
            m.may_flush()
            m.routine(s, sh)
            r = m.rng.choice(SCRATCH)
            m.ins(sh, "mov.l %s,%s" % (m.lit(states[(k + 1) % len(states)], sh), r), "mov.l %s,@(%d,r4)" % (r, at),
                  "mov #%d,r0" % m.rng.randrange(128), "bra %s" % tail, "mov.b r0,@(%d,r4)" % m.rng.randrange(16))
        m.may_flush()
        m.routine(tail, sh)
        m.ins(sh, "mov.l @(%d,r4),r1" % (at + 4), "add #1,r1", "rts", "mov.l r1,@(%d,r4)" % (at + 4))
    r = m.rng.choice(SCRATCH)
    return emit, ["mov.l %s,r4" % m.lit(obj, sh), "mov.l %s,%s" % (m.lit(states[0], sh), r),
                  "mov.l %s,@(%d,r4)" % (r, at)]


def callptr(m, name):
    sh = "callptr"
    handler = m.name("hd")
    table = "0x%X" % (RAM + 0x1000 + 0x100 * m.rng.randrange(16))

    def emit():
        m.routine(name, sh)  # stores R5 at table[R4]
        m.ins(sh, "shll2 r4", "mov.l %s,r1" % m.lit(table, sh), "add r1,r4", "rts", "mov.l r5,@r4")
        m.may_flush()
        m.routine(handler, sh)
        prologue(m, sh, ["r14"], True)
        call(m, sh, m.rng.choice(m.leaves), number_args(m, sh, 1))
        epilogue(m, sh, ["r14"], True)
    return emit, ["mov #%d,r4" % m.rng.randrange(16), "mov.l %s,r5" % m.lit(handler, sh)]


def tail(m, name):
    sh = "tail"
    sibling, body = m.name("sib"), m.name("body")
    out = "0x%X" % (RAM + 0x2000 + 4 * m.rng.randrange(64))

    def emit():
        first = m.rng.random() < 0.5  # the sibling before or after the tail
        for which in ((sibling, name) if first else (name, sibling)):
            m.routine(which, sh)
            m.ins(sh, "sts.l pr,@-r15")
            call(m, sh, m.rng.choice(m.leaves), number_args(m, sh, m.rng.randrange(1, 3)))
            m.ins(sh, "lds.l @r15+,pr")
            if which == sibling:
                m.label(body)
                m.ins(sh, "mov.l %s,r1" % m.lit(out, sh), "rts", "mov.l r0,@r1")
            else:
                m.ins(sh, "bra %s" % body, "add #1,r0")
            m.may_flush()
    return emit, number_args(m, sh, 2)


def ptrtab(m, name):
    sh = "ptrtab"
    interleaved = m.rng.random() < 0.5
    handlers = [m.name("ph") for _ in range(m.rng.randrange(2, 5))]
    label = m.name("pt")
    if interleaved:  # rows {function, number, number}
        rows = [",".join([h, "0x%X" % m.rng.randrange(1 << 16), "0x%X" % m.rng.randrange(1 << 32)]) for h in handlers]
        m.data.append(("ptrs", label, ["\t.long " + r for r in rows], 12 * len(rows), 4))
    else:
        m.data.append(("ptrs", label, ["\t.long " + ",".join(handlers + ["0"])], 4 * len(handlers) + 4, 4))

    def emit():
        m.routine(name, sh)
        prologue(m, sh, ["r14", "r13"], True)
        loop, done = m.name("lp"), m.name("dn")
        m.ins(sh, "mov.l %s,r14" % m.lit(label, sh))
        if interleaved:
            m.ins(sh, "mov #%d,r13" % len(handlers))
            m.label(loop)
            m.ins(sh, "mov.l @r14,r0", "mov.l @(4,r14),r4", "jsr @r0", "mov.l @(8,r14),r5",
                  "dt r13", "bf/s %s" % loop, "add #12,r14")
        else:
            m.label(loop)
            m.ins(sh, "mov.l @r14+,r0", "tst r0,r0", "bt %s" % done, "jsr @r0", "nop", "bra %s" % loop, "nop")
            m.label(done)
        epilogue(m, sh, ["r14", "r13"], True)
        for h in handlers:
            m.may_flush()
            m.routine(h, sh)
            m.ins(sh, "mov.l %s,r1" % m.lit("0x%X" % (RAM + 4 * m.rng.randrange(256)), sh), "mov.l @r1,r0",
                  "add r4,r0", "rts", "mov.l r0,@r1")
    return emit, []


def switch(m, name, sh, bound, form, where="near"):
    """A switch of one of the compiler's forms; bound: and, none, pre, cmp; form: abs,
    relw, braf, bsrf, byte."""
    n = 1 << m.rng.randrange(1, 4) if bound in ("and", "pre") or form == "bsrf" else m.rng.randrange(3, 9)
    idx = m.rng.choice(SCRATCH[1:])  # not R1, which the byte form's base takes
    pr = form == "bsrf"
    cases = [m.name("bs" if form == "bsrf" else "cs") for _ in range(n)]
    join = m.name("jn")
    gbr = bound == "none" and m.rng.random() < 0.5
    width = {"abs": 4, "relw": 2, "braf": 2, "bsrf": 2, "byte": 1}[form]

    def emit():
        m.routine(name, sh)
        if pr:
            m.ins(sh, "sts.l pr,@-r15")
        if bound == "and":
            m.ins(sh, "mov r4,r0", "and #%d,r0" % (n - 1))
        elif bound == "none" and gbr:
            m.ins(sh, "mov.b @(%d,gbr),r0" % m.rng.randrange(64), "extu.b r0,r0")
        elif bound == "none":
            m.ins(sh, "mov.l %s,r1" % m.lit("0x%X" % (RAM + 0x3000 + m.rng.randrange(256)), sh), "mov.b @r1,r0",
                  "extu.b r0,r0")
        elif bound == "pre":
            m.ins(sh, "mov r4,r0")  # already entry-sized
        else:  # cmp: the only form with a bound, to go with the others
            m.ins(sh, "mov #%d,r1" % (n - 1), "cmp/hi r1,r4", "bt %s" % join, "mov r4,r0")
        scale = {4: ["shll2 %s"], 2: ["shll %s"], 1: []}[width] if bound != "pre" else []
        here, tb = m.name("bb"), m.name("tb")  # the return address or BRAF's base; the table
        if form == "abs":
            m.ins(sh, *[s % "r0" for s in scale])
            m.ins(sh, "mov.l %s,%s" % (m.lit(tb, sh), idx), "mov.l @(r0,%s),%s" % (idx, idx), "jmp @%s" % idx, "nop")
            entries = cases
        else:
            m.ins(sh, "mov r0,%s" % idx, *[s % idx for s in scale])
            m.ins(sh, "mova %s,r0" % tb)
            load = {2: "mov.w", 1: "mov.b"}[width]
            if form == "relw":
                m.ins(sh, "%s @(r0,%s),%s" % (load, idx, idx), "add r0,%s" % idx, "jmp @%s" % idx, "nop")
                entries = ["%s-%s" % (c, tb) for c in cases]
            elif form in ("braf", "bsrf"):
                m.ins(sh, "%s @(r0,%s),r0" % (load, idx), "%s r0" % form, "nop")
                m.label(here)
                entries = ["%s-%s" % (c, here) for c in cases]
            else:  # byte: entries are halved offsets from the first case, a literal holds its address
                m.ins(sh, "mov.b @(r0,%s),%s" % (idx, idx), "extu.b %s,%s" % (idx, idx), "shll %s" % idx,
                      "mov.l %s,r1" % m.lit(cases[0], sh), "add r1,%s" % idx, "jmp @%s" % idx, "nop")
                entries = ["(%s-%s)/2" % (c, cases[0]) for c in cases]
        near = where == "near" and form != "bsrf"
        m.table(tb, sh, width, cases, entries, near)
        if form == "bsrf":
            m.ins(sh, "lds.l @r15+,pr", "rts", "nop")
            for c in cases:
                m.may_flush()
                m.routine(c, sh)
                m.ins(sh, "mov #%d,r0" % m.rng.randrange(128), "rts", "mov.l r0,@(%d,r4)" % (4 * m.rng.randrange(16)))
            return
        for k, c in enumerate(cases):
            m.label(c)
            m.current = None
            m.ins(sh, "mov #%d,r0" % m.rng.randrange(128))
            if m.rng.random() < 0.4:
                m.ins(sh, "mov.l %s,r1" % m.lit("0x%X" % (RAM + 4 * m.rng.randrange(1024)), sh), "mov.l r0,@r1")
            if k == len(cases) - 1:
                break
            if m.rng.random() < 0.3:
                m.ins(sh, "rts", "nop")
            else:
                m.ins(sh, "bra %s" % join, "nop")
            if m.rng.random() < 0.15 and form != "byte":  # a pool between cases
                m.flush()
        m.label(join)
        m.ins(sh, "rts", "add r4,r0")
    arg = m.rng.randrange(n) * (width if bound == "pre" else 1)
    return emit, ["mov #%d,r4" % arg]


SHAPES = {
    "frame": frame, "leaf": leaf, "state": state, "callptr": callptr, "tail": tail, "ptrtab": ptrtab,
    "sw_and": lambda m, n: switch(m, n, "sw_and", "and", "abs", "pool"),
    "sw_state": lambda m, n: switch(m, n, "sw_state", "none", "relw"),
    "sw_pre": lambda m, n: switch(m, n, "sw_pre", "pre", m.rng.choice(["abs", "relw"]), m.rng.choice(["near", "pool"])),
    "sw_braf": lambda m, n: switch(m, n, "sw_braf", m.rng.choice(["and", "none"]), "braf"),
    "sw_pool": lambda m, n: switch(m, n, "sw_pool", "and", m.rng.choice(["braf", "relw"]), "pool"),
    "sw_bsrf": lambda m, n: switch(m, n, "sw_bsrf", "and", "bsrf"),
    "sw_byte": lambda m, n: switch(m, n, "sw_byte", m.rng.choice(["and", "none"]), "byte", m.rng.choice(["near", "pool"])),
    "sw_cmp": lambda m, n: switch(m, n, "sw_cmp", "cmp", m.rng.choice(["braf", "relw"])),
}


def generate(rng, index):
    """One module's source and its plan: (source, base, wrong base or None, items, routines, tables)."""
    overlay = index % 3 != 0
    base = rng.choice(OVERLAY_BASES) if overlay else MAIN_BASE
    m = Module(rng)
    m.leaves = [m.name("lf") for _ in range(rng.randrange(2, 5))]
    plan = [(s, m.name("r")) for s in SHAPES if s != "leaf"] + [("leaf", l) for l in m.leaves]
    plan += [(rng.choice(sorted(SHAPES)), m.name("r")) for _ in range(rng.randrange(0, 5))]
    rng.shuffle(plan)
    made = [(shape, name) + tuple(SHAPES[shape](m, name)) for shape, name in plan]
    blocks = [data_block(m, rng.choice(["text", "zero", "numbers"])) for _ in range(rng.randrange(2, 6))]
    m.lines += ["\t.text", "\t.global _start"]
    m.routine("_start", "frame")
    saved = SAVED[:rng.randrange(2, 8)]
    prologue(m, "frame", saved, True)
    for shape, name, emit, args in made:
        if shape != "leaf" or rng.random() < 0.5:
            call(m, "frame", name, args)
    for b in blocks:  # each block handed to a routine
        call(m, "frame", rng.choice(m.leaves), ["mov.l %s,r4" % m.lit(b, "frame")])
    epilogue(m, "frame", saved, True)
    for shape, name, emit, args in made:
        m.may_flush()
        if rng.random() < 0.3:
            m.align(4)  # functions aligned on long words, now and then
        emit()
    m.flush()
    while m.data:
        m.put_data(m.data.pop(0))
    m.item("end", "end")
    wrong = rng.choice([b for b in OVERLAY_BASES + (MAIN_BASE,) if b != base]) if overlay else None
    return "\n".join(m.lines) + "\n", base, wrong, m


def build(work, name, source, base, m):
    """Assembles and links NAME; writes NAME.bin and NAME.json. The truth."""
    with open(os.path.join(work, name + ".s"), "w") as f:
        f.write(source)
    run(["sh-elf-as", "-isa=sh2", "-big", "-o", name + ".o", name + ".s"], work)
    run(["sh-elf-ld", "-EB", "-Ttext=0x%X" % base, "-e", "_start", "-o", name + ".elf", name + ".o"], work)
    run(["sh-elf-objcopy", "-O", "binary", "-j", ".text", name + ".elf", name + ".bin"], work)
    at = {}
    for line in run(["sh-elf-nm", name + ".elf"], work).stdout.splitlines():
        parts = line.split()
        if len(parts) == 3:
            at[parts[2]] = int(parts[0], 16)
    order = sorted(range(len(m.items)), key=lambda i: (at[m.items[i][0]], i))
    ranges = []
    for a, b in zip(order, order[1:]):
        start, end = at[m.items[a][0]], at[m.items[b][0]]
        kind, shape = m.items[a][1:]
        if end > start:
            if ranges and ranges[-1][2:] == [kind, shape] and ranges[-1][1] == start:
                ranges[-1][1] = end
            else:
                ranges.append([start, end, kind, shape])
    tables = []
    for t in m.tables:
        start = at[t["label"]]
        tables.append({"at": start, "width": t["width"], "shape": t["shape"],
                       "entries": [[start + k * t["width"], at[c]] for k, c in enumerate(t["targets"])]})
    return {"base": base, "entry": at["_start"], "size": at[m.items[-1][0]] - base, "ranges": ranges,
            "routines": [[at[r], s] for r, s in m.routines], "tables": tables}


STATEMENT = re.compile(r"^(L[0-9A-F]{8}:)?\s+(\S+)\s*([^;]*?)\s*; ([0-9A-F]{8}) (?:FF x (\d+)|([0-9A-F]+))(.*)$")


def shown(work, name, dis, asm, base, entry):
    """What korvane-dis wrote of NAME.bin at base: address -> (label?, mnemonic, operands,
    size, comment); and whether korvane rebuilt the image from it."""
    out = name + ".bin.s"
    if os.path.exists(os.path.join(work, out)):
        os.unlink(os.path.join(work, out))
    run([dis, name + ".bin", "--base", "$%X" % base, "--entry", "$%X" % entry], work)
    statements = {}
    with open(os.path.join(work, out)) as f:
        for line in f:
            s = STATEMENT.match(line.rstrip("\n"))
            if s and s.group(2) not in ("SETPC", "INCBIN"):
                size = int(s.group(5)) if s.group(5) else len(s.group(6)) // 2
                statements[int(s.group(4), 16)] = (bool(s.group(1)), s.group(2), s.group(3), size, s.group(7))
    same = run([asm, out], work, check=False).returncode == 0
    with open(os.path.join(work, name + ".bin"), "rb") as a, open(os.path.join(work, name + ".bin.bin"), "rb") as b:
        return statements, same and a.read() == b.read()


def measure(truth, statements, shift=0):
    """Figures per shape: code bytes (and shown as code), pool/table/pointer bytes shown as
    code, other data shown as code, table entries (written with their target, or only
    listed by a table of unknown length), routine starts (and labelled code)."""
    covering, listed = {}, {}
    for addr, (_, mn, ops, size, rest) in statements.items():
        code = not (mn.startswith("DC.") or mn == "PAD") or "in a delay slot" in rest
        for b in range(size):
            covering[addr + b] = code
        unknown = re.search(r"unknown length: entries of (\d+) from \S+ give (.*)$", rest)
        if unknown:
            for k, target in enumerate(unknown.group(2).split(", ")):
                listed[addr + k * int(unknown.group(1))] = target.strip()
    fig = {}

    def add(shape, key, n=1):
        f = fig.setdefault(shape, dict.fromkeys(["code", "code shown", "pool as code", "data as code", "cases",
                                                 "cases shown", "cases listed", "starts", "starts shown"], 0))
        f[key] += n
    for start, end, kind, shape in truth["ranges"]:
        hits = sum(covering.get(a + shift, False) for a in range(start, end))
        if kind == "code":
            add(shape, "code", end - start)
            add(shape, "code shown", hits)
        elif kind in ("pool", "table", "ptrs"):
            add(shape, "pool as code", hits)
        elif kind != "fill":
            add(shape, "data as code", hits)
    for t in truth["tables"]:
        for at, target in t["entries"]:
            s = statements.get(at + shift)
            want = "L%08X" % (target + shift)
            add(t["shape"], "cases")
            add(t["shape"], "cases shown", bool(s and ("-> " + want in s[4] or s[2] == want)))
            add(t["shape"], "cases listed", listed.get(at + shift) == want)
    for at, shape in truth["routines"]:
        s = statements.get(at + shift)
        add(shape, "starts")
        add(shape, "starts shown", bool(s and s[0] and covering.get(at + shift)))
    return fig


def pct(a, b):
    return "%6.1f%%" % (100.0 * a / b) if b else "      -"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--dis", default="build/korvane-dis")
    ap.add_argument("--asm", default="build/korvane")
    ap.add_argument("--work", default="/tmp/korvane-vendor")
    ap.add_argument("--programs", type=int, default=6)
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--min-code", type=float, default=0, help="least percent of code bytes shown as code")
    ap.add_argument("--min-cases", type=float, default=0, help="least percent of switch entries with their target")
    ap.add_argument("--no-pool-as-code", action="store_true", help="fail when a pool or table byte is shown as code")
    ap.add_argument("--generate-only", action="store_true", help="write the programs and their truth, measure nothing")
    a = ap.parse_args()
    for tool in GNU:
        if not shutil.which(tool):
            print("skipped: %s is not installed (package binutils-sh-elf)" % tool)
            return 77
    dis, asm, work = os.path.abspath(a.dis), os.path.abspath(a.asm), os.path.abspath(a.work)
    os.makedirs(work, exist_ok=True)
    total, rows, failed = {}, [], []
    for i in range(a.programs):
        rng = random.Random("vendor %d %d" % (a.seed, i))
        source, base, wrong, m = generate(rng, i)
        name = "vendor%02d" % i
        truth = build(work, name, source, base, m)
        truth["wrong_base"] = wrong
        with open(os.path.join(work, name + ".json"), "w") as f:
            json.dump(truth, f, indent=1)
        if a.generate_only:
            print("%s: %d bytes at $%X, %d routines, %d tables" % (name, truth["size"], base, len(truth["routines"]),
                                                                 len(truth["tables"])))
            continue
        runs = [("at $%X" % base, 0)] + ([("wrong $%X" % wrong, wrong - base)] if wrong else [])
        for what, shift in runs:
            statements, same = shown(work, name, dis, asm, base + shift, truth["entry"] + shift)
            fig = measure(truth, statements, shift)
            whole = {k: sum(f[k] for f in fig.values()) for k in next(iter(fig.values()))}
            rows.append((name, what, whole, same))
            if not same:
                failed.append("%s %s: the rebuilt image differs" % (name, what))
            if shift == 0:  # the shapes' figures at the true base only
                for shape, f in fig.items():
                    t = total.setdefault(shape, dict.fromkeys(f, 0))
                    for k in f:
                        t[k] += f[k]
    if a.generate_only:
        return 0
    print("%-9s %-16s %7s %7s %7s %7s %9s %9s %8s" % ("program", "disassembled", "code", "cases", "listed", "starts",
                                                      "pool>code", "data>code", "rebuilt"))
    for name, what, w, same in rows:
        print("%-9s %-16s %7s %7s %7s %7s %9d %9d %8s" % (
            name, what, pct(w["code shown"], w["code"]), pct(w["cases shown"], w["cases"]),
            pct(w["cases listed"], w["cases"]), pct(w["starts shown"], w["starts"]), w["pool as code"],
            w["data as code"], "yes" if same else "NO"))
    print("\n%-9s %13s %7s %9s %7s %7s %7s %9s %9s" % ("shape", "code bytes", "code", "cases", "", "listed", "starts",
                                                      "pool>code", "data>code"))
    for shape in sorted(total):
        t = total[shape]
        print("%-9s %13s %7s %9s %7s %7s %7s %9d %9d" % (
            shape, "%d/%d" % (t["code shown"], t["code"]), pct(t["code shown"], t["code"]),
            "%d/%d" % (t["cases shown"], t["cases"]), pct(t["cases shown"], t["cases"]),
            pct(t["cases listed"], t["cases"]), pct(t["starts shown"], t["starts"]), t["pool as code"],
            t["data as code"]))
    g = {k: sum(t[k] for t in total.values()) for k in next(iter(total.values()))}
    code, cases = 100.0 * g["code shown"] / max(g["code"], 1), 100.0 * g["cases shown"] / max(g["cases"], 1)
    print("all at the true base: %.1f%% of %d code bytes shown as code, %.1f%% of %d switch entries written with "
          "their target (%.1f%% more only listed by a table of unknown length), %.1f%% of %d routine starts, "
          "%d pool/table bytes and %d data bytes shown as code; %d of %d disassemblies rebuilt byte for byte"
          % (code, g["code"], cases, g["cases"], 100.0 * g["cases listed"] / max(g["cases"], 1),
             100.0 * g["starts shown"] / max(g["starts"], 1), g["starts"], g["pool as code"], g["data as code"],
             sum(r[3] for r in rows), len(rows)))
    if code < a.min_code:
        failed.append("%.1f%% of code bytes shown as code, below %g%%" % (code, a.min_code))
    if cases < a.min_cases:
        failed.append("%.1f%% of switch entries with their target, below %g%%" % (cases, a.min_cases))
    if a.no_pool_as_code and g["pool as code"]:
        failed.append("%d pool or table bytes shown as code" % g["pool as code"])
    elif g["pool as code"]:
        print("(%d pool or table bytes shown as code: not checked)" % g["pool as code"])
    for f in failed:
        print("FAILED " + f)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
