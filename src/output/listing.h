// The listing: one line per statement, written before its operands are read, and
// after a successful run the label table. Lines end with CR LF.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

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

    // The label block after a successful run: "labels (N):", then one "NAME   $VALUE"
    // line per label (name as listed, at most 20 characters).
    void labelBlock(std::uint32_t count) {
        std::uint8_t* const start = buffer_.reserve(32);
        std::uint8_t* p = putText(start, "labels (");
        p = putDecimal(p, count);
        p = putText(p, "):\r\n");
        buffer_.commit(static_cast<std::size_t>(p - start));
    }
    void label(std::string_view name, std::uint32_t value) {
        std::uint8_t* const start = buffer_.reserve(40);
        std::uint8_t* p = putText(start, name);
        p = putText(p, "   $");
        p = putHex(p, value);
        p = putText(p, "\r\n");
        buffer_.commit(static_cast<std::size_t>(p - start));
    }

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
