// Text of the sources: a buffer handed to the output in large blocks with the
// fingerprint of everything but its own digits, and the operands of an instruction
// as the disassembler writes them.
#pragma once

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "disasm/grammar/grammar.h"
#include "korvane/dis_sources.h"
#include "korvane/sh2.h"

namespace korvane::dis {

using sh2::Arg;

// Two hexadecimal digits of every byte.
inline constexpr std::array<char, 512> kHexPairs = [] {
    std::array<char, 512> t{};
    constexpr char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
        t[static_cast<std::size_t>(2 * i)] = digits[i >> 4];
        t[static_cast<std::size_t>(2 * i + 1)] = digits[i & 15];
    }
    return t;
}();


// Text made in a fixed buffer and handed to the output in large blocks, with the
// fingerprint of everything written but its own digits.
class Text {
  public:
    explicit Text(SourceOutput& out, const std::unordered_map<std::uint32_t, std::string>* names = nullptr)
        : out_(out), buf_(new char[kCapacity]), names_(names != nullptr && !names->empty() ? names : nullptr) {}
    bool flush() {
        if (len_ != 0) hand(std::string_view(buf_.get(), len_));
        len_ = 0;
        return ok_;
    }
    void put(std::string_view s) {
        if (len_ + s.size() > kCapacity) flush();
        if (s.size() > kCapacity) {  // longer than the buffer: straight through
            hand(s);
            return;
        }
        std::memcpy(buf_.get() + len_, s.data(), s.size());
        len_ += s.size();
    }
    void put(char c) {
        if (len_ == kCapacity) flush();
        buf_[len_++] = c;
    }
    // Room for n more bytes (n at most kSlack), written through the pointer and then
    // counted with advance(). Writers may fill more than they count: the slack is theirs.
    char* reserve(std::size_t n) {
        if (len_ + n > kCapacity) flush();
        return buf_.get() + len_;
    }
    void advance(std::size_t n) { len_ += n; }
    // Exactly 8 bytes (a padded mnemonic).
    void put8(const char* s) {
        std::memcpy(reserve(8), s, 8);
        len_ += 8;
    }
    // Ends a line; a full block goes to the output.
    void endLine() {
        put('\n');
        if (len_ >= kBlock) flush();
    }
    // Eight digits at out, two at a time.
    static void hex8(char* out, std::uint32_t v) {
        for (int i = 3; i >= 0; --i, v >>= 8) std::memcpy(out + 2 * i, &kHexPairs[2u * (v & 0xFF)], 2);
    }
    void hex(std::uint32_t v, int digits) {
        char* out = reserve(8);
        if (digits == 8) {
            hex8(out, v);
        } else {
            for (int i = digits - 1; i >= 0; --i, v >>= 4) out[i] = kHex[v & 15];
        }
        len_ += static_cast<std::size_t>(digits);
    }
    void hexBytes(const std::uint8_t* p, std::size_t n) {
        while (n > 0) {
            const std::size_t k = n < kSlack / 2 ? n : kSlack / 2;
            char* out = reserve(2 * k);
            for (std::size_t i = 0; i < k; ++i) std::memcpy(out + 2 * i, &kHexPairs[2u * p[i]], 2);
            len_ += 2 * k;
            p += k;
            n -= k;
        }
    }
    void hexTrim(std::uint32_t v) {  // without leading zeros
        int digits = 1;
        while (digits < 8 && (v >> (4 * digits)) != 0) ++digits;
        hex(v, digits);
    }
    void dec(std::int64_t v) {
        if (v >= 0 && v < 100) {  // registers and most displacements
            char* out = reserve(2);
            if (v < 10) {
                out[0] = static_cast<char>('0' + v);
                len_ += 1;
            } else {
                out[0] = static_cast<char>('0' + v / 10);
                out[1] = static_cast<char>('0' + v % 10);
                len_ += 2;
            }
            return;
        }
        char out[24];
        char* p = out + sizeof out;
        const bool negative = v < 0;
        std::uint64_t u =
            negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
        do {
            *--p = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u != 0);
        if (negative) *--p = '-';
        put(std::string_view(p, static_cast<std::size_t>(out + sizeof out - p)));
    }
    // The label of an address: the user's name for it, or L and its eight digits (B for
    // a base of its own, which no name replaces).
    void label(std::uint32_t address, char prefix = 'L') {
        if (names_ != nullptr && prefix == 'L') {
            if (const auto it = names_->find(address); it != names_->end()) {
                put(it->second);
                return;
            }
        }
        char* out = reserve(9);
        out[0] = prefix;
        hex8(out + 1, address);
        len_ += 9;
    }
    // The fingerprint's line: its digits are filled in by finish().
    void fingerprintLine() {
        put(detail::kFingerprintLead);
        digitsAt_ = position();
        put(std::string_view("0000000000000000", detail::kFingerprintDigits));
        put(" (korvane-dis replaces this file only while its text is unchanged)\n");
    }
    // The fingerprint of what was written (once finished).
    std::uint64_t fingerprint() const { return fingerprint_.value(); }
    // Writes what is left and the fingerprint's digits.
    bool finish() {
        if (!flush()) return false;
        char digits[detail::kFingerprintDigits];
        std::uint64_t v = fingerprint_.value();
        for (int i = static_cast<int>(detail::kFingerprintDigits) - 1; i >= 0; --i, v >>= 4)
            digits[i] = kHex[v & 15];
        return out_.patch(digitsAt_, std::string_view(digits, sizeof digits));
    }
    // Where the current line began, and blanks up to a column of it.
    std::size_t mark() const { return len_; }
    void column(std::size_t lineStart, std::size_t at) {
        static constexpr char kBlanks[kColumnMost] = {
            ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
            ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
            ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        const std::size_t len = len_ >= lineStart ? len_ - lineStart : at;
        char* out = reserve(kColumnMost);
        std::memcpy(out, kBlanks, kColumnMost);
        len_ += len < at && at - len <= kColumnMost ? at - len : 1;
    }

  private:
    std::uint64_t position() const { return written_ + len_; }
    // Hands a block to the output, adding all but the fingerprint's digits to it.
    void hand(std::string_view block) {
        ok_ = ok_ && out_.write(block);
        const std::uint64_t at = written_;
        written_ += block.size();
        const std::uint64_t skipEnd = digitsAt_ + detail::kFingerprintDigits;
        if (digitsAt_ == kNone || skipEnd <= at || digitsAt_ >= written_) {
            fingerprint_.add(block);
            return;
        }
        const std::size_t from = digitsAt_ > at ? static_cast<std::size_t>(digitsAt_ - at) : 0;
        const std::size_t to = static_cast<std::size_t>(std::min<std::uint64_t>(skipEnd, written_) - at);
        fingerprint_.add(block.substr(0, from));
        fingerprint_.add(block.substr(to));
    }
    static constexpr std::size_t kBlock = 1 << 16;
    static constexpr std::size_t kCapacity = 1 << 17;
    static constexpr std::size_t kSlack = 1 << 12;      // the most reserve() hands out
    static constexpr std::size_t kColumnMost = 48;     // the widest step to a column
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    SourceOutput& out_;
    std::unique_ptr<char[]> buf_;
    std::size_t len_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t digitsAt_ = kNone;
    detail::Fingerprint fingerprint_;
    bool ok_ = true;
    const std::unordered_map<std::uint32_t, std::string>* names_;
};

template <typename Out>
inline void operand(Out& t, Arg arg, const sh2::Decoded& d, std::uint32_t pc) {
    const sh2::Fields& x = d.fields;
    const unsigned disp = static_cast<unsigned>(x.d) * d.form->scale;
    switch (arg) {
        case Arg::None:
            break;
        case Arg::Rn:
            t.put('R');
            t.dec(x.n);
            break;
        case Arg::Rm:
            t.put('R');
            t.dec(x.m);
            break;
        case Arg::R0:
            t.put("R0");
            break;
        case Arg::AtRn:
            t.put("@R");
            t.dec(x.n);
            break;
        case Arg::AtRm:
            t.put("@R");
            t.dec(x.m);
            break;
        case Arg::AtMinusRn:
            t.put("@-R");
            t.dec(x.n);
            break;
        case Arg::AtRmPlus:
            t.put("@R");
            t.dec(x.m);
            t.put('+');
            break;
        case Arg::AtRnPlus:
            t.put("@R");
            t.dec(x.n);
            t.put('+');
            break;
        case Arg::AtR0Rn:
            t.put("@(R0,R");
            t.dec(x.n);
            t.put(')');
            break;
        case Arg::AtR0Rm:
            t.put("@(R0,R");
            t.dec(x.m);
            t.put(')');
            break;
        case Arg::AtDispRn:
        case Arg::AtDispRm:
            t.put("@(");
            t.dec(disp);
            t.put(",R");
            t.dec(arg == Arg::AtDispRn ? x.n : x.m);
            t.put(')');
            break;
        case Arg::AtDispGbr:
            t.put("@(");
            t.dec(disp);
            t.put(",GBR)");
            break;
        case Arg::AtDispPc:
            t.put("@(");
            t.label(sh2::targetOf(*d.form, x, pc));
            t.put(",PC)");
            break;
        case Arg::AtR0Gbr:
            t.put("@(R0,GBR)");
            break;
        case Arg::Imm:
            t.put('#');
            t.dec(x.d);
            break;
        case Arg::SImm:
            t.put('#');
            t.dec(static_cast<std::int8_t>(x.d));
            break;
        case Arg::Target:
            t.label(sh2::targetOf(*d.form, x, pc));
            break;
        case Arg::SR:
            t.put("SR");
            break;
        case Arg::GBR:
            t.put("GBR");
            break;
        case Arg::VBR:
            t.put("VBR");
            break;
        case Arg::MACH:
            t.put("MACH");
            break;
        case Arg::MACL:
            t.put("MACL");
            break;
        case Arg::PR:
            t.put("PR");
            break;
    }
}

// "first,second" or "first" (nothing for an instruction without operands).
template <typename Out>
inline void operands(Out& t, const sh2::Decoded& d, std::uint32_t pc) {
    operand(t, d.form->args[0], d, pc);
    if (d.form->args[1] != Arg::None) {
        t.put(',');
        operand(t, d.form->args[1], d, pc);
    }
}



}  // namespace korvane::dis
