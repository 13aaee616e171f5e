// Byte classes of the line scanner and the operand lexer, and the upper-case map.
#pragma once

#include <array>
#include <cstdint>

namespace korvane::detail {

// Letters a-z fold to A-Z; every other byte is kept.
inline constexpr std::array<std::uint8_t, 256> kUpper = [] {
    std::array<std::uint8_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i)
        t[i] = static_cast<std::uint8_t>(i >= 'a' && i <= 'z' ? i - 32 : i);
    return t;
}();

// Line scanner: which bytes end or shape the first word of a statement.
enum ScanClass : std::uint8_t { SC_WORD, SC_BLANK, SC_LF, SC_CR, SC_SEMI, SC_COLON };
inline constexpr std::array<std::uint8_t, 256> kScanClass = [] {
    std::array<std::uint8_t, 256> t{};
    t[' '] = t['\t'] = SC_BLANK;
    t['\n'] = SC_LF;
    t['\r'] = SC_CR;
    t[';'] = SC_SEMI;
    t[':'] = SC_COLON;
    return t;
}();

// Operand lexer: text bytes are stored, the others act on the operand.
enum LexClass : std::uint8_t {
    LC_TEXT,
    LC_IGNORED,  // blank, TAB, CR
    LC_MARK,     // ")", "]", "#": ignored, but more than a blank
    LC_HEX,
    LC_MINUS,
    LC_PLUS,
    LC_AT,
    LC_OPEN,
    LC_LF,
    LC_SEMI,
    LC_QUOTE,
    LC_COMMA,
};
inline constexpr std::array<std::uint8_t, 256> kLexClass = [] {
    std::array<std::uint8_t, 256> t{};
    t[' '] = t['\t'] = t['\r'] = LC_IGNORED;
    t[')'] = t[']'] = t['#'] = LC_MARK;
    t['$'] = LC_HEX;
    t['-'] = LC_MINUS;
    t['+'] = LC_PLUS;
    t['@'] = LC_AT;
    t['('] = t['['] = LC_OPEN;
    t['\n'] = LC_LF;
    t[';'] = LC_SEMI;
    t['"'] = LC_QUOTE;
    t[','] = LC_COMMA;
    return t;
}();

}  // namespace korvane::detail
