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
                      const std::string& appended = "", const std::vector<std::string>& qemuOptions = {}) {
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
        std::vector<std::string> argv = {"qemu-sh4eb"};
        argv.insert(argv.end(), qemuOptions.begin(), qemuOptions.end());
        argv.push_back("./" + name + ".elf");
        return runCommand(argv, dir_.path());
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

// The manual's worked example (docs/disassembler.md): the bundled program disassembled with its info file,
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

// Each program run under qemu with its translated code logged (-d in_asm), then
// disassembled from its entry alone, without guesses, and with that log as a trace:
// every instruction that ran is shown as one, and the source rebuilds the image.
TEST_F(Emulated, TracesShowEveryExecutedInstruction) {
    std::string raw(1000, '\0');
    for (std::size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    dir_.write("data.raw", raw);
    const std::vector<std::pair<std::string, std::string>> programs = {
        {std::string(KORVANE_TEST_DATA) + "/../../examples/demo.s", ""},
        {data_ + "sort.s", prhex()},
        {data_ + "fib.s", prhex()},
        {data_ + "reverse.s", ""},
        {data_ + "checksum.s", prhex()}};
    for (const auto& [source, appended] : programs) {
        const std::string name = source.substr(source.rfind('/') + 1, source.size() - source.rfind('/') - 3);
        SCOPED_TRACE(name);
        run(source, name, appended, {"-d", "in_asm", "-D", name + ".trace"});
        std::vector<std::uint32_t> ran;
        const std::string trace = dir_.read(name + ".trace");
        for (std::size_t at = trace.find("\n0x"); at != std::string::npos; at = trace.find("\n0x", at + 1))
            ran.push_back(static_cast<std::uint32_t>(std::stoul(trace.substr(at + 3, 8), nullptr, 16)));
        ASSERT_GT(ran.size(), 10u);
        const CommandResult dis = runCommand({KORVANE_DIS_EXE, name + ".bin", "--base", "$400000", "--no-guess",
                                              "--trace", name + ".trace", "-o", name + ".dis.s"},
                                             dir_.path());
        ASSERT_EQ(dis.status, 0) << dis.out;
        // The instructions the source shows, by address (from each statement's comment).
        const std::string text = dir_.read(name + ".dis.s");
        std::vector<std::uint32_t> shown;
        std::size_t line = 0;
        while (line < text.size()) {
            const std::size_t end = text.find('\n', line);
            const std::string l = text.substr(line, end - line);
            line = end == std::string::npos ? text.size() : end + 1;
            const std::size_t semi = l.find("; 00");
            if (l.empty() || l[0] == ';' || semi == std::string::npos || l.find("DC.") != std::string::npos ||
                l.find("PAD") != std::string::npos)
                continue;
            shown.push_back(static_cast<std::uint32_t>(std::stoul(l.substr(semi + 2, 8), nullptr, 16)));
        }
        std::sort(shown.begin(), shown.end());
        for (const std::uint32_t a : ran) {
            if (a < 0x400000 || a >= 0x400000 + dir_.read(name + ".bin").size()) continue;
            EXPECT_TRUE(std::binary_search(shown.begin(), shown.end(), a)) << std::hex << a << " ran but is not shown";
        }
        const CommandResult back = runCommand({KORVANE_EXE, name + ".dis.s"}, dir_.path());
        ASSERT_EQ(back.status, 0) << back.out;
        EXPECT_EQ(dir_.read(name + ".dis.bin"), dir_.read(name + ".bin"));
    }
}

}  // namespace
}  // namespace korvane::test
