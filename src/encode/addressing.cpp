// The addressing-mode family (format B): ADD, AND, CMP/EQ, MOV.B, MOV.W, MOV.L, MOV, OR,
// TST, XOR and MOVA. One encoder reads both operands, tells from their shapes which
// addressing mode each is written in, and takes the mnemonic's form with those
// operands. A word is produced only when the operands, as written, are one of the
// mnemonic's forms; anything else is the operand error, never a neighbouring form.
#include "encode/encoder.h"
#include "resolve/kinds.h"

namespace korvane::detail {

namespace {

using sh2::Arg;

constexpr std::uint32_t kClass = SHAPE_REG | SHAPE_NUMBER | SHAPE_LABEL | SHAPE_SYSREG;
constexpr std::uint32_t kSign = SHAPE_PLUS | SHAPE_MINUS;
// Decorations that make an operand more than a plain register or number.
constexpr std::uint32_t kDecorated = SHAPE_INDIRECT | SHAPE_PAREN | kSign;

// A pair is judged by the union of its slots, whichever slot held what.
std::uint32_t unionOf(const Operand& o) {
    return o.slotShape[0] | o.slotShape[1];
}

bool plainRegister(std::uint32_t shape) {
    return (shape & SHAPE_REG) && !(shape & kDecorated);
}

// The form with these operands; a fixed R0 stands in for a register operand that is
// R0, where the mnemonic has no form with a general register there.
const sh2::Form* formWith(const sh2::FormSet& forms, Arg first, Arg second, bool firstIsR0,
                          bool secondIsR0) {
    if (const sh2::Form* f = forms.find(first, second)) return f;
    if (secondIsR0) {
        if (const sh2::Form* f = forms.find(first, Arg::R0)) return f;
    }
    if (firstIsR0) return forms.find(Arg::R0, second);
    return nullptr;
}

// A pair as an addressing mode: @(R0,Rm) or @(R0,Rn) (R0 written first), @(disp,Rm) or
// @(disp,Rn), @(disp,GBR), and as a source only, @(label,PC).
Arg pairMode(const Operand& o, bool source) {
    const std::uint32_t u = unionOf(o);
    if ((u & (kClass | SHAPE_R0)) == (SHAPE_REG | SHAPE_R0)) {
        if (!(o.slotShape[0] & SHAPE_R0)) return Arg::None;
        return source ? Arg::AtR0Rm : Arg::AtR0Rn;
    }
    if ((u & kClass) == (SHAPE_REG | SHAPE_NUMBER)) return source ? Arg::AtDispRm : Arg::AtDispRn;
    if ((u & kClass) == (SHAPE_NUMBER | SHAPE_SYSREG) && o.sysReg == SYS_GBR) return Arg::AtDispGbr;
    if (source && (u & kClass) == (SHAPE_LABEL | SHAPE_SYSREG) && o.sysReg == SYS_PC)
        return Arg::AtDispPc;
    return Arg::None;
}

}  // namespace

bool encodeAddressing(Statement& s) {
    const std::optional<Operand> first = s.operands.next();
    if (!first) return false;
    const std::optional<Operand> second = s.operands.next();
    if (!second) return false;

    const sh2::FormSet& forms = formsOf(s.operands.row());
    const Operand& a = *first;
    const Operand& b = *second;
    // The first operand's shape: a pair's union, or the operand's own.
    const std::uint32_t F = a.pair ? (unionOf(a) | SHAPE_PAIR) : a.shape;
    const Operands& ops = s.operands;

    if (b.pair) {
        // Rm,@(R0,Rn)  R0,@(disp,Rn)  Rm,@(disp,Rn)  R0,@(disp,GBR): a plain register
        // first, no sign inside the pair.
        const std::uint32_t S = unionOf(b);
        if ((F & (SHAPE_INDIRECT | kClass)) != SHAPE_REG || (F & kSign) || (S & kSign))
            ops.reject();
        const Arg where = pairMode(b, false);
        if (where == Arg::None) ops.reject();
        const sh2::Form* form = formWith(forms, Arg::Rm, where, (F & SHAPE_R0) != 0, false);
        if (form == nullptr) ops.reject();
        return emit(s, *form, {.n = b.reg, .m = a.reg, .d = numberField(s, *form, b.value)});
    }

    const std::uint32_t S = b.shape;
    if (a.pair) {
        // @(R0,Rm),Rn  @(disp,Rm),Rn  @(disp,GBR),R0  @(label,PC),Rn: a plain register
        // second, no sign inside the pair.
        if (!plainRegister(S) || (F & kSign)) ops.reject();
        const Arg from = pairMode(a, true);
        if (from == Arg::None) ops.reject();
        const sh2::Form* form = formWith(forms, from, Arg::Rn, false, b.reg == 0);
        if (form == nullptr) ops.reject();
        if (form->reach != sh2::Reach::None) {
            // A PC-relative load: its displacement is patched after the last line.
            s.image.needRoom(2, s.operands.line());
            recordReference(s, referenceKind(*form), s.image.binOffset() + sh2::dFieldByte(form->layout), a.labelIndex);
            return emit(s, *form, {.n = b.reg, .d = s.image.placeholder()});
        }
        return emit(s, *form, {.n = b.reg, .m = a.reg, .d = numberField(s, *form, a.value)});
    }

    if ((F & SHAPE_REG) && (S & SHAPE_REG)) {
        // Register forms. "+" belongs to a source @Rm+, "-" to a destination @-Rn.
        const bool fInd = (F & SHAPE_INDIRECT) != 0;
        const bool sInd = (S & SHAPE_INDIRECT) != 0;
        if ((F & SHAPE_MINUS) || (S & SHAPE_PLUS) || ((F & SHAPE_PLUS) && !fInd) ||
            ((S & SHAPE_MINUS) && !sInd)) {
            ops.reject();
        }
        const Arg from = !fInd ? Arg::Rm : (F & SHAPE_PLUS) ? Arg::AtRmPlus : Arg::AtRm;
        const Arg to = !sInd ? Arg::Rn : (S & SHAPE_MINUS) ? Arg::AtMinusRn : Arg::AtRn;
        const sh2::Form* form = forms.find(from, to);
        if (form == nullptr) ops.reject();
        return emit(s, *form, {.n = b.reg, .m = a.reg});
    }

    if ((F & SHAPE_NUMBER) && !(F & kDecorated) && plainRegister(S)) {
        // #imm,Rn, or #imm,R0 where the mnemonic takes R0 only.
        const sh2::Form* form = forms.find(Arg::SImm, Arg::Rn);
        if (form == nullptr) form = forms.find(Arg::SImm, Arg::R0);
        if (form == nullptr) form = forms.find(Arg::Imm, Arg::R0);
        if (form == nullptr || (form->args[1] == Arg::R0 && b.reg != 0)) ops.reject();
        return emit(s, *form, {.n = b.reg, .d = numberField(s, *form, a.value)});
    }
    ops.reject();
}

}  // namespace korvane::detail
