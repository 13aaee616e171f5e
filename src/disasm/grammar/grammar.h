// The words korvane-dis writes in a source and reads back from one (--check, the next
// run): numbers and addresses as its messages and info files write them, its own
// labels, the lines of a top source that name its parts. The printer writes them, the
// check and the file handling read them, through these definitions only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "disasm/grammar/fingerprint.h"

namespace korvane::dis {

inline constexpr char kHex[] = "0123456789ABCDEF";

// A top source's line for each of its parts: this, the part's fingerprint, a blank and
// its name.
inline constexpr std::string_view kPartLead = "; part ";
// A part's first SETPC (where it starts), and the line after which it defines, each by a
// SETPC and a label line, the labels of other parts (and those outside the image).
inline constexpr std::string_view kSetpcLead = "            SETPC   $";
inline constexpr std::string_view kElsewhereLine = "; Labels defined in other parts or outside the image.";
inline constexpr std::string_view kOutsideLine = "; Targets outside the image: labels only, nothing is written.";

// "$" and the hexadecimal digits, without leading zeros: how messages write a number.
inline std::string hexText(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "$%llX", static_cast<unsigned long long>(v));
    return buf;
}

// "$" and eight hexadecimal digits: how messages and info files write an address.
inline std::string addressText(std::uint32_t v) {
    std::string s(9, '$');
    for (int i = 8; i >= 1; --i, v >>= 4) s[static_cast<std::size_t>(i)] = kHex[v & 15];
    return s;
}

// A piece of a user's file as a message quotes it: at most 32 bytes, each that is not
// printable as \xNN, and "..." where it was cut (a file of NULs makes a short message).
inline std::string excerpt(std::string_view s) {
    constexpr std::size_t kMost = 32;
    std::string out;
    for (std::size_t i = 0; i < s.size() && i < kMost; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    if (s.size() > kMost) out += "...";
    return out;
}

// 1 to 8 hexadecimal digits (either case) as a number.
inline bool hexNumber(std::string_view s, std::uint32_t& v) {
    if (s.empty() || s.size() > 8) return false;
    v = 0;
    for (const char c : s) {
        const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
        if (d < 0) return false;
        v = v << 4 | static_cast<std::uint32_t>(d);
    }
    return true;
}

// The address a label of the disassembler's own names: prefix (L, or B for a base)
// and eight hexadecimal digits, as Text::label writes them. (Labels are upper case.)
inline std::optional<std::uint32_t> ownLabelAddress(std::string_view label, char prefix = 'L') {
    std::uint32_t v;
    if (label.size() != 9 || label[0] != prefix || !hexNumber(label.substr(1), v)) return std::nullopt;
    return v;
}

// The address a label of korvane-dis's own names, an item's (L) or a base's (B).
inline std::optional<std::uint32_t> ownAddress(std::string_view label) {
    const auto v = ownLabelAddress(label);
    return v ? v : ownLabelAddress(label, 'B');
}

// The address a SETPC line as korvane-dis writes it sets, or nothing for another line.
inline std::optional<std::uint32_t> setpcOf(std::string_view line) {
    std::uint32_t v;
    if (line.substr(0, kSetpcLead.size()) != kSetpcLead || !hexNumber(line.substr(kSetpcLead.size(), 8), v))
        return std::nullopt;
    return v;
}
inline std::string setpcLine(std::uint32_t address) {
    return std::string(kSetpcLead) + addressText(address).substr(1);
}

}  // namespace korvane::dis
