// The fingerprint of a source's text: a 64-bit hash over every byte of the file except
// the 16 hexadecimal digits of the fingerprint itself, which stand on the second line
// after "; fingerprint ". The disassembler writes it; a later run replaces a source only
// while the file still has exactly the text its fingerprint says.
#pragma once

#include <cstdint>
#include <string_view>

namespace korvane::detail {

inline constexpr std::string_view kFingerprintLead = "; fingerprint ";
inline constexpr std::size_t kFingerprintDigits = 16;

class Fingerprint {
  public:
    void add(std::string_view bytes) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        std::size_t n = bytes.size();
        count_ += n;
        while (n > 0 && have_ != 0) {
            take(*p++);
            --n;
        }
        for (; n >= 8; n -= 8, p += 8) {
            std::uint64_t v = 0;
            for (int i = 7; i >= 0; --i) v = v << 8 | p[i];  // the same on every host
            mix(v);
        }
        while (n-- > 0) take(*p++);
    }
    std::uint64_t value() const {
        Fingerprint end = *this;
        end.mix(end.pending_ ^ (end.count_ << 56) ^ end.count_);
        return end.h_ ^ (end.h_ >> 29);
    }

  private:
    void take(unsigned char c) {
        pending_ |= static_cast<std::uint64_t>(c) << (8 * have_);
        if (++have_ == 8) {
            mix(pending_);
            pending_ = 0;
            have_ = 0;
        }
    }
    void mix(std::uint64_t v) {
        h_ = (h_ ^ v) * 0xBF58476D1CE4E5B9ull;
        h_ ^= h_ >> 31;
    }
    std::uint64_t h_ = 0x9E3779B97F4A7C15ull;
    std::uint64_t pending_ = 0;
    std::uint64_t count_ = 0;
    unsigned have_ = 0;
};

}  // namespace korvane::detail
