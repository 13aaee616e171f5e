// Instructions with an 8-bit immediate in the low byte (format A): AND.B, OR.B, TST.B,
// XOR.B #imm,@(R0,GBR) and TRAPA #imm. TRAPA reads only its immediate, which must read as -128..255. The byte
// operations may leave out their second operand, which has one meaning only; when it
// is written it must be @(R0,GBR), never another addressing mode.
#include "encode/encoder.h"
#include "encode/modes.h"

namespace korvane::detail {

namespace {

bool isR0GbrPair(const Operand& o) {
    return o.pair && (o.slotShape[0] & ~(SHAPE_INDIRECT | SHAPE_PAREN)) == (SHAPE_REG | SHAPE_R0) &&
           (o.slotShape[1] & (modes::kClass | modes::kSign | SHAPE_HEX)) == SHAPE_SYSREG &&
           o.sysReg == SYS_GBR;
}

}  // namespace

bool encodeImmediate(Statement& s) {
    const std::optional<Operand> imm = s.operands.next();
    if (!imm) return false;
    if (!(imm->shape & SHAPE_NUMBER)) s.operands.reject();
    const sh2::Form& form = *formsOf(s.operands.row()).only();
    if (form.args[1] == sh2::Arg::AtR0Gbr) {
        const std::optional<Operand> where = s.operands.next();
        if (where && !isR0GbrPair(*where)) s.operands.reject();
    }
    return emit(s, form, {.d = numberField(s, form, imm->value)});
}

}  // namespace korvane::detail
