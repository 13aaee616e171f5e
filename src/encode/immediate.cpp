// Instructions with an 8-bit immediate in the low byte (format A): AND.B, OR.B, TST.B,
// XOR.B #imm,@(R0,GBR) and TRAPA #imm. TRAPA reads only its immediate. The byte
// operations may leave out their second operand, which has one meaning only; when it
// is written it must be @(R0,GBR), never another addressing mode.
#include "driver/assembly.h"

namespace korvane::detail {

namespace {

constexpr std::uint32_t kClass = SHAPE_REG | SHAPE_NUMBER | SHAPE_LABEL | SHAPE_SYSREG;

}  // namespace

bool Assembly::isR0GbrPair() const {
    return op_.lastSlot == 1 &&
           (op_.slotShape[0] & ~SHAPE_INDIRECT & ~SHAPE_PAREN) == (SHAPE_REG | SHAPE_R0) &&
           (op_.slotShape[1] & (kClass | SHAPE_PLUS | SHAPE_MINUS | SHAPE_HEX)) == SHAPE_SYSREG &&
           op_.sysReg == SYS_GBR;
}

void Assembly::encodeImmediate() {
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_NUMBER)) operandError();
    const std::uint32_t imm = op_.value & 0xFF;
    const bool trap = row_->nibble(2) == 3;  // TRAPA: opcode byte C3
    if (!trap && nextOperand() && !isR0GbrPair()) operandError();
    emitWord(static_cast<std::uint16_t>(row_->nibble(1) << 12 | row_->nibble(2) << 8 | imm));
}

}  // namespace korvane::detail
