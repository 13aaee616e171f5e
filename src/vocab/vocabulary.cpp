#include "vocab/vocabulary.h"

namespace korvane::detail {

namespace {

// The first 7 characters of a listed mnemonic packed into one integer, as
// findMnemonic() packs them (a longer mnemonic cannot be read, so it is not entered).
constexpr std::uint64_t pack(std::string_view listed) {
    std::uint64_t k = 0;
    for (std::size_t i = 0; i < 7; ++i) k = (k << 8) | static_cast<unsigned char>(listed[i]);
    return k;
}

MnemonicIndex build() {
    MnemonicIndex index;
    for (auto& r : index.rows) r = -1;
    for (std::size_t i = 0; i < kOpRows; ++i) {
        if (OpTable[i].text.size() > 7) continue;
        const std::uint64_t key = pack(OpTable[i].mnemonic());
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

namespace korvane {

bool isRegisterName(std::string_view w) {
    for (const auto& name : detail::RegNames) {
        std::string_view n(name.data(), name.size());
        n = n.substr(0, n.find(' '));
        if (w == n) return true;
    }
    if (w.size() < 2 || w.size() > 3 || w[0] != 'R') return false;
    if (w.size() == 3 && (w[1] != '1' || w[2] < '0' || w[2] > '5')) return false;
    return w[1] >= '0' && w[1] <= '9' && (w.size() == 2 || w[1] == '1');
}

}  // namespace korvane
