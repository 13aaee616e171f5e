// Numbers, addresses and ranges as the command lines and info files write them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "korvane/disassembly_options.h"

namespace korvane {

// An address as the command line writes it: $6004000, 0x6004000 or decimal. False for
// anything else, a value past 32 bits, and a number with a leading 0 before more digits
// (06004000), which is neither hex nor decimal to everyone; a bare 0 is a number.
bool parseAddress(std::string_view text, std::uint64_t& value);
// A number written the same way, up to `most` (parseAddress: up to 2^32, a range's end).
bool parseNumber(std::string_view text, std::uint64_t& value, std::uint64_t most);
// A range as the command line writes it: ADDR-ADDR (each as parseAddress reads it), its
// end excluded and not before its start. False for anything else.
bool parseRange(std::string_view text, AddressRange& range);
// Why value (an option's value, an info file's word) was refused, when the reason is a
// number in it with a leading 0: "WHERE: a leading 0 is refused; write 06004000 as
// $6004000 or 0x6004000 (hex) or 6004000 (decimal)". "" when it holds none.
std::string leadingZeroText(std::string_view where, std::string_view value);

}  // namespace korvane
