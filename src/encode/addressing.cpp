// The addressing-mode family: ADD, AND, CMP/EQ, MOV.B, MOV.W, MOV.L, MOV, OR, TST, XOR
// and MOVA. One encoder reads both operands, classifies each as the addressing mode it
// is written in, and takes the mnemonic's form with those modes. A word is produced only when the operands, as written, are one of the
// mnemonic's forms; anything else is the operand error, never a neighbouring form.
#include "encode/encoder.h"
#include "encode/modes.h"
#include "resolve/kinds.h"

namespace korvane::detail {

namespace {

using sh2::Arg;

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

}  // namespace

bool handleAddressing(Statement& s) {
    const std::optional<Operand> first = s.operands.next();
    if (!first) return false;
    const std::optional<Operand> second = s.operands.next();
    if (!second) return false;

    const sh2::FormSet& forms = formsOf(s.operands.row());
    const Operand& a = *first;
    const Operand& b = *second;
    const Operands& ops = s.operands;
    // Each operand's mode, where the branch needs it.
    const auto from = [&a] { return modeOf(a, Side::Source); };
    const auto to = [&b] { return modeOf(b, Side::Destination); };

    if (b.pair) {
        // Rm,@(R0,Rn)  R0,@(disp,Rn)  Rm,@(disp,Rn)  R0,@(disp,GBR)
        const Mode where = to();
        if (from() != Mode::Register || !isPair(where)) ops.reject();
        const sh2::Form* form = formWith(forms, Arg::Rm, argOf(where, Side::Destination), a.reg == 0, false);
        if (form == nullptr) ops.reject();
        return emit(s, *form, {.n = b.reg, .m = a.reg, .d = numberField(s, *form, b.value)});
    }
    if (a.pair) {
        // @(R0,Rm),Rn  @(disp,Rm),Rn  @(disp,GBR),R0  @(label,PC),Rn
        const Mode where = from();
        if (to() != Mode::Register || !isPair(where)) ops.reject();
        const sh2::Form* form = formWith(forms, argOf(where, Side::Source), Arg::Rn, false, b.reg == 0);
        if (form == nullptr) ops.reject();
        if (form->reach != sh2::Reach::None) {
            // A PC-relative load: its displacement is patched after the last line.
            s.image.needRoom(2, s.operands.line());
            recordReference(s, referenceKind(*form), s.image.binOffset() + sh2::dFieldByte(form->layout), a.labelIndex);
            return emit(s, *form, {.n = b.reg, .d = s.image.placeholder()});
        }
        return emit(s, *form, {.n = b.reg, .m = a.reg, .d = numberField(s, *form, a.value)});
    }
    const bool registers = namesOf(a) == Names::Register && namesOf(b) == Names::Register;
    if (registers) {
        // Rm,Rn  @Rm,Rn  @Rm+,Rn  Rm,@Rn  Rm,@-Rn ...
        // An invalid mode is Arg::None, which no form of these mnemonics takes.
        const sh2::Form* form = forms.find(registerArg(a.shape, Side::Source), registerArg(b.shape, Side::Destination));
        if (form == nullptr) ops.reject();
        return emit(s, *form, {.n = b.reg, .m = a.reg});
    }
    if (from() == Mode::Immediate && to() == Mode::Register) {
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
