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
    return emitReferring(s, form, referenceKind(form), target->labelIndex, {});
}

}  // namespace korvane::detail
