// Buffered byte reader over the assembly source: the scanner and the operand lexer
// take one byte at a time from here, the source itself is read in large blocks.
// The hot loops may also scan the buffered bytes directly (cursor/limit/advance).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

#include "korvane/korvane.h"

namespace korvane::detail {

class SourceReader {
  public:
    static constexpr std::size_t kBlock = 1 << 16;

    explicit SourceReader(ByteSource& source) : source_(source), buf_(new std::uint8_t[kBlock]) {}

    // The next byte, or -1 at the end of the source.
    int next() {
        if (cur_ != end_) return *cur_++;
        return refill();
    }
    // Skips everything up to and including the next line feed; false at the end of
    // the source.
    bool skipPastLineFeed();

    // Skips the buffered bytes for which skippable(byte) holds, which it must for a
    // blank: runs of blanks (indentation) go eight at a time. The caller reads on with
    // next(), which also takes care of a run that reaches the end of the buffer.
    template <typename Skippable>
    void skip(Skippable skippable) {
        const std::uint8_t* p = cur_;
        if constexpr (std::endian::native == std::endian::little) {
            while (end_ - p >= 8) {
                std::uint64_t w;
                std::memcpy(&w, p, 8);
                const std::uint64_t other = w ^ 0x2020202020202020ull;  // non-zero bytes: not blank
                if (other != 0) {
                    p += std::countr_zero(other) / 8;
                    break;
                }
                p += 8;
            }
        }
        while (p != end_ && skippable(*p)) ++p;
        cur_ = p;
    }

    // The bytes buffered and not yet read.
    const std::uint8_t* cursor() const { return cur_; }
    const std::uint8_t* limit() const { return end_; }
    void advance(const std::uint8_t* to) { cur_ = to; }

  private:
    int refill();

    ByteSource& source_;
    std::unique_ptr<std::uint8_t[]> buf_;
    const std::uint8_t* cur_ = nullptr;
    const std::uint8_t* end_ = nullptr;
    bool atEnd_ = false;
};

}  // namespace korvane::detail
