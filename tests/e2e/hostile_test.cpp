// Hostile inputs through the executable: odd bytes, odd files, tables at their limits,
// huge lines. Each ends with the right message or success, the right exit status and
// the files it promises, within bounded memory.
//
// The cases that need gigabytes of disk run only with KORVANE_LONG_TESTS=1 (see docs/testing.md).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "unit/support.h"

namespace korvane::test {
namespace {

CommandResult korvane(const TempDir& dir, const std::string& source) {
    return runCommand({KORVANE_EXE, source}, dir.path());
}

// Peak memory allowed for a run: the assembler keeps a few fixed buffers and tables.
// Sanitizer builds add their own shadow memory and quarantine, which for a 16 MiB source
// comes near 96 MiB by itself: they get a bound of their own.
#ifdef KORVANE_SANITIZED
constexpr long kMemoryBoundKb = 128 * 1024;
#else
constexpr long kMemoryBoundKb = 96 * 1024;
#endif

TEST(Hostile, NulAndHighBytesAnywhere) {
    TempDir dir;
    const std::string nul(1, '\0');
    struct Case {
        std::string source;
        std::string bin;
        std::string out;
    };
    const std::vector<Case> cases = {
        {"NOP ; " + nul + "\xff\x80 comment\nNOP\n", std::string("\x00\x09\x00\x09", 4), ""},
        {"L" + nul + "\xe9: NOP\nDC.L L" + nul + "\xe9\n",
         std::string("\x00\x09\x00\x00\x00\x00", 6), ""},
        {"DC.B \"" + nul + "\xff\"\n", nul + "\xff", ""},
        {"N" + nul + "P\n", "", "parsing failure on line 1\r\n"},
        {"\xff\xfe\n", "", "parsing failure on line 1\r\n"},
        {"BRA X" + nul + "Y\n", std::string("\xA0\x00", 2),
         std::string("label X") + nul + "Y                  undefined\r\n"},
        {"DC.B 1" + nul + "\n", "",
         "thought there was a decimal number, but something weird showed up on line 1\r\n"},
        {nul + nul + nul, "", "parsing failure on line 1\r\n"},
    };
    for (const Case& c : cases) {
        dir.write("odd.asm", c.source);
        CommandResult r = korvane(dir, "odd.asm");
        EXPECT_EQ(r.out, c.out) << c.source;
        EXPECT_EQ(r.status, c.out.empty() ? 0 : 1);
        EXPECT_EQ(dir.read("odd.bin"), c.bin) << c.source;
    }
}

TEST(Hostile, IncludeFilesThatCannotBeRead) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    dir.write("data.raw", "abc");
    dir.write("inc.asm", "INCBIN \"data.raw\"\n");
    ::chmod(dir.file("inc.asm").c_str(), 0644);
    EXPECT_EQ(korvane(dir, "inc.asm").status, 0);
    EXPECT_EQ(dir.read("inc.bin"), "abc");

    // Removed between two runs: the second run reports it and does not create it.
    std::filesystem::remove(dir.file("data.raw"));
    CommandResult gone = korvane(dir, "inc.asm");
    EXPECT_EQ(gone.out, "included file data.raw is empty\r\n");
    EXPECT_EQ(gone.status, 1);
    EXPECT_FALSE(dir.exists("data.raw"));

    // Unreadable (for an ordinary user).
    dir.write("data.raw", "abc");
    ::chmod(dir.file("data.raw").c_str(), 0);
    std::vector<std::string> argv{KORVANE_EXE, "inc.asm"};
    // The outputs of the earlier runs belong to root; the ordinary user makes new ones.
    std::filesystem::remove(dir.file("inc.bin"));
    std::filesystem::remove(dir.file("inc.log"));
    if (!asOrdinaryUser(argv)) GTEST_SKIP() << "running as root without setpriv";
    CommandResult locked = runCommand(argv, dir.path());
    EXPECT_EQ(locked.out, "included file data.raw is empty\r\n");
    EXPECT_EQ(locked.status, 1);
}

TEST(Hostile, LabelTableAtItsLimit) {
    TempDir dir;
    std::string defs;
    for (int i = 0; i < 10000; ++i) defs += "LABEL" + std::to_string(i) + ": ";
    dir.write("full.asm", defs + "NOP\n");
    CommandResult full = korvane(dir, "full.asm");
    EXPECT_EQ(full.status, 0) << full.out;
    EXPECT_NE(dir.read("full.log").find("labels (10000):\r\n"), std::string::npos);

    dir.write("over.asm", defs + "\nNOP\nONEMORE: NOP\n");
    CommandResult over = korvane(dir, "over.asm");
    EXPECT_EQ(over.out, "overflowed label table on line 3\r\n");
    EXPECT_EQ(over.status, 1);
    EXPECT_EQ(dir.read("over.bin"), std::string("\x00\x09", 2));

    // A new name met in an operand when the table is full.
    dir.write("ref.asm", defs + "\nBRA NEWNAME\n");
    EXPECT_EQ(korvane(dir, "ref.asm").out, "overflowed label table on line 2\r\n");
}

TEST(Hostile, ReferenceTableAtItsLimit) {
    TempDir dir;
    auto refs = [](int n) {
        std::string s = "HERE: NOP\n";
        for (int i = 0; i < n; ++i) s += "DC.L HERE\n";
        return s;
    };
    dir.write("ok.asm", refs(9998));
    EXPECT_EQ(korvane(dir, "ok.asm").status, 0);
    EXPECT_EQ(dir.read("ok.bin").size(), 2u + 4 * 9998);

    dir.write("over.asm", refs(9999) + "NOP\n");
    CommandResult over = korvane(dir, "over.asm");
    EXPECT_EQ(over.out, "overflowed label reference database :(\r\n");
    EXPECT_EQ(over.status, 1);

    // One DC.L line with many labels: accepted up to 9,998 in all, stopped at 10,000
    // entries without ever writing past the table.
    std::string list = "HERE: NOP\nDC.L HERE";
    for (int i = 1; i < 9998; ++i) list += ",HERE";
    dir.write("line.asm", list + "\n");
    EXPECT_EQ(korvane(dir, "line.asm").status, 0);
    dir.write("line2.asm", list + ",HERE\n");
    EXPECT_EQ(korvane(dir, "line2.asm").out, "overflowed label reference database :(\r\n");
    std::string longList = list;
    for (int i = 0; i < 5000; ++i) longList += ",HERE";
    dir.write("line3.asm", longList + "\n");
    CommandResult r3 = korvane(dir, "line3.asm");
    EXPECT_EQ(r3.out, "overflowed label reference database :(\r\n");
    EXPECT_EQ(dir.read("line3.bin").size(), 2u + 4 * 10000);
}

TEST(Hostile, StringsAndLineEnds) {
    TempDir dir;
    dir.write("s256.asm", "DC.B \"" + std::string(256, 'x') + "\"\n");
    EXPECT_EQ(korvane(dir, "s256.asm").status, 0);
    EXPECT_EQ(dir.read("s256.bin"), std::string(256, 'x'));
    dir.write("s257.asm", "NOP\nDC.B \"" + std::string(257, 'x') + "\"\n");
    EXPECT_EQ(korvane(dir, "s257.asm").out, "string too long on line 2\r\n");
    dir.write("open.asm", "NOP\nNOP\nDC.B \"never closed\n\n\n");
    EXPECT_EQ(korvane(dir, "open.asm").out, "string too long on line 3\r\n");
    EXPECT_EQ(dir.read("open.bin"), std::string("\x00\x09\x00\x09", 4));
    // CR-only line ends make one long line: its first statement is all there is.
    dir.write("cr.asm", " NOP\r MOV R1,R2\r RTS\r");
    EXPECT_EQ(korvane(dir, "cr.asm").status, 0);
    EXPECT_EQ(dir.read("cr.bin"), std::string("\x00\x09", 2));
}

TEST(Hostile, VeryLongLines) {
    TempDir dir;
    // A million operands on one DC.B line.
    std::string many = "DC.B 1";
    for (int i = 0; i < 1000000; ++i) many += ",$FF";
    dir.write("many.asm", many + "\nNOP\n");
    CommandResult r = korvane(dir, "many.asm");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(dir.read("many.bin").size(), 1000003u);
    EXPECT_LT(r.maxRssKb, kMemoryBoundKb);
    // Eight megabytes of ignored operands and of comment.
    dir.write("junk.asm",
              "NOP " + std::string(8 << 20, 'R') + "\n;" + std::string(8 << 20, ';') + "\nRTS\n");
    CommandResult j = korvane(dir, "junk.asm");
    EXPECT_EQ(j.status, 0);
    EXPECT_EQ(dir.read("junk.bin"), std::string("\x00\x09\x00\x0B", 4));
    EXPECT_LT(j.maxRssKb, kMemoryBoundKb);
    // An operand that never ends.
    dir.write("long.asm", "DC.B " + std::string(1 << 20, '7') + "\n");
    EXPECT_EQ(korvane(dir, "long.asm").out, "operand too long on line 1\r\n");
}

TEST(Hostile, OrgToTheTopOfTheAddressSpace) {
    TempDir dir;
    dir.write("top.asm", "DC.B 1\nSETPC 0\nORG $FFFFFFFF\n");
    CommandResult r = korvane(dir, "top.asm");
    EXPECT_EQ(r.out, "output too large on line 3\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("top.bin"), "\x01");
    // From the top, the PC wraps to 0 and ORG goes on filling from there.
    dir.write("wrap.asm", "SETPC $FFFFFFFE\nNOP\nORG 4\n");
    EXPECT_EQ(korvane(dir, "wrap.asm").status, 0);
    EXPECT_EQ(dir.read("wrap.bin"), std::string("\x00\x09\xff\xff\xff\xff", 6));
}

// ---- Long cases: gigabytes of disk, minutes of time. KORVANE_LONG_TESTS=1 runs them.

class LongHostile : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* on = std::getenv("KORVANE_LONG_TESTS");
        if (on == nullptr || std::string(on) != "1")
            GTEST_SKIP() << "set KORVANE_LONG_TESTS=1 to run";
    }
    void writeRepeated(const TempDir& dir, const std::string& name, const std::string& head,
                       char fill, std::uint64_t bytes, const std::string& tail) {
        std::ofstream f(dir.file(name), std::ios::binary);
        f << head;
        const std::string block(1 << 20, fill);
        for (std::uint64_t done = 0; done < bytes; done += block.size())
            f.write(block.data(), block.size());
        f << tail;
    }
};

TEST_F(LongHostile, GigabyteCommentLine) {
    TempDir dir;
    writeRepeated(dir, "comment.asm", "NOP ;", 'x', 1ull << 30, "\nRTS\n");
    CommandResult r = korvane(dir, "comment.asm");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(dir.read("comment.bin"), std::string("\x00\x09\x00\x0B", 4));
    EXPECT_LT(r.maxRssKb, kMemoryBoundKb);
}

TEST_F(LongHostile, GigabyteOfBlankLines) {
    TempDir dir;
    writeRepeated(dir, "blank.asm", "NOP\n", '\n', 1ull << 30, "RTS\n");
    CommandResult r = korvane(dir, "blank.asm");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(dir.read("blank.log"),
              "source line #1 binary offset 0 PC $0 NOP    \r\n"
              "source line #1073741826 binary offset 2 PC $2 RTS    \r\n");
    EXPECT_LT(r.maxRssKb, kMemoryBoundKb);
}

TEST_F(LongHostile, OrgToFFFFFFFF) {
    TempDir dir;
    dir.write("top.asm", "ORG $FFFFFFFF\nDC.B 7\n");
    CommandResult r = korvane(dir, "top.asm");
    EXPECT_EQ(r.out, "output too large on line 2\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::filesystem::file_size(dir.file("top.bin")), 0xFFFFFFFFull);
    EXPECT_LT(r.maxRssKb, kMemoryBoundKb);
    std::filesystem::remove(dir.file("top.bin"));
}

}  // namespace
}  // namespace korvane::test
