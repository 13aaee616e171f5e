// The operand error, the forms of each OpTable row, references, and NoOperands' handler.
#include <array>

#include "diag/failure.h"
#include "encode/encoder.h"

namespace korvane::detail {

void Operands::reject() const {
    if (opOf(*row_) == Op::INCBIN) fail(Message::ExpectedFilename, line());
    fail(Message::IncorrectOperand, line(), row_->mnemonic());
}

const std::array<sh2::FormSet, kOpRows> RowForms = [] {
    std::array<sh2::FormSet, kOpRows> all;
    for (std::size_t i = 0; i < kOpRows; ++i) all[i] = sh2::FormSet(OpTable[i].name());
    return all;
}();

[[gnu::noinline, gnu::cold]] void numberDoesNotFit(const Statement& s, const sh2::Form& form) {
    const bool immediate = form.args[0] == sh2::Arg::SImm || form.args[0] == sh2::Arg::Imm;
    fail(immediate ? Message::NumberOutOfRange : Message::InvalidAddressReference,
         s.operands.line());
}

void recordReference(Statement& s, RefKind kind, std::uint32_t binOffset, std::uint32_t target) {
    s.refs.add(Reference{kind, binOffset, s.image.pc(), s.operands.line(), target});
}

bool handleNoOperands(Statement& s) { return emit(s, *formsOf(s.operands.row()).only(), {}); }

}  // namespace korvane::detail
