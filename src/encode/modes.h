// Operands as addressing modes: each operand the lexer returns is classified once into
// the one mode it is written in, on the side of the statement it stands (a source may
// be @Rm+, a destination @-Rn); match() then picks a mnemonic's form by the modes alone.
// Below them, the lenient readings: every liberty the language takes with operands.
// Nothing else reads the lexer's shape bits.
#pragma once

#include <array>
#include <cstdint>
#include <iterator>
#include <optional>

#include "isa/isa.h"
#include "source/lexer.h"
#include "vocab/vocabulary.h"

namespace korvane::detail {

enum class Mode : std::uint8_t {
    Invalid,          // no mode as written (a sign where none may stand, a pair of no mode)
    Register,         // Rn
    AtRegister,       // @Rn
    AtRegisterPlus,   // @Rm+, a source only
    AtMinusRegister,  // @-Rn, a destination only
    AtDispRegister,   // @(disp,Rn), written either way round
    AtR0Register,     // @(R0,Rn), R0 first
    AtDispGbr,        // @(disp,GBR)
    AtR0Gbr,          // @(R0,GBR), R0 first
    AtLabelPc,        // @(label,PC), a source only
    Immediate,        // #imm (the # may be left out)
    Label,            // a label
    SystemRegister,   // SR, GBR, VBR, MACH, MACL, PR, PC
    String,           // "text"
};

enum class Side : std::uint8_t { Source, Destination };

namespace modes {

inline constexpr std::uint32_t kClass = SHAPE_REG | SHAPE_NUMBER | SHAPE_LABEL | SHAPE_SYSREG;
inline constexpr std::uint32_t kSign = SHAPE_PLUS | SHAPE_MINUS;

// A pair is judged by the union of its slots, whichever slot held what: @(R0,Rn) and
// @(R0,GBR) with R0 first, @(disp,Rn) either way round, @(disp,GBR), and as a source
// @(label,PC).
inline Mode pairMode(const Operand& o, Side side) {
    const std::uint32_t u = o.slotShape[0] | o.slotShape[1];
    if (u & kSign) return Mode::Invalid;
    if ((u & (kClass | SHAPE_R0)) == (SHAPE_REG | SHAPE_R0))
        return (o.slotShape[0] & SHAPE_R0) ? Mode::AtR0Register : Mode::Invalid;
    if ((u & (kClass | SHAPE_R0)) == (SHAPE_REG | SHAPE_R0 | SHAPE_SYSREG))
        return (o.slotShape[0] & SHAPE_R0) && o.sysReg == SYS_GBR ? Mode::AtR0Gbr : Mode::Invalid;
    if ((u & kClass) == (SHAPE_REG | SHAPE_NUMBER)) return Mode::AtDispRegister;
    if ((u & kClass) == (SHAPE_NUMBER | SHAPE_SYSREG) && o.sysReg == SYS_GBR) return Mode::AtDispGbr;
    if (side == Side::Source && (u & kClass) == (SHAPE_LABEL | SHAPE_SYSREG) && o.sysReg == SYS_PC)
        return Mode::AtLabelPc;
    return Mode::Invalid;
}


// A register by its decorations: "@" makes it @Rn, "+" belongs to a source @Rm+, "-"
// to a destination @-Rn; any other sign is no mode.
inline constexpr auto kRegisterModes = [] {
    std::array<std::array<Mode, 8>, 2> t{};  // [side][registerIndex]
    for (unsigned k = 0; k < 8; ++k) {
        const bool at = k & 4, plus = k & 2, minus = k & 1;
        const Mode plain = at ? Mode::AtRegister : Mode::Register;
        t[0][k] = minus ? Mode::Invalid : plus ? (at ? Mode::AtRegisterPlus : Mode::Invalid) : plain;
        t[1][k] = plus ? Mode::Invalid : minus ? (at ? Mode::AtMinusRegister : Mode::Invalid) : plain;
    }
    return t;
}();

// A register operand's decorations as an index: @ (4), + (2), - (1).
inline unsigned registerIndex(std::uint32_t shape) {
    static_assert(SHAPE_INDIRECT == 1 && SHAPE_MINUS == 1u << 9 && SHAPE_PLUS == 1u << 10);
    return (shape & SHAPE_INDIRECT) << 2 | (shape >> 9 & 3);
}

}  // namespace modes

inline Mode modeOf(const Operand& o, Side side) {
    if (o.pair) return modes::pairMode(o, side);
    const std::uint32_t s = o.shape;
    if (s & SHAPE_REG) return modes::kRegisterModes[static_cast<unsigned>(side)][modes::registerIndex(s)];
    if (s & SHAPE_NUMBER) return (s & (SHAPE_INDIRECT | modes::kSign)) ? Mode::Invalid : Mode::Immediate;
    if (s & SHAPE_STRING) return Mode::String;
    if (s & SHAPE_SYSREG) return Mode::SystemRegister;
    if (s & SHAPE_LABEL) return Mode::Label;
    return Mode::Invalid;
}

namespace modes {
// argOf's table: a column per mode.
inline constexpr sh2::Arg kArgs[2][14] = {
    {sh2::Arg::None, sh2::Arg::Rm, sh2::Arg::AtRm, sh2::Arg::AtRmPlus, sh2::Arg::AtMinusRn, sh2::Arg::AtDispRm,
     sh2::Arg::AtR0Rm, sh2::Arg::AtDispGbr, sh2::Arg::AtR0Gbr, sh2::Arg::AtDispPc, sh2::Arg::SImm, sh2::Arg::None,
     sh2::Arg::None, sh2::Arg::None},
    {sh2::Arg::None, sh2::Arg::Rn, sh2::Arg::AtRn, sh2::Arg::AtRmPlus, sh2::Arg::AtMinusRn, sh2::Arg::AtDispRn,
     sh2::Arg::AtR0Rn, sh2::Arg::AtDispGbr, sh2::Arg::AtR0Gbr, sh2::Arg::AtDispPc, sh2::Arg::SImm, sh2::Arg::None,
     sh2::Arg::None, sh2::Arg::None},
};
static_assert(static_cast<unsigned>(Mode::String) + 1 == std::size(kArgs[0]), "a column per mode");
}  // namespace modes

// The instruction forms' argument for a mode on a side (None for a mode no form takes:
// labels, strings, system registers, which their encoders read themselves).
constexpr sh2::Arg argOf(Mode m, Side side) {
    return modes::kArgs[static_cast<unsigned>(side)][static_cast<unsigned>(m)];
}

// The instruction forms' argument for an operand as written: argOf(modeOf(o, side),
// side), a register in one look-up (the operands of nearly every MOV).
inline sh2::Arg argOf(const Operand& o, Side side) {
    static constexpr auto kRegisterArgs = [] {
        std::array<std::array<sh2::Arg, 8>, 2> t{};
        for (unsigned d = 0; d < 2; ++d)
            for (unsigned k = 0; k < 8; ++k) t[d][k] = argOf(modes::kRegisterModes[d][k], static_cast<Side>(d));
        return t;
    }();
    if (!o.pair && (o.shape & SHAPE_REG))
        return kRegisterArgs[static_cast<unsigned>(side)][modes::registerIndex(o.shape)];
    return argOf(modeOf(o, side), side);
}

// The other argument an operand can stand for where its own is not one of the forms:
// R0 written as Rm or Rn is also the fixed R0 of the forms that take no other register
// there (MOV.B R0,@(disp,Rn), CMP/EQ #imm,R0, MOVA @(disp,PC),R0 ...); an immediate is
// also the unsigned one of AND, OR, TST and XOR #imm,R0. None where there is no other.
inline sh2::Arg otherArgOf(const Operand& o, sh2::Arg own) {
    if ((own == sh2::Arg::Rm || own == sh2::Arg::Rn) && o.reg == 0) return sh2::Arg::R0;
    if (own == sh2::Arg::SImm) return sh2::Arg::Imm;
    return sh2::Arg::None;
}

// The form of a statement's two operands by their modes, or nullptr: each operand's own
// argument first, then with the other ones. (No SH-2 mnemonic has two forms that take
// the same operands, so the order only saves look-ups; and no form of the addressing
// family takes None.)
inline const sh2::Form* match(const sh2::FormSet& forms, const Operand& first, const Operand& second) {
    const sh2::Arg a = argOf(first, Side::Source);
    const sh2::Arg b = argOf(second, Side::Destination);
    if (const sh2::Form* f = forms.find(a, b)) [[likely]]
        return f;
    const sh2::Arg otherA = otherArgOf(first, a);
    const sh2::Arg otherB = otherArgOf(second, b);
    if (otherB != sh2::Arg::None) {
        if (const sh2::Form* f = forms.find(a, otherB)) return f;
        if (otherA != sh2::Arg::None) {
            if (const sh2::Form* f = forms.find(otherA, otherB)) return f;
        }
    }
    return otherA == sh2::Arg::None ? nullptr : forms.find(otherA, b);
}

// What an operand names, whatever is written around it (for a pair, its last slot).
enum class Names : std::uint8_t { Nothing, Register, Number, Label, SystemRegister, String };

inline Names namesOf(const Operand& o) {
    const std::uint32_t s = o.shape;
    if (s & SHAPE_REG) return Names::Register;
    if (s & SHAPE_NUMBER) return Names::Number;
    if (s & SHAPE_LABEL) return Names::Label;
    if (s & SHAPE_SYSREG) return Names::SystemRegister;
    if (s & SHAPE_STRING) return Names::String;
    return Names::Nothing;
}

// The lenient readings the language keeps, all of them. The addressing family (MOV, ADD,
// CMP/EQ ...) and IMOV.L read their operands by mode, as above; every other statement
// reads each operand by one of these rules, and by nothing else. Operands after a
// statement's last are never read, so they are ignored (NOP R1 is NOP).
namespace lenient {

// Where a form's operands are general registers only, the register an operand names
// stands for the form's operand, whatever is written around it: JMP R3 is JMP @R3,
// MAC.L R1,R2 is MAC.L @R1+,@R2+, DT @R3 is DT R3.
inline bool anyRegister(const Operand& o) { return namesOf(o) == Names::Register; }

// The control or system register of STC, STS, LDC and LDS (and .L) is any operand that
// names one; the register named, not the mnemonic written, picks the instruction.
inline bool anySystemRegister(const Operand& o) { return namesOf(o) == Names::SystemRegister; }

// The general register of those transfers is the memory form when it is written with
// "@" or with the side's sign: STS MACH,@R3 is STS.L MACH,@-R3, LDS +R3,PR is
// LDS.L @R3+,PR, and STS.L MACH,R3 is STS MACH,R3.
inline bool memoryForm(const Operand& o, Side side) {
    const std::uint32_t sign = side == Side::Source ? SHAPE_PLUS : SHAPE_MINUS;
    return (o.shape & (SHAPE_INDIRECT | sign)) != 0;
}

// An immediate, a location or a data item is any operand that names a number, with or
// without "#" (the scanner reads "#" as nothing) and whatever is written around it.
inline bool anyNumber(const Operand& o) { return namesOf(o) == Names::Number; }

// A branch target, or a DC.L item that is an address, is any operand naming a label:
// BRA -LOOP is BRA LOOP.
inline bool anyLabel(const Operand& o) { return namesOf(o) == Names::Label; }

// AND.B, OR.B, TST.B and XOR.B may leave out their second operand, which has one
// meaning: OR.B #1 is OR.B #1,@(R0,GBR). Written, it must be exactly that.
inline bool impliedR0Gbr(const std::optional<Operand>& o) {
    return !o || modeOf(*o, Side::Destination) == Mode::AtR0Gbr;
}

}  // namespace lenient

}  // namespace korvane::detail
