// The korvane-run command on the bundled example: its exact output, its status, and
// what --dump, --stub, --trace, --info and --against add.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "unit/support.h"

namespace korvane::test {
namespace {

class RunCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ifstream f(std::string(KORVANE_TEST_DATA) + "/../../examples/demo.s");
        std::stringstream s;
        s << f.rdbuf();
        source_ = s.str();
        build("demo", source_);
    }
    void build(const std::string& name, const std::string& text) {
        dir_.write(name + ".s", text);
        ASSERT_EQ(runCommand({KORVANE_EXE, name + ".s"}, dir_.path()).status, 0);
    }
    CommandResult run(std::vector<std::string> args) {
        args.insert(args.begin(), KORVANE_RUN_EXE);
        return runCommand(args, dir_.path());
    }
    TempDir dir_;
    std::string source_;
};

// SUMXOR of the 8 longs of TABLE: the example's own sum and checksum.
const std::vector<std::string> kSum = {"demo.bin", "--base", "0x400000", "--call", "$4000B8",
                                       "--set", "R4=$400080", "--set", "r5=8"};

TEST_F(RunCommand, ReturnsAndPrintsExactly) {
    std::vector<std::string> args = kSum;
    args.insert(args.end(), {"--ram", "0x500000-0x500100", "--dump", "$400080-$400088"});
    const CommandResult r = run(args);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out,
              "stop: returned\n"
              "steps: 36\n"
              "cycles: 44\n"
              "R0=486E3DD7 R1=5A5A5A5A R2=00000000 R3=00000000 R4=004000A0 R5=00000000 R6=00000000 R7=00000000\n"
              "R8=00000000 R9=00000000 R10=00000000 R11=00000000 R12=00000000 R13=00000000 R14=00000000 R15=00500100\n"
              "SR=00000001 GBR=00000000 VBR=00000000 MACH=00000000 MACL=00000000 PR=DEADBEEE PC=DEADBEEE\n"
              "$00400080: 00 00 00 01 00 00 00 02\n");
}

TEST_F(RunCommand, OtherStopsAndErrorsFailWithOneMessage) {
    const struct {
        std::vector<std::string> args;
        std::string says;  // the message's start
        int status = 1;    // 2: a command line it cannot read
    } cases[] = {
        // PRHEX writes by a Linux system call: TRAPA stops the run.
        {{"demo.bin", "--base", "0x400000", "--call", "0x400038", "--ram", "0x500000-0x501000"},
         "korvane-run: stopped: trapa #23 at $0040006C"},
        {{"demo.bin", "--base", "0x400000", "--call", "0x400000", "--max-steps", "5"}, "korvane-run: stopped: step limit"},
        {{"demo.bin", "--base", "0x400000", "--call", "0x400001"}, "korvane-run: stopped: address error at $00400001"},
        {{"demo.bin", "--base", "0x400000"}, "korvane-run: --call is needed", 2},
        {{"demo.bin", "--base", "0x400000", "--call", "1", "--set", "R16=1"}, "korvane-run: --set: not REG=VALUE: R16=1", 2},
        {{"demo.bin", "--base", "0x400000", "--call", "1", "--ram", "0x400000-0x400010"},
         "korvane-run: --ram $00400000-$00400010 overlaps demo.bin at $00400000-$004000CC"},
        {{"nothere.bin", "--base", "0", "--call", "0"}, "korvane-run: "},
        // Checked before anything is allocated or printed.
        {{"demo.bin", "--base", "0x400000", "--call", "START", "--ram", "0-0x100000000"},
         "korvane-run: --ram $00000000-$100000000 overlaps demo.bin at $00400000-$004000CC"},
        {{"demo.bin", "--base", "0x400000", "--call", "START", "--dump", "0-0x100000000"},
         "korvane-run: --dump $00000000-$100000000: not all of it is mapped"},
        {{"demo.bin", "--base", "0x400000", "--call", "START", "--max-steps", "010"}, "korvane-run: --max-steps 010: a leading 0 is refused", 2},
        {{"demo.bin", "--base", "0x400000", "--call", "START", "--max-steps", "18446744073709551616"},
         "korvane-run: --max-steps: not a count", 2},
        // Every address a return could go to is memory: PR has to be given.
        {{"demo.bin", "--base", "0x400000", "--call", "START", "--ram", "0x500000-0x20000000", "--ram",
          "0xE0000000-0xFFFFFE00"},
         "korvane-run: no unmapped address left to return to: give one with --set PR=ADDR"},
        // A store where nothing is mapped says where memory is missing.
        {{"demo.bin", "--base", "0x400000", "--call", "$4000B8", "--set", "R4=$7000000", "--set", "R5=1"},
         "korvane-run: stopped: unmapped access at $07000000 (PC $004000BA): no memory there (give it with --ram"},
        {{"demo.bin", "--base", "0x400000", "--call", "NOSUCH"},
         "korvane-run: --call: not an address or a label of demo.log: NOSUCH"},
        {{"demo.bin", "--base", "0x400000", "--call", "START", "--compare", "R0"}, "korvane-run: --compare needs --against", 2},
        {{"demo.bin", "--base", "0x400000", "--call", "START", "--set", "R15=0"},
         "korvane-run: R15=$00000000: a push would land in the on-chip block at $FFFFFFFC: give the stack memory with"},
        // The second image is named where it overlaps a --ram the first one leaves free.
        {{"demo.bin", "--base", "0x400000", "--call", "START", "--max-steps", "1", "--ram", "0x4000D0-0x500000",
          "--against", "big.bin"},
         "korvane-run: --ram $004000D0-$00500000 overlaps big.bin at $00400000-$00400200"},
        {{"demo.bin", "--base", "0x400000", "--call", "START", "--against", "demo.bin", "--compare", "R16"},
         "korvane-run: --compare: not a register, written, @ADDR-ADDR, default or all: R16", 2},
    };
    dir_.write("big.bin", std::string(0x200, '\x09'));
    for (const auto& c : cases) {
        const CommandResult r = run(c.args);
        EXPECT_EQ(r.status, c.status) << c.says;
        const std::size_t at = r.out.find("korvane-run: ");
        ASSERT_NE(at, std::string::npos) << r.out;
        EXPECT_EQ(r.out.substr(at, c.says.size()), c.says) << r.out;
        EXPECT_EQ(r.out.find("korvane-run: ", at + 1), std::string::npos) << "one message: " << r.out;
    }
}

// A number with a leading 0 (06004000) is refused by every address and value option of
// both commands and by info files, in one message that names where it stands; a bare 0
// is a number.
TEST_F(RunCommand, LeadingZerosAreRefusedEverywhere) {
    dir_.write("zero.info", "label $400000 START\nentry 0400000\n");
    const struct {
        bool dis;
        std::vector<std::string> args;  // after the image (and, for korvane-run, --base and --call)
        std::string says;
    } cases[] = {
        {true, {"--base", "0400000"}, "--base 0400000: a leading 0 is refused; write 0400000 as $400000 or 0x400000 (hex) or 400000 (decimal)"},
        {true, {"--entry", "0400000"}, "--entry 0400000: "},
        {true, {"--vectors", "00"}, "--vectors 00: a leading 0 is refused; write 00 as $0 or 0x0 (hex) or 0 (decimal)"},
        {true, {"--why", "0400000"}, "--why 0400000: "},
        {true, {"--code", "$400000-0400010"}, "--code $400000-0400010: a leading 0 is refused; write 0400010 as"},
        {true, {"--data=0400000-$400010"}, "--data 0400000-$400010: "},
        {true, {"--trace", "t.log@040000A"}, "--trace t.log@040000A: a leading 0 is refused; write 040000A as $40000A or 0x40000A (hex)\n"},
        {true, {"--info", "zero.info"}, "zero.info:2: entry 0400000: a leading 0 is refused; write 0400000 as $400000"},
        {false, {"--base", "0400000"}, "--base 0400000: a leading 0 is refused; write 0400000 as $400000"},
        {false, {"--call", "0400000"}, "--call 0400000: "},
        {false, {"--against", "demo.bin", "--at", "0400000"}, "--at 0400000: "},
        {false, {"--set", "R4=0400080"}, "--set R4=0400080: a leading 0 is refused; write 0400080 as"},
        {false, {"--ram", "0500000-$500100"}, "--ram 0500000-$500100: "},
        {false, {"--ram", "$500000-$500100:01"}, "--ram $500000-$500100:01: "},
        {false, {"--load", "demo.bin@0500000"}, "--load demo.bin@0500000: "},
        {false, {"--dump", "$400000-0400008"}, "--dump $400000-0400008: "},
        {false, {"--max-steps", "0100"}, "--max-steps 0100: "},
        {false, {"--stub", "0400038"}, "--stub 0400038: "},
        {false, {"--stub", "$400038=07"}, "--stub $400038=07: a leading 0 is refused; write 07 as $7 or 0x7 (hex) or 7 (decimal)"},
        {false, {"--info", "zero.info"}, "zero.info:2: entry 0400000: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.args.back());
        std::vector<std::string> args = {c.dis ? KORVANE_DIS_EXE : KORVANE_RUN_EXE, "demo.bin"};
        if (!c.dis) {
            for (const char* given : {"--base", "--call"}) {
                if (c.args.front() != given) args.insert(args.end(), {given, "0x400000"});
            }
        }
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CommandResult r = runCommand(args, dir_.path());
        // Refused as the command line is read (status 2), or as names are looked up (1).
        const bool named = c.args.front() == "--info" || c.args.front() == "--call" || c.args.front() == "--against" ||
                           c.args.back() == "0400038";
        EXPECT_EQ(r.status, named ? 1 : 2);
        // korvane-dis says a file's errors as FILE:LINE alone.
        const bool fileLine = c.says.starts_with("zero.info");
        const std::string says = std::string(c.dis ? fileLine ? "" : "korvane-dis: " : "korvane-run: ") + c.says;
        EXPECT_EQ(r.out.find(says), c.dis ? 0u : r.out.rfind("korvane-run: ")) << r.out;
    }
    const CommandResult zero = runCommand({KORVANE_DIS_EXE, "demo.bin", "--base", "0x400000", "--why", "0"}, dir_.path());
    EXPECT_EQ(zero.status, 0) << zero.out;
    EXPECT_EQ(zero.out, "$00000000: outside the image\n");
}

// START with its printing routines stubbed: the trace names them from the info file and
// shows each stubbed call; the run ends at the exit TRAPA.
TEST_F(RunCommand, TraceNamesAndStubs) {
    dir_.write("demo.info", readFile(std::string(KORVANE_TEST_DATA) + "/../../examples/demo.info"));
    const CommandResult r = run({"demo.bin", "--base", "0x400000", "--call", "0x400000", "--stub", "0x40002C",
                                 "--stub", "$400038=7", "--info", "demo.info", "--trace"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("         1  $00400000  START                MOV.L @(L0040007C,PC),R8\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  $0040002C  PUTS                 stub returns R0=$00000000\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  $00400038  PRHEX                stub returns R0=$00000007\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  $00400002  START+$2             MOV #8,R10\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("stop: trapa #23 at $0040002A\n"), std::string::npos) << r.out;
}

// An edited build against the original: a change of the checksum's key is found, a
// change that keeps the meaning (a NOP more) is not.
TEST_F(RunCommand, AgainstAnEditedBuild) {
    std::string keyed = source_;
    keyed.replace(keyed.find("KEY:    DC.L    $5A5A5A5A"), 25, "KEY:    DC.L    $5A5A5A5B");
    build("keyed", keyed);
    std::string padded = source_;
    padded.replace(padded.find("SUMXOR: MOV     #0,R0"), 21, "SUMXOR: NOP\n        MOV     #0,R0");
    build("padded", padded);

    std::vector<std::string> same = kSum;
    same.insert(same.end(), {"--ram", "0x500000-0x500100", "--against", "padded.bin"});
    const CommandResult agree = run(same);
    EXPECT_EQ(agree.status, 0) << agree.out;
    EXPECT_NE(agree.out.find("against padded.bin: stop: returned, steps: 37, cycles: 45\n"
                             "agree: R0, R1 (but for addresses in the images), R8-R15, MACH, MACL, 0 bytes written\n"),
              std::string::npos)
        << agree.out;

    std::vector<std::string> other = kSum;
    other.insert(other.end(), {"--against", "keyed.bin"});
    const CommandResult differ = run(other);
    EXPECT_EQ(differ.status, 1);
    EXPECT_NE(differ.out.find("differ: R0=486E3DD7 against 486E3DD6\ndiffer: R1=5A5A5A5A against 5A5A5A5B\n"),
              std::string::npos)
        << differ.out;
    EXPECT_NE(differ.out.find("korvane-run: keyed.bin differs\n"), std::string::npos) << differ.out;
}

// Without --ram the routine gets a stack of its own below $10000000 (never the on-chip
// block below address 0): what it pushes lands there, and the run says where output
// failed to go. A routine given PR where every other return address is memory runs.
TEST_F(RunCommand, StackReturnAndOutputWithoutBeingTold) {
    const CommandResult pushed =
        run({"demo.bin", "--base", "0x400000", "--call", "PRHEX", "--max-steps", "2", "--dump", "$0FFFFFFC-$10000000"});
    EXPECT_NE(pushed.out.find("R15=0FFFFFF0\n"), std::string::npos) << pushed.out;
    EXPECT_NE(pushed.out.find("$0FFFFFFC: DE AD BE EE\n"), std::string::npos) << pushed.out;
    EXPECT_NE(pushed.out.find("korvane-run: stopped: step limit"), std::string::npos) << pushed.out;
    // Any number of steps up to 2^64 - 1.
    const CommandResult counted =
        run({"demo.bin", "--base", "0x400000", "--call", "SUMXOR", "--set", "R4=$400080", "--set", "R5=1",
             "--max-steps", "$100000001"});
    EXPECT_EQ(counted.status, 0) << counted.out;

    const CommandResult given = run({"demo.bin", "--base", "0x400000", "--call", "SUMXOR", "--set", "R4=$400080",
                                     "--set", "R5=1", "--ram",
                                     "0x500000-0x20000000", "--ram", "0xE0000000-0xFFFFFE00", "--set", "PR=0x4000C8"});
    EXPECT_EQ(given.status, 0) << given.out;
#ifndef KORVANE_SANITIZED  // (the sanitizers' own memory is no measure of the run's)
    EXPECT_LT(given.maxRssKb, 64 * 1024) << "the RAM's pages are taken as they are written";
#endif

    const CommandResult full = runCommand(
        {"/bin/sh", "-c", std::string(KORVANE_RUN_EXE) + " demo.bin --base 0x400000 --call SUMXOR --set R4=0x400080 --set R5=1 >/dev/full"},
        dir_.path());
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.out.find("korvane-run: cannot write the standard output"), std::string::npos) << full.out;
}

// A planted change of meaning is reported whatever register or memory it reaches, and
// an edit that only moves the routine and its table (leaving the table's address in
// scratch registers) agrees. The edited build always has two NOPs more before FN: its
// FN comes from its own label table (the .log korvane wrote beside it).
TEST_F(RunCommand, AgainstComparesWhatTheConventionKeeps) {
    const std::string head = "        SETPC   $6000000\nENTRY:  NOP\n";
    const std::string tail = "        RTS\n        NOP\n        ALIGN.L\nTBL:    DC.L    1,2\n";
    const struct {
        const char* what;
        std::string body, edited;
        std::vector<std::string> extra;
        bool differs;
        std::string says;
    } cases[] = {
        {"ADD for SUB, in R0", " SUB R5,R4\n MOV R4,R0\n", " ADD R5,R4\n MOV R4,R0\n", {}, true, "differ: R0="},
        {"ADD for SUB, in the low word of a 64-bit result", " MOV #0,R0\n SUB R5,R1\n", " MOV #0,R0\n ADD R5,R1\n", {},
         true, "differ: R1="},
        {"ADD for SUB, in a kept register", " SUB R5,R9\n", " ADD R5,R9\n", {}, true, "differ: R9="},
        {"XOR for OR, in memory", " OR R5,R4\n MOV.L R4,@R6\n", " XOR R5,R4\n MOV.L R4,@R6\n", {}, true,
         "differ: $06100003=FF against FC"},
        {"DMULS.L for DMULU.L, in R0", " DMULU.L R4,R5\n STS MACH,R0\n", " DMULS.L R4,R5\n STS MACH,R0\n", {}, true,
         "differ: R0="},
        {"DMULS.L for DMULU.L, left in MACH", " DMULU.L R4,R5\n", " DMULS.L R4,R5\n", {}, true, "differ: MACH="},
        {"XOR for OR, in memory only --compare names", " OR R5,R4\n MOV.L R4,@R6\n", " XOR R5,R4\n MOV.L R4,@R6\n",
         {"--compare", "R0,@$6100000-$6100004"}, true, "differ: $06100003=FF against FC"},
        {"the table's address left in R1 and R2", " MOVA @(TBL,PC),R0\n MOV R0,R1\n MOV R0,R2\n MOV.L @R1,R0\n",
         "", {}, false, "agree: R0, R1 (but for addresses in the images), R8-R15, MACH, MACL, 0 bytes written"},
        {"the same, R1 asked for", " MOVA @(TBL,PC),R0\n MOV R0,R1\n MOV.L @R1,R0\n", "", {"--compare", "default,R1"},
         true, "differ: R1=0600000C against 06000010"},
        {"the same, everything asked for", " MOVA @(TBL,PC),R0\n MOV R0,R2\n MOV.L @R2,R0\n", "", {"--compare", "all"},
         true, "differ: R2="},
    };
    for (const auto& c : cases) {
        build("a", head + "FN:\n" + c.body + tail);
        build("b", head + "        NOP\n        NOP\nFN:\n" + (c.edited.empty() ? c.body : c.edited) + tail);
        std::vector<std::string> args = {"a.bin", "--base", "$6000000", "--call", "FN", "--ram", "$6100000-$6110000",
                                         "--set", "R4=$FFFFFFFF", "--set", "R5=3", "--set", "R6=$6100000",
                                         "--set", "R1=7", "--set", "R9=7", "--against", "b.bin"};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const CommandResult r = run(args);
        EXPECT_EQ(r.status, c.differs ? 1 : 0) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find("against b.bin: stop: returned"), std::string::npos) << c.what << "\n" << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << c.what << "\n" << r.out;
    }
}

// Names come from the label table of the build that runs: the .log beside the image
// (unless older than it), --labels, and for --against IMAGE2 its own .log or
// --against-labels; the first image's names serve IMAGE2 when it has none.
TEST_F(RunCommand, NamesComeFromEachBuildsLabelTable) {
    std::string padded = source_;
    padded.replace(padded.find("SUMXOR: MOV     #0,R0"), 21, "        NOP\n        NOP\nSUMXOR: MOV     #0,R0");
    build("padded", padded);
    const std::vector<std::string> sum = {"--base", "0x400000", "--call", "SUMXOR", "--set", "R4=$400080", "--set", "R5=8"};
    auto with = [&](std::vector<std::string> head, std::vector<std::string> tail) {
        head.insert(head.end(), sum.begin(), sum.end());
        head.insert(head.end(), tail.begin(), tail.end());
        return run(head);
    };
    // Its own .log: SUMXOR two bytes on in the padded build.
    CommandResult r = with({"demo.bin"}, {"--against", "padded.bin"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("against padded.bin: stop: returned, steps: 36,"), std::string::npos) << r.out;
    // Given by name, as a copy elsewhere; the .log beside the image is not needed.
    dir_.write("copy.bin", readFile(dir_.path() + "/padded.bin"));
    dir_.write("other.log", readFile(dir_.path() + "/padded.log"));
    r = with({"copy.bin", "--labels", "other.log"}, {"--against", "demo.bin"});
    EXPECT_EQ(r.status, 0) << r.out;
    r = with({"demo.bin"}, {"--against", "copy.bin", "--against-labels", "other.log"});
    EXPECT_EQ(r.status, 0) << r.out;
    // Without a table of its own, IMAGE2 is called at the first image's SUMXOR: the two
    // NOPs before the padded one.
    r = with({"demo.bin"}, {"--against", "copy.bin"});
    EXPECT_NE(r.out.find("against copy.bin: stop: returned, steps: 38,"), std::string::npos) << r.out;
    // The label table wins over the info file of the original: PUTS is called where
    // the edited build has it, and the trace names addresses by the build's own labels.
    std::string early = source_;
    early.replace(early.find("START:  MOV.L"), 13, "        NOP\n        NOP\nSTART:  MOV.L");
    build("early", early);
    dir_.write("demo.info", readFile(std::string(KORVANE_TEST_DATA) + "/../../examples/demo.info"));
    r = run({"early.bin", "--base", "0x400000", "--call", "START", "--info", "demo.info", "--stub", "PUTS", "--stub",
             "PRHEX", "--trace"});
    EXPECT_NE(r.out.find("  $0040002C  START+$28            MOV #0,R4\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  $00400004  START                MOV.L"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  $00400030  PUTS                 stub returns"), std::string::npos) << r.out;
    // A .log older than its image is not read, and the message says so.
    dir_.write("copy.log", readFile(dir_.path() + "/padded.log"));
    dir_.write("copy.bin", readFile(dir_.path() + "/padded.bin"));
    const CommandResult stale = runCommand({"/usr/bin/touch", "-d", "2000-01-01", "copy.log"}, dir_.path());
    ASSERT_EQ(stale.status, 0);
    r = with({"copy.bin"}, {});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("korvane-run: --call: not an address (copy.log is older than copy.bin: not read): SUMXOR"),
              std::string::npos)
        << r.out;
}

}  // namespace
}  // namespace korvane::test
