// Whole sources through the library: the line scanner, labels and scopes, the listing,
// the fixup pass with its ranges, and the error messages, each case checking the exact
// image bytes and console message.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/support.h"

namespace korvane::test {
namespace {

TEST(Scanner, LabelsStatementsAndComments) {
    checkCases({
        {"LOOP: nop\n", "00 09", ""},
        {"LOOP:NOP\n", "00 09", ""},
        {"A1: B1: NOP\nBRA A1\nBRA B1\n", "00 09 AF FD AF FC", ""},
        {"NOP R1\nNOP ; text\n", "00 09 00 09", ""},
        {"NOP;x\n", "00 09", ""},
        {"RTS", "00 0B", ""},
        {"  rts  ", "00 0B", ""},
        {"NOP: NOP\nBRA NOP\n", "00 09 AF FD", ""},
        {"\tNOP\t\r\n", "00 09", ""},
        {"; only a comment\n\n   \nLABEL:\n", "", ""},
        {" NOP\r NOP\r", "00 09", ""},  // CR does not end a line: the second NOP is ignored
        {"NOP\rNOP\r", "", "parsing failure on line 1"},
        {"X: NOP\n", "", "what`s this colon doing on line 1?"},
        {":\n", "", "what`s this colon doing on line 1?"},
        {"ABCDEFGHIJKLMNOPQRST: NOP\n", "00 09", ""},
        {"NOP\nABCDEFGHIJKLMNOPQRSTU: NOP\n", "00 09", "parsing failure on line 2"},
        {"Loop: nop\nLOOP: nop\n", "00 09", "duplicate label LOOP                 on line 2"},
        {"@LOOP: nop\n@LOOP: nop\n", "00 09", "duplicate label @LOOP             00 on line 2"},
        {"FOO\n", "", "parsing failure on line 1"},
        {"A\n", "", "parsing failure on line 1"},
        {"MOVE.LL R1\n", "", "parsing failure on line 1"},
        {"NOP\nMOV.L\n", "00 09", "missing argument on line 2"},
        {"MOV.L ; comment\n", "", "missing argument on line 1"},
        {"DC.B", "", "missing argument on line 1"},
        // Local labels: a global label after a local use opens a new scope.
        {"@L: nop\nGG: nop\n@L: nop\n", "00 09 00 09 00 09", ""},
        {"@L: nop\nG1: nop\nG2: nop\n@L: nop\n", "00 09 00 09 00 09 00 09", ""},
        {"G1: nop\n@LP: nop\nBRA @LP\nG2: nop\nBRA @LP\n@LP: nop\n",
         "00 09 00 09 AF FD 00 09 AF FF 00 09", ""},
        // After 256 scopes the suffix repeats.
        {"@L: NOP\nGG: NOP\n" +
             [] {
                 std::string s;
                 for (int i = 1; i < 256; ++i) s += "@L: NOP\nG" + std::to_string(i) + ": NOP\n";
                 return s;
             }() +
             "@L: NOP\n",
         hexRun("00 09", 512), "duplicate label @L                00 on line 513"},
        // Names longer than 18 characters lose their last two to the suffix.
        {"@ABCDEFGHIJKLMNOPQXY: NOP\n@ABCDEFGHIJKLMNOPQZZ: NOP\n", "00 09",
         "duplicate label @ABCDEFGHIJKLMNOPQ00 on line 2"},
    });
}

TEST(Scanner, LineNumbersCountLineFeedsInsideStrings) {
    checkCases({
        {"DC.B \"A\nB\"\nFOO\n", "41 0A 42", "parsing failure on line 3"},
        {"DC.B \"A\nB\",R1\n", "41 0A 42", "DC.B    incorrect or missing operand on line 2"},
        {"NOP\nDC.B \"open\nto the end\n", "00 09", "string too long on line 2"},
        {"DC.B \"" + std::string(257, 'x') + "\"\n", "", "string too long on line 1"},
    });
}

TEST(Listing, LinesAndLabelTable) {
    Assembled a = assembleText(
        "START: NOP\n\n  ; comment\nSETPC $6000\n PAD $6006\nLOOP: mov.l @r1,r2\n BRA LATER\n"
        "EARLY: @LOC: NOP\nLATER: DC.L EARLY\nSETPC $FFFFFFFE\nTOP: END\nFOO BAR");
    ASSERT_EQ(a.message(), "");
    EXPECT_EQ(logLines(a.log), (std::vector<std::string>{
                                   "source line #1 binary offset 0 PC $0 NOP    ",
                                   "source line #4 binary offset 2 PC $2 SETPC  ",
                                   "source line #5 binary offset 2 PC $6000 PAD    ",
                                   "source line #6 binary offset 8 PC $6006 MOV.L  ",
                                   "source line #7 binary offset 10 PC $6008 BRA    ",
                                   "source line #8 binary offset 12 PC $600A NOP    ",
                                   "source line #9 binary offset 14 PC $600C DC.L   ",
                                   "source line #10 binary offset 18 PC $6010 SETPC  ",
                                   "source line #11 binary offset 18 PC $FFFFFFFE END    ",
                                   "labels (6):",
                                   "START                  $0",
                                   "LOOP                   $6006",
                                   "LATER                  $600C",
                                   "EARLY                  $600A",
                                   "@LOC              00   $600A",
                                   "TOP                    $FFFFFFFE",
                               }));
    EXPECT_EQ(hexBytes(a.bin), "00 09 FF FF FF FF FF FF 62 12 A0 00 00 09 00 00 60 0A");
}

TEST(Listing, FailingStatementKeepsItsLineAndNoLabelTable) {
    Assembled a = assembleText("L1: NOP\nNOP\nNOP\nNOP\nNOP\nNOP\nMOV.L R1,@R2+\nNOP\n");
    EXPECT_EQ(a.message(), "MOV.L   incorrect or missing operand on line 7");
    EXPECT_EQ(a.result.diagnostic.line, 7u);
    std::vector<std::string> lines = logLines(a.log);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines.back(), "source line #7 binary offset 12 PC $C MOV.L  ");
    EXPECT_EQ(a.bin.size(), 12u);
}

TEST(Listing, NoLabelsNoLabelBlock) {
    Assembled a = assembleText("NOP\n");
    EXPECT_EQ(a.log, "source line #1 binary offset 0 PC $0 NOP    \r\n");
    Assembled empty = assembleText("; nothing\n\n");
    EXPECT_EQ(empty.log, "");
    EXPECT_EQ(empty.bin, "");
}

TEST(Fixup, BranchRanges) {
    const std::string n = "NOP\n";
    checkCases({
        // BT at PC 0x100 to its own address.
        {"SETPC $100\nLL: BT LL\n", "89 FE", ""},
        {"LL: BRA LL\n", "AF FE", ""},
        {"BSR NEXT\nNEXT: NOP\n", "BF FF 00 09", ""},
        {"BRA TT\nNOP\nTT: NOP\n", "A0 00 00 09 00 09", ""},
        {"BF TT\n" + repeat(n, 128) + "TT: NOP\n", "8B 7F " + hexRun("00 09", 129), ""},
        {"BF TT\n" + repeat(n, 129) + "TT: NOP\n", "8B 00 " + hexRun("00 09", 130),
         "invalid address reference on line 1"},
        {"TT: " + repeat(n, 126) + "BF TT\n", repeat("00 09 ", 126) + "8B 80", ""},
        {"TT: " + repeat(n, 127) + "BF TT\n", repeat("00 09 ", 127) + "8B 00",
         "invalid address reference on line 128"},
        {"BSR TT\n" + repeat(n, 2048) + "TT: NOP\n", "B7 FF " + hexRun("00 09", 2049), ""},
        {"BRA TT\n" + repeat(n, 2049) + "TT: NOP\n", "A0 00 " + hexRun("00 09", 2050),
         "invalid address reference on line 1"},
        {"TT: " + repeat(n, 2046) + "BRA TT\n", repeat("00 09 ", 2046) + "A8 00", ""},
        {"TT: " + repeat(n, 2047) + "BRA TT\n", repeat("00 09 ", 2047) + "A0 00",
         "invalid address reference on line 2048"},
        // Odd targets are refused even when near.
        {"BT TT\nDC.B 1\nTT: NOP\n", "89 00 01 00 09", "invalid address reference on line 1"},
        {"BRA TT\nDC.B 1\nTT: NOP\n", "A0 00 01 00 09", "invalid address reference on line 1"},
        {"BRA START\n", "A0 00", "label START                undefined"},
        {"BT/S @LP\nGG: NOP\n", "8D 00 00 09", "label @LP               00 undefined"},
        {"BRA 100\n", "", "BRA     incorrect or missing operand on line 1"},
        {"BT R1\n", "", "BT      incorrect or missing operand on line 1"},
        {"BF\n", "", "missing argument on line 1"},
        {"LL: BF/S LL,junk here\n", "8F FE", ""},
    });
}

TEST(Fixup, PcRelativeRanges) {
    checkCases({
        {"SETPC $2000\nMOV.W @(LL,PC),R1\nPAD $2010\nLL: NOP\n",
         "91 06 FF FF FF FF FF FF FF FF FF FF FF FF FF FF 00 09", ""},
        {"LL: MOV.W @(LL,PC),R1\n", "91 00", "invalid address reference on line 1"},
        {"MOV.W @(LL,PC),R1\nPAD $202\nLL: NOP\n", "91 FF " + repeat("FF ", 512) + "00 09", ""},
        {"MOV.W @(LL,PC),R1\nPAD $204\nLL: NOP\n", "91 00 " + repeat("FF ", 514) + "00 09",
         "invalid address reference on line 1"},
        {"MOV.W @(LL,PC),R1\nDC.B 1,2,3\nLL: NOP\n", "91 00 01 02 03 00 09",
         "invalid address reference on line 1"},
        {"SETPC $1002\nMOV.L @(LL,PC),R3\nPAD $1008\nLL: NOP\n", "D3 01 FF FF FF FF 00 09", ""},
        {"SETPC $1002\nMOV.L @(LL,PC),R3\nPAD $1006\nLL: NOP\n", "D3 00 FF FF 00 09",
         "invalid address reference on line 2"},
        {"SETPC $1002\nMOV.L @(LL,PC),R3\nLL: NOP\n", "D3 00 00 09", ""},  // base is PC + 2
        {"MOVA @(LL,PC),R0\nPAD 1024\nLL: NOP\n", "C7 FF " + repeat("FF ", 1022) + "00 09", ""},
        {"MOVA @(LL,PC),R0\nPAD 1028\nLL: NOP\n", "C7 00 " + repeat("FF ", 1026) + "00 09",
         "invalid address reference on line 1"},
        {"SETPC 4\nMOVA @(LL,PC),R0\nSETPC 0\nLL: NOP\n", "C7 00 00 09",
         "invalid address reference on line 2"},
        {"MOV.L @(LL,PC),R1\nMOV.L @(LL,PC),R2\nLL: NOP\nNOP\n", "D1 00 D2 00 00 09 00 09", ""},
        // The first failing entry stops the pass; earlier fields are already patched.
        {"LL: BRA LL\nBT FAR\nBRA LL\nFAR: NOP\n", "AF FE 89 00 AF FC 00 09", ""},
        {"LL: BRA LL\nMOV.W @(LL,PC),R1\nBRA LL\n", "AF FE 91 00 A0 00",
         "invalid address reference on line 2"},
    });
}

TEST(Fixup, AbsoluteAddressesAndTheUndefinedValue) {
    checkCases({
        {"DC.L LATER,LATER\nLATER: NOP\n", "00 00 00 08 00 00 00 08 00 09", ""},
        {"SETPC $FFFFFFFE\nTOP: DC.L TOP\n", "FF FF FF FE", ""},
        // A label defined at 0x7FFFFFFF is defined: it resolves, and a second definition
        // of it is a duplicate.
        {"SETPC $7FFFFFFF\nEDGE: DC.B 1\nSETPC 0\nDC.L EDGE\n", "01 7F FF FF FF", ""},
        {"SETPC $7FFFFFFF\nEDGE: NOP\nEDGE: NOP\n", "00 09",
         "duplicate label EDGE                 on line 3"},
        {"DC.L NOWHERE\n", "00 00 00 00", "label NOWHERE              undefined"},
    });
}

TEST(Fixup, ReferenceCapacity) {
    // 9,998 references are accepted; the statement that brings the count to 9,999 stops.
    std::string ok = "LL: " + repeat("DC.L LL\n", 9998);
    Assembled a = assembleText(ok);
    EXPECT_EQ(a.message(), "");
    EXPECT_EQ(a.result.referenceCount, 9998u);
    Assembled b = assembleText(ok + "DC.L LL\nNOP\n");
    EXPECT_EQ(b.message(), "overflowed label reference database :(");
    EXPECT_EQ(b.result.diagnostic.line, 0u);
    EXPECT_EQ(b.bin.size(), 4u * 9999);

    // One DC.L line can record several references; the table never grows past 10,000.
    std::string list = "DC.L " + repeat("LL,", 5) + "LL\n";
    Assembled c = assembleText("LL: " + repeat("DC.L LL\n", 9997) + list);
    EXPECT_EQ(c.message(), "overflowed label reference database :(");
    EXPECT_EQ(c.result.referenceCount, 10000u);
    Assembled d =
        assembleText("LL: " + repeat("DC.L LL\n", 9990) + "DC.L " + repeat("LL,", 20) + "LL\n");
    EXPECT_EQ(d.message(), "overflowed label reference database :(");
    EXPECT_EQ(d.result.referenceCount, 10000u);
    EXPECT_EQ(d.bin.size(), 4u * 9990 + 4 * 10);
}

}  // namespace
}  // namespace korvane::test

namespace korvane::test {
namespace {

TEST(Limits, LabelTableHoldsTenThousandNames) {
    std::string defs;
    for (int i = 0; i < 10000; ++i) defs += "LB" + std::to_string(i) + ":\n";
    Assembled full = assembleText(defs + "NOP\n");
    EXPECT_EQ(full.message(), "");
    EXPECT_EQ(full.result.labels.size(), 10000u);
    EXPECT_EQ(logLines(full.log).size(), 1u + 1 + 10000);
    Assembled over = assembleText(defs + "ONEMORE: NOP\n");
    EXPECT_EQ(over.message(), "overflowed label table on line 10001");
    EXPECT_EQ(over.result.labels.size(), 10000u);
    // A name already in the table is still found when the table is full.
    Assembled again = assembleText(defs + "BRA LB9999\n");
    EXPECT_EQ(again.message(), "");
}

// A source whose device fails after its first block.
class FailingSource : public ByteSource {
  public:
    std::ptrdiff_t read(std::span<std::uint8_t> buf) override {
        if (calls_++ > 0) return -1;
        const std::string_view text = "NOP\nNOP\n";
        std::copy(text.begin(), text.end(), buf.begin());
        return static_cast<std::ptrdiff_t>(text.size());
    }
    std::string name() const override { return "flaky.asm"; }

  private:
    int calls_ = 0;
};

TEST(Limits, SourceReadErrorIsReported) {
    FailingSource source;
    MemorySink bin, log;
    NoIncludes none;
    Result r = assemble(source, bin, log, none);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.diagnostic.text, "cannot read flaky.asm");
    EXPECT_EQ(hexBytes(bin.bytes()), "00 09 00 09");
}

// An image device that refuses everything after a number of bytes.
class SmallSink : public MemorySink {
  public:
    explicit SmallSink(std::size_t room) : MemorySink("tiny.bin"), room_(room) {}
    bool append(std::span<const std::uint8_t> bytes) override {
        if (bytes.size() > room_) return false;
        room_ -= bytes.size();
        return MemorySink::append(bytes);
    }

  private:
    std::size_t room_;
};

TEST(Limits, FailingImageDeviceIsReported) {
    MemorySource source("ORG $100000\nNOP\n");
    SmallSink bin(1000);
    MemorySink log;
    NoIncludes none;
    Result r = assemble(source, bin, log, none);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.diagnostic.text, "cannot write tiny.bin");
}

}  // namespace
}  // namespace korvane::test

namespace korvane::test {
namespace {

// An image device whose deferred writes fail when the image is finished.
class FailingFinishSink : public MemorySink {
  public:
    FailingFinishSink() : MemorySink("late.bin") {}
    bool finish() override { return false; }
};

TEST(Limits, ImageThatCannotBeFinishedGetsNoLabelTable) {
    MemorySource source("START: NOP\nBRA START\n");
    FailingFinishSink bin;
    MemorySink log;
    NoIncludes none;
    Result r = assemble(source, bin, log, none);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.diagnostic.text, "cannot write late.bin");
    EXPECT_EQ(log.bytes(),
              "source line #1 binary offset 0 PC $0 NOP    \r\n"
              "source line #2 binary offset 2 PC $2 BRA    \r\n");
    EXPECT_EQ(hexBytes(bin.bytes()), "00 09 AF FD");
}

}  // namespace
}  // namespace korvane::test
