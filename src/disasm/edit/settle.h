// The info-file lines that settle an unknown, as --check, --unknowns and the map name
// them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korvane::dis {

// FROM-TO as an info file writes a range.
std::string rangeText(std::uint32_t from, std::uint32_t to);
// Data that may be code: "code RANGE" or "data RANGE".
std::string settleCode(const std::string& range);
// A jump table of unknown length at `at`: "table AT N WIDTH [relative BASE]".
std::string settleTable(std::uint32_t at, unsigned width, std::optional<std::uint32_t> base);
// A number that may be a pointer: "const AT" or "data RANGE pointers" (saying: with
// what each says).
std::string settleMaybe(std::uint32_t at, const std::string& range, bool saying);

}  // namespace korvane::dis
