#include "source/lexer.h"

#include <algorithm>
#include <cstring>

#include "diag/failure.h"
#include "source/charclass.h"

namespace korvane::detail {

std::optional<Operand> OperandLexer::next() {
    // One object for every way out, built in the caller's place.
    std::optional<Operand> result;
    marked_ = false;
    if (line_.operandsEnded()) return result;
    SourceReader& in = line_.reader();
    Operand& o = result.emplace();
    std::uint32_t shape = 0;
    slotLen_[0] = slotLen_[1] = 0;
    int slot = 0;
    // The read position is kept here while the operand is read, and handed back to the
    // reader before anything else reads from it.
    const std::uint8_t* p = in.cursor();
    const std::uint8_t* end = in.limit();
    for (;;) {
        int c;
        if (p != end) {
            c = *p++;
        } else {
            in.advance(p);
            c = in.next();  // the next block
            p = in.cursor();
            end = in.limit();
        }
        if (c < 0) {  // the end of the source ends the operand; the next one is empty
            o.slotShape[slot] = shape;
            break;
        }
        switch (kLexClass[static_cast<std::size_t>(c)]) {
            case LC_IGNORED:
                while (p != end && kLexClass[*p] == LC_IGNORED) ++p;
                continue;
            case LC_MARK:
                marked_ = true;
                continue;
            case LC_HEX:
                shape |= SHAPE_HEX;
                continue;
            case LC_MINUS:
                shape |= SHAPE_MINUS;
                continue;
            case LC_PLUS:
                shape |= SHAPE_PLUS;
                continue;
            case LC_OPEN:
                shape |= SHAPE_INDIRECT | SHAPE_PAREN;
                continue;
            case LC_LF:
                line_.endLine();
                o.slotShape[slot] = shape;
                break;
            case LC_SEMI:
                line_.startComment();
                o.slotShape[slot] = shape;
                break;
            case LC_QUOTE:
                in.advance(p);
                readString(o, shape);
                return result;
            case LC_COMMA:
                o.slotShape[slot] = shape;
                if ((shape & SHAPE_PAREN) == 0) break;
                if (slot == 1) fail(Message::TooManyCommas, line_.line());
                slot = 1;
                o.pair = true;
                shape = 0;
                continue;
            case LC_AT:
                if ((shape & SHAPE_PAREN) == 0) {
                    shape |= SHAPE_INDIRECT;
                    continue;
                }
                [[fallthrough]];  // inside parentheses "@" is text
            default: {
                // Text: this byte and the text bytes after it.
                std::uint8_t* text = slotText_[slot];
                std::size_t len = slotLen_[slot];
                if (len == 20) fail(Message::OperandTooLong, line_.line());
                text[len++] = kUpper[static_cast<std::size_t>(c)];
                while (p != end && kLexClass[*p] == LC_TEXT) {
                    if (len == 20) fail(Message::OperandTooLong, line_.line());
                    text[len++] = kUpper[*p++];
                }
                slotLen_[slot] = static_cast<std::uint8_t>(len);
                continue;
            }
        }
        break;  // line feed, ";" or a comma that ends the operand
    }
    in.advance(p);
    o.shape = shape;
    if (slotLen_[0] == 0) {
        // An empty operand; a decoration or a second slot still marks it as written.
        marked_ = marked_ || shape != 0 || o.pair;
        result.reset();
        return result;
    }
    classify(o, 0);
    if (o.pair) {
        // A pair with nothing in its second slot is no operand form at all.
        if (slotLen_[1] == 0) throw EmptySecondSlot{};
        classify(o, 1);
    }
    return result;
}

bool OperandLexer::restIsBlank() {
    if (marked_) return false;
    if (line_.operandsEnded()) return true;
    // The empty operand was ended by a comma: look at the rest of the line.
    SourceReader& in = line_.reader();
    for (;;) {
        switch (in.next()) {
            case -1:
                return true;
            case '\n':
                line_.endLine();
                return true;
            case ';':
                line_.startComment();
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

void OperandLexer::readString(Operand& o, std::uint32_t shape) {
    const std::uint32_t openLine = line_.line();
    if (shape != 0) fail(Message::JunkBeforeQuote, openLine);
    SourceReader& in = line_.reader();
    std::uint32_t len = 0;
    int c = in.next();
    if (c == '"') fail(Message::EmptyString, openLine);
    for (;; c = in.next()) {
        // Past the end of the source the string can only grow until it is too long.
        if (c < 0 || (c != '"' && len == 256)) fail(Message::StringTooLong, openLine);
        if (c == '"') break;
        if (c == '\n') line_.lineFeedInString();
        stringBytes_[len++] = static_cast<std::uint8_t>(c);
    }
    c = in.next();  // the one byte after the closing quote
    if (c == '\n') {
        line_.endLine();
    } else if (c == ';') {
        line_.startComment();
    }
    // A string is always a plain operand, even after "(x,".
    o.shape = SHAPE_STRING;
    o.pair = false;
    o.string = {stringBytes_, len};
}

namespace {

int hexDigit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void OperandLexer::classify(Operand& o, int slot) {
    const std::uint8_t* t = slotText_[slot];
    const std::size_t n = slotLen_[slot];
    std::uint32_t s = o.slotShape[slot];

    auto readHex = [&](std::size_t from) {
        s |= SHAPE_NUMBER | SHAPE_HEX;
        std::uint32_t v = 0;
        for (std::size_t i = from; i < n; ++i) {
            int d = hexDigit(t[i]);
            if (d < 0) fail(Message::BadHexNumber, line_.line());
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
                if (t[i] < '0' || t[i] > '9') fail(Message::BadDecimalNumber, line_.line());
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
        fail(Message::OneCharacterLabel, line_.line());
    } else if (t[0] == 'R' && n == 2 && t[1] >= '0' && t[1] <= '9') {
        s |= SHAPE_REG | (t[1] == '0' ? std::uint32_t{SHAPE_R0} : 0u);
        o.reg = static_cast<std::uint8_t>(t[1] - '0');
    } else if (t[0] == 'R' && n == 3 && t[1] == '1' && t[2] >= '0' && t[2] <= '5') {
        s |= SHAPE_REG;
        o.reg = static_cast<std::uint8_t>(10 + t[2] - '0');
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
            if (n + start > 20) fail(Message::LabelNameTooLong, line_.line());
            std::memcpy(name.data() + start, t, n);
            o.labelIndex = labels_.refer(name, line_.line());
        }
    }
    o.slotShape[slot] = s;
    o.shape = s;
}

}  // namespace korvane::detail
