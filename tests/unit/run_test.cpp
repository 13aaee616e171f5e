// The machine that runs SH-2 code: each case is a routine assembled here, run from
// $06000000 with RAM at $06100000, and the registers, memory, stop and cycles it must
// give, written from the SH-2 manuals' definitions (not from the code).
#include "korvane/run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "unit/support.h"

namespace korvane::test {
namespace {

using run::Machine;
using run::Registers;
using run::Stop;
using run::StopKind;

constexpr std::uint32_t kCode = 0x06000000, kRam = 0x06100000, kReturn = 0x0DEADBEE;

// "R1=5 SR=$2 @06100000=12345678" (a long in RAM) into a machine.
std::uint32_t* named(Registers& r, const std::string& name) {
    std::uint32_t* reg = run::registerNamed(r, name);
    if (reg == nullptr) ADD_FAILURE() << "no register " << name;
    return reg;
}
std::uint32_t value(const std::string& text) {
    return static_cast<std::uint32_t>(std::stoul(text[0] == '$' ? text.substr(1) : text, nullptr, text[0] == '$' ? 16 : 10));
}

struct Ran {
    std::unique_ptr<Machine> m;
    Stop stop;
};

Ran runRoutine(const std::string& body, const std::string& inputs, unsigned ramWait = 0) {
    const Assembled a = assembleText("        SETPC   $6000000\nSTART:\n" + body);
    EXPECT_TRUE(a.result.ok) << a.message() << "\n" << body;
    Ran out{std::make_unique<Machine>(), {}};
    Machine& m = *out.m;
    EXPECT_EQ(m.map(kCode, std::vector<std::uint8_t>(a.bin.begin(), a.bin.end())), "");
    EXPECT_EQ(m.map(kRam, std::vector<std::uint8_t>(0x10000, 0), ramWait), "");
    Registers& r = m.registers();
    r.r[15] = kRam + 0x10000;
    r.pr = kReturn;
    r.pc = kCode;
    m.returnAt(kReturn);
    std::istringstream in(inputs);
    for (std::string item; in >> item;) {
        const std::size_t eq = item.find('=');
        if (item == "VECTORS") {
            m.trapsEnterVectors(true);
        } else if (item[0] == '@') {
            const std::uint32_t v = value(item.substr(eq + 1));
            const std::uint8_t bytes[] = {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
                                          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
            EXPECT_TRUE(m.poke(value("$" + item.substr(1, eq - 1)), bytes));
        } else if (std::uint32_t* reg = named(r, item.substr(0, eq))) {
            *reg = value(item.substr(eq + 1));
        }
    }
    out.stop = m.run(10000);
    return out;
}

// Checks "R2=$80000000 T=1 @06100000=$80000000" against a run.
void expectState(const Ran& ran, const std::string& expected, const std::string& what) {
    std::istringstream in(expected);
    const Registers& r = ran.m->registers();
    for (std::string item; in >> item;) {
        const std::size_t eq = item.find('=');
        const std::string name = item.substr(0, eq);
        const std::uint32_t want = value(item.substr(eq + 1));
        std::uint32_t got;
        if (name == "T") {
            got = r.sr & 1;
        } else if (name[0] == '@') {
            const auto bytes = ran.m->peek(value("$" + name.substr(1)), 4);
            ASSERT_TRUE(bytes) << what;
            got = std::uint32_t{(*bytes)[0]} << 24 | (*bytes)[1] << 16 | (*bytes)[2] << 8 | (*bytes)[3];
        } else {
            Registers copy = r;
            got = *named(copy, name);
        }
        EXPECT_EQ(got, want) << what << ": " << name << " is " << std::hex << got;
    }
}

struct Case {
    const char* what;
    std::string body;  // ends with its own RTS where it returns
    std::string inputs, expected;
    StopKind stop = StopKind::Returned;
};

TEST(Run, InstructionsDoWhatTheManualDefines) {
    const std::string ret = " RTS\n NOP\n";
    const Case cases[] = {
        // Overflow and carry: qemu 7.2 writes ADDV's sum to Rm and takes SUBV's
        // overflow from the wrong operand; these are the manual's definitions.
        {"ADDV overflows", " ADDV R1,R2\n" + ret, "R1=$7FFFFFFF R2=1", "R1=$7FFFFFFF R2=$80000000 T=1"},
        {"ADDV without overflow", " ADDV R1,R2\n" + ret, "R1=$FFFFFFFF R2=1", "R2=0 T=0"},
        {"SUBV overflows", " SUBV R1,R2\n" + ret, "R1=1 R2=$80000000", "R1=1 R2=$7FFFFFFF T=1"},
        {"SUBV of the most negative", " SUBV R1,R2\n" + ret, "R1=$80000000 R2=0", "R2=$80000000 T=1"},
        {"SUBV without overflow", " SUBV R1,R2\n" + ret, "R1=$FFFFFFFF R2=$FFFFFFFE", "R2=$FFFFFFFF T=0"},
        {"ADDC carries in and out", " SETT\n ADDC R1,R2\n" + ret, "R1=$FFFFFFFF R2=0", "R2=0 T=1"},
        {"SUBC borrows", " CLRT\n SUBC R1,R2\n" + ret, "R1=1 R2=0", "R2=$FFFFFFFF T=1"},
        {"NEGC with T", " SETT\n NEGC R1,R2\n" + ret, "R1=0", "R2=$FFFFFFFF T=1"},
        {"NEGC of zero", " CLRT\n NEGC R1,R2\n" + ret, "R1=0 R2=5", "R2=0 T=0"},
        {"DIV0S signs", " DIV0S R1,R2\n" + ret, "R1=$80000000 R2=1", "SR=$201"},
        {"DIV0U clears", " DIV0U\n" + ret, "SR=$301", "SR=0"},
        {"DMULS.L", " DMULS.L R1,R2\n" + ret, "R1=$FFFFFFFE R2=3", "MACH=$FFFFFFFF MACL=$FFFFFFFA"},
        {"DMULU.L", " DMULU.L R1,R2\n" + ret, "R1=$FFFFFFFF R2=$FFFFFFFF", "MACH=$FFFFFFFE MACL=1"},
        {"MULS.W signs its halves", " MULS.W R1,R2\n" + ret, "R1=$1FFFF R2=$30003", "MACL=$FFFFFFFD"},
        {"MULU.W does not", " MULU.W R1,R2\n" + ret, "R1=$1FFFF R2=$30003", "MACL=$2FFFD"},
        // MAC.W reads words (qemu 7.2 reads longs), and saturates MACL when S is set.
        {"MAC.W accumulates 64 bits", " MAC.W @R1+,@R2+\n" + ret, "R1=$6100000 R2=$6100004 @06100000=$FFFD0000 @06100004=$00020000",
         "MACH=$FFFFFFFF MACL=$FFFFFFFA R1=$6100002 R2=$6100006"},
        {"MAC.W saturates with S", " MAC.W @R1+,@R2+\n" + ret,
         "SR=2 MACL=$7FFFFFF0 R1=$6100000 R2=$6100004 @06100000=$01000000 @06100004=$01000000", "MACL=$7FFFFFFF MACH=1"},
        {"MAC.W of the same register", " MAC.W @R1+,@R1+\n" + ret, "R1=$6100000 @06100000=$00030005", "MACL=15 R1=$6100004"},
        {"MAC.L saturates to 48 bits with S", " MAC.L @R1+,@R2+\n" + ret,
         "SR=2 MACH=$7FFF MACL=$FFFFFFF0 R1=$6100000 R2=$6100004 @06100000=$100 @06100004=1", "MACH=$7FFF MACL=$FFFFFFFF"},
        {"MAC.L negative saturation", " MAC.L @R1+,@R2+\n" + ret,
         "SR=2 MACH=$FFFF8000 MACL=5 R1=$6100000 R2=$6100004 @06100000=$FFFFFFF0 @06100004=1", "MACH=$FFFF8000 MACL=0"},
        {"MAC.L without S", " MAC.L @R1+,@R2+\n" + ret, "MACH=$7FFF MACL=$FFFFFFF0 R1=$6100000 R2=$6100004 @06100000=$100 @06100004=1",
         "MACH=$8000 MACL=$F0 R1=$6100004 R2=$6100008"},
        // qemu 7.2 leaves T clear after ROTL and ROTR, and takes the wrong carry for a
        // DIV1 divisor of 0. DIV1 Rn,Rn divides by the shifted Rn: the manual's operation
        // text shifts Rn before it reads Rm.
        {"ROTL puts bit 31 in T", " CLRT\n ROTL R1\n" + ret, "R1=$80000001", "R1=3 T=1"},
        {"ROTR puts bit 0 in T", " CLRT\n ROTR R1\n" + ret, "R1=1", "R1=$80000000 T=1"},
        {"DIV1 by the register it divides", " DIV0U\n DIV1 R3,R3\n" + ret, "R3=1", "R3=0 T=1"},
        {"DIV1 by the register it divides, T in", " DIV0U\n SETT\n DIV1 R3,R3\n" + ret, "R3=$40000000", "R3=0 T=1"},
        {"DIV1 by zero", " DIV1 R1,R2\n" + ret, "R1=0 R2=$7ED4D57B SR=1", "R2=$FDA9AAF7 SR=1"},
        {"ROTCL through T", " SETT\n ROTCL R1\n" + ret, "R1=$80000000", "R1=1 T=1"},
        {"ROTCR through T", " CLRT\n ROTCR R1\n" + ret, "R1=1", "R1=0 T=1"},
        {"SHAR keeps the sign", " SHAR R1\n" + ret, "R1=$80000001", "R1=$C0000000 T=1"},
        {"CMP/STR finds an equal byte", " CMP/STR R1,R2\n" + ret, "R1=$12345678 R2=$AB34CDEF", "T=1"},
        {"SWAP.B, SWAP.W, XTRCT", " SWAP.B R1,R2\n SWAP.W R1,R3\n XTRCT R1,R4\n" + ret, "R1=$11223344 R4=$55667788",
         "R2=$11224433 R3=$33441122 R4=$33445566"},
        {"TAS.B sets bit 7", " TAS.B @R1\n" + ret, "R1=$6100000", "T=1 @06100000=$80000000"},
        {"AND.B/OR.B/TST.B at GBR", " MOV #1,R0\n OR.B #$F0,@(R0,GBR)\n AND.B #$3C,@(R0,GBR)\n TST.B #$C0,@(R0,GBR)\n" + ret,
         "GBR=$6100000 @06100000=$0000FFFF", "@06100000=$0030FFFF T=1"},
        {"MOV.L Rm,@-Rn stores the value before the decrement", " MOV.L R15,@-R15\n MOV.L @R15+,R1\n" + ret, "",
         "R1=$6110000 R15=$6110000"},
        {"MOV.L @Rm+,Rm keeps the loaded value", " MOV.L @R1+,R1\n" + ret, "R1=$6100000 @06100000=$CAFE", "R1=$CAFE"},
        {"LDC.L and STC.L move SR by the stack", " STC.L SR,@-R15\n LDC R1,SR\n LDC.L @R15+,SR\n" + ret, "R1=$3F3 SR=$101",
         "SR=$101 R15=$6110000"},
        {"LDC to SR keeps the SH-2's bits", " LDC R1,SR\n" + ret, "R1=$FFFFFFFF", "SR=$3F3"},
        // The delay slot's PC-relative operands count from the branch target + 2.
        {"MOV.W @(d,PC) in a delay slot",
         " BRA @TG\n MOV.W @(W1,PC),R1\n NOP\n NOP\n@TG: RTS\n NOP\nW1: DC.W $1111\n DC.W $2222\n DC.W $3333\n", "",
         "R1=$3333"},
        {"MOVA in a delay slot", " BRA @TG\n MOVA @(L1,PC),R0\n NOP\n NOP\n@TG: RTS\n NOP\n ALIGN.L\nL1: DC.L 0\n", "",
         "R0=$6000010"},
        {"BRAF goes to its address + 4 + Rm", " MOV #2,R1\n BRAF R1\n MOV #1,R2\n MOV #9,R2\n MOV #8,R3\n" + ret, "",
         "R2=1 R3=8"},
        {"BSRF calls its address + 4 + Rm", " STS.L PR,@-R15\n MOV #6,R1\n BSRF R1\n NOP\n LDS.L @R15+,PR\n RTS\n NOP\n"
         " STS PR,R5\n RTS\n MOV #7,R6\n", "", "R5=$6000008 R6=7"},
        {"BT/S runs its slot either way", " CLRT\n BT/S @XX\n MOV #1,R1\n SETT\n BT/S @XX\n MOV #2,R2\n MOV #3,R3\n@XX:" + ret, "",
         "R1=1 R2=2 R3=0"},
        {"addresses that differ in bits 31-29 are one memory", " MOV.L R1,@R2\n MOV.L @R3,R4\n" + ret,
         "R1=$1234 R2=$26100000 R3=$A6100000", "R4=$1234"},
        {"TRAPA through VBR and back by RTE", " TRAPA #3\n" + ret + "@HD: ADD #1,R1\n RTE\n NOP\n ALIGN.L\n@VT: DC.L 0,0,0,@HD\n", "VBR=$600000C SR=1 VECTORS",
         "R1=1 SR=1 R15=$6110000"},
        // TRAPA pushes SR and the return address before it reads its vector: a stack
        // over the vector table gives the pushed address back, and a vector that cannot be
        // read stops the run with both pushed.
        {"TRAPA reads its vector after the pushes", " TRAPA #1\n" + ret, "VBR=$610FFF4 SR=$F0 VECTORS",
         "R15=$610FFF8 @0610FFF8=$6000002 @0610FFFC=$F0"},
        {"TRAPA of a vector that cannot be read", " TRAPA #0\n" + ret, "VBR=$10000000 SR=$F0 VECTORS",
         "R15=$610FFF8 @0610FFF8=$6000002 @0610FFFC=$F0", StopKind::Unmapped},
        // Stops.
        {"a branch in a delay slot", " BRA START\n BRA START\n", "", "", StopKind::SlotIllegal},
        {"a word that is no instruction in a delay slot", " BRA START\n DC.W $FFFF\n", "", "", StopKind::SlotIllegal},
        {"TRAPA in a delay slot", " RTS\n TRAPA #1\n", "", "", StopKind::SlotIllegal},
        {"a long at an odd address", " MOV.L @R1,R2\n" + ret, "R1=$6100001", "R2=0", StopKind::AddressError},
        {"nothing mapped", " MOV.B R2,@R1\n" + ret, "R1=$10000000", "", StopKind::Unmapped},
        {"a word that is no instruction", " DC.W $FFFF\n", "", "", StopKind::Illegal},
        {"TRAPA stops", " TRAPA #$17\n", "", "", StopKind::Trap},
        {"SLEEP stops", " SLEEP\n", "", "", StopKind::Sleep},
        {"a loop runs out of steps", "@LP: BRA @LP\n NOP\n", "", "", StopKind::StepLimit},
    };
    for (const Case& c : cases) {
        const std::string inputs = c.inputs;
        const Ran ran = runRoutine(c.body, inputs);
        EXPECT_EQ(ran.stop.kind, c.stop) << c.what << ": " << run::describe(ran.stop);
        expectState(ran, c.expected, c.what);
    }
}

TEST(Run, StopsSayWhereAndWhy) {
    const Ran odd = runRoutine(" NOP\n MOV.L @R1,R2\n", "R1=$6100002");
    EXPECT_EQ(run::describe(odd.stop), "address error at $06100002 (PC $06000002)");
    const Ran trap = runRoutine(" TRAPA #$17\n", "");
    EXPECT_EQ(run::describe(trap.stop), "trapa #23 at $06000000");
    const Ran slot = runRoutine(" RTS\n RTS\n", "");
    EXPECT_EQ(run::describe(slot.stop), "slot illegal at $06000002");
}

// A stubbed callee returns at once with R0 set; its caller goes on after the slot.
TEST(Run, StubsAnswerCalls) {
    const Assembled a = assembleText(
        " SETPC $6000000\n STS.L PR,@-R15\n MOV.L @(FN,PC),R1\n JSR @R1\n MOV #5,R4\n MOV R0,R8\n BSR STB\n NOP\n"
        " MOV.L @(BUF,PC),R9\n MOV.L R8,@R9\n LDS.L @R15+,PR\n RTS\n ADD R8,R0\n ALIGN.L\nFN: DC.L $6000200\n"
        "BUF: DC.L $6100000\n PAD $6000100\nSTB: DC.W $FFFF\n");
    ASSERT_TRUE(a.result.ok) << a.message();
    Machine m;
    ASSERT_EQ(m.map(kCode, std::vector<std::uint8_t>(a.bin.begin(), a.bin.end())), "");
    ASSERT_EQ(m.map(kRam, std::vector<std::uint8_t>(0x100, 0)), "");
    m.stub(0x26000200, 40);  // through its cache-through alias
    m.stub(0x6000100, 2);
    m.registers().r[15] = kRam + 0x100;
    m.registers().pr = kReturn;
    m.registers().pc = kCode;
    m.returnAt(kReturn);
    struct Calls : run::Tracer {
        std::vector<std::uint32_t> stubs;
        void executed(const run::Event& e) override {
            if (e.stub) stubs.push_back(e.pc);
        }
    } calls;
    EXPECT_EQ(m.run(100, &calls).kind, StopKind::Returned);
    EXPECT_EQ(m.registers().r[0], 42u);
    EXPECT_EQ(m.registers().r[4], 5u);  // the slot ran
    EXPECT_EQ(calls.stubs, (std::vector<std::uint32_t>{0x6000200, 0x6000100}));
    // What it wrote: R8 at $06100000; the PR it saved in its stack frame is not a result.
    const auto written = m.written();
    ASSERT_EQ(written.size(), 4u);
    EXPECT_EQ(written.front().first, kRam);
    EXPECT_EQ(written.back(), (std::pair<std::uint32_t, std::uint8_t>{kRam + 3, 40}));
}

// The division unit against C++'s arithmetic: 32/32 and 64/32, signed, with division
// by zero and overflow as the SH7604 manual describes (OVF set, the quotient saturated
// by its sign).
TEST(Run, DivisionUnitDividesAsTheSh7604) {
    const std::string divide =
        " MOV.L @(DVSR,PC),R0\n MOV.L R2,@R0\n MOV.L R3,@(16,R0)\n MOV.L R4,@(20,R0)\n"
        " MOV.L @(20,R0),R5\n RTS\n MOV.L @(16,R0),R6\n ALIGN.L\nDVSR: DC.L $FFFFFF00\n";
    const std::string divide32 =
        " MOV.L @(DVSR,PC),R0\n MOV.L R2,@R0\n MOV.L R4,@(4,R0)\n"
        " MOV.L @(4,R0),R5\n MOV.L @(8,R0),R7\n RTS\n MOV.L @(16,R0),R6\n ALIGN.L\nDVSR: DC.L $FFFFFF00\n";
    std::mt19937_64 rng(27);
    auto hex = [](std::uint64_t v) {
        std::ostringstream s;
        s << "$" << std::hex << v;
        return s.str();
    };
    for (int i = 0; i < 400; ++i) {
        std::uint32_t v = i % 7 == 0 ? 0u : static_cast<std::uint32_t>(rng() >> (32 + i % 31));
        if (i % 3 == 0) v = 0u - v;
        const auto divisor = static_cast<std::int32_t>(v);
        const auto dividend = static_cast<std::int64_t>(rng()) >> (i % 40);
        const bool wide = i % 2 == 0;
        const std::int64_t a = wide ? dividend : static_cast<std::int32_t>(dividend);
        const Ran ran = runRoutine(wide ? divide : divide32,
                                   "R2=" + hex(static_cast<std::uint32_t>(divisor)) + " R3=" + hex(static_cast<std::uint64_t>(a) >> 32) +
                                       " R4=" + hex(static_cast<std::uint32_t>(a)));
        ASSERT_EQ(ran.stop.kind, StopKind::Returned);
        const Registers& r = ran.m->registers();
        const bool fits = divisor != 0 && !(a == INT64_MIN && divisor == -1) && a / divisor >= INT32_MIN && a / divisor <= INT32_MAX;
        if (fits) {
            EXPECT_EQ(r.r[5], static_cast<std::uint32_t>(a / divisor)) << a << " / " << divisor;
            EXPECT_EQ(r.r[6], static_cast<std::uint32_t>(a % divisor)) << a << " % " << divisor;
        } else {
            const bool negative = (a < 0) != (divisor < 0);
            EXPECT_EQ(r.r[5], negative ? 0x80000000u : 0x7FFFFFFFu) << a << " / " << divisor;
        }
        if (!wide) {
            EXPECT_EQ(r.r[7] & 1, fits ? 0u : 1u) << "OVF after " << a << " / " << divisor;
        }
    }
}

// Cycles of instruction pairs as the SH7604 hardware manual's tables give them: issue
// cycles, a taken branch, a load's register used at once, the multiplier's latency, wait
// states. Each routine ends with RTS and NOP (3 cycles, not counted below).
TEST(Run, CyclesOfInstructionPairs) {
    struct Pair {
        const char* what;
        std::string code;
        std::string inputs;
        std::uint64_t cycles;
        unsigned wait = 0;
    };
    const Pair pairs[] = {
        {"two ALU instructions", " ADD R1,R2\n ADD R3,R4\n", "", 2},
        {"a load, then its register", " MOV.L @R1,R2\n ADD R2,R3\n", "R1=$6100000", 3},
        {"a load, then another register", " MOV.L @R1,R2\n ADD R3,R4\n", "R1=$6100000", 2},
        {"a load, then its register as an address", " MOV.L @R1,R2\n MOV.L @R2,R3\n", "R1=$6100000 @06100000=$6100000", 3},
        {"a load, then a move over its register", " MOV.L @R1,R2\n MOV R3,R2\n", "R1=$6100000", 2},
        {"MULS.W, then MACL", " MULS.W R1,R2\n STS MACL,R3\n", "", 4},
        {"MUL.L, then MACL", " MUL.L R1,R2\n STS MACL,R3\n", "", 5},
        {"DMULS.L, then MACH", " DMULS.L R1,R2\n STS MACH,R3\n", "", 5},
        {"MUL.L, then another instruction", " MUL.L R1,R2\n ADD R1,R2\n", "", 3},
        {"MAC.W, then MACL", " MAC.W @R1+,@R2+\n STS MACL,R3\n", "R1=$6100000 R2=$6100004", 4},
        {"BT taken", " SETT\n BT @XX\n@XX:", "", 4},
        {"BT not taken", " CLRT\n BT @XX\n@XX:", "", 2},
        {"BT/S taken, with its slot", " SETT\n BT/S @XX\n NOP\n@XX:", "", 4},
        {"BRA and its slot", " BRA @XX\n NOP\n@XX:", "", 3},
        {"JSR, its slot and the callee's RTS and slot", " STS.L PR,@-R15\n BSR @FN\n NOP\n LDS.L @R15+,PR\n BRA @XX\n NOP\n@FN: RTS\n NOP\n@XX:",
         "", 1 + 3 + 3 + 1 + 3},
        {"TAS.B", " TAS.B @R1\n", "R1=$6100000", 4},
        {"AND.B at GBR", " AND.B #1,@(R0,GBR)\n", "GBR=$6100000", 3},
        {"STC.L and LDC.L of SR", " STC.L SR,@-R15\n LDC.L @R15+,SR\n", "", 5},
        {"TRAPA and RTE", " TRAPA #0\n BRA @XX\n NOP\n ALIGN.L\n@VT: DC.L @HD\n@HD: RTE\n NOP\n@XX:", "VBR=$6000008 VECTORS", 8 + 5 + 3},
        {"a long from RAM with 2 wait states", " MOV.L @R1,R2\n", "R1=$6100000", 3, 2},
        {"the division unit read at once (a load used, two stores, the division, BRA and NOP)", " MOV.L @(DV,PC),R0\n MOV.L R1,@R0\n MOV.L R1,@(4,R0)\n MOV.L @(4,R0),R2\n BRA OUT\n NOP\n ALIGN.L\nDV: DC.L $FFFFFF00\nOUT:",
         "R1=5", 2 + 2 + 39 + 3},
    };
    for (const Pair& p : pairs) {
        const Ran ran = runRoutine(p.code + " RTS\n NOP\n", p.inputs, p.wait);
        EXPECT_EQ(ran.stop.kind, StopKind::Returned) << p.what << ": " << run::describe(ran.stop);
        EXPECT_EQ(ran.m->cycles(), p.cycles + 3) << p.what;
    }
}

// Unsigned 32/32 division by DIV0U and 32 steps of ROTCL and DIV1 (what GCC's
// __udivsi3 does) gives C++'s quotient.
TEST(Run, Div1StepsDivideAsCxx) {
    std::string code = " MOV #0,R2\n DIV0U\n";
    for (int i = 0; i < 32; ++i) code += " ROTCL R4\n DIV1 R5,R2\n";
    code += " ROTCL R4\n RTS\n MOV R4,R0\n";
    std::mt19937 rng(1);
    for (int i = 0; i < 200; ++i) {
        const std::uint32_t a = static_cast<std::uint32_t>(rng()), b = static_cast<std::uint32_t>(rng()) >> (i % 32);
        if (b == 0) continue;
        const Ran ran = runRoutine(code, "R4=" + std::to_string(a) + " R5=" + std::to_string(b));
        EXPECT_EQ(ran.m->registers().r[0], a / b) << a << " / " << b;
    }
}

}  // namespace
}  // namespace korvane::test

namespace korvane::test {
namespace {

// The label table korvane writes at the end of its listing, read back: global labels
// by name, local labels left out, whether lines end in CR LF or LF; a
// listing without a table or with one cut short is refused.
TEST(Run, LabelTableOfAListing) {
    const Assembled a = assembleText(
        " SETPC $6000000\nSTART: NOP\n@LP: BRA @LP\n NOP\nA_NAME_OF_TWENTY_CH: DC.L 0\nEND: DC.W 0\n");
    ASSERT_TRUE(a.result.ok) << a.message();
    std::string lf = a.log;
    for (std::size_t at; (at = lf.find('\r')) != std::string::npos;) lf.erase(at, 1);
    const std::size_t table = a.log.find("labels (");
    ASSERT_NE(table, std::string::npos) << a.log;
    const struct {
        const char* what;
        std::string text;
        std::string why;  // the start of the refusal, "" when read
    } cases[] = {
        {"CR LF", a.log, ""},
        {"LF", lf, ""},
        {"no table", a.log.substr(0, table), "no label table"},
        {"cut short", a.log.substr(0, a.log.size() - 4), "the label table ends after 3 of its 4 labels"},
        {"a line that is not a label's", a.log.substr(0, table) + "labels (1):\r\nSTART $6000000\r\n", "not a line"},
    };
    for (const auto& c : cases) {
        std::vector<run::Label> labels;
        const std::string why = run::labelTable(c.text, labels);
        EXPECT_EQ(why.substr(0, c.why.size()), c.why) << c.what << ": " << why;
        if (!c.why.empty()) continue;
        std::vector<std::pair<std::string, std::uint32_t>> got;
        for (const auto& l : labels) got.emplace_back(l.name, l.address);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, (std::vector<std::pair<std::string, std::uint32_t>>{
                           {"A_NAME_OF_TWENTY_CH", 0x6000006}, {"END", 0x600000A}, {"START", 0x6000000}}))
            << c.what;
    }
}

}  // namespace
}  // namespace korvane::test
