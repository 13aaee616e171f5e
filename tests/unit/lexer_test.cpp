// The operand lexer on its own: shapes, values, registers, labels and every lexical
// error, read through the same code path that the encoders use.
#include "source/lexer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/failure.h"
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
          lexer_(scanner_, uses_) {
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
    struct Uses final : LabelUses {
        explicit Uses(Labels& l) : labels(l) {}
        std::uint32_t refer(const LabelName& name, std::uint32_t line) override { return labels.refer(name, line); }
        Labels& labels;
    } uses_{labels_};
    OperandLexer lexer_;
    Operand op_;
    std::uint32_t count_ = 0;
};

namespace {

struct ShapeCase {
    const char* text;
    std::uint32_t shape;
    std::uint32_t value;  // checked when the shape has SHAPE_NUMBER
    int reg;              // checked when >= 0 (reg, or sysReg for SHAPE_SYSREG)
};

TEST(Lexer, ShapesAndValuesOfSingleOperands) {
    const ShapeCase cases[] = {
        {"$ff", SHAPE_NUMBER | SHAPE_HEX, 255, -1},
        {"$FF", SHAPE_NUMBER | SHAPE_HEX, 255, -1},
        {"255", SHAPE_NUMBER, 255, -1},
        {"-1", SHAPE_NUMBER, 0xFFFFFFFF, -1},
        {"#-1", SHAPE_NUMBER, 0xFFFFFFFF, -1},
        {"4294967296", SHAPE_NUMBER, 0, -1},
        {"4294967297", SHAPE_NUMBER, 1, -1},
        {"$123456789", SHAPE_NUMBER | SHAPE_HEX, 0x23456789, -1},
        {"0x10", SHAPE_NUMBER | SHAPE_HEX, 16, -1},
        {"9X10", SHAPE_NUMBER | SHAPE_HEX, 16, -1},
        {"0X", SHAPE_NUMBER | SHAPE_HEX, 0, -1},
        {"5-", SHAPE_NUMBER, 0xFFFFFFFB, -1},
        {"-$10", SHAPE_NUMBER | SHAPE_HEX, 0xFFFFFFF0, -1},
        {"1 2 3", SHAPE_NUMBER, 123, -1},
        {"R0", SHAPE_REG | SHAPE_R0, 0, 0},
        {"R15", SHAPE_REG, 0, 15},
        {"r7", SHAPE_REG, 0, 7},
        {"R 1", SHAPE_REG, 0, 1},
        {"R1@", SHAPE_REG | SHAPE_INDIRECT, 0, 1},
        {"@-R15", SHAPE_REG | SHAPE_INDIRECT | SHAPE_MINUS, 0, 15},
        {"@R15+", SHAPE_REG | SHAPE_INDIRECT | SHAPE_PLUS, 0, 15},
        {"(R3)", SHAPE_REG | SHAPE_INDIRECT | SHAPE_PAREN, 0, 3},
        {"[R3]", SHAPE_REG | SHAPE_INDIRECT | SHAPE_PAREN, 0, 3},
        {"gbr", SHAPE_SYSREG, 0, 2},
        {"MACH", SHAPE_SYSREG, 0, 0},
        {"MACL", SHAPE_SYSREG, 0, 1},
        {"PC", SHAPE_SYSREG, 0, 3},
        {"PR", SHAPE_SYSREG, 0, 4},
        {"SR", SHAPE_SYSREG, 0, 5},
        {"VBR", SHAPE_SYSREG, 0, 6},
        {"R16", SHAPE_LABEL, 0, -1},
        {"RA", SHAPE_LABEL, 0, -1},
        {"R05", SHAPE_LABEL, 0, -1},
        {"MACHX", SHAPE_LABEL, 0, -1},
        {"GBRX1", SHAPE_LABEL, 0, -1},
        {"@LOOP", SHAPE_LABEL | SHAPE_INDIRECT, 0, -1},
        {"-LOOP", SHAPE_LABEL | SHAPE_MINUS, 0, -1},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.text);
        LexerProbe probe(c.text);
        std::string error;
        ASSERT_TRUE(probe.next(error)) << error;
        EXPECT_EQ(probe.op().shape, c.shape);
        EXPECT_EQ(probe.op().pair, false);
        if (c.shape & SHAPE_NUMBER) {
            EXPECT_EQ(probe.op().value, c.value);
        }
        if (c.reg >= 0) {
            EXPECT_EQ((c.shape & SHAPE_SYSREG) ? probe.op().sysReg : probe.op().reg, c.reg);
        }
    }
}

TEST(Lexer, PairsSplitIntoTwoSlots) {
    LexerProbe probe("@(4,R1),@(R0,R1,R2)");
    std::string error;
    ASSERT_TRUE(probe.next(error));
    EXPECT_EQ(probe.op().pair, true);
    EXPECT_EQ(probe.op().slotShape[0], SHAPE_NUMBER | SHAPE_INDIRECT | SHAPE_PAREN);
    EXPECT_EQ(probe.op().slotShape[1], SHAPE_REG);
    EXPECT_EQ(probe.op().value, 4u);
    EXPECT_EQ(probe.op().reg, 1);
    // The comma after the second slot ends the operand: R0,R1 is one pair, R2 the next.
    ASSERT_TRUE(probe.next(error));
    EXPECT_EQ(probe.op().pair, true);
    EXPECT_EQ(probe.op().slotShape[0], SHAPE_REG | SHAPE_R0 | SHAPE_INDIRECT | SHAPE_PAREN);
    EXPECT_EQ(probe.op().reg, 1);
    ASSERT_TRUE(probe.next(error));
    EXPECT_EQ(probe.op().pair, false);
    EXPECT_EQ(probe.op().shape, SHAPE_REG);
    EXPECT_EQ(probe.op().reg, 2);
    EXPECT_FALSE(probe.next(error));
    EXPECT_EQ(probe.count(), 3u);
}

TEST(Lexer, LabelsAreStoredPaddedWithLocalSuffix) {
    LexerProbe probe("LOOP,@LOOP,(@AB,R1),ABCDEFGHIJKLMNOPQRST,@ABCDEFGHIJKLMNOPQRS");
    std::string error;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(probe.next(error)) << error;
    const LabelTable& t = probe.labels();
    ASSERT_EQ(t.count(), 5u);
    auto name = [&](std::uint32_t i) { return std::string(t.name(i).data(), 20); };
    EXPECT_EQ(name(0), "LOOP                ");
    EXPECT_EQ(name(1), "@LOOP             00");
    EXPECT_EQ(name(2), "@AB               00");  // "@" inside parentheses is text
    EXPECT_EQ(name(3), "ABCDEFGHIJKLMNOPQRST");
    EXPECT_EQ(name(4), "@ABCDEFGHIJKLMNOPQ00");  // R and S give way to the suffix
    for (std::uint32_t i = 0; i < 5; ++i) {
        EXPECT_FALSE(t.defined(i));
        EXPECT_EQ(t.value(i), LABEL_UNDEFINED);
    }
}

TEST(Lexer, StringsAndWhatFollowsTheClosingQuote) {
    {
        LexerProbe probe("\"a;b\",\"C\"\n");
        std::string error;
        ASSERT_TRUE(probe.next(error));
        EXPECT_EQ(probe.op().shape, SHAPE_STRING);
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
        EXPECT_EQ(probe.op().shape, SHAPE_STRING);
        EXPECT_EQ(probe.op().pair, false);
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
