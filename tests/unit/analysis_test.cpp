// What the disassembler finds, asked of its model: images assembled from small sources
// in the idioms of compiled and hand-written SH-2 code, each with the facts the
// analysis must report (what is at an address, why it has a label, the tables, the
// references) and the round trip of the source it writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
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
         // (The literal still points at data in the image: a pointer, but not to code.)
         {{kBase + 0x14, Literal}, {kBase + 0x18, Data, Evidence::Pointer}},
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

// Register names: the SH7604's own block, and the 32X's only when asked for.
TEST(Analysis, RegisterNames) {
    const std::vector<std::pair<std::uint32_t, std::string_view>> plain = {
        {0xFFFFFF00, "DVSR"}, {0xFFFFFE92, "CCR"},   {0xFFFFFFE0, "BCR1"}, {0xFFFFFF8C, "CHCR0"},
        {0xFFFFFEE2, "IPRA"}, {0xFFFFFE10, "TIER"},  {0xFFFFFF01, ""},     {0x20004020, ""}};
    for (const auto& [a, name] : plain) EXPECT_EQ(registerName(a, false), name) << std::hex << a;
    EXPECT_EQ(registerName(0x20004020, true), "32X COMM0");
    EXPECT_EQ(registerName(0x00004000, true), "32X interrupt mask");
    EXPECT_EQ(registerName(0x06004000, true), "");
}

// A 32X ROM made the way homebrew builds lay it out: 68000 vectors and the Mega Drive
// header, the 32X header at $3C0, 68000 code, then the SH-2 code that the header says
// runs in SDRAM (here from ROM offset $800 at $06000000, VBR $06000000, entries at
// $06000200 and $06000210).
TEST(Analysis, ThirtyTwoXRom) {
    std::string sh2 =
        "        SETPC   $6000000\n"
        "VBR:    DC.L    MASTER,$6040000,MASTER,$6040000\n"
        "        DC.L    FAULT,FAULT\n"
        "        ORG     $6000200\n"
        "MASTER: MOV.L   @(LSYS,PC),R1\n"
        "        MOV.W   @R1,R0\n"
        "        BRA     MASTER\n"
        "        NOP\n"
        "        ORG     $6000210\n"
        "SLAVE:  BRA     SLAVE\n"
        "        NOP\n"
        "FAULT:  RTE\n"
        "        NOP\n"
        "        ALIGN.L\n"
        "LSYS:   DC.L    $20004020\n";
    const Assembled code = assembleText(sh2);
    ASSERT_TRUE(code.result.ok) << code.message();
    std::string rom(0x800, '\0');
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) rom[at + i] = static_cast<char>(v >> (24 - 8 * i));
    };
    put32(0, 0x01000000);
    put32(4, 0x3F0);
    rom.replace(0x100, 8, "SEGA 32X");
    rom.replace(0x3C0, 16, "KORVANE TEST    ");
    put32(0x3D0, 1);
    put32(0x3D4, 0x800);
    put32(0x3D8, 0);
    put32(0x3DC, static_cast<std::uint32_t>(code.bin.size()));
    put32(0x3E0, 0x06000200);
    put32(0x3E4, 0x06000210);
    put32(0x3E8, 0x06000000);
    put32(0x3EC, 0x06000000);
    rom += code.bin;
    const std::vector<std::uint8_t> image = bytesOf(rom);
    DisassemblyOptions o;
    o.imageName = "rom.32x";
    ASSERT_EQ(applyFormat(ImageFormat::ThirtyTwoX, image, {}, false, o), "");
    EXPECT_EQ(o.base, 0x02000000u);
    EXPECT_TRUE(o.thirtyTwoX);
    const Disassembly d(image, o);
    ASSERT_EQ(d.error(), "");
    const Model& m = d.model();
    EXPECT_EQ(m.kindAt(0x06000200), Instruction);
    EXPECT_EQ(m.labelAt(0x06000200), Evidence::Entry);
    EXPECT_EQ(m.kindAt(0x06000210), Instruction);
    EXPECT_EQ(m.kindAt(0x06000214), Instruction);  // the vectors name the fault handler
    EXPECT_EQ(m.kindAt(0x020003F0), Data);          // 68000 code is data to the SH-2
    EXPECT_EQ(m.kindAt(0x02000800), std::nullopt);  // the SH-2 code sits at its SDRAM address
    MemoryOutput out;
    ASSERT_TRUE(d.write(out));
    const std::string& s = out.files.at("rom.32x.s");
    EXPECT_NE(s.find("; 32X COMM0"), std::string::npos) << s;
    EXPECT_NE(s.find("SETPC   $06000000"), std::string::npos);
    const Assembled back = assembleText(s);
    ASSERT_TRUE(back.result.ok) << back.message();
    EXPECT_EQ(back.bin, rom);

    // A header that does not hold is refused.
    std::vector<std::uint8_t> bad = image;
    bad[0x3DC] = 0x7F;
    DisassemblyOptions o2;
    EXPECT_NE(applyFormat(ImageFormat::ThirtyTwoX, bad, {}, false, o2), "");
}

TEST(Analysis, SaturnProgramAndIpBin) {
    const std::vector<std::uint8_t> program(64, 0x09);
    DisassemblyOptions o;
    ASSERT_EQ(applyFormat(ImageFormat::Saturn, program, {}, false, o), "");
    EXPECT_EQ(o.base, 0x06004000u);
    EXPECT_EQ(o.entries, (std::vector<std::uint32_t>{0x06004000}));
    std::vector<std::uint8_t> ip(256, ' ');
    const std::string id = "SEGA SEGASATURN ";
    std::copy(id.begin(), id.end(), ip.begin());
    const std::uint8_t first[8] = {0x06, 0x01, 0x00, 0x00, 0, 0, 0, 64};
    std::copy(first, first + 8, ip.begin() + 0xF0);
    DisassemblyOptions withIp;
    ASSERT_EQ(applyFormat(ImageFormat::Saturn, program, ip, false, withIp), "");
    EXPECT_EQ(withIp.base, 0x06010000u);
    DisassemblyOptions wrongSize;
    ip[0xF7] = 65;
    EXPECT_NE(applyFormat(ImageFormat::Saturn, program, ip, false, wrongSize), "");
    DisassemblyOptions ipAsImage;
    EXPECT_NE(applyFormat(ImageFormat::Saturn, ip, {}, false, ipAsImage), "");
}

TEST(Analysis, VectorTableEntries) {
    const Assembled a = assembleText(
        "        SETPC   $6000000\n"
        "        DC.L    RESET,$6040000,RESET,$6040000\n"
        "        DC.L    BAD,0,BAD\n"
        "        DC.L    $FFFFFFFF\n"  // not a code address: the table ends
        "RESET:  BRA     RESET\n"
        "        NOP\n"
        "BAD:    RTE\n"
        "        NOP\n");
    ASSERT_TRUE(a.result.ok) << a.message();
    const std::vector<std::uint8_t> image = bytesOf(a.bin);
    DisassemblyOptions o;
    o.imageName = "v.bin";
    o.base = kBase;
    o.vectors = {kBase};
    o.guess = false;
    const Disassembly d(image, o);
    ASSERT_EQ(d.error(), "");
    EXPECT_EQ(d.model().kindAt(kBase + 0x20), Instruction);
    EXPECT_EQ(d.model().labelAt(kBase + 0x20), Evidence::Vector);
    EXPECT_EQ(d.model().kindAt(kBase + 0x24), Instruction);
    EXPECT_EQ(d.model().kindAt(kBase + 4), Data);  // a stack pointer stays a number
}

}  // namespace
}  // namespace korvane::test

namespace korvane::test {
namespace {

std::string readFile(const std::string& path) {
    std::ifstream f(path);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

std::uint32_t bigEndian(const std::string& b, std::uint32_t at, unsigned width) {
    std::uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i) v = v << 8 | static_cast<unsigned char>(b[at + i]);
    return v;
}

// An image read from $06000000 with no guessing.
DisassemblyOptions unguessedAt06000000(const char* imageName) {
    DisassemblyOptions o;
    o.imageName = imageName;
    o.base = 0x06000000;
    o.guess = false;
    return o;
}

// The source korvane-dis writes for a program assembled here, read as above.
std::string disassembled(const std::string& program) {
    const Assembled a = assembleText(program);
    EXPECT_TRUE(a.result.ok) << a.message();
    const std::vector<std::uint8_t> image(a.bin.begin(), a.bin.end());
    const Disassembly d(image, unguessedAt06000000("t.bin"));
    MemoryOutput out;
    EXPECT_TRUE(d.write(out));
    return out.files["t.bin.s"];
}

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

namespace korvane::test {
namespace {

// A BRAF's offset in a literal is written with what it reaches; a check of an edit
// that moves the target works it out again and rewrites it.
// A BRAF/BSRF offset kept in a literal counts from the end of the branch's delay slot,
// wherever code is inserted: before the target, or between the slot and the label that
// stood at the base.
TEST(Analysis, BrafOffsetsFollowAnEdit) {
    struct Edit {
        const char* program;
        const char* note;       // what the disassembler writes beside the literal
        const char* before;     // two NOPs go before this
        const char* message;    // what --check --write says
        std::uint32_t literal;  // where the offset is after the edit, and its width
        unsigned width;
        std::uint32_t base;     // the end of the slot after the edit
    };
    const Edit cases[] = {
        {"        SETPC   $6000000\n"
         "        MOV.W   @(LOFF,PC),R1\n"
         "        BRAF    R1\n"  // to $06000006 + $1A = $06000020
         "        NOP\n"
         "LOFF:   DC.W    $1A\n"
         "        ORG     $6000020\n"
         "        RTS\n"
         "        MOV     #7,R0\n",
         "-> L06000020 (from B06000006 for BRAF)", "L06000020:",
         "b.s:11: rewrote BRAF offset $1A as $1E (L06000020 - B06000006)", 6, 2, 6},
        {"        SETPC   $6000000\n"
         "        MOV.L   @(LOFF,PC),R1\n"
         "        BSRF    R1\n"  // to $06000006 + $1A = $06000020
         "        NOP\n"
         "        RTS\n"
         "        NOP\n"
         "        ALIGN.L\n"
         "LOFF:   DC.L    $1A\n"
         "        ORG     $6000020\n"
         "        RTS\n"
         "        MOV     #7,R0\n",
         "-> L06000020 (from L06000006 for BSRF)", "L06000006:",
         "b.s:15: rewrote BSRF offset $1A as $1E (L06000020 - $06000006, the end of the BSRF's delay slot)", 0x10,
         4, 6},
    };
    for (const Edit& c : cases) {
        std::string source = disassembled(c.program);
        ASSERT_NE(source.find(c.note), std::string::npos) << source;
        source.insert(source.find(c.before), "            NOP\n            NOP\n");
        MemoryIncludes none;
        const CheckReport report = checkSource(source, "b.s", none, true);
        ASSERT_TRUE(report.rewritten) << source;
        EXPECT_TRUE(report.holds);
        ASSERT_FALSE(report.messages.empty());
        EXPECT_EQ(report.messages[0], c.message);
        const Assembled back = assembleText(report.text);
        ASSERT_TRUE(back.result.ok) << back.message();
        const std::uint32_t offset = bigEndian(back.bin, c.literal, c.width);
        EXPECT_EQ(back.bin.substr(c.base + offset, 2), std::string("\x00\x0B", 2)) << report.text;  // the RTS
    }
}

}  // namespace
}  // namespace korvane::test

namespace korvane::test {
namespace {

// What the assembler would refuse after an edit, each with its reason and line.
TEST(Analysis, CheckExplainsEveryReferenceOutOfReach) {
    const std::string program =
        "        SETPC   $6000000\n"
        "        BT      FAR\n"              // line 2
        "        MOV.L   @(LIT,PC),R1\n"     // line 3
        "        BRA     FAR\n"              // line 4
        "        NOP\n"
        + repeat("        NOP\n", 600) +      // lines 6-605: the edit
        "FAR:    RTS\n"
        "        NOP\n"
        "        ALIGN.L\n"
        "LIT:    DC.L    $12345678\n"
        "        MOVA    @(ODD,PC),R0\n"
        "        RTS\n"
        "        NOP\n"
        "ODD:    DC.B    1\n";
    MemoryIncludes none;
    const CheckReport report = checkSource(program, "p.s", none, true);
    EXPECT_FALSE(report.holds);
    EXPECT_FALSE(report.rewritten);
    const std::vector<std::string> expected = {
        "p.s:2: BT can no longer reach FAR: 950 bytes beyond its reach of 254 forward",
        "p.s:3: MOV.L can no longer reach LIT: 188 bytes beyond its reach of 1020 forward"};
    ASSERT_GE(report.messages.size(), 2u);
    EXPECT_EQ(report.messages[0], expected[0]);
    EXPECT_EQ(report.messages[1], expected[1]);
    // The other statement that no longer holds is named too (MOVA of an odd address is
    // refused by the assembler whatever the edit).
    bool odd = false;
    for (const std::string& m : report.messages) odd = odd || m.find("MOVA can no longer reach ODD") != std::string::npos;
    EXPECT_TRUE(odd);

    // Fifty at once, one in column 0, beyond an ORG of 16 MiB: each explained.
    std::string many = "BRA     FAR\n" + repeat("        BSR     FAR\n", 49) +
                       "        ORG     $1000000\nFAR:    RTS\n        NOP\n";
    const CheckReport all = checkSource(many, "m.s", none, false);
    ASSERT_EQ(all.messages.size(), 50u);
    EXPECT_EQ(all.messages[0], "m.s:1: BRA can no longer reach FAR: 16773118 bytes beyond its reach of 4094 forward");
    EXPECT_EQ(all.messages[49], "m.s:50: BSR can no longer reach FAR: 16773020 bytes beyond its reach of 4094 forward");
}

}  // namespace
}  // namespace korvane::test

namespace korvane::test {
namespace {

TEST(Analysis, InfoFileStatementsAndErrors) {
    DisassemblyOptions o;
    const std::vector<std::string> errors = readInfo(
        "# names for the example\n"
        "label $6000010 MAIN the program\n"
        "entry $6000040\n"
        "code $6000050-$6000060\n"
        "data $6000070-$6000080 longs\n"
        "table $6000090 4 1 relative $600008E\n"
        "comment $6000010 starts here\n"
        "const $60000A0\n"
        "label $6000020 R3\n"
        "label $6000020\n"
        "frobnicate 1\n"
        "table $6000000 2 3\n"
        "data $10-$8\n"
        "label $6000030 MAIN\n",
        "i.info", o);
    EXPECT_EQ(errors, (std::vector<std::string>{
                          "i.info:9: the name R3 cannot be a label: 2 to 20 of A-Z, 0-9 and _, not a register, not starting with a digit",
                          "i.info:10: label needs an address and a name",
                          "i.info:11: unknown statement frobnicate (label, entry, code, data, table, comment, const)",
                          "i.info:12: table needs ADDR COUNT WIDTH (1, 2 or 4) [relative BASE]",
                          "i.info:13: data needs a range A-B",
                          "i.info:14: the name MAIN is already the label of another address"}));
    ASSERT_EQ(o.names.size(), 1u);
    EXPECT_EQ(o.names[0].name, "MAIN");
    EXPECT_EQ(o.names[0].comment, "the program");
    EXPECT_EQ(o.entries, (std::vector<std::uint32_t>{0x6000040}));
    ASSERT_EQ(o.tables.size(), 1u);
    EXPECT_TRUE(o.tables[0].relative);
    EXPECT_EQ(o.tables[0].base, 0x600008Eu);
    EXPECT_EQ(o.constants, (std::vector<std::uint32_t>{0x60000A0}));
}

TEST(Analysis, SymbolsFromOtherTools) {
    DisassemblyOptions o;
    const std::vector<std::string> errors = readSymbols(
        "06000010 T _main\n"
        "MY_LOOP = $6000014\n"
        "$6000018 helper\n"
        "0600001c t a_rather_long_function_name_indeed\n"
        "06000020 T _Main\n"  // becomes _MAIN as well
        "not a symbol line at all\n",
        "s.sym", o);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "s.sym:5: _Main and _main (line 1) both become the label _MAIN");
    EXPECT_EQ(errors[1].substr(0, 21), "s.sym:6: not a symbol");
    ASSERT_EQ(o.names.size(), 4u);
    EXPECT_EQ(o.names[0].name, "_MAIN");
    EXPECT_EQ(o.names[0].comment, "is _main");
    EXPECT_EQ(o.names[1].name, "MY_LOOP");
    EXPECT_EQ(o.names[1].comment, "");
    EXPECT_EQ(o.names[2].name, "HELPER");
    EXPECT_EQ(o.names[3].name.size(), 20u);
    EXPECT_EQ(o.names[3].name.substr(0, 16), "A_RATHER_LONG_F_");
}

// Names stand for the labels everywhere; a constant stays a number; a declared table's
// entries become code; and what a run found, written as an info file and given back,
// makes the same source.
TEST(Analysis, NamesConstantsTablesAndInfoOut) {
    const Assembled a = assembleText(
        "        SETPC   $6000000\n"
        "        BSR     SUB\n"
        "        NOP\n"
        "        MOV.L   @(LP,PC),R1\n"
        "        MOV.L   @(LC,PC),R2\n"
        "        MOVA    @(TAB,PC),R0\n"
        "        RTS\n"
        "        NOP\n"
        "        ALIGN.L\n"
        "LP:     DC.L    SUB\n"
        "LC:     DC.L    DATA\n"
        "TAB:    DC.B    $4,$8,0,0\n"  // offsets from TAB: $0600001C (SUB), $06000020
        "SUB:    RTS\n"
        "        NOP\n"
        "        RTS\n"
        "        MOV     #1,R0\n"
        "        RTS\n"
        "        MOV     #2,R0\n"
        "DATA:   DC.L    $12345678\n"
        "STR:    DC.B    \"AB\",0,\"C\",0,0\n"  // $0600002C
        "WRD:    DC.W    1,2,3\n"              // $06000032
        "PTRS:   DC.L    SUB,5,STR\n");        // $06000038
    ASSERT_TRUE(a.result.ok) << a.message();
    const std::vector<std::uint8_t> image(a.bin.begin(), a.bin.end());
    DisassemblyOptions o = unguessedAt06000000("n.bin");
    ASSERT_TRUE(readInfo("label $600001C WORKER the subroutine\n"
                         "table $6000018 2 1 relative $6000018\n"
                         "const $6000014\n"
                         "comment $6000000 the entry\n"
                         "data $600002C-$6000032 strings\n"
                         "data $6000032-$6000038 words\n"
                         "data $6000038-$6000044 pointers\n",
                         "n.info", o)
                    .empty());
    const Disassembly d(image, o);
    ASSERT_EQ(d.error(), "");
    MemoryOutput out;
    ASSERT_TRUE(d.write(out));
    const std::string& s = out.files.at("n.bin.s");
    EXPECT_NE(s.find("BSR     WORKER"), std::string::npos) << s;
    EXPECT_NE(s.find("; WORKER: the subroutine\nWORKER:"), std::string::npos) << s;
    EXPECT_NE(s.find("; the entry\n"), std::string::npos) << s;
    EXPECT_NE(s.find("DC.L    $6000028            ; 06000014 06000028 ; const"), std::string::npos) << s;
    // The table counts from itself (MOVA's R0): its own label, after the ALIGN.
    EXPECT_NE(s.find("-> WORKER (from L06000018)"), std::string::npos) << s;
    EXPECT_NE(s.find("-> L06000020 (from L06000018)"), std::string::npos) << s;
    EXPECT_EQ(s.find("B06000018"), std::string::npos) << s;
    // Data as the user declared it.
    for (const char* line : {"L0600002C:  DC.B    \"AB\"", "DC.B    \"C\"", "DC.W    $1,$2,$3", "DC.L    WORKER",
                             "DC.L    $5", "DC.L    L0600002C"})
        EXPECT_NE(s.find(line), std::string::npos) << line << "\n" << s;
    EXPECT_EQ(d.model().kindAt(0x06000020), ItemKind::Instruction);
    EXPECT_EQ(d.model().labelAt(0x06000028), std::nullopt);  // only a constant names it
    const Assembled back = assembleText(s);
    ASSERT_TRUE(back.result.ok) << back.message();
    EXPECT_EQ(back.bin, a.bin);

    DisassemblyOptions again;
    again.imageName = "n.bin";
    again.base = 0x06000000;
    again.guess = false;
    const std::string info = infoOf(d, o);
    ASSERT_TRUE(readInfo(info, "out.info", again).empty()) << info;
    const Disassembly d2(image, again);
    MemoryOutput out2;
    ASSERT_TRUE(d2.write(out2));
    EXPECT_EQ(out2.files.at("n.bin.s"), s) << info;
}

}  // namespace
}  // namespace korvane::test

namespace korvane::test {
namespace {

// A load in the slot of BT/S reads one literal when the branch is taken (from its
// target) and another when not (from its own place): one word must serve both.
TEST(Analysis, CheckOfALoadInAConditionalSlot) {
    const std::string source = disassembled(
        "        SETPC   $6000000\n"
        "        CMP/EQ  R4,R5\n"
        "        BT/S    TGT\n"
        "        DC.W    $D101\n"  // MOV.L @(4,PC),R1: $0600000C not taken, $06000014 taken
        "        RTS\n"
        "        NOP\n"
        "        NOP\n"
        "        DC.L    $11111111\n"
        "TGT:    RTS\n"
        "        NOP\n"
        "        DC.L    $22222222\n"
        "        DC.L    $33333333\n");
    ASSERT_NE(source.find("reads L06000014 taken, L0600000C not taken"), std::string::npos) << source;
    struct Edit {
        std::vector<const char*> before;  // two NOPs before the statement that stood here
        const char* message;              // "" when it holds as it is
        unsigned word;                    // the slot's word after --write
    };
    const Edit edits[] = {
        {{"; 06000010"}, "", 0xD101},  // both literals move with what they are counted from
        {{"; 06000006"}, "c.s:8: the load in the delay slot can no longer read both L06000014 (taken, "
                         "displacement 1) and L0600000C (not taken, displacement 2)", 0xD101},
        {{"; 06000006", "; 06000014"},
         "c.s:8: rewrote the load in the delay slot $D101 as $D102 (reads L06000014 from L06000010 + 2)", 0xD102},
    };
    for (const Edit& e : edits) {
        std::string edited = source;
        for (const char* at : e.before) {
            const std::size_t line = edited.rfind('\n', edited.find(at)) + 1;
            edited.insert(line, "            NOP\n            NOP\n");
        }
        MemoryIncludes none;
        const CheckReport report = checkSource(edited, "c.s", none, true);
        if (*e.message == '\0') {
            EXPECT_TRUE(report.holds);
            EXPECT_TRUE(report.messages.empty()) << report.messages[0];
            continue;
        }
        ASSERT_FALSE(report.messages.empty()) << edited;
        EXPECT_EQ(report.messages[0], e.message) << edited;
        EXPECT_EQ(report.holds, report.rewritten);
        const Assembled back = assembleText(report.rewritten ? report.text : edited);
        ASSERT_TRUE(back.result.ok) << back.message();
        EXPECT_EQ(bigEndian(back.bin, 4, 2), e.word);
    }
}

}  // namespace
}  // namespace korvane::test
