// Number and text formatting for the listing: decimal without padding, upper-case
// hexadecimal without leading zeros. Each writes at p and returns the end.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace korvane::detail {

inline std::uint8_t* putText(std::uint8_t* p, std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
}

inline std::uint8_t* putDecimal(std::uint8_t* p, std::uint64_t v) {
    std::uint8_t tmp[20];
    int n = 0;
    do {
        tmp[n++] = static_cast<std::uint8_t>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0) *p++ = tmp[--n];
    return p;
}

inline std::uint8_t* putHex(std::uint8_t* p, std::uint32_t v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    int shift = 28;
    while (shift > 0 && (v >> shift) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) *p++ = static_cast<std::uint8_t>(kDigits[(v >> shift) & 15]);
    return p;
}

}  // namespace korvane::detail
