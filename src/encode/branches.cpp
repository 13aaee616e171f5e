// Branches to labels: BT, BF, BT/S, BF/S with an 8-bit displacement (format D), BRA and
// BSR with a 12-bit one (format E). The word is written with a placeholder displacement
// and always recorded for the fixup pass, even when the label is already defined.
#include "driver/assembly.h"

namespace korvane::detail {

void Assembly::encodeBranch() {
    if (!nextOperand()) return;
    if (!(op_.shape & SHAPE_LABEL)) operandError();
    const OpRow& r = *row_;
    needRoom(2);
    if (r.format() == 'D') {
        recordReference(REF_BRANCH8, binOffset() + 1, op_.labelIndex);
        emitWord(static_cast<std::uint16_t>(r.nibble(1) << 12 | r.nibble(2) << 8 | placeholder_));
    } else {
        // The reference kind of BRA and BSR is the instruction's own top nibble (A, B).
        const auto kind = static_cast<std::uint8_t>(r.nibble(1));
        recordReference(kind, binOffset(), op_.labelIndex);
        emitWord(
            static_cast<std::uint16_t>(kind << 12 | (placeholder_ & 0x0F) << 8 | placeholder_));
    }
}

}  // namespace korvane::detail
