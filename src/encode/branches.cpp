// Branches to labels: BT, BF, BT/S, BF/S with an 8-bit displacement, BRA and BSR with a
// 12-bit one. The word is written with a placeholder displacement
// and always recorded for the fixup pass, even when the label is already defined.
#include "encode/encoder.h"
#include "encode/modes.h"
#include "resolve/kinds.h"

namespace korvane::detail {

bool handleBranch(Statement& s) {
    const std::optional<Operand> target = s.operands.next();
    if (!target) return false;
    if (!lenient::anyLabel(*target)) s.operands.reject();
    const sh2::Form& form = *formsOf(s.operands.row()).only();
    s.image.needRoom(2, s.operands.line());
    const RefKind kind = referenceKind(form);
    // An 8-bit displacement is patched in the word's second byte, a 12-bit one across
    // both; every byte of the field starts as the placeholder (encode keeps the
    // layout's bits of it).
    const std::uint32_t at = s.image.binOffset() + sh2::dFieldByte(form.layout);
    recordReference(s, kind, at, target->labelIndex);
    const std::uint8_t p = s.image.placeholder();
    return emit(s, form, {.d = static_cast<std::uint16_t>(p << 8 | p)});
}

}  // namespace korvane::detail
