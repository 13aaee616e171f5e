#include "encode/optable.h"

#include <bit>
#include <cstring>

namespace korvane::detail {

// Row text: mnemonic padded to 7 characters, then the format code, which names the
// encoder (or directive) that reads the statement's operands. The opcodes themselves
// are the instruction forms' (src/isa).
const std::array<OpRow, kOpRows> OpTable = {{
    OpRow{"ADD    B"},  // 0
    OpRow{"ADDC   2"},  // 1
    OpRow{"ADDV   2"},  // 2
    OpRow{"AND    B"},  // 3
    OpRow{"AND.B  A"},  // 4
    OpRow{"BF     D"},  // 5
    OpRow{"BF/S   D"},  // 6
    OpRow{"BRA    E"},  // 7
    OpRow{"BRAF   1"},  // 8
    OpRow{"BSR    E"},  // 9
    OpRow{"BSRF   1"},  // 10
    OpRow{"BT     D"},  // 11
    OpRow{"BT/S   D"},  // 12
    OpRow{"CLRMAC 0"},  // 13
    OpRow{"CLRT   0"},  // 14
    OpRow{"CMP/EQ B"},  // 15
    OpRow{"CMP/GE 2"},  // 16
    OpRow{"CMP/GT 2"},  // 17
    OpRow{"CMP/HI 2"},  // 18
    OpRow{"CMP/HS 2"},  // 19
    OpRow{"CMP/PL 1"},  // 20
    OpRow{"CMP/PZ 1"},  // 21
    OpRow{"CMP/STR2"},  // 22
    OpRow{"DIV0S  2"},  // 23
    OpRow{"DIV0U  0"},  // 24
    OpRow{"DIV1   2"},  // 25
    OpRow{"DMULS.L2"},  // 26
    OpRow{"DMULU.L2"},  // 27
    OpRow{"DT     1"},  // 28
    OpRow{"EXTS.B 2"},  // 29
    OpRow{"EXTS.W 2"},  // 30
    OpRow{"EXTU.B 2"},  // 31
    OpRow{"EXTU.W 2"},  // 32
    OpRow{"JMP    1"},  // 33
    OpRow{"JSR    1"},  // 34
    OpRow{"LDC    C"},  // 35
    OpRow{"LDC.L  C"},  // 36
    OpRow{"LDS    C"},  // 37
    OpRow{"LDS.L  C"},  // 38
    OpRow{"MAC.L  2"},  // 39
    OpRow{"MAC.W  2"},  // 40
    OpRow{"MOV.B  B"},  // 41
    OpRow{"MOV.W  B"},  // 42
    OpRow{"MOV.L  B"},  // 43
    OpRow{"MOVA   B"},  // 44
    OpRow{"MOVT   1"},  // 45
    OpRow{"MOV    B"},  // 46
    OpRow{"MUL.L  2"},  // 47
    OpRow{"MULS.W 2"},  // 48
    OpRow{"MULU.W 2"},  // 49
    OpRow{"NEGC   2"},  // 50
    OpRow{"NEG    2"},  // 51
    OpRow{"NOP    0"},  // 52
    OpRow{"NOT    2"},  // 53
    OpRow{"OR     B"},  // 54
    OpRow{"OR.B   A"},  // 55
    OpRow{"ROTL   1"},  // 56
    OpRow{"ROTR   1"},  // 57
    OpRow{"ROTCL  1"},  // 58
    OpRow{"ROTCR  1"},  // 59
    OpRow{"RTE    0"},  // 60
    OpRow{"RTS    0"},  // 61
    OpRow{"SETT   0"},  // 62
    OpRow{"SHAL   1"},  // 63
    OpRow{"SHAR   1"},  // 64
    OpRow{"SHLL   1"},  // 65
    OpRow{"SHLR   1"},  // 66
    OpRow{"SHLL2  1"},  // 67
    OpRow{"SHLR2  1"},  // 68
    OpRow{"SHLL8  1"},  // 69
    OpRow{"SHLR8  1"},  // 70
    OpRow{"SHLL16 1"},  // 71
    OpRow{"SHLR16 1"},  // 72
    OpRow{"SLEEP  0"},  // 73
    OpRow{"STC    3"},  // 74
    OpRow{"STC.L  3"},  // 75
    OpRow{"STS    3"},  // 76
    OpRow{"STS.L  3"},  // 77
    OpRow{"SUB    2"},  // 78
    OpRow{"SUBC   2"},  // 79
    OpRow{"SUBV   2"},  // 80
    OpRow{"SWAP.B 2"},  // 81
    OpRow{"SWAP.W 2"},  // 82
    OpRow{"TAS.B  1"},  // 83
    OpRow{"TRAPA  A"},  // 84
    OpRow{"TST    B"},  // 85
    OpRow{"TST.B  A"},  // 86
    OpRow{"XOR    B"},  // 87
    OpRow{"XOR.B  A"},  // 88
    OpRow{"XTRCT  2"},  // 89
    OpRow{"OPT    F"},  // 90
    OpRow{"SETPC  4"},  // 91
    OpRow{"DC.B   6"},  // 92
    OpRow{"DC.W   7"},  // 93
    OpRow{"DC.L   8"},  // 94
    OpRow{"ORG    4"},  // 95
    OpRow{"PAD    4"},  // 96
    OpRow{"INCBIN 9"},  // 97
    OpRow{"ALIGN.WG"},  // 98
    OpRow{"ALIGN.LG"},  // 99
    OpRow{"IMOV.L H"},  // 100
    OpRow{"IDATA  I"},  // 101
    OpRow{"END    5"},  // 102
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
