#include "encode/optable.h"

#include <bit>
#include <cstring>

namespace korvane::detail {

// Row text: mnemonic padded to 7 characters, format code, then the opcode template
// (or, for format B, the one-digit sub-code). Rows of codes 3, C and of the
// directives end after the format code.
const std::array<OpRow, kOpRows> OpTable = {{
    OpRow{"ADD    B0"},     // 0
    OpRow{"ADDC   23nmE"},  // 1
    OpRow{"ADDV   23nmF"},  // 2
    OpRow{"AND    B1"},     // 3
    OpRow{"AND.B  ACDdd"},  // 4
    OpRow{"BF     D8Bdd"},  // 5
    OpRow{"BF/S   D8Fdd"},  // 6
    OpRow{"BRA    EAddd"},  // 7
    OpRow{"BRAF   10n23"},  // 8
    OpRow{"BSR    EBddd"},  // 9
    OpRow{"BSRF   10n03"},  // 10
    OpRow{"BT     D89dd"},  // 11
    OpRow{"BT/S   D8Ddd"},  // 12
    OpRow{"CLRMAC 00028"},  // 13
    OpRow{"CLRT   00008"},  // 14
    OpRow{"CMP/EQ B2"},     // 15
    OpRow{"CMP/GE 23nm3"},  // 16
    OpRow{"CMP/GT 23nm7"},  // 17
    OpRow{"CMP/HI 23nm6"},  // 18
    OpRow{"CMP/HS 23nm2"},  // 19
    OpRow{"CMP/PL 14n15"},  // 20
    OpRow{"CMP/PZ 14n11"},  // 21
    OpRow{"CMP/STR22nmC"},  // 22
    OpRow{"DIV0S  22nm7"},  // 23
    OpRow{"DIV0U  00019"},  // 24
    OpRow{"DIV1   23nm4"},  // 25
    OpRow{"DMULS.L23nmD"},  // 26
    OpRow{"DMULU.L23nm5"},  // 27
    OpRow{"DT     14n10"},  // 28
    OpRow{"EXTS.B 26nmE"},  // 29
    OpRow{"EXTS.W 26nmF"},  // 30
    OpRow{"EXTU.B 26nmC"},  // 31
    OpRow{"EXTU.W 26nmD"},  // 32
    OpRow{"JMP    14n2B"},  // 33
    OpRow{"JSR    14n0B"},  // 34
    OpRow{"LDC    C"},      // 35
    OpRow{"LDC.L  C"},      // 36
    OpRow{"LDS    C"},      // 37
    OpRow{"LDS.L  C"},      // 38
    OpRow{"MAC.L  20nmF"},  // 39
    OpRow{"MAC.W  24nmF"},  // 40
    OpRow{"MOV.B  B3"},     // 41
    OpRow{"MOV.W  B4"},     // 42
    OpRow{"MOV.L  B5"},     // 43
    OpRow{"MOVA   BA"},     // 44
    OpRow{"MOVT   10n29"},  // 45
    OpRow{"MOV    B6"},     // 46
    OpRow{"MUL.L  20nm7"},  // 47
    OpRow{"MULS.W 22nmF"},  // 48
    OpRow{"MULU.W 22nmE"},  // 49
    OpRow{"NEGC   26nmA"},  // 50
    OpRow{"NEG    26nmB"},  // 51
    OpRow{"NOP    00009"},  // 52
    OpRow{"NOT    26nm7"},  // 53
    OpRow{"OR     B7"},     // 54
    OpRow{"OR.B   ACFdd"},  // 55
    OpRow{"ROTL   14n04"},  // 56
    OpRow{"ROTR   14n05"},  // 57
    OpRow{"ROTCL  14n24"},  // 58
    OpRow{"ROTCR  14n25"},  // 59
    OpRow{"RTE    0002B"},  // 60
    OpRow{"RTS    0000B"},  // 61
    OpRow{"SETT   00018"},  // 62
    OpRow{"SHAL   14n20"},  // 63
    OpRow{"SHAR   14n21"},  // 64
    OpRow{"SHLL   14n00"},  // 65
    OpRow{"SHLR   14n01"},  // 66
    OpRow{"SHLL2  14n08"},  // 67
    OpRow{"SHLR2  14n09"},  // 68
    OpRow{"SHLL8  14n18"},  // 69
    OpRow{"SHLR8  14n19"},  // 70
    OpRow{"SHLL16 14n28"},  // 71
    OpRow{"SHLR16 14n29"},  // 72
    OpRow{"SLEEP  0001B"},  // 73
    OpRow{"STC    3"},      // 74
    OpRow{"STC.L  3"},      // 75
    OpRow{"STS    3"},      // 76
    OpRow{"STS.L  3"},      // 77
    OpRow{"SUB    23nm8"},  // 78
    OpRow{"SUBC   23nmA"},  // 79
    OpRow{"SUBV   23nmB"},  // 80
    OpRow{"SWAP.B 26nm8"},  // 81
    OpRow{"SWAP.W 26nm9"},  // 82
    OpRow{"TAS.B  14n1B"},  // 83
    OpRow{"TRAPA  AC3dd"},  // 84
    OpRow{"TST    B8"},     // 85
    OpRow{"TST.B  ACCdd"},  // 86
    OpRow{"XOR    B9"},     // 87
    OpRow{"XOR.B  ACEdd"},  // 88
    OpRow{"XTRCT  22nmD"},  // 89
    OpRow{"OPT    F"},      // 90
    OpRow{"SETPC  4"},      // 91
    OpRow{"DC.B   6"},      // 92
    OpRow{"DC.W   7"},      // 93
    OpRow{"DC.L   8"},      // 94
    OpRow{"ORG    4"},      // 95
    OpRow{"PAD    4"},      // 96
    OpRow{"INCBIN 9"},      // 97
    OpRow{"ALIGN.WG"},      // 98
    OpRow{"ALIGN.LG"},      // 99
    OpRow{"IMOV.L H"},      // 100
    OpRow{"IDATA  I"},      // 101
    OpRow{"END    5"},      // 102
}};

const std::array<std::array<char, 4>, kRegNames> RegNames = {{
    {'M', 'A', 'C', 'H'},
    {'M', 'A', 'C', 'L'},
    {'G', 'B', 'R', ' '},
    {'P', 'C', ' ', ' '},
    {'P', 'R', ' ', ' '},
    {'S', 'R', ' ', ' '},
    {'V', 'B', 'R', ' '},
}};

namespace {

// The 7 blank-padded mnemonic characters packed into one integer, as findMnemonic()
// packs them.
constexpr std::uint64_t pack(const char* p) {
    std::uint64_t k = 0;
    for (int i = 0; i < 7; ++i) k = (k << 8) | static_cast<unsigned char>(p[i]);
    return k;
}

MnemonicIndex build() {
    MnemonicIndex index;
    for (auto& r : index.rows) r = -1;
    for (std::size_t i = 0; i < kOpRows; ++i) {
        const std::uint64_t key = pack(OpTable[i].text);
        unsigned s = MnemonicIndex::slotOf(key);
        while (index.rows[s] >= 0) s = (s + 1) % MnemonicIndex::kSlots;
        index.keys[s] = key;
        index.rows[s] = static_cast<std::int16_t>(i);
    }
    return index;
}

}  // namespace

const MnemonicIndex Mnemonics = build();

}  // namespace korvane::detail
