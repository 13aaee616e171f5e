// END, OPT, ALIGN, IDATA, ORG, PAD, SETPC, DC.B/W/L, INCBIN and the IMOV.L literal pool.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/support.h"

namespace korvane::test {
namespace {

TEST(Directives, EndOptAlign) {
    checkCases({
        {"NOP\nNOP\nNOP\nNOP\nEND\nFOO\nMOV.L\n\"", "00 09 00 09 00 09 00 09", ""},
        {"END garbage 1 2 3\nNOP\n", "", ""},
        {"OPT anything, at all \"\nNOP\n", "00 09", ""},
        {"SETPC $1001\nALIGN.W\nNOP\n", "FF 00 09", ""},
        {"SETPC $1002\nALIGN.W\nNOP\n", "00 09", ""},
        {"SETPC $1001\nALIGN.L\n", "FF FF FF", ""},
        {"SETPC $1002\nALIGN.L\n", "FF FF", ""},
        {"SETPC $1003\nALIGN.L\n", "FF", ""},
        {"SETPC $1004\nALIGN.L\n", "", ""},
        {"SETPC $FFFFFFFF\nALIGN.L\n", "FF", ""},
        // A label on an ALIGN line takes the PC before the padding.
        {"DC.B 1\nAL: ALIGN.L\nDC.L AL\n", "01 FF FF FF 00 00 00 01", ""},
        // ALIGN follows the PC, not the file position.
        {"DC.B 1\nSETPC 0\nALIGN.L\nNOP\n", "01 00 09", ""},
    });
    Assembled a = assembleText("NOP\nEND\nNOP\n");
    EXPECT_EQ(logLines(a.log).back(), "source line #2 binary offset 2 PC $2 END    ");
}

TEST(Directives, LocationDirectives) {
    checkCases({
        {"ORG $10\n", hexRun("FF", 16), ""},
        {"SETPC $10\nORG 0\nNOP\n", "00 09", ""},
        {"SETPC $1C\nPAD $20\n", "FF FF FF FF", ""},
        {"SETPC $1C\nORG $20\n", "FF FF FF FF", ""},
        {"ORG 4\nORG 2\nLL: NOP\nDC.L LL\n", "FF FF FF FF 00 09 00 00 00 02", ""},
        {"SETPC $8000\nLL: DC.L LL\n", "00 00 80 00", ""},
        {"LL: SETPC $8000\nDC.L LL\n", "00 00 00 00", ""},
        {"ORG LABEL1\n", "", "ORG     incorrect or missing operand on line 1"},
        {"PAD R1\n", "", "PAD     incorrect or missing operand on line 1"},
        {"SETPC \"A\"\n", "", "SETPC   incorrect or missing operand on line 1"},
        {"ORG\n", "", "missing argument on line 1"},
        {"SETPC ; none\n", "", "missing argument on line 1"},
    });
    Assembled a = assembleText("ORG $100\nLL: NOP\n");
    EXPECT_EQ(a.bin.size(), 258u);
    EXPECT_EQ(logLines(a.log)[1], "source line #2 binary offset 256 PC $100 NOP    ");
}

TEST(Directives, DataDirectives) {
    checkCases({
        {"DC.B 1,2,$FF\n", "01 02 FF", ""},
        {"DC.B -1\nDC.B 256\n", "FF 00", ""},
        {"DC.W $12345\n", "23 45", ""},
        {"DC.B 300,-1\n", "2C FF", ""},
        // Data keep their truncation; an instruction's field does not.
        {"NOP\nMOV #300,R1\nNOP\n", "00 09", "number out of range on line 2"},
        {"DC.W 1\nMOV.L @(64,R1),R2\n", "00 01", "invalid address reference on line 2"},
        {"IMOV.L #$12345678,R1\nTRAPA #256\nIDATA\n", "D1 00", "number out of range on line 2"},
        {"DC.L -2\nDC.L $12345678\n", "FF FF FF FE 12 34 56 78", ""},
        {"DC.B \"AB\"\n", "41 42", ""},
        {"DC.W \"ABC\"\nNOP\n", "41 42 43 00 09", ""},
        {"DC.L \"aB\",1\n", "61 42 00 00 00 01", ""},
        {"DC.B \"AB\",3\n", "41 42 03", ""},
        // An empty operand ends the list only with nothing but blanks after it.
        {"DC.B \"AB\" ,3\n", "41 42", "missing argument on line 1"},
        {"DC.B 1,,2\n", "01", "missing argument on line 1"},
        {"DC.W 1,(,2)\n", "00 01", "missing argument on line 1"},
        {"DC.L 1, ,2\n", "00 00 00 01", "missing argument on line 1"},
        {"DC.B 1,#\n", "01", "missing argument on line 1"},
        {"DC.B 1,,\n", "01", ""},
        {"DC.B 1,,,\n", "01", "missing argument on line 1"},
        {"DC.B \"a\nb\" , 2\nNOP\n", "61 0A 62", "missing argument on line 2"},
        {"DC.B 1,\n", "01", ""},
        {"DC.B 1, \t\r\nNOP\n", "01 00 09", ""},
        {"DC.B 1,  ; 2\n", "01", ""},
        {"DC.B \"AB\" ; 3\n", "41 42", ""},
        {"DC.B 3,", "03", ""},
        {"DC.B 1 ; 2\n", "01", ""},
        {"DC.B \"a;b\" ; c\n", "61 3B 62", ""},
        {"DC.W LABEL1\n", "", "DC.W    incorrect or missing operand on line 1"},
        {"DC.B LABEL1\n", "", "DC.B    incorrect or missing operand on line 1"},
        {"DC.B 1,2,R3\n", "01 02", "DC.B    incorrect or missing operand on line 1"},
        {"DC.L GBR\n", "", "DC.L    incorrect or missing operand on line 1"},
        {"DC.L L1,L2,L3\nL1: L2: NOP\nL3: NOP\n", "00 00 00 0C 00 00 00 0C 00 00 00 0E 00 09 00 09",
         ""},
        {"DC.B ,1\n", "", "missing argument on line 1"},
        {"DC.B \"\"\n", "", "empty string on line 1"},
        {"DC.B -\"A\"\n", "", "what is this junk before this quote on line 1?"},
        {"DC.B (1,)\n", "", "DC.B    incorrect or missing operand on line 1"},
    });
}

TEST(Directives, IncbinCopiesWholeFiles) {
    MemoryIncludes inc;
    for (std::size_t size : {1u, 4094u, 4095u, 4096u, 4097u, 8191u, 70000u}) {
        std::string data(size, '\0');
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + size) & 0xFF);
        inc.files["f" + std::to_string(size)] = data;
        Assembled a =
            assembleText("INCBIN \"f" + std::to_string(size) + "\"\nLL: NOP\nDC.L LL\n", inc);
        ASSERT_EQ(a.message(), "") << size;
        const std::uint32_t label = static_cast<std::uint32_t>(size);
        std::string expect =
            data + std::string("\x00\x09", 2) +
            std::string{static_cast<char>(label >> 24), static_cast<char>(label >> 16),
                        static_cast<char>(label >> 8), static_cast<char>(label)};
        EXPECT_EQ(a.bin, expect) << size;
        EXPECT_EQ(
            logLines(a.log)[1], "source line #2 binary offset " + std::to_string(size) + " PC $" +
                                    [&] {
                                        char b[16];
                                        std::snprintf(b, sizeof b, "%X",
                                                      static_cast<unsigned>(size));
                                        return std::string(b);
                                    }() +
                                    " NOP    ");
    }
    inc.files["odd"] = "x";
    inc.files["Case.bin"] = "AB";
    checkCases(
        {
            {"INCBIN \"odd\"\nNOP\n", "78 00 09", ""},
            {"incbin \"Case.bin\"\n", "41 42", ""},
            {"INCBIN \"CASE.BIN\"\n", "", "included file CASE.BIN is empty"},
            {"INCBIN \"missing\"\n", "", "included file missing is empty"},
            {"INCBIN \"odd\",5,junk\n", "78", ""},
            {"INCBIN odd\n", "", "expected filename (in quotes) on line 1"},
            {"INCBIN 5\n", "", "expected filename (in quotes) on line 1"},
            {"INCBIN (\"odd\",R1)\n", "", "what is this junk before this quote on line 1?"},
            {"INCBIN (R1,)\n", "", "expected filename (in quotes) on line 1"},
            {"INCBIN\n", "", "missing argument on line 1"},
            {"INCBIN \"\"\n", "", "empty string on line 1"},
        },
        inc);
}

// An include file that reports a size without holding the bytes.
class HugeIncludes : public IncludeOpener {
  public:
    std::uint64_t size;
    explicit HugeIncludes(std::uint64_t s) : size(s) {}
    Included open(std::string_view) override {
        class File : public IncludeFile {
          public:
            explicit File(std::uint64_t s) : s_(s) {}
            std::uint64_t size() const override { return s_; }
            std::ptrdiff_t read(std::span<std::uint8_t> b) override {
                std::fill(b.begin(), b.end(), std::uint8_t{0xAA});
                return static_cast<std::ptrdiff_t>(b.size());
            }

          private:
            std::uint64_t s_;
        };
        return std::make_unique<File>(size);
    }
};

// A file that ends before its announced size.
class ShrinkingIncludes : public IncludeOpener {
  public:
    Included open(std::string_view) override {
        class File : public IncludeFile {
          public:
            std::uint64_t size() const override { return 100; }
            std::ptrdiff_t read(std::span<std::uint8_t>) override { return 0; }
        };
        return std::make_unique<File>();
    }
};

TEST(Directives, ImageLimits) {
    HugeIncludes fourGiB(0x100000000ull);
    checkCases({{"INCBIN \"big\"\n", "", "included file big is too large"}}, fourGiB);
    HugeIncludes justUnder(0xFFFFFFFFull);
    checkCases({{"DC.B 1\nINCBIN \"big\"\n", "01", "output too large on line 2"}}, justUnder);
    ShrinkingIncludes shrinking;
    checkCases({{"INCBIN \"gone\"\n", "", "cannot read gone"}}, shrinking);
    checkCases({
        {"DC.B 1\nSETPC 0\nORG $FFFFFFFF\n", "01", "output too large on line 3"},
        {"DC.B 7\nSETPC 0\nPAD -1\n", "07", "output too large on line 3"},
    });
}

TEST(Directives, LiteralPool) {
    checkCases({
        {"IMOV.L #$12345678,R3\nIDATA\n", "D3 00 FF FF 12 34 56 78", ""},
        {"SETPC $100\nIMOV.L #$12345678,R1\nIMOV.L #$FFFF,R2\nIDATA\n",
         "D1 00 D2 01 12 34 56 78 00 00 FF FF", ""},
        {"NOP\nIMOV.L #$12345678,R1\nIMOV.L #$FFFF,R2\nIDATA\n",
         "00 09 D1 01 D2 01 FF FF 12 34 56 78 00 00 FF FF", ""},
        {"IMOV.L #5,R0\nIMOV.L #5,R1\nIDATA\n", "D0 00 D1 01 00 00 00 05 00 00 00 05", ""},
        // The displacement counts from the instruction's own PC, whatever its alignment.
        {"SETPC $3\nIMOV.L #1,R1\nIDATA\n", "D1 01 FF FF FF 00 00 00 01", ""},
        {"SETPC $1\nIMOV.L #1,R1\nIDATA\n", "D1 00 FF 00 00 00 01", ""},
        {"SETPC $2\nIMOV.L #1,R1\nIDATA\n", "D1 00 00 00 00 01", ""},
        {"IMOV.L #-1,R0\nIDATA\nIDATA\n", "D0 00 FF FF FF FF FF FF", ""},
        {"IMOV.L #1,R0\nIDATA\nIMOV.L #2,R1\nIDATA\n",
         "D0 00 FF FF 00 00 00 01 D1 00 FF FF 00 00 00 02", ""},
        {"IDATA\nNOP\nIDATA\n", "00 09 FF FF", ""},
        {"IMOV.L 0x10,r15\nIDATA\n", "DF 00 FF FF 00 00 00 10", ""},
        {"IMOV.L #5,R1,R2\nIDATA\n", "D1 00 FF FF 00 00 00 05", ""},
        {"IMOV.L #5,R1\n", "D1 00",
         "IMOV was used on line 1 but no IDATA area was specified afterward"},
        {"IMOV.L #5,R1\nIDATA\nIMOV.L #6,R2\n", "D1 00 FF FF 00 00 00 05 D2 00",
         "IMOV was used on line 3 but no IDATA area was specified afterward"},
        {"IMOV.L #5,R1\nORG 1100\nIDATA\n", "D1 00 " + hexRun("FF", 1098) + " 00 00 00 05",
         "invalid address reference on line 1"},
        {"SETPC $100\nIMOV.L #5,R1\nSETPC 0\nIDATA\n", "D1 00 00 00 00 05",
         "invalid address reference on line 2"},
        {"IMOV.L LABEL,R1\n", "", "IMOV.L  incorrect or missing operand on line 1"},
        {"IMOV.L #5,GBR\n", "", "IMOV.L  incorrect or missing operand on line 1"},
        {"IMOV.L #5,@(7,R1)\n", "", "IMOV.L  incorrect or missing operand on line 1"},
        {"IMOV.L #5,@R1\n", "", "IMOV.L  incorrect or missing operand on line 1"},
        {"IMOV.L @(4,R1),R1\n", "", "IMOV.L  incorrect or missing operand on line 1"},
        {"IMOV.L #5\n", "", "missing argument on line 1"},
        {"IMOV.L\n", "", "missing argument on line 1"},
    });
}

}  // namespace
}  // namespace korvane::test
