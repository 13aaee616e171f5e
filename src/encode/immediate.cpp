// Instructions with an 8-bit immediate in the low byte (Format::Immediate): AND.B, OR.B, TST.B,
// XOR.B #imm,@(R0,GBR) and TRAPA #imm. TRAPA reads only its immediate, which must read
// as -128..255; the byte operations may leave out their second operand.
#include "encode/encoder.h"
#include "encode/modes.h"

namespace korvane::detail {

bool handleImmediate(Statement& s) {
    const std::optional<Operand> imm = s.operands.next();
    if (!imm) return false;
    if (!lenient::anyNumber(*imm)) s.operands.reject();
    const sh2::Form& form = *formsOf(s.operands.row()).only();
    if (form.args[1] == sh2::Arg::AtR0Gbr) {
        if (!lenient::impliedR0Gbr(s.operands.next())) s.operands.reject();
    }
    return emit(s, form, {.d = numberField(s, form, imm->value)});
}

}  // namespace korvane::detail
