// The SH-2 instruction set as one table of forms, used in both directions: the
// assembler picks a form and encodes its fields, a disassembler decodes a word into
// its form and fields.
//
// A form is one line of an SH-2 manual's instruction table: a mnemonic with the
// operands it is written with, the bits it always has (match, under mask) and the
// layout of the fields that the operands fill (register numbers, a displacement or an
// immediate).
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace korvane::sh2 {

// One operand as written. Rn is the field in bits 11-8, Rm the one in bits 7-4 of the
// NM layouts and bits 11-8 of the M layout; "disp" and "imm" are the d field.
enum class Arg : std::uint8_t {
    None,
    Rn,  // general register
    Rm,
    R0,         // R0 itself, no field
    AtRn,       // @Rn
    AtRm,       // @Rm
    AtMinusRn,  // @-Rn
    AtRmPlus,   // @Rm+
    AtRnPlus,   // @Rn+ (MAC's second operand)
    AtR0Rn,     // @(R0,Rn)
    AtR0Rm,     // @(R0,Rm)
    AtDispRn,   // @(disp,Rn)
    AtDispRm,   // @(disp,Rm)
    AtDispGbr,  // @(disp,GBR)
    AtDispPc,   // @(disp,PC): a literal or MOVA target, PC-relative
    AtR0Gbr,    // @(R0,GBR)
    Imm,        // #imm, zero-extended
    SImm,       // #imm, sign-extended
    Target,     // a branch target, PC-relative
    SR,
    GBR,
    VBR,
    MACH,
    MACL,
    PR,
};

// Where the fields sit in the word, named as the SH-2 manual names its formats
// (x: fixed bits, n/m: registers, d/i: displacement or immediate).
enum class Layout : std::uint8_t {
    Zero,  // xxxx xxxx xxxx xxxx
    N,     // xxxx nnnn xxxx xxxx
    M,     // xxxx mmmm xxxx xxxx
    NM,    // xxxx nnnn mmmm xxxx
    MD,    // xxxx xxxx mmmm dddd
    ND4,   // xxxx xxxx nnnn dddd
    NMD,   // xxxx nnnn mmmm dddd
    D,     // xxxx xxxx dddd dddd
    D12,   // xxxx dddd dddd dddd
    ND8,   // xxxx nnnn dddd dddd
    I,     // xxxx xxxx iiii iiii
    NI,    // xxxx nnnn iiii iiii
};

// How a PC-relative displacement reaches its target.
enum class Reach : std::uint8_t {
    None,
    Branch8,   // PC + 4 + 2 * signed d (8 bits)
    Branch12,  // PC + 4 + 2 * signed d (12 bits)
    PcWord,    // PC + 4 + 2 * d
    PcLong,    // (PC + 4 with its low two bits cleared) + 4 * d
};

// The manual's headings.
enum class Group : std::uint8_t { DataTransfer, Arithmetic, Logic, Shift, Branch, SystemControl };

struct Form {
    std::string_view mnemonic;  // as the manual writes it, upper case: "MOV.L"
    Arg args[2];                // the operands in source order; None where there are fewer
    std::uint16_t match;        // the fixed bits
    std::uint16_t mask;         // which bits are fixed
    Layout layout;
    std::uint8_t scale;  // bytes per unit of a displacement: 1, 2 or 4 (1 for the rest)
    Reach reach;
    Group group;
    std::uint8_t writes;  // which general registers it changes: a set of the Writes bits
    std::uint8_t flow;    // what it does to the flow of control: a set of the Flow bits
};

// What an instruction does to the flow of control.
enum Flow : std::uint8_t {
    FlowDelayed = 0x01,      // the next instruction (its delay slot) runs before the branch
    FlowEnds = 0x02,         // the path does not go on after it (and its slot)
    FlowCall = 0x04,         // a call: the path goes on after it (and its slot)
    FlowConditional = 0x08,  // taken or not, by T
    FlowSlotIllegal = 0x10,  // may not stand in a delay slot
    FlowRegister = 0x20,     // goes where the m register says: JMP/JSR @Rm to its value,
                             // BRAF/BSRF Rm to the instruction's address + 4 + its value
    FlowRelative = 0x40,     // with FlowRegister: BRAF/BSRF (relative), not JMP/JSR
    FlowReturn = 0x80,       // RTS, RTE: goes where PR or the stack says
};

// In a delay slot, a PC-relative form counts from the branch target T, not from its own
// address: its PC is T + 2, so it reads what the same form at T - 2 would read.
constexpr std::uint32_t slotPcFor(std::uint32_t branchTarget) {
    return branchTarget - 2;
}

// The registers a form changes (a destination, an address register that @Rm+, @Rn+ or
// @-Rn steps, R0 as a fixed destination).
enum Writes : std::uint8_t {
    WritesN = 0x01,   // the register in the n field
    WritesM = 0x02,   // the register in the m field
    WritesR0 = 0x04,  // R0
    WritesStack = 0x08,  // R15, the stack pointer (RTE, TRAPA)
};
// The register the hardware keeps its stack in (exceptions, TRAPA, RTE).
inline constexpr unsigned kStackRegister = 15;

// The variable fields of a word, each as it stands in the word (a displacement in
// units of its scale, an immediate as its 8 bits).
struct Fields {
    std::uint8_t n = 0;
    std::uint8_t m = 0;
    std::uint16_t d = 0;
    bool operator==(const Fields&) const = default;
};

// Every SH-2 instruction form, grouped and ordered as the manual lists them.
std::span<const Form> forms();

// Where a layout's fields sit in the word: each register field's shift (its mask is 0
// when the layout has none) and the mask of the d field, which always ends at bit 0.
struct Place {
    std::uint8_t nShift, nMask, mShift, mMask;
    std::uint16_t dMask;
};
inline constexpr Place kPlaces[] = {
    {0, 0, 0, 0, 0},        // Zero
    {8, 0xF, 0, 0, 0},      // N
    {0, 0, 8, 0xF, 0},      // M
    {8, 0xF, 4, 0xF, 0},    // NM
    {0, 0, 4, 0xF, 0xF},    // MD
    {4, 0xF, 0, 0, 0xF},    // ND4
    {8, 0xF, 4, 0xF, 0xF},  // NMD
    {0, 0, 0, 0, 0xFF},     // D
    {0, 0, 0, 0, 0xFFF},    // D12
    {8, 0xF, 0, 0, 0xFF},   // ND8
    {0, 0, 0, 0, 0xFF},     // I
    {8, 0xF, 0, 0, 0xFF},   // NI
};
constexpr const Place& placeOf(Layout layout) {
    return kPlaces[static_cast<std::size_t>(layout)];
}

// The bits a layout leaves fixed.
constexpr std::uint16_t fixedBits(Layout layout) {
    const Place& p = placeOf(layout);
    return static_cast<std::uint16_t>(~(p.nMask << p.nShift | p.mMask << p.mShift | p.dMask));
}

// The word of a form with these fields; fields wider than the layout's are cut to it.
constexpr std::uint16_t encode(const Form& form, const Fields& f) {
    const Place& p = placeOf(form.layout);
    return static_cast<std::uint16_t>(form.match | (f.n & p.nMask) << p.nShift |
                                      (f.m & p.mMask) << p.mShift | (f.d & p.dMask));
}

// Where a patch of the d field starts in the big-endian word: the low byte (1) for a
// field of 8 bits or fewer, the whole word (0) for a wider one.
constexpr unsigned dFieldByte(Layout layout) {
    return placeOf(layout).dMask > 0xFF ? 0u : 1u;
}

// How many bits a layout gives its d field (0 where it has none).
constexpr unsigned dBits(Layout layout) {
    return static_cast<unsigned>(std::popcount(placeOf(layout).dMask));
}

// PC-relative reach, both ways. From an instruction at pc, a field reaches:
//   Branch8, Branch12  pc + 4 + 2 * d, d signed (8 or 12 bits), the target even;
//   PcWord             pc + 4 + 2 * d, d 0..255, the target even;
//   PcLong             (pc + 4 with its low two bits cleared) + 4 * d, d 0..255, the
//                      target a multiple of 4.
struct Reaching {
    std::uint32_t align;  // the target's alignment
    unsigned shift;       // bytes per unit, as a shift
    std::uint32_t back;   // how far the target may lie before the base (0: forward only)
    std::uint32_t ahead;  // how far after it
    std::uint16_t mask;   // the field
};
constexpr Reaching reachingOf(Reach reach) {
    switch (reach) {
        case Reach::Branch8:
            return {2, 1, 256, 254, 0xFF};
        case Reach::Branch12:
            return {2, 1, 4096, 4094, 0xFFF};
        case Reach::PcWord:
            return {2, 1, 0, 510, 0xFF};
        case Reach::PcLong:
            return {4, 2, 0, 1020, 0xFF};
        case Reach::None:
            break;
    }
    return {1, 0, 0, 0, 0};
}
// The address the displacement is counted from.
constexpr std::uint32_t reachBase(Reach reach, std::uint32_t pc) {
    return reach == Reach::PcLong ? (pc + 4) & ~3u : pc + 4;
}
// The address a d field of this reach reaches from pc (pc itself for no reach).
constexpr std::uint32_t reachedFrom(Reach reach, std::uint16_t d, std::uint32_t pc) {
    if (reach == Reach::None) return pc;
    const Reaching r = reachingOf(reach);
    std::uint32_t units = d & r.mask;
    if (r.back != 0) {  // signed
        const std::uint32_t sign = (r.mask + 1u) >> 1;
        units = (units ^ sign) - sign;
    }
    return reachBase(reach, pc) + (units << r.shift);
}
// The address a form's field reaches from pc (pc itself for a form without reach).
constexpr std::uint32_t targetOf(const Form& form, const Fields& f, std::uint32_t pc) {
    return reachedFrom(form.reach, f.d, pc);
}
// The field that reaches target from pc, or nothing when it cannot: a misaligned target,
// one before the base of a forward-only load, or one too far.
constexpr std::optional<std::uint16_t> fieldFor(Reach reach, std::uint32_t pc, std::uint32_t target) {
    const Reaching r = reachingOf(reach);
    if (reach == Reach::None || (target & (r.align - 1)) != 0) return std::nullopt;
    const std::uint32_t d = target - reachBase(reach, pc);
    if (d > r.ahead && 0u - d > r.back) return std::nullopt;  // neither ahead nor back
    return static_cast<std::uint16_t>((d >> r.shift) & r.mask);
}

// The d field for a number written as a form's immediate or numeric displacement, or
// nothing when the number does not fit. An 8-bit immediate takes a 32-bit value that
// reads as -128..255 (so $FFFFFF80..$FFFFFFFF too); a displacement must be a multiple of
// the form's scale whose count of units fits the field (@(60,R4) for MOV.L, not @(64,R4)
// or @(3,R4)).
constexpr std::optional<std::uint16_t> numberField(const Form& form, std::uint32_t value) {
    const unsigned bits = dBits(form.layout);
    if (bits == 0) return std::nullopt;
    if (form.layout == Layout::I || form.layout == Layout::NI) {
        if (value <= 0xFFu || value >= 0xFFFFFF80u) return static_cast<std::uint16_t>(value & 0xFFu);
        return std::nullopt;
    }
    if ((value & (form.scale - 1u)) != 0) return std::nullopt;  // a scale of 1, 2 or 4
    const std::uint32_t units = value >> std::countr_zero(form.scale);
    if (units >= (1u << bits)) return std::nullopt;
    return static_cast<std::uint16_t>(units);
}

struct Decoded {
    const Form* form;
    Fields fields;
};

// The general registers (bit k for Rk) that an instruction of this form with these
// fields changes.
constexpr std::uint16_t writtenRegisters(const Form& form, const Fields& f) {
    std::uint16_t regs = 0;
    if (form.writes & WritesN) regs = static_cast<std::uint16_t>(regs | 1u << (f.n & 0xFu));
    if (form.writes & WritesM) regs = static_cast<std::uint16_t>(regs | 1u << (f.m & 0xFu));
    if (form.writes & WritesR0) regs = static_cast<std::uint16_t>(regs | 1u);
    if (form.writes & WritesStack) regs = static_cast<std::uint16_t>(regs | 1u << kStackRegister);
    return regs;
}
// The general registers (bit k for Rk) that the operands of an instruction of this form
// name, read or written, R0 included where an operand names it.
constexpr std::uint16_t namedRegisters(const Form& form, const Fields& f) {
    std::uint16_t regs = 0;
    for (const Arg a : form.args) {
        switch (a) {
            case Arg::Rn: case Arg::AtRn: case Arg::AtMinusRn: case Arg::AtRnPlus: case Arg::AtDispRn:
                regs = static_cast<std::uint16_t>(regs | 1u << (f.n & 0xFu));
                break;
            case Arg::AtR0Rn:
                regs = static_cast<std::uint16_t>(regs | 1u << (f.n & 0xFu) | 1u);
                break;
            case Arg::Rm: case Arg::AtRm: case Arg::AtRmPlus: case Arg::AtDispRm:
                regs = static_cast<std::uint16_t>(regs | 1u << (f.m & 0xFu));
                break;
            case Arg::AtR0Rm:
                regs = static_cast<std::uint16_t>(regs | 1u << (f.m & 0xFu) | 1u);
                break;
            case Arg::R0: case Arg::AtR0Gbr:
                regs = static_cast<std::uint16_t>(regs | 1u);
                break;
            default:
                break;
        }
    }
    return static_cast<std::uint16_t>(regs | writtenRegisters(form, f));
}
// The general registers (bit k for Rk) that an instruction of this form with these
// fields uses as an address: the base of @Rn, @Rm+, @-Rn, @(disp,Rn), @(R0,Rn) (and R0
// there), the register LDC Rm,GBR makes the base of the GBR-relative forms, and the one
// LDC Rm,VBR makes the base of the vector table.
constexpr std::uint16_t addressRegisters(const Form& form, const Fields& f) {
    std::uint16_t regs = 0;
    for (const Arg a : form.args) {
        if (a == Arg::AtRn || a == Arg::AtMinusRn || a == Arg::AtRnPlus || a == Arg::AtR0Rn || a == Arg::AtDispRn)
            regs = static_cast<std::uint16_t>(regs | 1u << (f.n & 0xFu));
        if (a == Arg::AtRm || a == Arg::AtRmPlus || a == Arg::AtR0Rm || a == Arg::AtDispRm)
            regs = static_cast<std::uint16_t>(regs | 1u << (f.m & 0xFu));
        if (a == Arg::AtR0Rn || a == Arg::AtR0Rm) regs = static_cast<std::uint16_t>(regs | 1u);
    }
    if (form.args[0] == Arg::Rm && (form.args[1] == Arg::GBR || form.args[1] == Arg::VBR))
        regs = static_cast<std::uint16_t>(regs | 1u << (f.m & 0xFu));
    return regs;
}

// What the compilers for SH agree on, which the analysis relies on: a call may change
// R0-R7 and keeps R8-R14; R4-R7 pass the first arguments; R15 is the stack pointer,
// R14 the frame pointer.
struct Conventions {
    std::uint16_t changedByCall;
    std::uint16_t arguments;
    std::uint8_t stack, frame;
};
inline constexpr Conventions kConventions{0x00FF, 0x00F0, 15, 14};

// The form of a word (a table lookup), or nullptr for a word that is no SH-2 instruction.
const Form* decodeForm(std::uint16_t word);
// The fields of a word of a known form.
constexpr Fields fieldsOf(const Form& form, std::uint16_t word) {
    const Place& p = placeOf(form.layout);
    return Fields{static_cast<std::uint8_t>((word >> p.nShift) & p.nMask),
                  static_cast<std::uint8_t>((word >> p.mShift) & p.mMask),
                  static_cast<std::uint16_t>(word & p.dMask)};
}

// The form and fields of a word, or nothing for a word that is no SH-2 instruction.
inline std::optional<Decoded> decode(std::uint16_t word) {
    const Form* form = decodeForm(word);
    if (form == nullptr) return std::nullopt;
    return Decoded{form, fieldsOf(*form, word)};
}

}  // namespace korvane::sh2
