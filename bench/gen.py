#!/usr/bin/env python3
"""Writes a realistic SH-2 program of N lines for korvane, and the same program in
GNU as syntax (sh-elf-as -big).

The program is plain code (every instruction format, data, strings, comments) with
"clusters" spread evenly through it: a global label, a local loop, forward and
backward branches, PC-relative loads from a data island, MOVA, DC.L of labels,
IMOV.L constants and their IDATA pool. Clusters are rationed so that a program of
any length stays within 10,000 labels and 9,998 references.

    gen.py N korvane.s gnu.s [--seed S] [--labels]

--labels writes instead a program with 10,000 labels and 9,998 references, most of
them used before they are defined.
"""
import argparse
import random

# Plain statements: (korvane, gnu). Both assemble to the same 2 bytes.
PLAIN = [
    ("MOV     R1,R2", "mov r1,r2"),
    ("ADD     R2,R3", "add r2,r3"),
    ("ADD     #-4,R15", "add #-4,r15"),
    ("SUB     R3,R4", "sub r3,r4"),
    ("AND     #$F0,R0", "and #0xF0,r0"),
    ("OR      R5,R6", "or r5,r6"),
    ("XOR     #$55,R0", "xor #0x55,r0"),
    ("TST     #1,R0", "tst #1,r0"),
    ("CMP/EQ  R1,R2", "cmp/eq r1,r2"),
    ("CMP/GT  R3,R4", "cmp/gt r3,r4"),
    ("CMP/HS  R5,R6", "cmp/hs r5,r6"),
    ("CMP/PZ  R7", "cmp/pz r7"),
    ("SHLL2   R1", "shll2 r1"),
    ("SHLR8   R2", "shlr8 r2"),
    ("SHAR    R3", "shar r3"),
    ("ROTCL   R4", "rotcl r4"),
    ("EXTU.B  R1,R2", "extu.b r1,r2"),
    ("EXTS.W  R3,R4", "exts.w r3,r4"),
    ("SWAP.W  R5,R6", "swap.w r5,r6"),
    ("MULS.W  R1,R2", "muls.w r1,r2"),
    ("MUL.L   R3,R4", "mul.l r3,r4"),
    ("DMULU.L R5,R6", "dmulu.l r5,r6"),
    ("STS     MACL,R3", "sts macl,r3"),
    ("STS     MACH,R4", "sts mach,r4"),
    ("MOV.L   @(8,R4),R5", "mov.l @(8,r4),r5"),
    ("MOV.L   R1,@(12,R4)", "mov.l r1,@(12,r4)"),
    ("MOV.W   @(6,R4),R0", "mov.w @(6,r4),r0"),
    ("MOV.B   @(3,R5),R0", "mov.b @(3,r5),r0"),
    ("MOV.B   R0,@(2,R6)", "mov.b r0,@(2,r6)"),
    ("MOV.L   @(R0,R4),R6", "mov.l @(r0,r4),r6"),
    ("MOV.B   R6,@(R0,R5)", "mov.b r6,@(r0,r5)"),
    ("MOV.L   @R5+,R7", "mov.l @r5+,r7"),
    ("MOV.L   R7,@-R15", "mov.l r7,@-r15"),
    ("MOV.W   @R3,R2", "mov.w @r3,r2"),
    ("MOV.B   R2,@R3", "mov.b r2,@r3"),
    ("MOV     #12,R1", "mov #12,r1"),
    ("MOV     #-1,R9", "mov #-1,r9"),
    ("MOV.L   @(16,GBR),R0", "mov.l @(16,gbr),r0"),
    ("MOV.W   R0,@(10,GBR)", "mov.w r0,@(10,gbr)"),
    ("STS.L   PR,@-R15", "sts.l pr,@-r15"),
    ("LDS.L   @R15+,PR", "lds.l @r15+,pr"),
    ("STC     GBR,R1", "stc gbr,r1"),
    ("LDC     R1,GBR", "ldc r1,gbr"),
    ("MAC.W   @R1+,@R2+", "mac.w @r1+,@r2+"),
    ("DIV0U", "div0u"),
    ("DIV1    R2,R3", "div1 r2,r3"),
    ("ADDC    R4,R5", "addc r4,r5"),
    ("NEG     R6,R7", "neg r6,r7"),
    ("NOT     R8,R9", "not r8,r9"),
    ("XTRCT   R1,R2", "xtrct r1,r2"),
    ("MOVT    R3", "movt r3"),
    ("CLRT", "clrt"),
    ("SETT", "sett"),
    ("NOP", "nop"),
    ("AND.B   #$0F,@(R0,GBR)", "and.b #0x0F,@(r0,gbr)"),
    ("TST.B   #$80,@(R0,GBR)", "tst.b #0x80,@(r0,gbr)"),
    ("JSR     @R3", "jsr @r3"),
]
COMMENTS = ["; save the registers", "; next element", "; fold the carry in",
            "; compare with the limit", "; bump the pointer"]


class Writer:
    def __init__(self, kfile, gfile):
        self.k = kfile
        self.g = gfile
        self.lines = 0
        self.pc = 0

    def both(self, k, g, size):
        self.k.write(k + "\n")
        self.g.write(g + "\n")
        self.lines += 1
        self.pc += size

    def insn(self, k, g):
        self.both("        " + k, "\t" + g, 2)

    def label(self, k, g):
        self.both(k + ":", g + ":", 0)

    def align4(self):
        if self.pc % 4:
            self.insn("NOP", "nop")

    def plain(self, rng):
        k, g = PLAIN[rng.randrange(len(PLAIN))]
        if rng.random() < 0.15:
            c = COMMENTS[rng.randrange(len(COMMENTS))]
            self.both("        " + k + "  " + c, "\t" + g + "  !" + c[1:], 2)
        else:
            self.insn(k, g)


def cluster(w, i, rng):
    """About 24 lines; 2 labels (a global and a local); 8 references."""
    f, loop, skip = "F%d" % i, "@L%d" % i, "@S%d" % i
    gf, gloop, gskip = "F%d" % i, ".LL%d" % i, ".LS%d" % i
    w.align4()
    w.label(f, gf)
    w.insn("STS.L   PR,@-R15", "sts.l pr,@-r15")
    w.insn("MOV     #8,R9", "mov #8,r9")
    w.label(loop, gloop)
    w.insn("MOV.L   @R4+,R1", "mov.l @r4+,r1")
    w.insn("DT      R9", "dt r9")
    w.insn("BF      " + loop, "bf " + gloop)                       # ref 1, backward
    w.insn("BT/S    " + f, "bt/s " + gf)                           # ref 2, backward
    w.insn("ADD     R1,R2", "add r1,r2")
    const = rng.getrandbits(32)
    w.insn("IMOV.L  #$%08X,R3" % const, "mov.l .LC%d,r3" % i)     # ref 3
    w.insn("MOV.L   @(%s,PC),R5" % ("@D%d" % i), "mov.l .LD%d,r5" % i)  # ref 4
    w.insn("MOVA    @(%s,PC),R0" % ("@D%d" % i), "mova .LD%d,r0" % i)   # ref 5
    w.insn("BSR     " + f, "bsr " + gf)                            # ref 6, backward
    w.insn("NOP", "nop")
    w.insn("BRA     " + skip, "bra " + gskip)                      # ref 7, forward
    w.insn("NOP", "nop")
    # Data island: the literal pool, a label address, a word and a string.
    w.align4()
    w.both("        IDATA", "\t.align 2\n.LC%d:\t.long 0x%08X" % (i, const), 4)
    w.both("@D%d:    DC.L    %s" % (i, f), ".LD%d:\t.long %s" % (i, gf), 4)  # ref 8
    w.both("        DC.W    $%04X,%d" % (const & 0xFFFF, i & 0x7FFF),
           "\t.word 0x%04X,%d" % (const & 0xFFFF, i & 0x7FFF), 4)
    w.both('        DC.B    "cluster %05d",0,0,0' % (i % 100000),
           '\t.ascii "cluster %05d"\n\t.byte 0,0,0' % (i % 100000), 16)
    w.label(skip, gskip)
    w.insn("LDS.L   @R15+,PR", "lds.l @r15+,pr")


def program(n, kpath, gpath, seed):
    rng = random.Random(seed)
    with open(kpath, "w") as kf, open(gpath, "w") as gf:
        w = Writer(kf, gf)
        w.both("; generated benchmark program, %d lines" % n, "! generated benchmark program", 0)
        clusters = min(max(n // 40, 1), 1200)
        every = max(n // clusters, 1)
        i = 0
        while w.lines < n:
            if i < clusters and w.lines >= i * every:
                cluster(w, i, rng)
                i += 1
            else:
                w.plain(rng)
        w.both("        END", "\t.end", 0)


def labels_program(n, kpath, gpath, seed):
    """10,000 labels and 9,998 references in N lines: each reference is a branch to a
    label defined a few lines after it (used before it is defined)."""
    rng = random.Random(seed)
    with open(kpath, "w") as kf, open(gpath, "w") as gf:
        w = Writer(kf, gf)
        every = max(n // 9998, 3)
        for i in range(9998):
            w.insn("BF      T%d" % i, "bf T%d" % i)
            for _ in range(min(every - 2, 100)):
                w.plain(rng)
            w.label("T%d" % i, "T%d" % i)
        w.label("LAST1", "LAST1")
        w.label("LAST2", "LAST2")
        while w.lines < n:
            w.plain(rng)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("lines", type=int)
    ap.add_argument("korvane")
    ap.add_argument("gnu")
    ap.add_argument("--seed", type=int, default=1)
    ap.add_argument("--labels", action="store_true")
    a = ap.parse_args()
    if a.labels:
        labels_program(a.lines, a.korvane, a.gnu, a.seed)
    else:
        program(a.lines, a.korvane, a.gnu, a.seed)


if __name__ == "__main__":
    main()
