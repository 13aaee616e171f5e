// The statements' handlers: one function per Format, handle<Name>. Each takes its
// statement's operands one at a time and writes the image (an instruction's picks the
// form and writes its word); it returns false when the operands ran out before
// anything was written. The instructions' handlers are here (encode/), the directives'
// in directives/.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "vocab/vocabulary.h"
#include "isa/isa.h"
#include "output/image.h"
#include "resolve/literal_pool.h"
#include "resolve/tables.h"
#include "source/lexer.h"

namespace korvane::detail {

// The operands of one statement, pulled from the lexer one at a time.
class Operands {
  public:
    Operands(OperandLexer& lexer, const LineScanner& line) : lexer_(lexer), line_(line) {}
    // The statement whose operands come next.
    void begin(const OpRow& row) { row_ = &row; }

    // The next operand, or nothing when they have run out. (A pair without its second
    // slot throws EmptySecondSlot: the caller turns it into the operand error.)
    std::optional<Operand> next() { return lexer_.next(); }
    // After next() gave nothing: whether nothing but blanks follows on the line.
    bool restIsBlank() { return lexer_.restIsBlank(); }

    // The statement's operand error: "MNEMONC incorrect or missing operand on line N"
    // (for INCBIN, "expected filename (in quotes) on line N").
    [[noreturn]] void reject() const;

    std::uint32_t line() const { return line_.line(); }
    const OpRow& row() const { return *row_; }

  private:
    OperandLexer& lexer_;
    const LineScanner& line_;
    const OpRow* row_ = nullptr;
};

// What a handler works on: the run's state a statement may change.
struct Statement {
    Operands& operands;
    Image& image;
    RefTable& refs;
    LiteralPool& pool;         // IMOV.L's constants until IDATA
    IncludeOpener& includes;   // INCBIN's files
};

// The forms of each row's mnemonic (none for a directive), found once.
extern const std::array<sh2::FormSet, kOpRows> RowForms;
inline const sh2::FormSet& formsOf(const OpRow& row) {
    return RowForms[static_cast<std::size_t>(&row - OpTable.data())];
}

// Appends a form's word. Always true: a statement that gets here has written.
inline bool emit(Statement& s, const sh2::Form& form, const sh2::Fields& fields) {
    s.image.needRoom(2, s.operands.line());
    s.image.putWord(sh2::encode(form, fields));
    return true;
}
// The d field of a number written as a form's immediate or displacement (0 for a form
// without one, such as @(R0,Rn)). A displacement that does not fit (too far, negative or
// misaligned) is an invalid address reference, an immediate that does not read as
// -128..255 is out of range.
[[noreturn]] void numberDoesNotFit(const Statement& s, const sh2::Form& form);
inline std::uint16_t numberField(const Statement& s, const sh2::Form& form, std::uint32_t value) {
    if (sh2::placeOf(form.layout).dMask == 0) return 0;
    const std::optional<std::uint16_t> d = sh2::numberField(form, value);
    if (!d) [[unlikely]] numberDoesNotFit(s, form);
    return *d;
}

// Appends a reference for the word about to be written at the image's end.
void recordReference(Statement& s, RefKind kind, std::uint32_t binOffset, std::uint32_t target);
// Appends a form whose d field the fixup pass writes: a reference of kind to target for
// the field (patched in the word's second byte for 8 bits, across both for 12), and the
// word with the placeholder in every byte of the field (encode keeps the layout's bits).
// Always true.
inline bool emitReferring(Statement& s, const sh2::Form& form, RefKind kind, std::uint32_t target,
                          sh2::Fields fields) {
    s.image.needRoom(2, s.operands.line());
    recordReference(s, kind, s.image.binOffset() + sh2::dFieldByte(form.layout), target);
    const std::uint8_t p = s.image.placeholder();
    fields.d = static_cast<std::uint16_t>(p << 8 | p);
    s.image.putWord(sh2::encode(form, fields));
    return true;
}

// Every Format's handler, and the handler of a row.
using Handler = bool (*)(Statement&);
#define KORVANE_DECLARE(name, instruction) bool handle##name(Statement& s);
KORVANE_FORMATS(KORVANE_DECLARE)
#undef KORVANE_DECLARE
inline constexpr Handler kHandlers[] = {
#define KORVANE_HANDLER(name, instruction) &handle##name,
    KORVANE_FORMATS(KORVANE_HANDLER)
#undef KORVANE_HANDLER
};
inline Handler handlerOf(const OpRow& row) { return kHandlers[static_cast<std::size_t>(row.format)]; }

}  // namespace korvane::detail
