// The operand lexer: reads one operand at a time from the statement's line, splits a
// parenthesised pair into its two slots and classifies each slot as a number, a
// general register, a system register or a label; quoted strings are read whole.
#include <cstring>

#include "driver/assembly.h"
#include "resolve/failure.h"
#include "source/charclass.h"

namespace korvane::detail {

bool Assembly::nextOperand() {
    OperandState& o = op_;
    o.marked = false;
    if (lineEnd_ || comment_) return false;
    o.shape = 0;
    o.lastSlot = 0;
    o.slotLen[0] = o.slotLen[1] = 0;
    int slot = 0;
    for (;;) {
        int c = in_.next();
        if (c < 0) {  // the end of the source ends the operand; the next one is empty
            o.slotShape[slot] = o.shape;
            break;
        }
        switch (kLexClass[static_cast<std::size_t>(c)]) {
            case LC_IGNORED:
                in_.skip([](std::uint8_t b) { return kLexClass[b] == LC_IGNORED; });
                continue;
            case LC_MARK:
                o.marked = true;
                continue;
            case LC_HEX:
                o.shape |= SHAPE_HEX;
                continue;
            case LC_MINUS:
                o.shape |= SHAPE_MINUS;
                continue;
            case LC_PLUS:
                o.shape |= SHAPE_PLUS;
                continue;
            case LC_OPEN:
                o.shape |= SHAPE_INDIRECT | SHAPE_PAREN;
                continue;
            case LC_LF:
                lineEnd_ = true;
                o.slotShape[slot] = o.shape;
                break;
            case LC_SEMI:
                comment_ = true;
                o.slotShape[slot] = o.shape;
                break;
            case LC_QUOTE:
                readString();
                ++o.operandCount;
                return true;
            case LC_COMMA:
                o.slotShape[slot] = o.shape;
                if ((o.shape & SHAPE_PAREN) == 0) break;
                if (slot == 1) failAt("too many commas inside operand on line ", line_);
                slot = 1;
                o.lastSlot = 1;
                o.shape = 0;
                continue;
            case LC_AT:
                if ((o.shape & SHAPE_PAREN) == 0) {
                    o.shape |= SHAPE_INDIRECT;
                    continue;
                }
                [[fallthrough]];  // inside parentheses "@" is text
            default: {
                // Text: this byte and the text bytes after it, straight from the buffer.
                std::uint8_t* text = o.slotText[slot];
                std::size_t len = o.slotLen[slot];
                if (len == 20) failAt("operand too long on line ", line_);
                text[len++] = kUpper[static_cast<std::size_t>(c)];
                const std::uint8_t* p = in_.cursor();
                const std::uint8_t* const end = in_.limit();
                while (p != end && kLexClass[*p] == LC_TEXT) {
                    if (len == 20) {
                        in_.advance(p);
                        failAt("operand too long on line ", line_);
                    }
                    text[len++] = kUpper[*p++];
                }
                in_.advance(p);
                o.slotLen[slot] = static_cast<std::uint8_t>(len);
                continue;
            }
        }
        break;  // line feed, ";" or a comma that ends the operand
    }
    if (o.slotLen[0] == 0) {
        // An empty operand; a decoration or a second slot still marks it as written.
        o.marked = o.marked || o.shape != 0 || o.lastSlot != 0;
        return false;
    }
    classify(0);
    if (o.lastSlot == 1) {
        // A pair with nothing in its second slot is no operand form at all.
        if (o.slotLen[1] == 0) rejectOperand();
        classify(1);
    }
    ++o.operandCount;
    return true;
}

bool Assembly::operandsEndBlank() {
    if (op_.marked) return false;
    if (lineEnd_ || comment_) return true;
    // The empty operand was ended by a comma: look at the rest of the line.
    for (;;) {
        switch (in_.next()) {
            case -1:
                return true;
            case '\n':
                lineEnd_ = true;
                return true;
            case ';':
                comment_ = true;
                return true;
            case ' ':
            case '\t':
            case '\r':
                continue;
            default:
                return false;
        }
    }
}

void Assembly::readString() {
    OperandState& o = op_;
    if (o.shape != 0) failAt("what is this junk before this quote on line ", line_, "?");
    const std::uint32_t openLine = line_;
    o.stringLen = 0;
    int c = in_.next();
    if (c == '"') failAt("empty string on line ", openLine);
    for (;; c = in_.next()) {
        // Past the end of the source the string can only grow until it is too long.
        if (c < 0 || (c != '"' && o.stringLen == 256)) failAt("string too long on line ", openLine);
        if (c == '"') break;
        if (c == '\n') ++line_;  // a line feed in a string still starts a new source line
        o.stringBytes[o.stringLen++] = static_cast<std::uint8_t>(c);
    }
    c = in_.next();  // the one byte after the closing quote
    if (c == '\n') {
        lineEnd_ = true;
    } else if (c == ';') {
        comment_ = true;
    }
    o.shape = SHAPE_STRING;
    o.lastSlot = 0;  // a string is always a plain operand, even after "(x,"
}

namespace {

int hexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void Assembly::classify(int slot) {
    OperandState& o = op_;
    const std::uint8_t* t = o.slotText[slot];
    const std::size_t n = o.slotLen[slot];
    std::uint32_t s = o.slotShape[slot];

    auto readHex = [&](std::size_t from) {
        s |= SHAPE_NUMBER | SHAPE_HEX;
        std::uint32_t v = 0;
        for (std::size_t i = from; i < n; ++i) {
            int d = hexDigit(t[i]);
            if (d < 0) {
                failAt("thought there was a hex number, but something weird showed up on line ",
                       line_);
            }
            v = v * 16 + static_cast<std::uint32_t>(d);
        }
        o.value = v;
    };

    if (s & SHAPE_HEX) {
        readHex(0);
    } else if (t[0] >= '0' && t[0] <= '9') {
        if (n >= 2 && t[1] == 'X') {
            readHex(2);  // 0X1F: the leading digit counts for nothing
        } else {
            s |= SHAPE_NUMBER;
            std::uint32_t v = 0;
            for (std::size_t i = 0; i < n; ++i) {
                if (t[i] < '0' || t[i] > '9') {
                    failAt(
                        "thought there was a decimal number, but something weird showed up on "
                        "line ",
                        line_);
                }
                v = v * 10 + static_cast<std::uint32_t>(t[i] - '0');
            }
            o.value = v;
        }
    }
    if (s & SHAPE_NUMBER) {
        if (s & SHAPE_MINUS) {
            o.value = 0u - o.value;
            s &= ~SHAPE_MINUS;
        }
    } else if (n == 1) {
        failAt("there is something that appears to be a one-character-long label name on line ",
               line_);
    } else if (t[0] == 'R' && n == 2 && t[1] >= '0' && t[1] <= '9') {
        s |= SHAPE_REG | (t[1] == '0' ? std::uint32_t{SHAPE_R0} : 0u);
        o.regNum = static_cast<std::uint8_t>(t[1] - '0');
    } else if (t[0] == 'R' && n == 3 && t[1] == '1' && t[2] >= '0' && t[2] <= '5') {
        s |= SHAPE_REG;
        o.regNum = static_cast<std::uint8_t>(10 + t[2] - '0');
    } else {
        int sys = -1;
        if (n <= 4) {
            char padded[4] = {' ', ' ', ' ', ' '};
            std::memcpy(padded, t, n);
            for (std::size_t r = 0; r < kRegNames; ++r) {
                if (std::memcmp(padded, RegNames[r].data(), 4) == 0) {
                    sys = static_cast<int>(r);
                    break;
                }
            }
        }
        if (sys >= 0) {
            s |= SHAPE_SYSREG;
            o.sysReg = static_cast<std::uint8_t>(sys);
        } else {
            s |= SHAPE_LABEL;
            LabelName name;
            name.fill(' ');
            std::size_t start = 0;
            if ((s & SHAPE_INDIRECT) && !(s & SHAPE_PAREN)) {
                name[0] = '@';  // @NAME outside parentheses names a local label
                start = 1;
            }
            if (n + start > 20) failAt("label name too long on line ", line_);
            std::memcpy(name.data() + start, t, n);
            if (name[0] == '@') applyLocalSuffix(name);
            o.labelIndex = labelFor(name);
        }
    }
    o.slotShape[slot] = s;
    o.shape = s;
}

void Assembly::rejectOperand() {
    if (row_->format() == '9') failAt("expected filename (in quotes) on line ", line_);
    operandError();
}

void Assembly::operandError() {
    failAt(std::string(row_->mnemonic()) + " incorrect or missing operand on line ", line_);
}

}  // namespace korvane::detail
