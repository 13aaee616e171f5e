#include "source/reader.h"

#include <span>

#include "resolve/failure.h"

namespace korvane::detail {

int SourceReader::refill() {
    if (atEnd_) return -1;
    std::ptrdiff_t n = source_.read(std::span<std::uint8_t>(buf_.get(), kBlock));
    if (n < 0) failPlain("cannot read " + source_.name());
    if (n == 0) {
        atEnd_ = true;
        return -1;
    }
    len_ = static_cast<std::size_t>(n);
    pos_ = 1;
    return buf_[0];
}

}  // namespace korvane::detail
