// Every fact of the model with its evidence: why an address has a label (and which
// instruction or item said so), why it is code, a function, in a table, a pointer, or
// a number that stays a number.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "korvane/disassemble.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

constexpr std::uint32_t kBase = 0x06000000;

// One program with an instance of each kind of fact.
const char* const kProgram =
    "        SETPC   $6000000\n"
    "START:  MOV.L   @(PFUNC,PC),R1\n"   // $00: a literal jumped through
    "        MOV.L   @(PDATA,PC),R2\n"   // $02: a literal used as an address
    "        MOV.L   @(NUM,PC),R3\n"     // $04: a literal that stays a number
    "        MOV.L   @R2,R4\n"           // $06: R2 used as an address
    "        JSR     @R1\n"              // $08
    "        NOP\n"
    "        BSR     SUB\n"              // $0C: a call
    "        NOP\n"
    "        MOV     #1,R1\n"            // $10: a switch on R4, an argument
    "        CMP/HI  R1,R4\n"
    "        BT      OUT\n"              // $14
    "        MOVA    @(CASES,PC),R0\n"
    "        MOV.B   @(R0,R4),R4\n"
    "        BRAF    R4\n"               // $1A
    "        NOP\n"
    "        ALIGN.L\n"
    "CASES:  DC.B    4,8\n"              // $20: C0 and C1 from the BRAF's base, $1E
    "        ALIGN.W\n"
    "C0:     RTS\n"                      // $22
    "        NOP\n"
    "C1:     RTS\n"                      // $26
    "        NOP\n"
    "OUT:    RTS\n"                      // $2A
    "        NOP\n"
    "SUB:    RTS\n"                      // $2E
    "        NOP\n"
    "FUNC:   RTS\n"                      // $32
    "        NOP\n"
    "        ALIGN.L\n"
    "PFUNC:  DC.L    FUNC\n"             // $38
    "PDATA:  DC.L    DATA\n"             // $3C
    "NUM:    DC.L    $12345678\n"        // $40
    "DATA:   DC.L    0\n";               // $44

struct Expect {
    std::uint32_t at;
    FactKind kind;
    std::optional<Evidence> evidence;
    std::optional<PointerEvidence> pointer;
    std::optional<std::uint32_t> from;
    const char* says;  // a piece of the text
};

TEST(Facts, EveryKindWithItsEvidence) {
    DisassemblyOptions o;
    o.imageName = "f.bin";
    o.base = kBase;
    const Disassembled d = assembleAndDisassemble(kProgram, o);
    const Model& m = d.model();
    const Expect expected[] = {
        {0x00, FactKind::Label, Evidence::Entry, {}, {}, "an entry"},
        {0x00, FactKind::Function, Evidence::Entry, {}, {}, "a function starts here"},
        {0x02, FactKind::Code, Evidence::Entry, {}, kBase, "on the path from $06000000"},
        {0x2E, FactKind::Label, Evidence::Call, {}, kBase + 0x0C, "called (by $0600000C)"},
        {0x2E, FactKind::Function, Evidence::Call, {}, {}, "called"},
        {0x32, FactKind::Label, Evidence::Call, {}, kBase + 0x08, "called"},
        {0x2A, FactKind::Label, Evidence::Branch, {}, kBase + 0x14, "a branch target"},
        {0x26, FactKind::Label, Evidence::SwitchCase, {}, kBase + 0x21, "a jump table's case"},
        {0x20, FactKind::Label, Evidence::Table, {}, kBase + 0x1A, "a table (by $0600001A)"},
        {0x21, FactKind::Table, {}, {}, kBase + 0x1A, "in a table of 2 entries of 1 bytes at $06000020: used by the jump at $0600001A"},
        {0x38, FactKind::Pointer, {}, PointerEvidence::JumpedThrough, kBase + 0x08, "a jump or call goes through it"},
        {0x3C, FactKind::Pointer, {}, PointerEvidence::UsedAsAddress, kBase + 0x06, "used as an address"},
        {0x3A, FactKind::Pointer, {}, PointerEvidence::JumpedThrough, kBase + 0x08, ""},
        {0x40, FactKind::Number, {}, {}, {}, "not an address in the image"},
        {0x44, FactKind::Label, Evidence::Pointer, {}, kBase + 0x3C, "a pointer names it"},
        {0x40, FactKind::Label, Evidence::Literal, {}, kBase + 0x04, "a literal"},
    };
    for (const Expect& e : expected) {
        const std::vector<Fact> facts = m.why(kBase + e.at);
        ASSERT_FALSE(facts.empty());
        EXPECT_EQ(facts.front().kind, FactKind::Item);
        const Fact* found = nullptr;
        for (const Fact& f : facts) {
            if (f.kind == e.kind) found = &f;
        }
        std::string all;
        for (const Fact& f : facts) all += f.text + "\n";
        ASSERT_NE(found, nullptr) << std::hex << e.at << ":\n" << all;
        EXPECT_EQ(found->evidence, e.evidence) << std::hex << e.at << ": " << found->text;
        EXPECT_EQ(found->pointer, e.pointer) << std::hex << e.at << ": " << found->text;
        EXPECT_EQ(found->from, e.from) << std::hex << e.at << ": " << found->text;
        EXPECT_NE(found->text.find(e.says), std::string::npos) << std::hex << e.at << ": " << found->text;
    }
    EXPECT_TRUE(m.why(kBase + 0x1000).empty());
}

}  // namespace
}  // namespace korvane::test
