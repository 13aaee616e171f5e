// The SH-2 instruction forms (include/korvane/sh2.h) and, for the assembler's
// encoders, the forms of one mnemonic looked up by their operands.
#pragma once

#include <cstdint>
#include <string_view>

#include "korvane/sh2.h"

namespace korvane::sh2 {

// The most forms one mnemonic has (MOV.L has 11); the form table is checked against it
// when it is compiled.
inline constexpr std::size_t kMostFormsOfOneMnemonic = 12;

// The forms that share one mnemonic, searched by their operands.
class FormSet {
  public:
    FormSet() = default;
    explicit FormSet(std::string_view mnemonic);

    // The form written with these operands, or nullptr.
    const Form* find(Arg first, Arg second = Arg::None) const {
        const std::uint16_t key = keyOf(first, second);
        for (std::uint8_t i = 0; i < count_; ++i) {
            if (keys_[i] == key) return forms_[i];
        }
        return nullptr;
    }
    // The only form of a mnemonic that has one (nullptr otherwise).
    const Form* only() const { return count_ == 1 ? forms_[0] : nullptr; }
    // The form that names a label by a PC-relative field (a branch, a load from a
    // literal, MOVA), or nullptr.
    const Form* referring() const {
        for (std::uint8_t i = 0; i < count_; ++i) {
            if (forms_[i]->reach != Reach::None) return forms_[i];
        }
        return nullptr;
    }

  private:
    static constexpr std::size_t kMost = kMostFormsOfOneMnemonic;
    static constexpr std::uint16_t keyOf(Arg first, Arg second) {
        return static_cast<std::uint16_t>(static_cast<unsigned>(first) << 8 |
                                          static_cast<unsigned>(second));
    }
    std::uint16_t keys_[kMost] = {};  // the operands of each form, packed for the search
    const Form* forms_[kMost] = {};
    std::uint8_t count_ = 0;
};

}  // namespace korvane::sh2
