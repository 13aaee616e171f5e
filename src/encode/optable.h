// The assembler's vocabulary: every mnemonic with its format code and opcode template
// (OpTable), and the control and system register names (RegNames).
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace korvane::detail {

struct OpRow {
    char text[13];  // mnemonic padded to 7, format code, template or sub-code (NUL-padded)

    std::string_view mnemonic() const { return {text, 7}; }
    char format() const { return text[7]; }
    // Template nibble k (1..4) read as a hexadecimal digit.
    unsigned nibble(int k) const {
        unsigned v = static_cast<unsigned char>(text[7 + k]) - 48u;
        return v > 9 ? v - 7 : v;
    }
    unsigned subCode() const { return nibble(1); }
};

inline constexpr std::size_t kOpRows = 103;
extern const std::array<OpRow, kOpRows> OpTable;

inline constexpr std::size_t kRegNames = 7;
extern const std::array<std::array<char, 4>, kRegNames> RegNames;

enum SysReg : std::uint8_t { SYS_MACH, SYS_MACL, SYS_GBR, SYS_PC, SYS_PR, SYS_SR, SYS_VBR };

// Finds the row of a mnemonic, given as 7 upper-case characters padded with blanks
// (8 bytes are read; the 8th is ignored), or nullptr.
const OpRow* findMnemonic(const std::uint8_t* padded);

}  // namespace korvane::detail
