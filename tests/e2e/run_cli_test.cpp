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
         "korvane-run: --ram $00400000-$00400010 overlaps demo.bin at $00400000-$004000CC"},
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

}  // namespace
}  // namespace korvane::test
