// The assembler's vocabulary: every mnemonic with its format code and opcode template
// (OpTable), and the control and system register names (RegNames).
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace korvane::detail {

struct OpRow {
    char text[9];  // mnemonic padded to 7, format code (NUL-terminated)

    // As listed: padded to 7 characters.
    std::string_view mnemonic() const { return {text, 7}; }
    // Without its padding, as the instruction forms name it.
    std::string_view name() const {
        const std::string_view m = mnemonic();
        return m.substr(0, m.find(' '));
    }
    char format() const { return text[7]; }
};

inline constexpr std::size_t kOpRows = 103;
extern const std::array<OpRow, kOpRows> OpTable;

// The rows by name, in table order: Op(i) is the mnemonic of OpTable[i].
enum class Op : std::uint8_t {
    ADD,
    ADDC,
    ADDV,
    AND,
    AND_B,
    BF,
    BF_S,
    BRA,
    BRAF,
    BSR,
    BSRF,
    BT,
    BT_S,
    CLRMAC,
    CLRT,
    CMP_EQ,
    CMP_GE,
    CMP_GT,
    CMP_HI,
    CMP_HS,
    CMP_PL,
    CMP_PZ,
    CMP_STR,
    DIV0S,
    DIV0U,
    DIV1,
    DMULS_L,
    DMULU_L,
    DT,
    EXTS_B,
    EXTS_W,
    EXTU_B,
    EXTU_W,
    JMP,
    JSR,
    LDC,
    LDC_L,
    LDS,
    LDS_L,
    MAC_L,
    MAC_W,
    MOV_B,
    MOV_W,
    MOV_L,
    MOVA,
    MOVT,
    MOV,
    MUL_L,
    MULS_W,
    MULU_W,
    NEGC,
    NEG,
    NOP,
    NOT,
    OR,
    OR_B,
    ROTL,
    ROTR,
    ROTCL,
    ROTCR,
    RTE,
    RTS,
    SETT,
    SHAL,
    SHAR,
    SHLL,
    SHLR,
    SHLL2,
    SHLR2,
    SHLL8,
    SHLR8,
    SHLL16,
    SHLR16,
    SLEEP,
    STC,
    STC_L,
    STS,
    STS_L,
    SUB,
    SUBC,
    SUBV,
    SWAP_B,
    SWAP_W,
    TAS_B,
    TRAPA,
    TST,
    TST_B,
    XOR,
    XOR_B,
    XTRCT,
    OPT,
    SETPC,
    DC_B,
    DC_W,
    DC_L,
    ORG,
    PAD,
    INCBIN,
    ALIGN_W,
    ALIGN_L,
    IMOV_L,
    IDATA,
    END,
};
static_assert(static_cast<std::size_t>(Op::END) + 1 == kOpRows);

inline Op opOf(const OpRow& row) {
    return static_cast<Op>(&row - OpTable.data());
}
inline const OpRow& rowOf(Op op) {
    return OpTable[static_cast<std::size_t>(op)];
}

inline constexpr std::size_t kRegNames = 7;
extern const std::array<std::array<char, 4>, kRegNames> RegNames;

enum SysReg : std::uint8_t { SYS_MACH, SYS_MACL, SYS_GBR, SYS_PC, SYS_PR, SYS_SR, SYS_VBR };

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
