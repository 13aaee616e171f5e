// The SH-2 instruction forms, under the headings of the SH-2 programming manual. Every
// opcode of the assembler and of a disassembler is written here and nowhere else. The
// table is a constant of the compiler's, so that what is keyed to its forms (the
// semantics) is checked against it when it is compiled.
#pragma once

#include <array>

#include "isa/isa.h"

namespace korvane::sh2 {

namespace table {


using enum Arg;
using enum Layout;

struct Row {
    std::string_view mnemonic;
    Arg a0, a1;
    std::uint16_t match;
    Layout layout;
    std::uint8_t scale = 1;
    Reach reach = Reach::None;
    std::uint8_t flow = 0;
};

// Forms whose last register operand is only read: comparisons, tests and the
// multiplications that leave their result in MACL/MACH.
constexpr bool onlyReads(std::string_view m) {
    for (std::string_view r : {"CMP/EQ", "CMP/HS", "CMP/GE", "CMP/HI", "CMP/GT", "CMP/STR", "CMP/PL",
                               "CMP/PZ", "TST", "DIV0S", "MUL.L", "MULS.W", "MULU.W", "DMULS.L",
                               "DMULU.L"}) {
        if (m == r) return true;
    }
    return false;
}

// Which general registers a row's instruction changes, from its operands.
constexpr std::uint8_t writesOf(const Row& r) {
    std::uint8_t w = 0;
    const Arg last = r.a1 != None ? r.a1 : r.a0;
    if ((last == Rn && !onlyReads(r.mnemonic)) || r.a1 == AtMinusRn || r.a1 == AtRnPlus) w |= WritesN;
    if (last == R0 && !onlyReads(r.mnemonic)) w |= WritesR0;
    if (r.a0 == AtRmPlus) w |= WritesM;
    // RTE pops PC and SR, TRAPA pushes SR and PC: both move the stack pointer.
    if (r.mnemonic == "RTE" || r.mnemonic == "TRAPA") w |= WritesStack;
    return w;
}

// One heading's rows, given their group.
template <std::size_t N>
constexpr std::array<Form, N> under(Group group, const Row (&rows)[N]) {
    std::array<Form, N> out{};
    for (std::size_t i = 0; i < N; ++i) {
        const Row& r = rows[i];
        out[i] = Form{r.mnemonic, {r.a0, r.a1}, r.match, fixedBits(r.layout),
                      r.layout,   r.scale,      r.reach, group,  writesOf(r), r.flow};
    }
    return out;
}

// Data transfer instructions.
constexpr Row kDataTransfer[] = {
    {"MOV", SImm, Rn, 0xE000, NI},
    {"MOV.W", AtDispPc, Rn, 0x9000, ND8, 2, Reach::PcWord},
    {"MOV.L", AtDispPc, Rn, 0xD000, ND8, 4, Reach::PcLong},
    {"MOV", Rm, Rn, 0x6003, NM},
    {"MOV.B", Rm, AtRn, 0x2000, NM},
    {"MOV.W", Rm, AtRn, 0x2001, NM},
    {"MOV.L", Rm, AtRn, 0x2002, NM},
    {"MOV.B", AtRm, Rn, 0x6000, NM},
    {"MOV.W", AtRm, Rn, 0x6001, NM},
    {"MOV.L", AtRm, Rn, 0x6002, NM},
    {"MOV.B", Rm, AtMinusRn, 0x2004, NM},
    {"MOV.W", Rm, AtMinusRn, 0x2005, NM},
    {"MOV.L", Rm, AtMinusRn, 0x2006, NM},
    {"MOV.B", AtRmPlus, Rn, 0x6004, NM},
    {"MOV.W", AtRmPlus, Rn, 0x6005, NM},
    {"MOV.L", AtRmPlus, Rn, 0x6006, NM},
    {"MOV.B", R0, AtDispRn, 0x8000, ND4, 1},
    {"MOV.W", R0, AtDispRn, 0x8100, ND4, 2},
    {"MOV.L", Rm, AtDispRn, 0x1000, NMD, 4},
    {"MOV.B", AtDispRm, R0, 0x8400, MD, 1},
    {"MOV.W", AtDispRm, R0, 0x8500, MD, 2},
    {"MOV.L", AtDispRm, Rn, 0x5000, NMD, 4},
    {"MOV.B", Rm, AtR0Rn, 0x0004, NM},
    {"MOV.W", Rm, AtR0Rn, 0x0005, NM},
    {"MOV.L", Rm, AtR0Rn, 0x0006, NM},
    {"MOV.B", AtR0Rm, Rn, 0x000C, NM},
    {"MOV.W", AtR0Rm, Rn, 0x000D, NM},
    {"MOV.L", AtR0Rm, Rn, 0x000E, NM},
    {"MOV.B", R0, AtDispGbr, 0xC000, D, 1},
    {"MOV.W", R0, AtDispGbr, 0xC100, D, 2},
    {"MOV.L", R0, AtDispGbr, 0xC200, D, 4},
    {"MOV.B", AtDispGbr, R0, 0xC400, D, 1},
    {"MOV.W", AtDispGbr, R0, 0xC500, D, 2},
    {"MOV.L", AtDispGbr, R0, 0xC600, D, 4},
    {"MOVA", AtDispPc, R0, 0xC700, D, 4, Reach::PcLong},
    {"MOVT", Rn, None, 0x0029, N},
    {"SWAP.B", Rm, Rn, 0x6008, NM},
    {"SWAP.W", Rm, Rn, 0x6009, NM},
    {"XTRCT", Rm, Rn, 0x200D, NM},
};

// Arithmetic instructions.
constexpr Row kArithmetic[] = {
    {"ADD", Rm, Rn, 0x300C, NM},
    {"ADD", SImm, Rn, 0x7000, NI},
    {"ADDC", Rm, Rn, 0x300E, NM},
    {"ADDV", Rm, Rn, 0x300F, NM},
    {"CMP/EQ", SImm, R0, 0x8800, I},
    {"CMP/EQ", Rm, Rn, 0x3000, NM},
    {"CMP/HS", Rm, Rn, 0x3002, NM},
    {"CMP/GE", Rm, Rn, 0x3003, NM},
    {"CMP/HI", Rm, Rn, 0x3006, NM},
    {"CMP/GT", Rm, Rn, 0x3007, NM},
    {"CMP/PZ", Rn, None, 0x4011, N},
    {"CMP/PL", Rn, None, 0x4015, N},
    {"CMP/STR", Rm, Rn, 0x200C, NM},
    {"DIV1", Rm, Rn, 0x3004, NM},
    {"DIV0S", Rm, Rn, 0x2007, NM},
    {"DIV0U", None, None, 0x0019, Zero},
    {"DMULS.L", Rm, Rn, 0x300D, NM},
    {"DMULU.L", Rm, Rn, 0x3005, NM},
    {"DT", Rn, None, 0x4010, N},
    {"EXTS.B", Rm, Rn, 0x600E, NM},
    {"EXTS.W", Rm, Rn, 0x600F, NM},
    {"EXTU.B", Rm, Rn, 0x600C, NM},
    {"EXTU.W", Rm, Rn, 0x600D, NM},
    {"MAC.L", AtRmPlus, AtRnPlus, 0x000F, NM},
    {"MAC.W", AtRmPlus, AtRnPlus, 0x400F, NM},
    {"MUL.L", Rm, Rn, 0x0007, NM},
    {"MULS.W", Rm, Rn, 0x200F, NM},
    {"MULU.W", Rm, Rn, 0x200E, NM},
    {"NEG", Rm, Rn, 0x600B, NM},
    {"NEGC", Rm, Rn, 0x600A, NM},
    {"SUB", Rm, Rn, 0x3008, NM},
    {"SUBC", Rm, Rn, 0x300A, NM},
    {"SUBV", Rm, Rn, 0x300B, NM},
};

// Logic operation instructions.
constexpr Row kLogic[] = {
    {"AND", Rm, Rn, 0x2009, NM},        {"AND", Imm, R0, 0xC900, I},
    {"AND.B", Imm, AtR0Gbr, 0xCD00, I}, {"NOT", Rm, Rn, 0x6007, NM},
    {"OR", Rm, Rn, 0x200B, NM},         {"OR", Imm, R0, 0xCB00, I},
    {"OR.B", Imm, AtR0Gbr, 0xCF00, I},  {"TAS.B", AtRn, None, 0x401B, N},
    {"TST", Rm, Rn, 0x2008, NM},        {"TST", Imm, R0, 0xC800, I},
    {"TST.B", Imm, AtR0Gbr, 0xCC00, I}, {"XOR", Rm, Rn, 0x200A, NM},
    {"XOR", Imm, R0, 0xCA00, I},        {"XOR.B", Imm, AtR0Gbr, 0xCE00, I},
};

// Shift instructions.
constexpr Row kShift[] = {
    {"ROTL", Rn, None, 0x4004, N},   {"ROTR", Rn, None, 0x4005, N},
    {"ROTCL", Rn, None, 0x4024, N},  {"ROTCR", Rn, None, 0x4025, N},
    {"SHAL", Rn, None, 0x4020, N},   {"SHAR", Rn, None, 0x4021, N},
    {"SHLL", Rn, None, 0x4000, N},   {"SHLR", Rn, None, 0x4001, N},
    {"SHLL2", Rn, None, 0x4008, N},  {"SHLR2", Rn, None, 0x4009, N},
    {"SHLL8", Rn, None, 0x4018, N},  {"SHLR8", Rn, None, 0x4019, N},
    {"SHLL16", Rn, None, 0x4028, N}, {"SHLR16", Rn, None, 0x4029, N},
};

// Branch instructions.
constexpr std::uint8_t kCond = FlowConditional | FlowSlotIllegal;
constexpr std::uint8_t kCondDelayed = kCond | FlowDelayed;
constexpr std::uint8_t kJump = FlowDelayed | FlowEnds | FlowSlotIllegal;
constexpr std::uint8_t kCall = FlowDelayed | FlowCall | FlowSlotIllegal;
constexpr std::uint8_t kByRegister = FlowRegister | FlowRelative;
constexpr Row kBranch[] = {
    {"BF", Target, None, 0x8B00, D, 2, Reach::Branch8, kCond},
    {"BF/S", Target, None, 0x8F00, D, 2, Reach::Branch8, kCondDelayed},
    {"BT", Target, None, 0x8900, D, 2, Reach::Branch8, kCond},
    {"BT/S", Target, None, 0x8D00, D, 2, Reach::Branch8, kCondDelayed},
    {"BRA", Target, None, 0xA000, D12, 2, Reach::Branch12, kJump},
    {"BRAF", Rm, None, 0x0023, M, 1, Reach::None, kJump | kByRegister},
    {"BSR", Target, None, 0xB000, D12, 2, Reach::Branch12, kCall},
    {"BSRF", Rm, None, 0x0003, M, 1, Reach::None, kCall | kByRegister},
    {"JMP", AtRm, None, 0x402B, M, 1, Reach::None, kJump | FlowRegister},
    {"JSR", AtRm, None, 0x400B, M, 1, Reach::None, kCall | FlowRegister},
    {"RTS", None, None, 0x000B, Zero, 1, Reach::None, kJump | FlowReturn},
};

// System control instructions.
constexpr Row kSystemControl[] = {
    {"CLRT", None, None, 0x0008, Zero},
    {"CLRMAC", None, None, 0x0028, Zero},
    {"LDC", Rm, SR, 0x400E, M},
    {"LDC", Rm, GBR, 0x401E, M},
    {"LDC", Rm, VBR, 0x402E, M},
    {"LDC.L", AtRmPlus, SR, 0x4007, M},
    {"LDC.L", AtRmPlus, GBR, 0x4017, M},
    {"LDC.L", AtRmPlus, VBR, 0x4027, M},
    {"LDS", Rm, MACH, 0x400A, M},
    {"LDS", Rm, MACL, 0x401A, M},
    {"LDS", Rm, PR, 0x402A, M},
    {"LDS.L", AtRmPlus, MACH, 0x4006, M},
    {"LDS.L", AtRmPlus, MACL, 0x4016, M},
    {"LDS.L", AtRmPlus, PR, 0x4026, M},
    {"NOP", None, None, 0x0009, Zero},
    {"RTE", None, None, 0x002B, Zero, 1, Reach::None, kJump | FlowReturn},
    {"SETT", None, None, 0x0018, Zero},
    {"SLEEP", None, None, 0x001B, Zero},
    {"STC", SR, Rn, 0x0002, N},
    {"STC", GBR, Rn, 0x0012, N},
    {"STC", VBR, Rn, 0x0022, N},
    {"STC.L", SR, AtMinusRn, 0x4003, N},
    {"STC.L", GBR, AtMinusRn, 0x4013, N},
    {"STC.L", VBR, AtMinusRn, 0x4023, N},
    {"STS", MACH, Rn, 0x000A, N},
    {"STS", MACL, Rn, 0x001A, N},
    {"STS", PR, Rn, 0x002A, N},
    {"STS.L", MACH, AtMinusRn, 0x4002, N},
    {"STS.L", MACL, AtMinusRn, 0x4012, N},
    {"STS.L", PR, AtMinusRn, 0x4022, N},
    {"TRAPA", Imm, None, 0xC300, I, 1, Reach::None, FlowSlotIllegal},
};

template <std::size_t... N>
constexpr auto join(const std::array<Form, N>&... parts) {
    std::array<Form, (N + ...)> all{};
    std::size_t i = 0;
    ((std::copy(parts.begin(), parts.end(), all.begin() + static_cast<std::ptrdiff_t>(i)), i += N),
     ...);
    return all;
}

inline constexpr auto kForms =
    join(under(Group::DataTransfer, kDataTransfer), under(Group::Arithmetic, kArithmetic),
         under(Group::Logic, kLogic), under(Group::Shift, kShift), under(Group::Branch, kBranch),
         under(Group::SystemControl, kSystemControl));

// Every mnemonic's forms fit a FormSet.
constexpr bool fewFormsOfEachMnemonic() {
    for (const Form& f : kForms) {
        std::size_t n = 0;
        for (const Form& g : kForms) n += g.mnemonic == f.mnemonic ? 1 : 0;
        if (n > kMostFormsOfOneMnemonic) return false;
    }
    return true;
}
static_assert(fewFormsOfEachMnemonic(), "a mnemonic has more forms than a FormSet holds");

}  // namespace table

// Every form, as forms() gives them.
inline constexpr auto& kFormTable = table::kForms;

}  // namespace korvane::sh2
