// What the disassembler finds, asked of its model: images assembled from small sources
// in the idioms of compiled and hand-written SH-2 code, each with the facts the
// analysis must report (what is at an address, why it has a label, the tables, the
// references) and the round trip of the source it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "korvane/disassemble.h"
#include "korvane/sh2.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

std::vector<std::uint8_t> bytesOf(const std::string& s) {
    return {s.begin(), s.end()};
}

// What is at an address: a kind, and optionally the label's reason.
struct At {
    std::uint32_t address;
    std::optional<ItemKind> kind;  // nothing: outside the image
    std::optional<Evidence> why = std::nullopt;
};

struct Case {
    const char* name;
    std::string source;  // assembled at $06000000 (SETPC first)
    bool guess = true;
    std::vector<At> facts;
    // References expected from an address, of a kind, to an address.
    std::vector<Reference> refs = {};
    std::vector<Reference> noRefs = {};  // references that must not be there
    int tables = -1;                     // how many tables, when checked
    // Functions known not to return: start, and the call after whose slot literals stand.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> noReturn = {};
};

constexpr std::uint32_t kBase = 0x06000000;
using enum ItemKind;

const std::vector<Case>& cases() {
    static const std::vector<Case> c = {
        {"a literal read in BRA's slot counts from the target",
         // BRA to $06000010; the slot's MOV.L @(4,PC) reads ((target + 2) & ~3) + 4.
         "        SETPC   $6000000\n"
         "        BRA     TGT\n"
         "        DC.W    $D101\n"      // MOV.L @(1*4,PC),R1
         "        DC.L    $11111111\n"  // $06000004: where the slot's own PC would read
         "        DC.L    $22222222\n"
         "        DC.W    $0009\n"
         "        DC.W    $0009\n"
         "TGT:    RTS\n"  // $06000010
         "        NOP\n"
         "        DC.L    $33333333\n"  // $06000014 = ((0x10 + 2) & ~3) + 4
         "        DC.L    $44444444\n",
         true,
         {{kBase + 2, Instruction}, {kBase + 0x14, Literal, Evidence::Literal}, {kBase + 0x10, Instruction}},
         {{kBase + 2, kBase + 0x14, RefKind::SlotLoad}},
         {{kBase + 2, kBase + 8, RefKind::SlotLoad}, {kBase + 2, kBase + 8, RefKind::Load}}},
        {"BT/S reads from the target when taken and from the slot when not",
         "        SETPC   $6000000\n"
         "        BT/S    TGT\n"
         "        DC.W    $9101\n"  // MOV.W @(1*2,PC),R1
         "        RTS\n"
         "        NOP\n"
         "        DC.W    $1111\n"  // $06000008 = slot + 4 + 2: not taken
         "        DC.W    $0009\n"
         "TGT:    RTS\n"  // $0600000C
         "        NOP\n"
         "        DC.W    $2222\n",  // $06000010 = target + 2 + 2: taken
         true,
         {{kBase + 8, Literal, Evidence::Literal}, {kBase + 0x10, Literal, Evidence::Literal}},
         {{kBase + 2, kBase + 8, RefKind::SlotLoad}, {kBase + 2, kBase + 0x10, RefKind::SlotLoad}}},
        {"a function's address kept in R8 over a loop and calls",
         "        SETPC   $6000000\n"
         "        STS.L   PR,@-R15\n"
         "        MOV.L   @(LF,PC),R8\n"
         "        MOV     #4,R9\n"
         "LOOP:   JSR     @R8\n"
         "        NOP\n"
         "        JSR     @R8\n"
         "        NOP\n"
         "        DT      R9\n"
         "        BF      LOOP\n"
         "        LDS.L   @R15+,PR\n"
         "        RTS\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "LF:     DC.L    FUNC\n"
         "FUNC:   RTS\n"
         "        ADD     #1,R0\n",
         false,
         {{kBase + 0x1C, Instruction, Evidence::Call}},
         {{kBase + 0x18, kBase + 0x1C, RefKind::Pointer}, {kBase + 6, kBase + 0x1C, RefKind::Call}}},
        {"R1 does not survive a call; a write to R8 ends the track",
         "        SETPC   $6000000\n"
         "        MOV.L   @(LF,PC),R1\n"
         "        MOV.L   @(LF,PC),R8\n"
         "        JSR     @R9\n"
         "        NOP\n"
         "        SHLL    R8\n"
         "        JSR     @R8\n"
         "        NOP\n"
         "        JMP     @R1\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "LF:     DC.L    FUNC\n"
         "FUNC:   DC.L    $12345678\n",
         false,
         // (The literal still points at data in the image, but nothing uses it as an
         // address: a number that may be a pointer.)
         {{kBase + 0x14, Literal}, {kBase + 0x18, Data, Evidence::Unsettled}},
         {},
         {{kBase + 0xA, kBase + 0x18, RefKind::Call}, {kBase + 0xE, kBase + 0x18, RefKind::Jump}}},
        {"MOV.W offset and BRAF; the static call idiom with MOVA and LDS R0,PR",
         "        SETPC   $6000000\n"
         "        MOV.W   @(LOFF,PC),R1\n"  // $06000000
         "        BRAF    R1\n"               // $06000002: to $06000006 + $1A = $06000020
         "        NOP\n"
         "LOFF:   DC.W    $1A\n"            // $06000006
         "        ORG     $6000020\n"
         "        MOV.L   @(LCALL,PC),R1\n"  // $06000020
         "        MOVA    @(BACK,PC),R0\n"   // $06000022
         "        BRAF    R1\n"              // $06000024: to $06000028 + $18 = $06000040
         "        LDS     R0,PR\n"
         "BACK:   RTS\n"  // $06000028: where the call returns
         "        NOP\n"
         "        ALIGN.L\n"
         "LCALL:  DC.L    $18\n"  // $0600002C
         "        ORG     $6000040\n"
         "        RTS\n"
         "        NOP\n",
         false,
         {{kBase + 0x20, Instruction, Evidence::Jump},
          {kBase + 0x28, Instruction, Evidence::Mova},
          {kBase + 0x40, Instruction, Evidence::Call}},
         {{kBase + 2, kBase + 0x20, RefKind::Jump}, {kBase + 0x24, kBase + 0x40, RefKind::Call}}},
        {"a byte switch table: bound, MOVA, indexed load, BRAF",
         "        SETPC   $6000000\n"
         "        MOV     #3,R1\n"
         "        CMP/HI  R1,R4\n"
         "        BT      DEFLT\n"
         "        MOVA    @(TAB,PC),R0\n"
         "        MOV.B   @(R0,R4),R4\n"
         "        BRAF    R4\n"  // $0600000A: entries count from $0600000E
         "        NOP\n"
         "        ALIGN.L\n"
         "TAB:    DC.B    $6,$A,$E,$12\n"  // $06000010: cases at $14, $18, $1C, $20
         "        RTS\n"
         "        MOV     #0,R0\n"
         "        RTS\n"
         "        MOV     #1,R0\n"
         "        RTS\n"
         "        MOV     #2,R0\n"
         "        RTS\n"
         "        MOV     #3,R0\n"
         "DEFLT:  RTS\n"
         "        MOV     #-1,R0\n",
         false,
         {{kBase + 0x10, Table, Evidence::Table},
          {kBase + 0x13, Table},
          {kBase + 0x14, Instruction, Evidence::SwitchCase},
          {kBase + 0x20, Instruction, Evidence::SwitchCase}},
         {{kBase + 0x11, kBase + 0x18, RefKind::TableEntry}},
         {},
         1},
        {"an absolute table: a literal's address, MOV.L @(R0,Rt), JMP",
         "        SETPC   $6000000\n"
         "        MOV     #1,R1\n"
         "        CMP/HI  R1,R4\n"
         "        BT      OUT\n"
         "        MOV.L   @(LTAB,PC),R2\n"
         "        MOV     R4,R0\n"
         "        SHLL2   R0\n"
         "        MOV.L   @(R0,R2),R3\n"
         "        JMP     @R3\n"
         "        NOP\n"
         "OUT:    RTS\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "LTAB:   DC.L    TAB\n"
         "TAB:    DC.L    C0,C1\n"
         "C0:     RTS\n"
         "        MOV     #0,R0\n"
         "C1:     RTS\n"
         "        MOV     #1,R0\n",
         false,
         {{kBase + 0x1C, Table, Evidence::Table},
          {kBase + 0x24, Instruction, Evidence::SwitchCase},
          {kBase + 0x28, Instruction, Evidence::SwitchCase}},
         {{kBase + 0x20, kBase + 0x28, RefKind::TableEntry}},
         {},
         1},
        {"word entries counted from the table: ADD R0,Rn and JMP",
         "        SETPC   $6000000\n"
         "        MOV     #1,R1\n"
         "        CMP/HI  R1,R4\n"
         "        BT      OUT\n"
         "        MOVA    @(TAB,PC),R0\n"
         "        ADD     R4,R4\n"
         "        MOV.W   @(R0,R4),R3\n"
         "        ADD     R0,R3\n"
         "        JMP     @R3\n"
         "        NOP\n"
         "OUT:    RTS\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "TAB:    DC.W    $4,$8\n"  // $06000018: cases at $0600001C, $06000020
         "        RTS\n"
         "        MOV     #0,R0\n"
         "        RTS\n"
         "        MOV     #1,R0\n",
         false,
         {{kBase + 0x18, Table, Evidence::Table},
          {kBase + 0x1C, Instruction, Evidence::SwitchCase},
          {kBase + 0x20, Instruction, Evidence::SwitchCase}},
         {},
         {},
         1},
        {"no bound, no guess: a table of unknown length, named only",
         "        SETPC   $6000000\n"
         "        MOVA    @(TAB,PC),R0\n"
         "        SHLL2   R4\n"
         "        MOV.L   @(R0,R4),R4\n"
         "        BRAF    R4\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "TAB:    DC.L    $4,$8\n",
         false,
         {{kBase + 0x0C, Data, Evidence::Table}},
         {},
         {},
         1},
        {"a literal used as an address is a pointer; a small constant is not",
         "        SETPC   $6000000\n"
         "        MOV.L   @(LP,PC),R1\n"
         "        MOV.L   @R1,R2\n"
         "        MOV.L   @(LC,PC),R3\n"
         "        RTS\n"
         "        ADD     R3,R2\n"
         "        ALIGN.L\n"
         "LP:     DC.L    DATA\n"    // $0600000C
         "LC:     DC.L    $6000004\n"  // $06000010: the address of code, used as a number
         "        DC.L    $1234\n"
         "DATA:   DC.L    5\n",  // $06000018
         false,
         {{kBase + 0x18, Data, Evidence::Pointer}, {kBase + 0x10, Literal, Evidence::Literal}},
         {{kBase + 0x0C, kBase + 0x18, RefKind::Pointer}},
         {{kBase + 0x10, kBase + 4, RefKind::Pointer}}},
        {"a function no path reaches: prologue matched by its restores",
         "        SETPC   $6000000\n"
         "        RTS\n"
         "        NOP\n"
         "FN:     MOV.L   R14,@-R15\n"
         "        STS.L   PR,@-R15\n"
         "        ADD     #-8,R15\n"
         "        MOV     R15,R14\n"
         "        MOV.L   @(LX,PC),R1\n"
         "        MOV.L   @R1,R0\n"
         "        ADD     #8,R15\n"
         "        LDS.L   @R15+,PR\n"
         "        RTS\n"
         "        MOV.L   @R15+,R14\n"
         "LX:     DC.L    $6000000\n",
         true,
         {{kBase + 4, Instruction, Evidence::Prologue}, {kBase + 0x18, Literal}}},
        {"a callback stored to a structure, and a state to resume at stored beside it",
         "        SETPC   $6000000\n"
         "START:  MOV.L   @(CB,PC),R1\n"
         "        MOV.L   @(OBJ,PC),R4\n"
         "        MOV.L   R1,@(4,R4)\n"
         "        MOV.L   @(RESUME,PC),R2\n"
         "        MOV.L   R2,@R4\n"
         "MID:    BRA     MID\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "CB:     DC.L    HANDLER\n"  // $06000010
         "OBJ:    DC.L    $6100000\n"
         "RESUME: DC.L    MID\n"      // $06000018
         "HANDLER: MOV.L  R14,@-R15\n"  // $0600001C: no path reaches it
         "        STS.L   PR,@-R15\n"
         "        MOV     R15,R14\n"
         "        MOV     #1,R0\n"
         "        LDS.L   @R15+,PR\n"
         "        RTS\n"
         "        MOV.L   @R15+,R14\n",
         true,
         {{kBase + 0x1C, Instruction, Evidence::Stored}, {kBase + 0x10, Literal}, {kBase + 0x18, Literal}},
         {{kBase + 0x10, kBase + 0x1C, RefKind::Pointer}, {kBase + 0x18, kBase + 0x0A, RefKind::Pointer}},
         {{kBase + 0x14, kBase + 0x100000, RefKind::Pointer}}},
        {"a branch into a BRA's delay slot (GNU as's BF/S out of reach): the path goes on after the slot",
         "        SETPC   $6000000\n"
         "START:  CMP/EQ  R1,R2\n"
         "        BT      SLOT\n"
         "        BRA     FAR\n"
         "SLOT:   MOV     R4,R2\n"  // $06000006: the BRA's slot, and where BT goes
         "        MOV     #7,R0\n"  // $06000008: reached only through SLOT
         "        RTS\n"
         "        NOP\n"
         "FAR:    RTS\n"
         "        NOP\n",
         false,
         {{kBase + 6, Instruction, Evidence::Branch}, {kBase + 8, Instruction}, {kBase + 0x0A, Instruction}}},
        {"the same without guessing stays data",
         "        SETPC   $6000000\n"
         "        RTS\n"
         "        NOP\n"
         "        MOV.L   R14,@-R15\n"
         "        STS.L   PR,@-R15\n"
         "        LDS.L   @R15+,PR\n"
         "        RTS\n"
         "        MOV.L   @R15+,R14\n",
         false,
         {{kBase + 4, Data}}},
        {"leaf routines one after another, each with its pool",
         "        SETPC   $6000000\n"
         "        RTS\n"
         "        NOP\n"
         "LEAF1:  MOV.L   @(L1,PC),R1\n"
         "        RTS\n"
         "        MOV.L   @R1,R0\n"
         "        ALIGN.L\n"
         "L1:     DC.L    $6001000\n"
         "LEAF2:  MOV.W   @(L2,PC),R0\n"
         "        RTS\n"
         "        NOP\n"
         "L2:     DC.W    $1234\n",
         true,
         {{kBase + 4, Instruction, Evidence::Leaf},
          {kBase + 0x10, Instruction, Evidence::Leaf},
          {kBase + 0x0C, Literal}}},
        {"data after a return is not taken as code without evidence",
         "        SETPC   $6000000\n"
         "        RTS\n"
         "        NOP\n"
         "        DC.B    \"Hello, world\"\n"
         "        DC.L    $12345678,$9ABCDEF0\n",
         true,
         {{kBase + 4, String}, {kBase + 0x10, Data}}},
        {"a table of code pointers in data makes its entries code",
         "        SETPC   $6000000\n"
         "        RTS\n"
         "        NOP\n"
         "TAB:    DC.L    F1,F2,F3\n"
         "F1:     RTS\n"
         "        MOV     #1,R0\n"
         "F2:     RTS\n"
         "        MOV     #2,R0\n"
         "F3:     RTS\n"
         "        MOV     #3,R0\n",
         true,
         {{kBase + 4, Table, Evidence::Table},
          {kBase + 0x10, Instruction},
          {kBase + 0x18, Instruction}},
         {{kBase + 8, kBase + 0x14, RefKind::Pointer}}},
        // Code found in code nobody here wrote: the idioms of compiled libraries.
        {"a prologue whose saves the scheduler mixed with other moves, its frame made by SUB",
         "        SETPC   $6000000\n"
         "        RTS\n"
         "        NOP\n"
         "        MOV.L   R8,@-R15\n"  // $06000004
         "        MOV     R4,R8\n"
         "        MOV.L   R9,@-R15\n"
         "        STS.L   PR,@-R15\n"
         "        MOV.W   @(SZ,PC),R1\n"
         "        SUB     R1,R15\n"
         "        MOV     R8,R0\n"
         "        ADD     R1,R15\n"
         "        LDS.L   @R15+,PR\n"
         "        MOV.L   @R15+,R9\n"
         "        RTS\n"
         "        MOV.L   @R15+,R8\n"
         "SZ:     DC.W    $100\n",
         true,
         {{kBase + 4, Instruction, Evidence::Prologue}, {kBase + 0x1C, Literal}}},
        {"a gap of whole routines before text: every routine up to the text",
         "        SETPC   $6000000\n"
         "        RTS\n"
         "        NOP\n"
         "        MOV     #1,R0\n"  // $06000004
         "        RTS\n"
         "        NOP\n"
         "        MOV     #2,R0\n"  // $0600000A
         "        RTS\n"
         "        NOP\n"
         "        DC.B    \"plain text, no code\",0\n",  // $06000010
         true,
         {{kBase + 4, Instruction, Evidence::Leaf}, {kBase + 0xA, Instruction, Evidence::Leaf}, {kBase + 0x10, String}}},
        {"a routine that keeps a pool after a BRA inside it",
         "        SETPC   $6000000\n"
         "        RTS\n"
         "        NOP\n"
         "        MOV.L   @(LIT,PC),R1\n"  // $06000004
         "        CMP/EQ  R1,R4\n"
         "        BRA     ON\n"
         "        NOP\n"
         "LIT:    DC.L    $12345678\n"  // $0600000C
         "ON:     MOV     R1,R0\n"      // $06000010
         "        RTS\n"
         "        NOP\n"
         "        DC.B    \"text after the routine\",0\n",
         true,
         {{kBase + 4, Instruction, Evidence::Leaf}, {kBase + 0xC, Literal}, {kBase + 0x10, Instruction}}},
        {"a long of data that holds a function's start is a pointer",
         "        SETPC   $6000000\n"
         "        BSR     FN\n"
         "        NOP\n"
         "        RTS\n"
         "        NOP\n"
         "FN:     RTS\n"  // $06000008
         "        NOP\n"
         "        DC.L    FN\n",  // $0600000C
         true,
         {{kBase + 8, Instruction}},
         {{kBase + 0xC, kBase + 8, RefKind::Pointer}}},
        {"a call that does not return: its caller's literals follow the slot (or fill before them)",
         "        SETPC   $6000000\n"
         "        STS.L   PR,@-R15\n"
         "        MOV.L   @(LD,PC),R8\n"
         "        BSR     SUB\n"
         "        NOP\n"
         "        JSR     @R8\n"
         "        MOV     #1,R4\n"
         "LD:     DC.L    DIE\n"  // $0600000C
         "SUB:    RTS\n"
         "        NOP\n"
         "DIE:    BRA     DIE\n"  // $06000014
         "        NOP\n"
         // No path reaches it: a routine all the same, ended by its call (to a
         // routine outside the image, known only by the literal after the call).
         "GAPF:   STS.L   PR,@-R15\n"  // $06000018
         "        MOV     #2,R4\n"
         "        MOV.L   @(LG,PC),R1\n"
         "        JSR     @R1\n"
         "        MOV     #3,R5\n"
         "        NOP\n"  // $06000022: fill before the literal
         "LG:     DC.L    $6001000\n",
         true,
         {{kBase + 0xC, Literal}, {kBase + 0x10, Instruction, Evidence::Call}, {kBase + 0x18, Instruction, Evidence::Leaf},
          {kBase + 0x24, Literal}},
         {{kBase + 0xC, kBase + 0x14, RefKind::Pointer}, {kBase + 0x1E, 0x6001000, RefKind::Call}},
         {},
         -1,
         {{kBase + 0x14, kBase + 8}}},
        {"unreached routines: one calls a later one by BSR; one saves R4-R7, which reads as text",
         "        SETPC   $6000000\n"
         "        RTS\n"
         "        NOP\n"
         "CALLER: STS.L   PR,@-R15\n"  // $06000004: no path reaches it
         "        BSR     LATER\n"
         "        NOP\n"
         "        LDS.L   @R15+,PR\n"
         "        RTS\n"
         "        NOP\n"
         "        DC.B    \"ok\",0,0\n"  // $06000010: between the two
         "LATER:  MOV.L   @(LIT,PC),R0\n"  // $06000014
         "        RTS\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "LIT:    DC.L    $12345678\n"  // $0600001C
         "TEXTY:  MOV.L   R4,@-R15\n"  // $06000020: "/F/V/f/v"
         "        MOV.L   R5,@-R15\n"
         "        MOV.L   R6,@-R15\n"
         "        MOV.L   R7,@-R15\n"
         "        ADD     R5,R4\n"
         "        MOV.L   @R15+,R7\n"
         "        MOV.L   @R15+,R6\n"
         "        MOV.L   @R15+,R5\n"
         "        RTS\n"
         "        MOV.L   @R15+,R4\n",
         true,
         {{kBase + 4, Instruction}, {kBase + 0x10, Data}, {kBase + 0x14, Instruction, Evidence::Call},
          {kBase + 0x1C, Literal}, {kBase + 0x20, Instruction, Evidence::Prologue}},
         {{kBase + 6, kBase + 0x14, RefKind::Call}}},
        {"a trusted index: no bound; the table, of unknown length, and the code its entries give up to the first case",
         "        SETPC   $6000000\n"
         "        MOVA    @(TAB,PC),R0\n"
         "        ADD     R4,R4\n"
         "        MOV.W   @(R0,R4),R1\n"
         "        BRAF    R1\n"  // entries count from $0600000A
         "        NOP\n"
         "        ALIGN.L\n"
         "TAB:    DC.W    $8,$C,$10\n"  // $0600000C
         "        RTS\n"                // $06000012
         "        MOV     #1,R0\n"
         "        RTS\n"
         "        MOV     #2,R0\n"
         "        RTS\n"  // $0600001A
         "        MOV     #3,R0\n",
         false,
         {{kBase + 0xC, Data, Evidence::Table}, {kBase + 0x12, Instruction, Evidence::SwitchCase},
          {kBase + 0x1A, Instruction, Evidence::SwitchCase}},
         {},
         {},
         1},
        {"a table of call offsets behind BSRF, counted from its return address",
         "        SETPC   $6000000\n"
         "        STS.L   PR,@-R15\n"
         "        MOVA    @(TAB,PC),R0\n"
         "        SHLL    R4\n"
         "        MOV.W   @(R0,R4),R1\n"
         "        BSRF    R1\n"  // returns to $0600000C
         "        NOP\n"
         "        LDS.L   @R15+,PR\n"
         "        RTS\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "TAB:    DC.W    $E,$12\n"  // $06000014
         "        DC.W    $7FFF\n"   // beyond the image: no entry
         "        RTS\n"             // $0600001A
         "        MOV     #1,R0\n"
         "        MOV.L   @R4,R0\n"  // $0600001E
         "        RTS\n"
         "        ADD     #1,R0\n",
         false,
         {{kBase + 0x14, Data, Evidence::Table}, {kBase + 0x1A, Instruction, Evidence::SwitchCase},
          {kBase + 0x1E, Instruction, Evidence::SwitchCase}},
         {},
         {},
         1},
        {"an array of {number, text} rows: the text slot holds pointers, though none stand side by side",
         "        SETPC   $6000000\n"
         "        MOV.L   @(LROWS,PC),R1\n"
         "        SHLL    R4\n"
         "        SHLL2   R4\n"
         "        ADD     R4,R1\n"
         "        RTS\n"
         "        MOV.L   @(4,R1),R0\n"
         "        ALIGN.L\n"
         "LROWS:  DC.L    ROWS\n"  // $0600000C
         "ROWS:   DC.L    1,S1,2,S2,3,S3,4,S4,5,S5\n"  // $06000010
         "S1:     DC.B    \"one\",0\n"  // $06000038
         "S2:     DC.B    \"two!\",0\n"
         "S3:     DC.B    \"three\",0\n"  // $06000041: not aligned
         "S4:     DC.B    \"four\",0\n"
         "S5:     DC.B    \"five\",0\n",
         true,
         {{kBase + 0x3C, String, Evidence::Pointer}, {kBase + 0x47, String, Evidence::Pointer},
          {kBase + 0x4C, String, Evidence::Pointer}},
         {{kBase + 0x14, kBase + 0x38, RefKind::Pointer}, {kBase + 0x24, kBase + 0x41, RefKind::Pointer},
          {kBase + 0x34, kBase + 0x4C, RefKind::Pointer}},
         {{kBase + 0x10, 1, RefKind::Pointer}}},
        {"a bound set before a BT/S, compared again in its slot and before the block",
         "        SETPC   $6000000\n"
         "        MOV     #2,R11\n"
         "        MOV     R4,R1\n"
         "        TST     R5,R5\n"
         "        BT/S    DISP\n"
         "        CMP/HI  R11,R1\n"
         "        ADD     #1,R1\n"
         "        CMP/HI  R11,R1\n"
         "DISP:   BT/S    OUT\n"
         "        MOV     R1,R0\n"
         "        MOVA    @(TAB,PC),R0\n"
         "        ADD     R1,R1\n"
         "        MOV.W   @(R0,R1),R1\n"
         "        BRAF    R1\n"
         "        NOP\n"
         "TAB:    DC.W    $8,$C,$10\n"  // $0600001C, from itself (after BRAF's slot): C0, C1, C2
         "        DC.W    $FFFF\n"                 // not an entry: the bound says three
         "C0:     RTS\n"
         "        MOV     #10,R0\n"
         "C1:     RTS\n"
         "        MOV     #11,R0\n"
         "C2:     RTS\n"
         "        MOV     #12,R0\n"
         "OUT:    RTS\n"
         "        MOV     #0,R0\n",
         false,
         {{kBase + 0x1C, Table, Evidence::Table}, {kBase + 0x22, Data}, {kBase + 0x24, Instruction, Evidence::SwitchCase},
          {kBase + 0x2C, Instruction, Evidence::SwitchCase}},
         {{kBase + 0x1C, kBase + 0x24, RefKind::TableEntry}, {kBase + 0x20, kBase + 0x2C, RefKind::TableEntry}},
         {},
         1},
        {"a call through an address the code computes (shifts of a small number): the callee is code",
         "        SETPC   $6000000\n"
         "        MOV     #6,R1\n"
         "        SHLL8   R1\n"
         "        SHLL16  R1\n"
         "        ADD     #32,R1\n"  // $06000020
         "        JSR     @R1\n"
         "        NOP\n"
         "        RTS\n"
         "        NOP\n"
         "        DC.L    0,0,0,0\n"
         "FUNC:   RTS\n"
         "        NOP\n",
         false,
         {{kBase + 0x20, Instruction, Evidence::Call}, {kBase + 0x10, Data}},
         {{kBase + 8, kBase + 0x20, RefKind::Call}}},
    };
    return c;
}

TEST(Analysis, ModelFactsOfIdioms) {
    for (const Case& c : cases()) {
        SCOPED_TRACE(c.name);
        const Assembled a = assembleText(c.source);
        ASSERT_TRUE(a.result.ok) << a.message();
        const std::vector<std::uint8_t> image = bytesOf(a.bin);
        DisassemblyOptions o;
        o.imageName = "t.bin";
        o.base = kBase;
        o.guess = c.guess;
        const Disassembly d(image, o);
        ASSERT_EQ(d.error(), "");
        const Model& m = d.model();
        for (const At& f : c.facts) {
            SCOPED_TRACE(f.address);
            EXPECT_EQ(m.kindAt(f.address), f.kind);
            if (f.why) {
                EXPECT_EQ(m.labelAt(f.address), f.why);
            }
        }
        for (const Reference& r : c.refs) {
            const auto from = m.referencesFrom(r.from);
            EXPECT_TRUE(std::any_of(from.begin(), from.end(), [&](const Reference& x) {
                return x.to == r.to && x.kind == r.kind;
            })) << "no reference from " << std::hex << r.from << " to " << r.to;
        }
        for (const Reference& r : c.noRefs) {
            const auto from = m.referencesFrom(r.from);
            EXPECT_FALSE(std::any_of(from.begin(), from.end(), [&](const Reference& x) {
                return x.to == r.to && x.kind == r.kind;
            })) << "a reference from " << std::hex << r.from << " to " << r.to;
        }
        if (c.tables >= 0) {
            EXPECT_EQ(static_cast<int>(m.tables().size()), c.tables);
        }
        for (const Function& f : m.functions()) {
            const auto it = std::find_if(c.noReturn.begin(), c.noReturn.end(),
                                         [&](const auto& n) { return n.first == f.start; });
            EXPECT_EQ(f.noReturn, it == c.noReturn.end() ? std::nullopt : std::optional<std::uint32_t>(it->second))
                << "function at " << std::hex << f.start;
        }
        // Whatever was found, the source rebuilds the image.
        MemoryOutput out;
        ASSERT_TRUE(d.write(out));
        const Assembled back = assembleText(out.files.at("t.bin.s"));
        ASSERT_TRUE(back.result.ok) << back.message() << "\n" << out.files.at("t.bin.s");
        EXPECT_EQ(back.bin, a.bin) << out.files.at("t.bin.s");
    }
}

TEST(Analysis, SwitchTableFacts) {
    const Assembled a = assembleText(cases()[5].source);  // the byte switch table
    const std::vector<std::uint8_t> image = bytesOf(a.bin);
    DisassemblyOptions o;
    o.imageName = "t.bin";
    o.base = kBase;
    const Disassembly d(image, o);
    const korvane::Table* t = d.model().tableAt(kBase + 0x10);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->count, 4u);
    EXPECT_EQ(t->width, 1u);
    EXPECT_TRUE(t->relative);
    EXPECT_EQ(t->base, kBase + 0x0E);
    EXPECT_EQ(t->jump, kBase + 0x0A);
    EXPECT_EQ(t->targets, (std::vector<std::uint32_t>{kBase + 0x14, kBase + 0x18, kBase + 0x1C, kBase + 0x20}));
    // Each entry's comment names its target and base.
    MemoryOutput out;
    ASSERT_TRUE(d.write(out));
    EXPECT_NE(out.files.at("t.bin.s").find("DC.B    $A                  ; 06000011 0A -> L06000018 (from L0600000E)"),
              std::string::npos)
        << out.files.at("t.bin.s");
}

TEST(Analysis, FunctionsAndCallers) {
    const Assembled a = assembleText(
        "        SETPC   $6000000\n"
        "        STS.L   PR,@-R15\n"
        "        BSR     F1\n"
        "        NOP\n"
        "        BSR     F1\n"
        "        NOP\n"
        "        LDS.L   @R15+,PR\n"
        "        RTS\n"
        "        NOP\n"
        "F1:     RTS\n"
        "        NOP\n");
    const std::vector<std::uint8_t> image = bytesOf(a.bin);
    DisassemblyOptions o;
    o.imageName = "t.bin";
    o.base = kBase;
    const Disassembly d(image, o);
    const std::vector<Function> f = d.model().functions();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].start, kBase);
    EXPECT_EQ(f[0].why, Evidence::Entry);
    EXPECT_EQ(f[0].end, kBase + 0x10);
    EXPECT_EQ(f[1].start, kBase + 0x10);
    EXPECT_EQ(f[1].why, Evidence::Call);
    EXPECT_EQ(f[1].callers, (std::vector<std::uint32_t>{kBase + 2, kBase + 6}));
}

// Tables of code pointers behind an indexed load whose value is jumped or called
// through: the entries are labels (an edit moves them with their handlers), the targets
// code; without a bound, as many entries as point at code, and the table is open.
TEST(Analysis, CodePointerTablesBehindCalls) {
    const std::string handlers =
        "        ALIGN.L\n"
        "H1:     MOV.L   @(V1,PC),R0\n"  // the second handler branches here: known
        "        RTS\n"                  // only once the first is code
        "        ADD     #1,R0\n"
        "        ALIGN.L\n"
        "V1:     DC.L    $600\n"
        "H2:     BRA     H1\n"
        "        ADD     #2,R0\n";
    struct TableCase {
        const char* name;
        std::string dispatch;  // from $06000000; TAB names the table, HS the handlers
        std::uint32_t count;   // entries found (0: no table)
        bool open, called;
    };
    const std::vector<TableCase> cases = {
        {"a call, the index scaled by SHLL2",
         "        STS.L   PR,@-R15\n        MOV.L   @(TP,PC),R1\n        MOV     R4,R0\n        SHLL2   R0\n"
         "        MOV.L   @(R0,R1),R0\n        JSR     @R0\n        NOP\n        LDS.L   @R15+,PR\n"
         "        RTS\n        NOP\n",
         2, true, true},
        {"a tail call through a copy of the entry",
         "        MOV.L   @(TP,PC),R1\n        MOV     R4,R0\n        SHLL2   R0\n        MOV.L   @(R0,R1),R2\n"
         "        MOV     R2,R3\n        JMP     @R3\n        MOV     R5,R4\n",
         2, true, false},
        {"the table's address in R0 by MOVA, bounded by a check",
         "        MOV     #2,R1\n        CMP/HS  R1,R4\n        BT      OUT\n        SHLL2   R4\n"
         "        MOVA    @(TAB,PC),R0\n        MOV.L   @(R0,R4),R2\n        JMP     @R2\n        NOP\n"
         "OUT:    RTS\n        NOP\n",
         2, false, false},
        {"small numbers are not code pointers",
         "        MOV.L   @(TQ,PC),R1\n        MOV     R4,R0\n        SHLL2   R0\n        MOV.L   @(R0,R1),R0\n"
         "        JMP     @R0\n        NOP\n",
         0, false, false},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string program = "        SETPC   $6000000\n" + c.dispatch +
                                    "        ALIGN.L\n"
                                    "TP:     DC.L    TAB\n" +
                                    (c.dispatch.find("TQ") != std::string::npos ? "TQ:     DC.L    SMALL\n" : "") +
                                    "TAB:    DC.L    H1,H2\n"
                                    "        DC.B    \"text\",0\n" +
                                    handlers +
                                    "        ALIGN.L\n"
                                    "SMALL:  DC.L    $B,$D\n";
        const Disassembled d = assembleAndDisassemble(program, unguessedAt06000000("t.bin"));
        const Assembled a = assembleText(program + "        DC.L    TAB,H1\n");
        ASSERT_TRUE(a.result.ok) << a.message();
        const std::uint32_t tab = bigEndian(a.bin, static_cast<std::uint32_t>(a.bin.size()) - 8, 4);
        const std::uint32_t h1 = bigEndian(a.bin, static_cast<std::uint32_t>(a.bin.size()) - 4, 4);
        const korvane::Table* t = d.model().tableAt(tab);
        if (c.count == 0) {
            EXPECT_EQ(t, nullptr);
            EXPECT_NE(d.model().kindAt(kBase + static_cast<std::uint32_t>(a.bin.size()) - 16), ItemKind::Instruction);
            continue;
        }
        ASSERT_NE(t, nullptr) << d.source();
        EXPECT_EQ(t->count, c.count);
        EXPECT_EQ(t->open, c.open);
        EXPECT_EQ(t->pointers, c.open || c.called);  // a bounded jump is a switch
        EXPECT_EQ(t->targets, (std::vector<std::uint32_t>{h1, h1 + 0xC}));
        for (const std::uint32_t target : t->targets) {
            EXPECT_EQ(d.model().kindAt(target), ItemKind::Instruction);
            EXPECT_EQ(d.model().referencesTo(target).empty(), false);
        }
        const std::vector<Function> f = d.model().functions();
        EXPECT_EQ(std::any_of(f.begin(), f.end(), [&](const Function& x) { return x.start == h1 + 0xC; }), c.called);
        // Two NOPs in the first handler: the entries follow it, and nothing is said.
        std::string edited = d.source();
        char h1Label[16];
        std::snprintf(h1Label, sizeof h1Label, "\nL%08X:", h1);
        const std::size_t at = edited.find(h1Label);
        ASSERT_NE(at, std::string::npos) << edited;
        edited.insert(edited.find('\n', at + 1) + 1, "            NOP\n            NOP\n");
        MemoryIncludes none;
        const CheckReport report = checkSource(edited, "t.bin.s", none, true);
        EXPECT_TRUE(report.holds && report.messages.empty()) << report.messages[0];
        EXPECT_FALSE(report.rewritten);
        const Assembled back = assembleText(edited);
        ASSERT_TRUE(back.result.ok) << back.message();
        EXPECT_EQ(bigEndian(back.bin, tab - kBase, 4), h1) << edited;
        EXPECT_EQ(bigEndian(back.bin, tab - kBase + 4, 4), h1 + 0xC + 4) << edited;
    }
}

// Register names: the SH7604's own block, and the 32X's only when asked for.

// An edit that moves code by 2 bytes (one NOP) before literal pools: the ALIGN.L the
// disassembler writes before each pool keeps it 4-aligned, so the source still
// assembles and every PC-relative load reads the value it read before.
TEST(Analysis, PoolsStayAlignedWhenCodeMovesByTwo) {
    MemoryIncludes includes;
    includes.files["prhex.inc"] = readFile(std::string(KORVANE_TEST_DATA) + "/programs/prhex.inc");
    const std::string data = KORVANE_TEST_DATA;
    int edits = 0;
    int aligns = 0;
    for (const std::string& path : {data + "/../../examples/demo.s", data + "/programs/fib.s",
                                   data + "/programs/sort.s", data + "/programs/reverse.s"}) {
        SCOPED_TRACE(path);
        // The test programs end with PRHEX, appended from prhex.inc.
        const std::string text = readFile(path);
        const bool appended = path.find("/programs/") != std::string::npos && text.find("PRHEX") != std::string::npos;
        const Assembled a = assembleText(text + (appended ? includes.files["prhex.inc"] : ""));
        ASSERT_TRUE(a.result.ok) << a.message();
        const std::vector<std::uint8_t> image(a.bin.begin(), a.bin.end());
        DisassemblyOptions o;
        o.imageName = "p.bin";
        o.base = 0x400000;
        const Disassembly d(image, o);
        MemoryOutput out;
        ASSERT_TRUE(d.write(out));
        const std::string source = out.files.at("p.bin.s");
        const Assembled same = assembleText(source);
        ASSERT_EQ(same.bin, a.bin);
        // The PC-relative loads, and where each reads.
        std::vector<std::uint32_t> loads, places;
        for (std::uint32_t off = 0; off + 1 < image.size(); off += 2) {
            const auto item = d.model().itemAt(o.base + off);
            if (!item || item->kind != ItemKind::Instruction || item->address != o.base + off ||
                d.model().inDelaySlot(o.base + off))
                continue;
            places.push_back(off);
            const auto w = sh2::decode(static_cast<std::uint16_t>(bigEndian(a.bin, off, 2)));
            if (w && (w->form->reach == sh2::Reach::PcLong || w->form->reach == sh2::Reach::PcWord) &&
                w->form->args[1] != sh2::Arg::R0)
                loads.push_back(off);
        }
        aligns += source.find("ALIGN.L") != std::string::npos;
        // One NOP before each of several instructions that are not in a delay slot.
        for (std::size_t k = 0; k < places.size(); k += 3) {
            const std::uint32_t at = places[k];
            char mark[16];
            std::snprintf(mark, sizeof mark, "; %08X ", o.base + at);
            const std::size_t pos = source.find(mark);
            ASSERT_NE(pos, std::string::npos);
            std::string edited = source;
            edited.insert(source.rfind('\n', pos) + 1, "            NOP\n");
            const Assembled e = assembleText(edited);
            ASSERT_TRUE(e.result.ok) << e.message();
            for (const std::uint32_t load : loads) {
                const std::uint32_t now = load >= at ? load + 2 : load;
                const auto before = *sh2::decode(static_cast<std::uint16_t>(bigEndian(a.bin, load, 2)));
                const auto after = *sh2::decode(static_cast<std::uint16_t>(bigEndian(e.bin, now, 2)));
                const unsigned width = before.form->reach == sh2::Reach::PcLong ? 4 : 2;
                const std::uint32_t was = sh2::targetOf(*before.form, before.fields, o.base + load) - o.base;
                const std::uint32_t is = sh2::targetOf(*after.form, after.fields, o.base + now) - o.base;
                EXPECT_EQ(is % width, 0u);
                // A pointer (written as its label) moves with what it names: not compared.
                const auto refs = d.model().referencesFrom(o.base + was);
                if (std::any_of(refs.begin(), refs.end(), [](const Reference& r) { return r.kind == RefKind::Pointer; }))
                    continue;
                EXPECT_EQ(bigEndian(e.bin, is, width), bigEndian(a.bin, was, width))
                    << "load at " << std::hex << load << " after a NOP at " << at;
            }
            ++edits;
        }
    }
    EXPECT_GT(edits, 8);
    EXPECT_GE(aligns, 2);
}


}  // namespace
}  // namespace korvane::test
