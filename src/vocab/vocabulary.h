// The language's vocabulary: every statement's mnemonic with the kind of statement it
// is (which handler reads its operands), and the names of the control and system
// registers. Below both the source reader (which looks mnemonics up) and the encoders
// (which read the rows); the instructions' forms and opcodes are the ISA's (src/isa).
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace korvane::detail {

// What kind of statement a row is: which handler reads its operands (the function
// handle<Name>, encode/encoder.h), and whether it is an SH-2 instruction with forms in
// the ISA or a directive. A new kind of statement is a line here and its handler.
#define KORVANE_FORMATS(X) \
    X(NoOperands, true)    /* NOP, RTS, CLRT ... */ \
    X(OneRegister, true)   /* Rn, or @Rn for JMP, JSR, TAS.B */ \
    X(TwoRegisters, true)  /* Rm,Rn */ \
    X(Store, true)         /* STC, STS (and .L): a control or system register to Rn or @-Rn */ \
    X(Location, false)     /* SETPC, ORG, PAD: one address */ \
    X(End, false)          /* END: nothing after it is read */ \
    X(Data, false)         /* DC.B, DC.W, DC.L */ \
    X(Incbin, false)       /* INCBIN "file" */ \
    X(Immediate, true)     /* #imm alone: TRAPA, and AND.B, OR.B, TST.B, XOR.B on @(R0,GBR) */ \
    X(Addressing, true)    /* the instructions with several addressing modes: MOV, ADD ... */ \
    X(Load, true)          /* LDC, LDS (and .L) */ \
    X(Branch, true)        /* BT, BF, BT/S, BF/S, BRA, BSR: a label */ \
    X(Option, false)       /* OPT: read and ignored */ \
    X(Align, false)        /* ALIGN.W, ALIGN.L */ \
    X(Imov, false)         /* IMOV.L #value,Rn through the literal pool */ \
    X(Idata, false)        /* IDATA: the literal pool placed here */

enum class Format : std::uint8_t {
#define KORVANE_FORMAT(name, instruction) name,
    KORVANE_FORMATS(KORVANE_FORMAT)
#undef KORVANE_FORMAT
};

// Every statement: its enumerator, its mnemonic, its format. The enumeration, the
// table and the mnemonic index are all made from this one list.
#define KORVANE_STATEMENTS(X) \
    X(ADD, "ADD", Addressing) \
    X(ADDC, "ADDC", TwoRegisters) \
    X(ADDV, "ADDV", TwoRegisters) \
    X(AND, "AND", Addressing) \
    X(AND_B, "AND.B", Immediate) \
    X(BF, "BF", Branch) \
    X(BF_S, "BF/S", Branch) \
    X(BRA, "BRA", Branch) \
    X(BRAF, "BRAF", OneRegister) \
    X(BSR, "BSR", Branch) \
    X(BSRF, "BSRF", OneRegister) \
    X(BT, "BT", Branch) \
    X(BT_S, "BT/S", Branch) \
    X(CLRMAC, "CLRMAC", NoOperands) \
    X(CLRT, "CLRT", NoOperands) \
    X(CMP_EQ, "CMP/EQ", Addressing) \
    X(CMP_GE, "CMP/GE", TwoRegisters) \
    X(CMP_GT, "CMP/GT", TwoRegisters) \
    X(CMP_HI, "CMP/HI", TwoRegisters) \
    X(CMP_HS, "CMP/HS", TwoRegisters) \
    X(CMP_PL, "CMP/PL", OneRegister) \
    X(CMP_PZ, "CMP/PZ", OneRegister) \
    X(CMP_STR, "CMP/STR", TwoRegisters) \
    X(DIV0S, "DIV0S", TwoRegisters) \
    X(DIV0U, "DIV0U", NoOperands) \
    X(DIV1, "DIV1", TwoRegisters) \
    X(DMULS_L, "DMULS.L", TwoRegisters) \
    X(DMULU_L, "DMULU.L", TwoRegisters) \
    X(DT, "DT", OneRegister) \
    X(EXTS_B, "EXTS.B", TwoRegisters) \
    X(EXTS_W, "EXTS.W", TwoRegisters) \
    X(EXTU_B, "EXTU.B", TwoRegisters) \
    X(EXTU_W, "EXTU.W", TwoRegisters) \
    X(JMP, "JMP", OneRegister) \
    X(JSR, "JSR", OneRegister) \
    X(LDC, "LDC", Load) \
    X(LDC_L, "LDC.L", Load) \
    X(LDS, "LDS", Load) \
    X(LDS_L, "LDS.L", Load) \
    X(MAC_L, "MAC.L", TwoRegisters) \
    X(MAC_W, "MAC.W", TwoRegisters) \
    X(MOV_B, "MOV.B", Addressing) \
    X(MOV_W, "MOV.W", Addressing) \
    X(MOV_L, "MOV.L", Addressing) \
    X(MOVA, "MOVA", Addressing) \
    X(MOVT, "MOVT", OneRegister) \
    X(MOV, "MOV", Addressing) \
    X(MUL_L, "MUL.L", TwoRegisters) \
    X(MULS_W, "MULS.W", TwoRegisters) \
    X(MULU_W, "MULU.W", TwoRegisters) \
    X(NEGC, "NEGC", TwoRegisters) \
    X(NEG, "NEG", TwoRegisters) \
    X(NOP, "NOP", NoOperands) \
    X(NOT, "NOT", TwoRegisters) \
    X(OR, "OR", Addressing) \
    X(OR_B, "OR.B", Immediate) \
    X(ROTL, "ROTL", OneRegister) \
    X(ROTR, "ROTR", OneRegister) \
    X(ROTCL, "ROTCL", OneRegister) \
    X(ROTCR, "ROTCR", OneRegister) \
    X(RTE, "RTE", NoOperands) \
    X(RTS, "RTS", NoOperands) \
    X(SETT, "SETT", NoOperands) \
    X(SHAL, "SHAL", OneRegister) \
    X(SHAR, "SHAR", OneRegister) \
    X(SHLL, "SHLL", OneRegister) \
    X(SHLR, "SHLR", OneRegister) \
    X(SHLL2, "SHLL2", OneRegister) \
    X(SHLR2, "SHLR2", OneRegister) \
    X(SHLL8, "SHLL8", OneRegister) \
    X(SHLR8, "SHLR8", OneRegister) \
    X(SHLL16, "SHLL16", OneRegister) \
    X(SHLR16, "SHLR16", OneRegister) \
    X(SLEEP, "SLEEP", NoOperands) \
    X(STC, "STC", Store) \
    X(STC_L, "STC.L", Store) \
    X(STS, "STS", Store) \
    X(STS_L, "STS.L", Store) \
    X(SUB, "SUB", TwoRegisters) \
    X(SUBC, "SUBC", TwoRegisters) \
    X(SUBV, "SUBV", TwoRegisters) \
    X(SWAP_B, "SWAP.B", TwoRegisters) \
    X(SWAP_W, "SWAP.W", TwoRegisters) \
    X(TAS_B, "TAS.B", OneRegister) \
    X(TRAPA, "TRAPA", Immediate) \
    X(TST, "TST", Addressing) \
    X(TST_B, "TST.B", Immediate) \
    X(XOR, "XOR", Addressing) \
    X(XOR_B, "XOR.B", Immediate) \
    X(XTRCT, "XTRCT", TwoRegisters) \
    X(OPT, "OPT", Option) \
    X(SETPC, "SETPC", Location) \
    X(DC_B, "DC.B", Data) \
    X(DC_W, "DC.W", Data) \
    X(DC_L, "DC.L", Data) \
    X(ORG, "ORG", Location) \
    X(PAD, "PAD", Location) \
    X(INCBIN, "INCBIN", Incbin) \
    X(ALIGN_W, "ALIGN.W", Align) \
    X(ALIGN_L, "ALIGN.L", Align) \
    X(IMOV_L, "IMOV.L", Imov) \
    X(IDATA, "IDATA", Idata) \
    X(END, "END", End)

// The rows by name, in the list's order: Op(i) is the statement of OpTable[i].
enum class Op : std::uint8_t {
#define KORVANE_OP(o, m, f) o,
    KORVANE_STATEMENTS(KORVANE_OP)
#undef KORVANE_OP
};

#define KORVANE_COUNT(o, m, f) +1
inline constexpr std::size_t kOpRows = 0 KORVANE_STATEMENTS(KORVANE_COUNT);
#undef KORVANE_COUNT
static_assert(kOpRows <= 256, "Op is one byte");

// A mnemonic as the listing and the messages write it: padded with blanks to 7
// characters (a longer one as it is).
template <std::size_t N>
struct Listed {
    static constexpr std::size_t kSize = N - 1 < 7 ? 7 : N - 1;
    char text[kSize]{};
    constexpr explicit Listed(const char (&s)[N]) {
        for (std::size_t i = 0; i < kSize; ++i) text[i] = i + 1 < N ? s[i] : ' ';
    }
};
#define KORVANE_LISTED(o, m, f) inline constexpr Listed<sizeof(m)> kListed_##o{m};
KORVANE_STATEMENTS(KORVANE_LISTED)
#undef KORVANE_LISTED

struct OpRow {
    std::string_view text;  // the mnemonic: "MOV.L"
    const char* listed;     // as listed: "MOV.L  " (7 characters at least)
    Format format;

    // As listed: padded to 7 characters.
    std::string_view mnemonic() const { return {listed, text.size() < 7 ? 7 : text.size()}; }
    // Without its padding, as the instruction forms name it.
    std::string_view name() const { return text; }
    // An SH-2 instruction (with forms in the ISA), or a directive.
    constexpr bool instruction() const {
        constexpr bool kInstruction[] = {
#define KORVANE_FORMAT(name, instruction) instruction,
            KORVANE_FORMATS(KORVANE_FORMAT)
#undef KORVANE_FORMAT
        };
        return kInstruction[static_cast<std::size_t>(format)];
    }
};

inline constexpr std::array<OpRow, kOpRows> OpTable = {{
#define KORVANE_ROW(o, m, f) OpRow{m, kListed_##o.text, Format::f},
    KORVANE_STATEMENTS(KORVANE_ROW)
#undef KORVANE_ROW
}};

static_assert(sizeof(OpRow) == 4 * sizeof(void*), "a row's index is a shift of its offset");

inline Op opOf(const OpRow& row) {
    return static_cast<Op>(&row - OpTable.data());
}
inline constexpr const OpRow& rowOf(Op op) {
    return OpTable[static_cast<std::size_t>(op)];
}

// A label as a statement names it: up to 20 characters, padded with blanks (a local
// one begins with "@").
using LabelName = std::array<char, 20>;

// The control and system registers an operand may name, each with the instruction
// operand (sh2::Arg) it is to STC, STS, LDC and LDS (PC is none). The enumeration and
// the names' table are made from this one list.
#define KORVANE_SYSTEM_REGISTERS(X) \
    X(MACH, MACH) X(MACL, MACL) X(GBR, GBR) X(PC, None) X(PR, PR) X(SR, SR) X(VBR, VBR)

enum SysReg : std::uint8_t {
#define KORVANE_SYSREG(name, arg) SYS_##name,
    KORVANE_SYSTEM_REGISTERS(KORVANE_SYSREG)
#undef KORVANE_SYSREG
};

// Each register's name padded with blanks to 4 characters, by SysReg.
template <std::size_t N>
constexpr std::array<char, 4> padded4(const char (&s)[N]) {
    static_assert(N - 1 <= 4);
    std::array<char, 4> t{' ', ' ', ' ', ' '};
    for (std::size_t i = 0; i + 1 < N; ++i) t[i] = s[i];
    return t;
}
inline constexpr std::array RegNames = {
#define KORVANE_SYSREG(name, arg) padded4(#name),
    KORVANE_SYSTEM_REGISTERS(KORVANE_SYSREG)
#undef KORVANE_SYSREG
};
inline constexpr std::size_t kRegNames = RegNames.size();

// Open-addressing index over OpTable; mnemonics are distinct, so the row found is
// the first equal row in table order.
struct MnemonicIndex {
    static constexpr unsigned kSlots = 512;
    static constexpr unsigned slotOf(std::uint64_t key) {
        return static_cast<unsigned>((key * 0x9E3779B97F4A7C15ull) >> 55);
    }
    std::array<std::uint64_t, kSlots> keys{};
    std::array<std::int16_t, kSlots> rows{};
};
extern const MnemonicIndex Mnemonics;

// Finds the row of a mnemonic, given as 7 upper-case characters padded with blanks
// (8 bytes are read; the 8th is ignored), or nullptr.
inline const OpRow* findMnemonic(const std::uint8_t* padded) {
    std::uint64_t raw;
    std::memcpy(&raw, padded, 8);
    // The first character in the highest byte, the 8th dropped.
    if constexpr (std::endian::native == std::endian::little) raw = __builtin_bswap64(raw);
    const std::uint64_t key = raw >> 8;
    for (unsigned s = MnemonicIndex::slotOf(key);; s = (s + 1) % MnemonicIndex::kSlots) {
        const int row = Mnemonics.rows[s];
        if (row < 0) return nullptr;
        if (Mnemonics.keys[s] == key) return &OpTable[static_cast<std::size_t>(row)];
    }
}

}  // namespace korvane::detail
