// Instructions with an 8-bit immediate in the low byte (format A): AND.B, OR.B, TST.B,
// XOR.B #imm,@(R0,GBR) and TRAPA #imm. Only the immediate is read; the rest of the
// line is not examined.
#include "driver/assembly.h"

namespace korvane::detail {

void Assembly::encodeImmediate() {
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_NUMBER)) operandError();
    emitWord(static_cast<std::uint16_t>(row_->nibble(1) << 12 | row_->nibble(2) << 8 |
                                        (op_.value & 0xFF)));
}

}  // namespace korvane::detail
