// Decoding by the form table: a word is looked up in a table of all 65,536 words built
// once from the forms, and its fields are taken from their layout's places.
#include <array>
#include <memory>
#include <stdexcept>

#include "isa/isa.h"

namespace korvane::sh2 {

namespace {

Fields fieldsOf(const Form& form, std::uint16_t w) {
    const auto hi = static_cast<std::uint8_t>((w >> 8) & 0xF);
    const auto mid = static_cast<std::uint8_t>((w >> 4) & 0xF);
    Fields f;
    switch (form.layout) {
        case Layout::Zero:
            break;
        case Layout::N:
            f.n = hi;
            break;
        case Layout::M:
            f.m = hi;
            break;
        case Layout::NM:
            f.n = hi;
            f.m = mid;
            break;
        case Layout::MD:
            f.m = mid;
            f.d = w & 0xF;
            break;
        case Layout::ND4:
            f.n = mid;
            f.d = w & 0xF;
            break;
        case Layout::NMD:
            f.n = hi;
            f.m = mid;
            f.d = w & 0xF;
            break;
        case Layout::D:
        case Layout::I:
            f.d = w & 0xFF;
            break;
        case Layout::D12:
            f.d = w & 0xFFF;
            break;
        case Layout::ND8:
        case Layout::NI:
            f.n = hi;
            f.d = w & 0xFF;
            break;
    }
    return f;
}

constexpr std::uint8_t kNoForm = 0xFF;

// For every word, the index of its form (no two forms share a word).
struct DecodeTable {
    std::array<std::uint8_t, 65536> formOf;
    DecodeTable() {
        formOf.fill(kNoForm);
        const auto all = forms();
        if (all.size() >= kNoForm) throw std::logic_error("too many SH-2 forms");
        for (std::size_t i = 0; i < all.size(); ++i) {
            const Form& form = all[i];
            // Every word with the form's fixed bits: walk the free bits as a counter.
            const std::uint16_t free = static_cast<std::uint16_t>(~form.mask);
            std::uint16_t v = 0;
            do {
                const auto word = static_cast<std::uint16_t>(form.match | v);
                if (formOf[word] != kNoForm) throw std::logic_error("two SH-2 forms share a word");
                formOf[word] = static_cast<std::uint8_t>(i);
                v = static_cast<std::uint16_t>((v - free) & free);
            } while (v != 0);
        }
    }
};

const DecodeTable& decodeTable() {
    static const auto table = std::make_unique<DecodeTable>();
    return *table;
}

}  // namespace

std::optional<Decoded> decode(std::uint16_t word) {
    const std::uint8_t i = decodeTable().formOf[word];
    if (i == kNoForm) return std::nullopt;
    const Form& form = forms()[i];
    return Decoded{&form, fieldsOf(form, word)};
}

const Form* find(std::string_view mnemonic, Arg first, Arg second) {
    for (const Form& f : forms()) {
        if (f.mnemonic == mnemonic && f.args[0] == first && f.args[1] == second) return &f;
    }
    return nullptr;
}

FormSet::FormSet(std::string_view mnemonic) {
    for (const Form& f : forms()) {
        if (f.mnemonic != mnemonic) continue;
        if (count_ == kMost) throw std::logic_error("too many forms of one mnemonic");
        keys_[count_] = keyOf(f.args[0], f.args[1]);
        forms_[count_++] = &f;
    }
}

}  // namespace korvane::sh2
