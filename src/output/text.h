// Number and text formatting for the listing: decimal without padding, upper-case
// hexadecimal without leading zeros. Each writes at p and returns the end.
#pragma once

#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace korvane::detail {

inline std::uint8_t* putText(std::uint8_t* p, std::string_view s) {
    std::memcpy(p, s.data(), s.size());
    return p + s.size();
}

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline std::uint8_t* putDecimal(std::uint8_t* p, std::uint64_t v) {
    // Count the digits, then fill them in from the right, two at a time.
    std::size_t n = 1;
    for (std::uint64_t bound = 10; n < 20 && v >= bound; bound *= 10) ++n;
    std::uint8_t* const end = p + n;
    std::uint8_t* q = end;
    while (v >= 100) {
        q -= 2;
        std::memcpy(q, kDigitPairs + (v % 100) * 2, 2);
        v /= 100;
    }
    if (v >= 10) {
        std::memcpy(q - 2, kDigitPairs + v * 2, 2);
    } else {
        q[-1] = static_cast<std::uint8_t>('0' + v);
    }
    return end;
}

inline std::uint8_t* putHex(std::uint8_t* p, std::uint32_t v) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    int shift = 28;
    while (shift > 0 && (v >> shift) == 0) shift -= 4;
    for (; shift >= 0; shift -= 4) *p++ = static_cast<std::uint8_t>(kDigits[(v >> shift) & 15]);
    return p;
}

}  // namespace korvane::detail

namespace korvane::detail {

// A number kept as its printed text: moving it forward by a small step is a few digit
// additions instead of a full conversion. Used for the listing's line numbers, binary
// offsets and PCs, which mostly grow by a few units from one line to the next.
template <unsigned Base, typename T>
class PrintedNumber {
  public:
    PrintedNumber() { set(0); }

    // Makes the text that of v.
    void update(T v) {
        if (v >= value_ && v - value_ < 4096) {
            add(v - value_);
        } else {
            set(v);
        }
        value_ = v;
    }
    // Writes the text at p and returns its end; up to 16 bytes at p are written (the
    // caller has room for them).
    std::uint8_t* put(std::uint8_t* p) const {
        std::memcpy(p, text_ + first_, 16);
        return p + (kSize - first_);
    }

  private:
    static constexpr unsigned kSize = 24;
    static constexpr char digit(unsigned d) { return "0123456789ABCDEF"[d]; }
    static unsigned valueOf(std::uint8_t c) { return kValues[c]; }
    static constexpr auto kValues = [] {
        std::array<std::uint8_t, 256> t{};
        for (unsigned d = 0; d < Base; ++d) t[static_cast<unsigned char>(digit(d))] = static_cast<std::uint8_t>(d);
        return t;
    }();

    void set(T v) {
        first_ = kSize;
        do {
            text_[--first_] = static_cast<std::uint8_t>(digit(static_cast<unsigned>(v % Base)));
            v /= Base;
        } while (v != 0);
    }
    void add(T step) {
        // Most steps change only the last digit.
        const unsigned last = valueOf(text_[kSize - 1]) + static_cast<unsigned>(step);
        if (last < Base) {
            text_[kSize - 1] = static_cast<std::uint8_t>(digit(last));
            return;
        }
        unsigned carry = static_cast<unsigned>(step);
        for (unsigned i = kSize; carry != 0;) {
            --i;
            if (i < first_) {
                first_ = i;
                text_[i] = '0';
            }
            const unsigned x = valueOf(text_[i]) + carry;
            text_[i] = static_cast<std::uint8_t>(digit(x % Base));
            carry = x / Base;
        }
    }

    std::uint8_t text_[kSize + 16] = {};
    unsigned first_ = kSize;
    T value_ = 0;
};

}  // namespace korvane::detail
