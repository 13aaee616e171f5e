// Decoding by the form table: a word is looked up in a table of all 65,536 words built
// once from the forms, and its fields are taken from their layout's places.
#include <array>
#include <memory>
#include <stdexcept>

#include "isa/isa.h"

namespace korvane::sh2 {

namespace {

constexpr std::uint8_t kNoForm = 0xFF;

// For every word, the index of its form (no two forms share a word).
struct DecodeTable {
    std::array<std::uint8_t, 65536> formOf;
    const Form* first = forms().data();  // kept here: forms() is a call away
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

const Form* decodeForm(std::uint16_t word) {
    static const DecodeTable& table = decodeTable();
    const std::uint8_t i = table.formOf[word];
    return i == kNoForm ? nullptr : table.first + i;
}

FormSet::FormSet(std::string_view mnemonic) {
    for (const Form& f : forms()) {
        if (f.mnemonic != mnemonic) continue;  // at most kMost match (checked in forms.cpp)
        keys_[count_] = keyOf(f.args[0], f.args[1]);
        forms_[count_++] = &f;
    }
}

}  // namespace korvane::sh2
