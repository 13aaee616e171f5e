// The register lattice of the paths: what a path knows of each general register's
// value (the step's Known), and where it came from: a literal (an index added to it
// keeps it one) or a place that MOVA named. Paths that join keep what they agree on.
#pragma once

#include <cstdint>

#include "disasm/analysis/step.h"

namespace korvane::dis {

// Where the compilers for SH pass a call's first arguments: R4-R7.
inline constexpr std::uint16_t kArgumentRegisters = sh2::kConventions.arguments;

// What the path knows of the general registers: their values (Known), and where they
// came from.
struct Registers : Known {
    std::uint16_t traced = 0;      // bit k: Rk holds (an index added to) a literal ...
    std::uint32_t origin[16] = {};  // ... which is at this offset
    std::uint16_t named = 0;       // bit k: Rk holds (an index added to) what a MOVA named ...
    std::uint32_t place[16] = {};  // ... at this offset

    void forget(unsigned r) {
        known = static_cast<std::uint16_t>(known & ~(1u << r));
        traced = static_cast<std::uint16_t>(traced & ~(1u << r));
        named = static_cast<std::uint16_t>(named & ~(1u << r));
    }
    void forgetAll() { known = traced = named = 0; }
    void forgetAll(std::uint16_t regs) {
        known = static_cast<std::uint16_t>(known & ~regs);
        traced = static_cast<std::uint16_t>(traced & ~regs);
        named = static_cast<std::uint16_t>(named & ~regs);
    }
    // A call may change the registers the calling convention gives the callee.
    void afterCall() { forgetAll(sh2::kConventions.changedByCall); }
    bool hasOrigin(unsigned r) const { return (traced >> r) & 1u; }
    void set(unsigned r, std::uint32_t v) {
        known = static_cast<std::uint16_t>(known | 1u << r);
        traced = static_cast<std::uint16_t>(traced & ~(1u << r));
        named = static_cast<std::uint16_t>(named & ~(1u << r));
        value[r] = v;
    }
    bool isNamed(unsigned r) const { return (named >> r) & 1u; }
    void name(unsigned r, std::uint32_t at) {
        named = static_cast<std::uint16_t>(named | 1u << r);
        place[r] = at;
    }
    void trace(unsigned r, std::uint32_t from) {
        traced = static_cast<std::uint16_t>(traced | 1u << r);
        origin[r] = from;
    }
    bool operator==(const Registers& o) const {
        if (known != o.known || traced != o.traced || named != o.named) return false;
        for (unsigned k = 0; k < 16; ++k) {
            if (((known >> k) & 1u) && value[k] != o.value[k]) return false;
            if (((traced >> k) & 1u) && origin[k] != o.origin[k]) return false;
            if (((named >> k) & 1u) && place[k] != o.place[k]) return false;
        }
        return true;
    }
};

// What two paths into one place agree on (a value the paths disagree on takes where it
// came from with it).
inline Registers agreed(const Registers& old, const Registers& r) {
    Registers merged = r;
    merged.known = static_cast<std::uint16_t>(old.known & r.known);
    merged.traced = static_cast<std::uint16_t>(old.traced & r.traced);
    merged.named = static_cast<std::uint16_t>(old.named & r.named);
    for (unsigned k = 0; k < 16; ++k) {
        if (merged.isNamed(k) && old.place[k] != r.place[k])
            merged.named = static_cast<std::uint16_t>(merged.named & ~(1u << k));
        if (merged.has(k) && old.value[k] != r.value[k]) merged.forget(k);
        if (merged.hasOrigin(k) && old.origin[k] != r.origin[k])
            merged.traced = static_cast<std::uint16_t>(merged.traced & ~(1u << k));
    }
    return merged;
}

}  // namespace korvane::dis
