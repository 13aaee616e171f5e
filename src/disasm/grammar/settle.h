// The info-file lines that settle an unknown, as --check, --unknowns and the map name
// them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "disasm/grammar/grammar.h"

namespace korvane::dis {

// FROM-TO as an info file writes a range.
inline std::string rangeText(std::uint32_t from, std::uint32_t to) {
    return addressText(from) + "-" + addressText(to);
}
// Data that may be code: "code RANGE" or "data RANGE".
inline std::string settleCode(const std::string& range) {
    return "\"code " + range + "\" or \"data " + range + "\"";
}
// A jump table of unknown length at `at`: "table AT N WIDTH [relative BASE]".
inline std::string settleTable(std::uint32_t at, unsigned width, std::optional<std::uint32_t> base) {
    return "\"table " + addressText(at) + " N " + std::to_string(width) +
           (base ? " relative " + addressText(*base) : std::string()) + "\"";
}
// A number that may be a pointer: "const AT" or "data RANGE pointers" (saying: with
// what each says).
inline std::string settleMaybe(std::uint32_t at, const std::string& range, bool saying) {
    return "\"const " + addressText(at) + "\"" + (saying ? " (a number)" : "") + " or \"data " + range +
           " pointers\"" + (saying ? " (a pointer)" : "");
}

}  // namespace korvane::dis
