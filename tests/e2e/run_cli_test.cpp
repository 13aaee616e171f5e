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
    } cases[] = {
        // PRHEX writes by a Linux system call: TRAPA stops the run.
        {{"demo.bin", "--base", "0x400000", "--call", "0x400038", "--ram", "0x500000-0x501000"},
         "korvane-run: stopped: trapa #23 at $0040006C"},
        {{"demo.bin", "--base", "0x400000", "--call", "0x400000", "--max-steps", "5"}, "korvane-run: stopped: step limit"},
        {{"demo.bin", "--base", "0x400000", "--call", "0x400001"}, "korvane-run: stopped: address error at $00400001"},
        {{"demo.bin", "--base", "0x400000"}, "korvane-run: --call is needed"},
        {{"demo.bin", "--base", "0x400000", "--call", "1", "--set", "R16=1"}, "korvane-run: --set: not REG=VALUE: R16=1"},
        {{"demo.bin", "--base", "0x400000", "--call", "1", "--ram", "0x400000-0x400010"},
         "korvane-run: --ram $00400000: regions that overlap"},
        {{"nothere.bin", "--base", "0", "--call", "0"}, "korvane-run: "},
    };
    for (const auto& c : cases) {
        const CommandResult r = run(c.args);
        EXPECT_EQ(r.status, 1) << c.says;
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
        EXPECT_EQ(r.status, c.dis && c.args.front() != "--info" ? 2 : 1);
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
                             "agree: R0-R15, T, MACH, MACL, 0 bytes written\n"),
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

}  // namespace
}  // namespace korvane::test
