// Buffered byte reader over the assembly source: the scanner and the operand lexer
// take one byte at a time from here, the source itself is read in large blocks.
#pragma once

#include <cstdint>
#include <memory>

#include "korvane/korvane.h"

namespace korvane::detail {

class SourceReader {
public:
    static constexpr std::size_t kBlock = 1 << 16;

    explicit SourceReader(ByteSource& source) : source_(source), buf_(new std::uint8_t[kBlock]) {}

    // The next byte, or -1 at the end of the source.
    int next() {
        if (pos_ < len_) return buf_[pos_++];
        return refill();
    }

private:
    int refill();

    ByteSource& source_;
    std::unique_ptr<std::uint8_t[]> buf_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool atEnd_ = false;
};

}  // namespace korvane::detail
