// Facts kept by offset, for many of them (a fact per pointer of an image that is nothing
// but pointers): no node per fact, only a sorted vector of (offset, value) and a log of
// the changes since it was last sorted, merged in when the map is next asked. The first
// fact of an offset stays (emplace) unless it is replaced (assign) or taken back (erase).
#pragma once

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace korvane::dis {

template <class V>
class OffsetMap {
  public:
    void emplace(std::uint32_t off, const V& v) { log_.push_back({off, v, Op::Emplace}); }
    void assign(std::uint32_t off, const V& v) { log_.push_back({off, v, Op::Assign}); }
    void erase(std::uint32_t off) { log_.push_back({off, V{}, Op::Erase}); }
    // The fact at off, or nullptr. (Merges the log first: call settle() before readers
    // share the map between threads.)
    const V* find(std::uint32_t off) const {
        settle();
        const auto it = std::lower_bound(facts_.begin(), facts_.end(), off,
                                         [](const Fact& f, std::uint32_t o) { return f.off < o; });
        return it != facts_.end() && it->off == off ? &it->value : nullptr;
    }
    std::size_t size() const {
        settle();
        return facts_.size();
    }
    // The log merged into the sorted facts.
    void settle() const {
        if (log_.empty()) return;
        std::stable_sort(log_.begin(), log_.end(), [](const Change& a, const Change& b) { return a.off < b.off; });
        std::vector<Fact> merged;
        merged.reserve(facts_.size() + log_.size());
        auto f = facts_.begin();
        for (std::size_t i = 0; i < log_.size();) {
            const std::uint32_t off = log_[i].off;
            for (; f != facts_.end() && f->off < off; ++f) merged.push_back(*f);
            bool has = f != facts_.end() && f->off == off;
            V value = has ? f->value : V{};
            if (has) ++f;
            for (; i < log_.size() && log_[i].off == off; ++i) {
                const Change& c = log_[i];
                if (c.op == Op::Erase) {
                    has = false;
                } else if (c.op == Op::Assign || !has) {
                    has = true;
                    value = c.value;
                }
            }
            if (has) merged.push_back({off, value});
        }
        merged.insert(merged.end(), f, facts_.end());
        merged.shrink_to_fit();
        facts_.swap(merged);
        log_.clear();
        log_.shrink_to_fit();
    }

  private:
    enum class Op : std::uint8_t { Emplace, Assign, Erase };
    struct Change {
        std::uint32_t off;
        V value;
        Op op;
    };
    struct Fact {
        std::uint32_t off;
        V value;
    };
    mutable std::vector<Change> log_;
    mutable std::vector<Fact> facts_;
};

}  // namespace korvane::dis
