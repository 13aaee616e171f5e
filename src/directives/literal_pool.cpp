// The IMOV.L literal pool: IMOV.L #constant,Rn writes MOV.L @(disp,PC),Rn and queues
// the constant as a pending reference; IDATA places every pending constant, 4-byte
// aligned, and the fixup pass writes the displacements.
#include "driver/assembly.h"

namespace korvane::detail {

void Assembly::encodeImov() {
    if (!nextOperand()) return;
    if (op_.lastSlot != 0) operandError();
    const std::uint32_t first = op_.shape;
    const std::uint32_t constant = op_.value;
    if (!nextOperand()) return;
    constexpr std::uint32_t kDecorated = SHAPE_INDIRECT | SHAPE_PAREN | SHAPE_PLUS | SHAPE_MINUS;
    const bool plainNumber = (first & SHAPE_NUMBER) && !(first & kDecorated);
    const bool plainRegister =
        op_.lastSlot == 0 && (op_.shape & SHAPE_REG) && !(op_.shape & kDecorated);
    if (!plainNumber || !plainRegister) operandError();
    needRoom(2);
    // Recorded at the instruction's own PC, which the displacement is measured from.
    pendingLiterals_.push_back(refs_.count());
    recordReference(REF_IMOV_PENDING, binOffset() + 1, constant);
    putByte(static_cast<std::uint8_t>(0xD0 | op_.regNum));  // MOV.L @(disp,PC),Rn
    putByte(placeholder_);  // displacement, patched by the fixup pass
    op_.lineEmitted = true;
}

void Assembly::placeLiterals() {
    needRoom(4ull * pendingLiterals_.size());
    for (std::uint32_t index : pendingLiterals_) {
        Reference& r = refs_[index];
        const std::uint32_t constant = r.target;
        r.kind = REF_IMOV_PLACED;
        r.target = pc_;
        for (int i = 3; i >= 0; --i) putByte(static_cast<std::uint8_t>(constant >> (8 * i)));
    }
    pendingLiterals_.clear();
}

}  // namespace korvane::detail
