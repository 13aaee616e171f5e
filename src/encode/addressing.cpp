// The addressing-mode family: ADD, AND, CMP/EQ, MOV.B, MOV.W, MOV.L, MOV, OR, TST, XOR
// and MOVA. Both operands are read, then matched by their modes (encode/modes.h) against
// the mnemonic's forms; a neighbouring form is never taken instead.
#include "encode/encoder.h"
#include "encode/modes.h"
#include "resolve/kinds.h"

namespace korvane::detail {

bool handleAddressing(Statement& s) {
    const std::optional<Operand> first = s.operands.next();
    if (!first) return false;
    const std::optional<Operand> second = s.operands.next();
    if (!second) return false;
    // A word only for the operands as written; anything else is the operand error.
    const sh2::Form* form = match(formsOf(s.operands.row()), *first, *second);
    if (form == nullptr) s.operands.reject();
    if (sh2::placeOf(form->layout).dMask == 0) [[likely]]
        return emit(s, *form, {.n = second->reg, .m = first->reg});
    // @(label,PC),Rn: the displacement is patched after the last line.
    if (form->reach != sh2::Reach::None)
        return emitReferring(s, *form, referenceKind(*form), first->labelIndex, {.n = second->reg});
    // The displacement or immediate is in the destination for Rm,@(disp,Rn) and
    // R0,@(disp,GBR), in the source otherwise.
    const sh2::Arg to = form->args[1];
    const std::uint32_t number = to == sh2::Arg::AtDispRn || to == sh2::Arg::AtDispGbr ? second->value : first->value;
    return emit(s, *form, {.n = second->reg, .m = first->reg, .d = numberField(s, *form, number)});
}

}  // namespace korvane::detail
