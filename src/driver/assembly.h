// One run of the assembler: the assembly state shared by the scanner, the operand
// lexer, the encoders, the directives and the fixup pass. Each subsystem defines its
// member functions in its own folder.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "driver/output.h"
#include "encode/optable.h"
#include "korvane/korvane.h"
#include "resolve/tables.h"
#include "source/reader.h"
#include "source/text.h"

namespace korvane::detail {

// OperandShape bits.
enum : std::uint32_t {
    SHAPE_INDIRECT = 0x0001,
    SHAPE_PAREN = 0x0002,
    SHAPE_STRING = 0x0004,
    SHAPE_REG = 0x0008,
    SHAPE_R0 = 0x0010,
    SHAPE_NUMBER = 0x0020,
    SHAPE_LABEL = 0x0040,
    SHAPE_SYSREG = 0x0080,
    SHAPE_PAIR = 0x0100,  // formed by the addressing-mode encoder for a parenthesised pair
    SHAPE_MINUS = 0x0200,
    SHAPE_PLUS = 0x0400,
    SHAPE_HEX = 0x0800,
};

// The operand just read by the lexer. value, regNum, sysReg, labelIndex and slotShape
// keep their contents from one operand to the next until overwritten.
struct OperandState {
    std::uint8_t slotText[2][20];
    std::uint8_t slotLen[2] = {0, 0};
    std::uint32_t slotShape[2] = {0, 0};
    std::uint8_t lastSlot = 0;  // 1 for a parenthesised pair
    std::uint32_t shape = 0;    // shape of the last slot, or SHAPE_STRING
    std::uint32_t value = 0;
    std::uint8_t regNum = 0;
    std::uint8_t sysReg = 0;
    std::uint32_t labelIndex = 0;
    std::uint32_t operandCount = 0;
    bool marked = false;  // the operand held a byte other than a blank (even one ignored)
    std::uint8_t stringBytes[256];
    std::uint32_t stringLen = 0;
    bool lineEmitted = false;
};

class Assembly {
    friend class LexerProbe;  // unit tests of the operand lexer

  public:
    Assembly(ByteSource& source, ByteSink& bin, ByteSink& log, IncludeOpener& includes,
             const Options& options = {});
    Result run();

  private:
    enum class Flow { Continue, NextLine, Stop };

    // Line scanner and listing (source/scanner.cpp).
    void scan();
    void resetWord() {
        // The word buffer stays blank-padded beyond the word: the mnemonic lookup
        // reads its first 8 bytes whole.
        std::memset(word_, ' ', 8);
        wordLen_ = 0;
        comment_ = false;
        lineEnd_ = false;
    }
    Flow wordComplete();
    Flow statementDone();
    void defineLabel();
    void writeListingLine(const OpRow& row);
    void applyLocalSuffix(LabelName& name);
    std::uint32_t labelFor(const LabelName& name);  // find or append an undefined entry

    // Operand lexer (source/lexer.cpp).
    bool nextOperand();  // false when the line's operands have run out
    // After nextOperand() gave false: whether the empty operand, and the rest of the
    // line up to its comment or end, hold nothing but blanks.
    bool operandsEndBlank();
    void readString();
    void classify(int slot);
    [[noreturn]] void rejectOperand();  // the current statement's operand error
    [[noreturn]] void operandError();   // "MNEMONC incorrect or missing operand on line N"

    // Encoders (encode/).
    void dispatchOperands();
    void emitWord(std::uint16_t word);
    void encodeRegisterOne();  // format 1
    void encodeRegisterTwo();  // format 2
    void encodeStore();        // format 3: STC, STS
    void encodeImmediate();    // format A
    bool isR0GbrPair() const;  // the operand just read is @(R0,GBR)
    void encodeAddressing();   // format B
    std::uint16_t addressingWord(std::uint32_t F, unsigned m, bool firstIsPair,
                                 std::uint32_t firstSlot0);
    void encodeLoad();    // format C: LDC, LDS
    void encodeBranch();  // formats D and E

    // Directives (directives/).
    void align(std::uint32_t modulus);
    void placeLiterals();   // IDATA
    void encodeLocation();  // format 4: ORG, PAD, SETPC
    void encodeData();      // formats 6, 7, 8: DC.B, DC.W, DC.L
    void encodeIncbin();    // format 9
    void encodeImov();      // format H: IMOV.L

    // Appending to the image: needRoom() first, then putByte()/putBytes(), which keep
    // written_ and pc_ in step (ORG and PAD fill through bin_ and set the PC themselves).
    void needRoom(std::uint64_t n);
    void putByte(std::uint8_t b) {
        bin_.put(b);
        ++written_;
        ++pc_;
    }
    void putBytes(const std::uint8_t* p, std::size_t n) {
        bin_.put(p, n);
        written_ += n;
        pc_ += static_cast<std::uint32_t>(n);
    }
    void recordReference(std::uint8_t kind, std::uint32_t binOffset, std::uint32_t target);
    std::uint32_t binOffset() const { return static_cast<std::uint32_t>(written_ + 1); }

    // Resolution and report (resolve/).
    void resolveReferences();
    void writeLabelListing();
    void checkReferenceCapacity();

    SourceReader in_;
    OutputBuffer bin_;
    OutputBuffer log_;
    IncludeOpener& includes_;
    const std::uint8_t placeholder_;

    // Assembly state.
    std::uint32_t line_ = 0;
    std::uint32_t pc_ = 0;
    std::uint64_t written_ = 0;  // bytes appended to the image (binary offset - 1)
    std::uint32_t statements_ = 0;

    // Scanner state.
    std::uint8_t word_[24];
    std::size_t wordLen_ = 0;
    bool comment_ = false;
    bool lineEnd_ = false;
    const OpRow* row_ = nullptr;
    std::uint8_t scope_ = 0;
    bool localUsed_ = false;

    // The listing's numbers, kept as text.
    PrintedNumber<10, std::uint32_t> listedLine_;
    PrintedNumber<10, std::uint64_t> listedOffset_;
    PrintedNumber<16, std::uint32_t> listedPc_;

    OperandState op_;
    LabelTable labels_;
    RefTable refs_;
    std::vector<std::uint32_t> pendingLiterals_;  // RefTable indices of kind REF_IMOV_PENDING
};

}  // namespace korvane::detail
