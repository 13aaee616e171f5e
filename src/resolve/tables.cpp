#include "resolve/tables.h"

#include <cstring>

namespace korvane::detail {

LabelTable::LabelTable() : slots_(kSlots, -1) {
    names_.reserve(kLabelCapacity);
    values_.reserve(kLabelCapacity);
    defined_.reserve(kLabelCapacity);
}

std::size_t LabelTable::hash(const LabelName& name) {
    std::uint64_t a, b;
    std::uint32_t c;
    std::memcpy(&a, name.data(), 8);
    std::memcpy(&b, name.data() + 8, 8);
    std::memcpy(&c, name.data() + 16, 4);
    std::uint64_t h = (a * 0x9E3779B97F4A7C15ull) ^ (b + 0x632BE59BD9B4E019ull);
    h = (h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull;
    h ^= c * 0x94D049BB133111EBull;
    h ^= h >> 32;
    return static_cast<std::size_t>(h) & (kSlots - 1);
}

std::int32_t LabelTable::find(const LabelName& name) const {
    for (std::size_t s = hash(name);; s = (s + 1) & (kSlots - 1)) {
        std::int32_t i = slots_[s];
        if (i < 0) return -1;
        if (names_[static_cast<std::size_t>(i)] == name) return i;
    }
}

std::uint32_t LabelTable::add(const LabelName& name, std::uint32_t value, bool defined) {
    auto index = static_cast<std::uint32_t>(names_.size());
    names_.push_back(name);
    values_.push_back(value);
    defined_.push_back(defined ? 1 : 0);
    std::size_t s = hash(name);
    while (slots_[s] >= 0) s = (s + 1) & (kSlots - 1);
    slots_[s] = static_cast<std::int16_t>(index);
    return index;
}

}  // namespace korvane::detail
