// Real programs in this assembler's language, assembled by the korvane executable,
// wrapped into an ELF with GNU binutils and run under qemu-sh4eb (SH-4 runs SH-2 code).
// Their output and exit status are checked against values computed here.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "unit/support.h"

namespace korvane::test {
namespace {

std::string hex8(std::uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "%08X\n", v);
    return b;
}

class Emulated : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* tool : {"qemu-sh4eb", "sh-elf-objcopy", "sh-elf-ld"}) {
            if (!haveTool(tool)) GTEST_SKIP() << tool << " is not installed";
        }
    }

    // Assembles `source` (from the test data or the examples), with `appended` after
    // it, and runs it.
    CommandResult run(const std::string& source, const std::string& name,
                      const std::string& appended = "") {
        dir_.write(name + ".s", readFile(source) + appended);
        dir_.write("wrap.ld",
                   "ENTRY(_start) PHDRS { image PT_LOAD FLAGS(7); } SECTIONS { . = 0x400000; "
                   ".text : { _start = .; *(.data) } :image }\n");
        CommandResult as = runCommand({KORVANE_EXE, name + ".s"}, dir_.path());
        EXPECT_EQ(as.status, 0) << as.out;
        EXPECT_EQ(as.out, "");
        CommandResult wrap = runCommand({"sh-elf-objcopy", "-I", "binary", "-O", "elf32-sh", "-B",
                                         "sh", name + ".bin", name + ".o"},
                                        dir_.path());
        EXPECT_EQ(wrap.status, 0) << wrap.out;
        CommandResult link =
            runCommand({"sh-elf-ld", "-EB", "-z", "max-page-size=4096", "--no-warn-rwx-segments",
                        "-T", "wrap.ld", name + ".o", "-o", name + ".elf"},
                       dir_.path());
        if (link.status != 0) {  // older ld without --no-warn-rwx-segments
            link = runCommand({"sh-elf-ld", "-EB", "-z", "max-page-size=4096", "-T", "wrap.ld",
                               name + ".o", "-o", name + ".elf"},
                              dir_.path());
        }
        EXPECT_EQ(link.status, 0) << link.out;
        return runCommand({"qemu-sh4eb", "./" + name + ".elf"}, dir_.path());
    }

    // The hexadecimal print routine shared by the test programs.
    std::string prhex() const { return readFile(data_ + "prhex.inc"); }

    TempDir dir_;
    const std::string data_ = std::string(KORVANE_TEST_DATA) + "/programs/";
};

TEST_F(Emulated, BundledExampleSumsItsTable) {
    CommandResult r = run(std::string(KORVANE_TEST_DATA) + "/../../examples/demo.s", "demo");
    std::uint32_t sum = 0;
    for (std::uint32_t v : {1u, 2u, 3u, 0x10u, 0x100u, 0x1000u, 0xFFFFFFFFu, 0x12345678u}) sum += v;
    EXPECT_EQ(r.out, "sum      " + hex8(sum) + "checksum " + hex8(sum ^ 0x5A5A5A5Au));
    EXPECT_EQ(r.status, 0);
}

// The README's worked example: the bundled program disassembled with its info file,
// one instruction inserted, checked, rebuilt and run.
TEST_F(Emulated, WorkedExampleOfAnEdit) {
    const std::string examples = std::string(KORVANE_TEST_DATA) + "/../../examples/";
    CommandResult r = run(examples + "demo.s", "demo");
    ASSERT_EQ(r.status, 0) << r.out;
    dir_.write("demo.info", readFile(examples + "demo.info"));
    const CommandResult dis = runCommand({KORVANE_DIS_EXE, "demo.bin", "--base", "0x400000", "--info", "demo.info"},
                                         dir_.path());
    ASSERT_EQ(dis.status, 0) << dis.out;
    std::string source = dir_.read("demo.bin.s");
    for (const char* named : {"START:", "BSR     PUTS", "BSR     PRHEX", "TABLE:      DC.L    $1,$2,$3,$10",
                              "MOVA    @(SUMTXT,PC),R0", "; const"})
        EXPECT_NE(source.find(named), std::string::npos) << named << "\n" << source;
    const std::string xorLine = "            XOR     R1,R9";
    const std::size_t at = source.find('\n', source.find(xorLine)) + 1;
    source.insert(at, "            NOT     R9,R9               ; inverted: my edit\n");
    dir_.write("demo.bin.s", source);
    const CommandResult check = runCommand({KORVANE_DIS_EXE, "--check", "demo.bin.s", "--write"}, dir_.path());
    EXPECT_EQ(check.status, 0) << check.out;
    const CommandResult edited = run(dir_.path() + "/demo.bin.s", "edited");
    std::uint32_t sum = 0;
    for (std::uint32_t v : {1u, 2u, 3u, 0x10u, 0x100u, 0x1000u, 0xFFFFFFFFu, 0x12345678u}) sum += v;
    EXPECT_EQ(edited.out, "sum      " + hex8(sum) + "checksum " + hex8(~(sum ^ 0x5A5A5A5Au)));
}

TEST_F(Emulated, SortsATable) {
    CommandResult r = run(data_ + "sort.s", "sort", prhex());
    std::vector<std::int32_t> table{5, -3, 100, 0x7FFFFFFF, 0, 42, -100000, 7, 7, INT32_MIN};
    std::sort(table.begin(), table.end());
    std::string expected;
    for (std::int32_t v : table) expected += hex8(static_cast<std::uint32_t>(v));
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, 0);
}

TEST_F(Emulated, Fibonacci) {
    CommandResult r = run(data_ + "fib.s", "fib", prhex());
    std::string expected;
    std::uint32_t a = 0, b = 1;
    for (int i = 0; i < 24; ++i) {
        expected += hex8(b);
        std::uint32_t c = a + b;
        a = b;
        b = c;
    }
    EXPECT_EQ(r.out, expected);
    EXPECT_EQ(r.status, static_cast<int>(a & 0xFF));
}

TEST_F(Emulated, ReversesAString) {
    CommandResult r = run(data_ + "reverse.s", "reverse");
    std::string text = "Hello, SH-2 world!";
    std::reverse(text.begin(), text.end());
    EXPECT_EQ(r.out, text + "\n");
    EXPECT_EQ(r.status, 0);
}

TEST_F(Emulated, ChecksumOverAnIncludedFile) {
    std::string data(1000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    dir_.write("data.raw", data);
    CommandResult r = run(data_ + "checksum.s", "checksum", prhex());
    std::uint32_t sum = 0, x = 0;
    for (unsigned char c : data) {
        sum += c;
        x ^= c;
    }
    EXPECT_EQ(r.out, hex8(sum) + hex8(x));
    EXPECT_EQ(r.status, static_cast<int>(sum & 0xFF));
}

}  // namespace
}  // namespace korvane::test
