// The listing: one line per statement, written before its operands are read, and
// after a successful run the label table. Lines end with CR LF.
#pragma once

#include <cstdint>
#include <cstring>

#include "output/buffer.h"
#include "output/text.h"

namespace korvane::detail {

class Listing {
  public:
    explicit Listing(ByteSink& sink);

    // "source line #N binary offset W PC $H MNEMONC" (the mnemonic as the scanner reads
    // it: 7 characters, padded)
    void statement(std::uint32_t line, std::uint64_t offset, std::uint32_t pc,
                   const char* mnemonic7) {
        // At most 82 bytes, and the numbers may write up to 16 bytes each.
        ++statements_;
        line_.update(line);
        offset_.update(offset);
        pc_.update(pc);
        std::uint8_t* p = buffer_.reserve(128);
        std::uint8_t* const start = p;
        p = putText(p, "source line #");
        p = line_.put(p);
        p = putText(p, " binary offset ");
        p = offset_.put(p);
        p = putText(p, " PC $");
        p = pc_.put(p);
        *p++ = ' ';
        std::memcpy(p, mnemonic7, 7);
        p += 7;
        *p++ = '\r';
        *p++ = '\n';
        buffer_.commit(static_cast<std::size_t>(p - start));
    }
    std::uint32_t statements() const { return statements_; }

    // For the label table: room for n bytes, then how many were used.
    std::uint8_t* reserve(std::size_t n) { return buffer_.reserve(n); }
    void commit(std::size_t n) { buffer_.commit(n); }

    void flush() { buffer_.flush(); }
    bool tryFlush() { return buffer_.tryFlush(); }

  private:
    OutputBuffer buffer_;
    std::uint32_t statements_ = 0;
    // The numbers of the previous line, kept as text.
    PrintedNumber<10, std::uint32_t> line_;
    PrintedNumber<10, std::uint64_t> offset_;
    PrintedNumber<16, std::uint32_t> pc_;
};

}  // namespace korvane::detail
