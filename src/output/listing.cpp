#include "output/listing.h"

#include <cstring>

namespace korvane::detail {

namespace {
constexpr std::size_t kLogBuffer = 1 << 18;
}  // namespace

Listing::Listing(ByteSink& sink) : buffer_(sink, kLogBuffer) {}

void Listing::statement(std::uint32_t line, std::uint64_t offset, std::uint32_t pc,
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

}  // namespace korvane::detail
