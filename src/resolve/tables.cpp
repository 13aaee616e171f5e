#include "resolve/tables.h"

#include <cstring>

#include "diag/failure.h"

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

void RefTable::full() {
    fail(Message::ReferenceTableFull, 0);
}

std::uint32_t RefTable::add(const Reference& r) {
    if (refs_.size() >= kRefCapacity) full();
    refs_.push_back(r);
    return static_cast<std::uint32_t>(refs_.size() - 1);
}

void Labels::applyLocalScope(LabelName& name) {
    name[18] = static_cast<char>(0x30 + (scope_ & 15));
    name[19] = static_cast<char>(0x30 + (scope_ >> 4));
    localUsed_ = true;
}

std::uint32_t Labels::findOrAdd(const LabelName& name, std::uint32_t line) {
    const std::int32_t i = table_.find(name);
    if (i >= 0) return static_cast<std::uint32_t>(i);
    if (table_.full()) fail(Message::LabelTableFull, line);
    return table_.add(name, LABEL_UNDEFINED, false);
}

void Labels::define(std::string_view word, std::uint32_t pc, std::uint32_t line) {
    LabelName name;
    name.fill(' ');
    std::memcpy(name.data(), word.data(), word.size());
    const bool local = name[0] == '@';
    if (local) applyLocalScope(name);
    const std::uint32_t i = findOrAdd(name, line);
    if (table_.defined(i)) fail(Message::DuplicateLabel, line, {name.data(), name.size()});
    table_.define(i, pc);
    if (!local && localUsed_) {
        localUsed_ = false;
        ++scope_;
    }
}

std::uint32_t Labels::refer(const LabelName& written, std::uint32_t line) {
    LabelName name = written;
    if (name[0] == '@') applyLocalScope(name);
    return findOrAdd(name, line);
}

}  // namespace korvane::detail
