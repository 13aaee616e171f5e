// IMOV.L #constant,Rn writes MOV.L @(disp,PC),Rn and queues the constant in the
// literal pool; IDATA places every queued constant, 4-byte aligned.
#include "directives/directives.h"
#include "encode/modes.h"

namespace korvane::detail {

namespace {

const sh2::Form& loadFromPool() {
    static const sh2::Form& form =
        *formsOf(rowOf(Op::MOV_L)).find(sh2::Arg::AtDispPc, sh2::Arg::Rn);
    return form;
}

}  // namespace

bool handleImov(Statement& s) {
    const std::optional<Operand> constant = s.operands.next();
    if (!constant) return false;
    if (constant->pair) s.operands.reject();
    const std::optional<Operand> dest = s.operands.next();
    if (!dest) return false;
    // Strictly #constant,Rn: no lenient reading.
    if (modeOf(*constant, Side::Source) != Mode::Immediate || modeOf(*dest, Side::Destination) != Mode::Register)
        s.operands.reject();
    // Recorded at the instruction's own PC, which the displacement is measured from.
    s.pool.queue(s.refs);
    return emitReferring(s, loadFromPool(), REF_IMOV_PENDING, constant->value, {.n = dest->reg});
}

bool handleIdata(Statement& s) {
    align(s.image, 4, s.operands.line());
    s.pool.place(s.image, s.refs, s.operands.line());
    return true;
}

}  // namespace korvane::detail
