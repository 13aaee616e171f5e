// The operand lexer: reads a statement's operands one at a time from the scanner's
// line, splits a parenthesised pair into its two slots and classifies each slot as a
// number, a general register, a system register or a label; quoted strings are read
// whole. Each call returns one operand as a value.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "source/scanner.h"
#include "vocab/vocabulary.h"

namespace korvane::detail {

// What the lexer saw of an operand's slot; encode/modes.h reads them as addressing
// modes, and nothing else does.
enum : std::uint32_t {
    SHAPE_INDIRECT = 0x0001,
    SHAPE_PAREN = 0x0002,
    SHAPE_STRING = 0x0004,
    SHAPE_REG = 0x0008,
    SHAPE_R0 = 0x0010,
    SHAPE_NUMBER = 0x0020,
    SHAPE_LABEL = 0x0040,
    SHAPE_SYSREG = 0x0080,
    SHAPE_MINUS = 0x0200,
    SHAPE_PLUS = 0x0400,
    SHAPE_HEX = 0x0800,
};

struct Operand {
    std::uint32_t shape = 0;               // of the last slot, or SHAPE_STRING
    std::uint32_t slotShape[2] = {};       // each slot of a pair
    std::uint32_t value = 0;               // the last number read
    std::uint32_t labelIndex = 0;          // the LabelTable entry of the last label
    std::uint8_t reg = 0;                  // the last general register
    std::uint8_t sysReg = 0;               // the RegNames row of the last system register
    bool pair = false;                     // a parenthesised pair: (x,y)
    std::span<const std::uint8_t> string;  // a string's bytes, until the next operand
};

// Thrown for a pair written without its second slot, "(x,)": no operand form at all,
// so the statement's own operand error (which the lexer does not know) is reported.
struct EmptySecondSlot {};

// Where the lexer hands each label operand the moment it is read (the run enters it in
// its label table, so that its errors come in the order of the line), and the index
// that comes back.
class LabelUses {
  public:
    virtual std::uint32_t refer(const LabelName& name, std::uint32_t line) = 0;

  protected:
    ~LabelUses() = default;
};

class OperandLexer {
  public:
    OperandLexer(LineScanner& line, LabelUses& labels) : line_(line), labels_(labels) {}

    // The next operand of the statement, or nothing when its operands have run out (the
    // line ended, a comment began, or an operand is empty). Stops the run on a lexical
    // error; a label operand is handed to LabelUses as it is read. Throws
    // EmptySecondSlot for "(x,)".
    std::optional<Operand> next();

    // After next() gave nothing: whether the empty operand, and the rest of the line up
    // to its comment or end, hold nothing but blanks.
    bool restIsBlank();

  private:
    void readString(Operand& o, std::uint32_t shape);
    void classify(Operand& o, int slot);

    LineScanner& line_;
    LabelUses& labels_;
    std::uint8_t slotText_[2][20];
    std::uint8_t slotLen_[2] = {0, 0};
    std::uint8_t stringBytes_[256];
    bool marked_ = false;  // the last operand held a byte other than a blank
};

}  // namespace korvane::detail
