// The operand lexer on its own (values, strings, labels and every lexical error, read
// through the same code path the handlers use), and each way of writing an operand as
// a statement reads it.
#include "source/lexer.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "diag/failure.h"
#include "encode/modes.h"
#include "resolve/tables.h"
#include "unit/support.h"

namespace korvane::detail {

// Reads operands from a text as if it followed a DC.L mnemonic on line 1, through the
// real scanner and lexer.
class LexerProbe {
  public:
    explicit LexerProbe(std::string text)
        : text_("DC.L " + std::move(text)),
          source_(text_),
          scanner_(source_),
          lexer_(scanner_, labels_) {
        scanner_.next();
    }
    // One operand: true if one was read; error holds the message of a failure.
    bool next(std::string& error) {
        try {
            const std::optional<Operand> o = lexer_.next();
            if (!o) return false;
            op_ = *o;
            ++count_;
            return true;
        } catch (const Failure& f) {
            error = f.diagnostic.text;
            return false;
        }
    }
    const Operand& op() const { return op_; }
    std::string string() const {
        return {reinterpret_cast<const char*>(op_.string.data()), op_.string.size()};
    }
    std::uint32_t count() const { return count_; }
    const LabelTable& labels() const { return labels_.table(); }
    bool lineEnd() const { return scanner_.lineEnded(); }
    bool comment() const { return scanner_.inComment(); }
    std::uint32_t line() const { return scanner_.line(); }

  private:
    std::string text_;
    MemorySource source_;
    LineScanner scanner_;
    Labels labels_;
    OperandLexer lexer_;
    Operand op_;
    std::uint32_t count_ = 0;
};

namespace {

// Each statement on line 9, after labels R16, RA, R05, MACHX, GBRX1, LOOP and @LOOP at
// $1000-$100C, checked for the bytes it makes (in hexadecimal) or the message.
using Reading = std::pair<const char*, const char*>;
void expectReadings(std::span<const Reading> cases) {
    static const char digits[] = "0123456789ABCDEF";
    for (const auto& [statement, expected] : cases) {
        SCOPED_TRACE(statement);
        const test::Assembled a = test::assembleText(std::string("        SETPC   $1000\n"
                                                                 "R16:    NOP\n"
                                                                 "RA:     NOP\n"
                                                                 "R05:    NOP\n"
                                                                 "MACHX:  NOP\n"
                                                                 "GBRX1:  NOP\n"
                                                                 "LOOP:   NOP\n"
                                                                 "@LOOP:  NOP\n"
                                                                 "        ") +
                                                     statement + "\n");
        if (!a.result.ok) {
            EXPECT_EQ(a.message(), expected);
            continue;
        }
        std::string hex;
        for (std::size_t k = 14; k < a.bin.size(); ++k) {
            hex += digits[static_cast<unsigned char>(a.bin[k]) >> 4];
            hex += digits[static_cast<unsigned char>(a.bin[k]) & 15];
        }
        EXPECT_EQ(hex, expected);
    }
}

// Each way of writing an operand, as a statement reads it.
TEST(Lexer, EachOperandAsAStatementReadsIt) {
    const Reading cases[] = {
        // Numbers: hexadecimal in any case, decimal, a sign before or after, "#",
        // blanks inside, wrapping at 32 bits.
        {"DC.L    $ff", "000000FF"},
        {"DC.L    $FF", "000000FF"},
        {"DC.L    255", "000000FF"},
        {"DC.L    -1", "FFFFFFFF"},
        {"DC.L    #-1", "FFFFFFFF"},
        {"DC.L    4294967296", "00000000"},
        {"DC.L    4294967297", "00000001"},
        {"DC.L    $123456789", "23456789"},
        {"DC.L    0x10", "00000010"},
        {"DC.L    9X10", "00000010"},
        {"DC.L    0X", "00000000"},
        {"DC.L    5-", "FFFFFFFB"},
        {"DC.L    -$10", "FFFFFFF0"},
        {"DC.L    1 2 3", "0000007B"},
        // General registers, and the ways of writing @Rn, @-Rn, @Rn+.
        {"MOV     R0,R1", "6103"},
        {"MOV     R15,R1", "61F3"},
        {"MOV     r7,R1", "6173"},
        {"MOV     R 1,R2", "6213"},
        {"MOV.L   R1@,R2", "6212"},
        {"MOV.L   R1,@-R15", "2F16"},
        {"MOV.L   @R15+,R1", "61F6"},
        {"MOV.L   (R3),R1", "missing argument on line 9"},
        {"MOV.L   [R3],R1", "missing argument on line 9"},
        // Control and system registers, in any case.
        {"LDC     R1,gbr", "411E"},
        {"STS     MACH,R1", "010A"},
        {"STS     MACL,R1", "011A"},
        {"STS     PR,R1", "012A"},
        {"STC     SR,R1", "0102"},
        {"STC     VBR,R1", "0122"},
        {"MOV.L   @(4,PC),R1", "MOV.L   incorrect or missing operand on line 9"},
        // Names that look like registers but are labels; a local label; a sign before a
        // label is dropped.
        {"DC.L    R16,RA,R05,MACHX,GBRX1", "0000100000001002000010040000100600001008"},
        {"DC.L    @LOOP", "0000100C"},
        {"DC.L    -LOOP", "0000100A"},
        // Pairs: either order of @(disp,Rn); the comma after the second slot ends the
        // operand (so R2 is a third operand, ignored).
        {"MOV.L   @(4,R1),R2", "5211"},
        {"MOV.L   @(R1,4),R2", "5211"},
        {"MOV.L   @(R0,R1,R2),R3", "021E"},
        // The lenient forms the language keeps.
        {"JMP     R3", "432B"},
        {"OR.B    #1", "CF01"},
        {"MOV     1,R1", "E101"},
        // Labels are kept padded to 20 characters; a local one carries its scope, which
        // takes the place of its last characters ("@" inside parentheses is text).
        {"DC.L    @NOWHERE", "label @NOWHERE          00 undefined"},
        {"MOV.L   @(@AB,PC),R1", "label @AB               00 undefined"},
        {"DC.L    ABCDEFGHIJKLMNOPQRST", "label ABCDEFGHIJKLMNOPQRST undefined"},
        {"DC.L    @ABCDEFGHIJKLMNOPQRS", "label @ABCDEFGHIJKLMNOPQ00 undefined"},
        {"DC.L    ABCDEFGHIJKLMNOPQRSTU", "operand too long on line 9"},
    };
    expectReadings(cases);
}

// The lenient readings, each with where it stops: outside the addressing family an
// operand is read by what it names, whatever is written around it.
TEST(Lexer, EachLenientReadingAndWhereItStops) {
    const Reading cases[] = {
        // Registers only: the register named fills the form's operand.
        {"JMP     R3", "432B"},
        {"JSR     @R3+", "430B"},
        {"DT      @R3", "4310"},
        {"MAC.L   R1,R2", "021F"},
        {"MAC.W   @R1+,@R2+", "421F"},
        {"DT      #3", "DT      incorrect or missing operand on line 9"},
        {"ADDC    R1", "missing argument on line 9"},
        // Transfers of control and system registers: the register picks STC or STS,
        // "@" or the side's sign picks the memory form.
        {"STS     MACH,@R3", "4302"},
        {"STS.L   MACH,R3", "030A"},
        {"STS     GBR,R1", "0112"},
        {"STC.L   GBR,@-R4", "4413"},
        {"LDS     +R3,PR", "4326"},
        {"LDC.L   R3,SR", "430E"},
        {"STS     R1,R2", "STS     incorrect or missing operand on line 9"},
        {"STC     PC,R1", "STC     incorrect or missing operand on line 9"},
        {"LDS     R1,R2", "LDS     incorrect or missing operand on line 9"},
        // Immediates with or without "#"; @(R0,GBR) may be left out, and written it must
        // be exactly that.
        {"TRAPA   5", "C305"},
        {"OR.B    1,@(R0,GBR)", "CF01"},
        {"XOR.B   #1,@(GBR,R0)", "XOR.B   incorrect or missing operand on line 9"},
        {"TST.B   #1,@(R1,GBR)", "TST.B   incorrect or missing operand on line 9"},
        {"AND.B   #1,R0", "AND.B   incorrect or missing operand on line 9"},
        {"TRAPA   R1", "TRAPA   incorrect or missing operand on line 9"},
        // A label, whatever its sign.
        {"BRA     -LOOP", "AFFC"},
        {"BT      5", "BT      incorrect or missing operand on line 9"},
        // Data by what each item names.
        {"DC.W    @5,(6),LOOP", "DC.W    incorrect or missing operand on line 9"},
        {"DC.W    @5,(6)", "00050006"},
        // Operands after the last are not read.
        {"JMP     @R3,R4", "432B"},
        {"TRAPA   #1,#2", "C301"},
        {"NOP     R1", "0009"},
        // IMOV.L has no lenient reading.
        {"IMOV.L  5,@R1", "IMOV.L  incorrect or missing operand on line 9"},
        {"IMOV.L  (5),R1", "IMOV.L  incorrect or missing operand on line 9"},
    };
    expectReadings(cases);
}

TEST(Lexer, StringsAndWhatFollowsTheClosingQuote) {
    {
        LexerProbe probe("\"a;b\",\"C\"\n");
        std::string error;
        ASSERT_TRUE(probe.next(error));
        EXPECT_EQ(modeOf(probe.op(), Side::Source), Mode::String);
        EXPECT_EQ(probe.string(), "a;b");
        ASSERT_TRUE(probe.next(error));
        EXPECT_EQ(probe.op().string.size(), 1u);
        EXPECT_TRUE(probe.lineEnd());  // the byte after the quote was the line feed
        EXPECT_FALSE(probe.next(error));
    }
    {
        // A blank after the quote is dropped; the comma then ends an empty operand.
        LexerProbe probe("\"AB\" ,5");
        std::string error;
        ASSERT_TRUE(probe.next(error));
        EXPECT_FALSE(probe.next(error));
        EXPECT_EQ(error, "");
    }
    {
        LexerProbe probe("\"AB\";x");
        std::string error;
        ASSERT_TRUE(probe.next(error));
        EXPECT_TRUE(probe.comment());
    }
    {
        // A line feed inside a string counts as a source line.
        LexerProbe probe("\"A\nB\nC\",R1");
        std::string error;
        ASSERT_TRUE(probe.next(error));
        EXPECT_EQ(probe.op().string.size(), 5u);
        EXPECT_EQ(probe.line(), 3u);
    }
    {
        // A string inside a pair is a plain string operand.
        LexerProbe probe("(4,\"AB\")");
        std::string error;
        ASSERT_TRUE(probe.next(error));
        EXPECT_EQ(modeOf(probe.op(), Side::Source), Mode::String);
    }
}

TEST(Lexer, EmptyOperandsEndTheList) {
    for (const char* text : {"", ",5", "#,5", "$,5", " ; 5", "\n5", "(,R1)"}) {
        SCOPED_TRACE(text);
        LexerProbe probe(text);
        std::string error;
        EXPECT_FALSE(probe.next(error));
        EXPECT_EQ(error, "");
    }
}

TEST(Lexer, LexicalErrors) {
    const std::string s256(256, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {"ABCDEFGHIJKLMNOPQRSTU", "operand too long on line 1"},
        {"(ABCDEFGHIJ,ABCDEFGHIJKLMNOPQRSTU)", "operand too long on line 1"},
        {"$\"A\"", "what is this junk before this quote on line 1?"},
        {"@\"A\"", "what is this junk before this quote on line 1?"},
        {"\"\"", "empty string on line 1"},
        {"\"" + s256 + "\"", ""},
        {"\"" + s256 + "x\"", "string too long on line 1"},
        {"\"open\nstill\nopen", "string too long on line 1"},
        {"(R0,(R1,R2))", "too many commas inside operand on line 1"},
        {"$G", "thought there was a hex number, but something weird showed up on line 1"},
        {"$1X", "thought there was a hex number, but something weird showed up on line 1"},
        {"12X", "thought there was a decimal number, but something weird showed up on line 1"},
        {"1A", "thought there was a decimal number, but something weird showed up on line 1"},
        {"R", "there is something that appears to be a one-character-long label name on line 1"},
        {"(R1,X)",
         "there is something that appears to be a one-character-long label name on line 1"},
        {"@ABCDEFGHIJKLMNOPQRST", "label name too long on line 1"},
        {"($G,R)", "thought there was a hex number, but something weird showed up on line 1"},
    };
    for (const auto& [text, message] : cases) {
        SCOPED_TRACE(text);
        LexerProbe probe(text);
        std::string error;
        probe.next(error);
        EXPECT_EQ(error, message);
    }
}

TEST(Lexer, LabelTableFull) {
    std::string text;
    for (int i = 0; i < 10001; ++i) text += "L" + std::to_string(i) + ",";
    LexerProbe probe(text);
    std::string error;
    int read = 0;
    while (probe.next(error)) ++read;
    EXPECT_EQ(read, 10000);
    EXPECT_EQ(error, "overflowed label table on line 1");
    EXPECT_EQ(probe.labels().count(), 10000u);
}

}  // namespace
}  // namespace korvane::detail
