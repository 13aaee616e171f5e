// Instructions whose operands are general registers only (OneRegister, TwoRegisters),
// and the stores and loads of control and system registers (Store, Load). STC, STC.L, STS
// and STS.L share one encoder, as do LDC, LDC.L, LDS and LDS.L: the register named and
// the form of the other operand (Rn or @-Rn, Rm or @Rm+) choose the instruction, not
// the mnemonic written.
#include <array>

#include "encode/encoder.h"
#include "encode/modes.h"

namespace korvane::detail {

bool handleOneRegister(Statement& s) {
    const std::optional<Operand> r = s.operands.next();
    if (!r) return false;
    if (!lenient::anyRegister(*r)) s.operands.reject();
    return emit(s, *formsOf(s.operands.row()).only(), {.n = r->reg, .m = r->reg});
}

bool handleTwoRegisters(Statement& s) {
    const std::optional<Operand> source = s.operands.next();
    if (!source) return false;
    if (!lenient::anyRegister(*source)) s.operands.reject();
    const std::optional<Operand> dest = s.operands.next();
    if (!dest) return false;
    if (!lenient::anyRegister(*dest)) s.operands.reject();
    return emit(s, *formsOf(s.operands.row()).only(), {.n = dest->reg, .m = source->reg});
}

namespace {

// The control and system registers' operands, by SysReg.
constexpr sh2::Arg kRegisterArg[kRegNames] = {
#define KORVANE_SYSREG(name, arg) sh2::Arg::arg,
    KORVANE_SYSTEM_REGISTERS(KORVANE_SYSREG)
#undef KORVANE_SYSREG
};

// The forms of a family by register and by memory form, found once.
struct Family {
    std::array<std::array<const sh2::Form*, 2>, kRegNames> forms{};
};

// The register picks the mnemonic: the control one (STC, LDC) where it has a form for
// the register, the system one (STS, LDS) otherwise.
Family family(Op control, Op controlMemory, Op system, Op systemMemory, bool registerFirst) {
    Family f;
    for (std::uint8_t r = 0; r < kRegNames; ++r) {
        for (int memory = 0; memory < 2; ++memory) {
            const sh2::Arg other = registerFirst ? (memory ? sh2::Arg::AtRmPlus : sh2::Arg::Rm)
                                                 : (memory ? sh2::Arg::AtMinusRn : sh2::Arg::Rn);
            const sh2::Arg first = registerFirst ? other : kRegisterArg[r];
            const sh2::Arg second = registerFirst ? kRegisterArg[r] : other;
            const sh2::Form* form = formsOf(rowOf(memory ? controlMemory : control)).find(first, second);
            f.forms[r][static_cast<std::size_t>(memory)] =
                form != nullptr ? form : formsOf(rowOf(memory ? systemMemory : system)).find(first, second);
        }
    }
    return f;
}

const Family& stores() {
    static const Family f = family(Op::STC, Op::STC_L, Op::STS, Op::STS_L, false);
    return f;
}

const Family& loads() {
    static const Family f = family(Op::LDC, Op::LDC_L, Op::LDS, Op::LDS_L, true);
    return f;
}

// The family's forms of one memory kind share their high byte, which is written before
// the register is checked: STC PC,Rn and LDC Rm,PC leave it behind.
bool emitFamilyWord(Statement& s, const Family& f, std::uint8_t sysReg, bool memory,
                    const sh2::Fields& fields) {
    const sh2::Form* form = f.forms[sysReg][memory];
    const sh2::Form* shared = f.forms[SYS_SR][memory];
    s.image.needRoom(2, s.operands.line());
    s.image.put(static_cast<std::uint8_t>(sh2::encode(*shared, fields) >> 8));
    if (form == nullptr) s.operands.reject();
    s.image.put(static_cast<std::uint8_t>(sh2::encode(*form, fields)));
    return true;
}

}  // namespace

bool handleStore(Statement& s) {
    const std::optional<Operand> from = s.operands.next();
    if (!from) return false;
    if (!lenient::anySystemRegister(*from)) s.operands.reject();
    const std::optional<Operand> to = s.operands.next();
    if (!to) return false;
    if (!lenient::anyRegister(*to)) s.operands.reject();
    return emitFamilyWord(s, stores(), from->sysReg, lenient::memoryForm(*to, Side::Destination), {.n = to->reg});
}

bool handleLoad(Statement& s) {
    const std::optional<Operand> from = s.operands.next();
    if (!from) return false;
    if (!lenient::anyRegister(*from)) s.operands.reject();
    const std::optional<Operand> to = s.operands.next();
    if (!to) return false;
    if (!lenient::anySystemRegister(*to)) s.operands.reject();
    return emitFamilyWord(s, loads(), to->sysReg, lenient::memoryForm(*from, Side::Source), {.m = from->reg});
}

}  // namespace korvane::detail
