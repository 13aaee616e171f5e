// The fingerprint of a source's text: a 64-bit hash over every byte of the file except
// the 16 hexadecimal digits of the fingerprint itself, which stand on the second line
// after "; fingerprint ". The disassembler writes it; a later run replaces a source only
// while the file still has exactly the text its fingerprint says.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace korvane::detail {

inline constexpr std::string_view kFingerprintLead = "; fingerprint ";
inline constexpr std::string_view kInfoFingerprintLead = "# fingerprint ";
inline constexpr std::string_view kMapFingerprintLead = "<!-- fingerprint ";
inline constexpr std::size_t kFingerprintDigits = 16;

// Four independent lanes of 64 bits, each taking every fourth 8-byte word, so that the
// multiplications of a block overlap; the result is the same on every host.
class Fingerprint {
  public:
    void add(std::string_view bytes) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
        std::size_t n = bytes.size();
        count_ += n;
        while (n > 0 && have_ != 0) {  // complete a block begun before
            pending_[have_++] = *p++;
            --n;
            if (have_ == kBlock) {
                block(pending_);
                have_ = 0;
            }
        }
        for (; n >= kBlock; n -= kBlock, p += kBlock) block(p);
        while (n-- > 0) pending_[have_++] = *p++;
    }
    std::uint64_t value() const {
        Fingerprint end = *this;
        unsigned char last[kBlock] = {};
        for (unsigned i = 0; i < end.have_; ++i) last[i] = end.pending_[i];
        last[kBlock - 1] ^= static_cast<unsigned char>(end.have_);
        end.block(last);
        std::uint64_t h = end.count_;
        for (const std::uint64_t lane : end.lanes_) h = mix(h ^ lane);
        return h ^ (h >> 29);
    }

  private:
    static constexpr unsigned kBlock = 32;
    static std::uint64_t mix(std::uint64_t h) {
        h *= 0xBF58476D1CE4E5B9ull;
        return h ^ (h >> 31);
    }
    static std::uint64_t word(const unsigned char* p) {
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
        return v;
    }
    void block(const unsigned char* p) {
        for (int lane = 0; lane < 4; ++lane) lanes_[lane] = mix(lanes_[lane] ^ word(p + 8 * lane));
    }
    std::uint64_t lanes_[4] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                               0x27D4EB2F165667C5ull};
    unsigned char pending_[kBlock] = {};
    std::uint64_t count_ = 0;
    unsigned have_ = 0;
};

// Puts the fingerprint of text, all of it but its own digits (which stand at digitsAt),
// in place of those digits.
inline void seal(std::string& text, std::size_t digitsAt) {
    Fingerprint f;
    f.add(std::string_view(text).substr(0, digitsAt));
    f.add(std::string_view(text).substr(digitsAt + kFingerprintDigits));
    std::uint64_t v = f.value();
    for (std::size_t i = kFingerprintDigits; i-- > 0; v >>= 4) text[digitsAt + i] = "0123456789ABCDEF"[v & 15];
}

}  // namespace korvane::detail
