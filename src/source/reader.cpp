#include "source/reader.h"

#include <cstring>
#include <span>

#include "diag/failure.h"

namespace korvane::detail {

int SourceReader::refill() {
    if (atEnd_) return -1;
    std::ptrdiff_t n = source_.read(std::span<std::uint8_t>(buf_.get(), kBlock));
    if (n < 0) fail(Message::CannotRead, 0, source_.name());
    if (n == 0) {
        atEnd_ = true;
        cur_ = end_ = buf_.get();
        return -1;
    }
    cur_ = buf_.get() + 1;
    end_ = buf_.get() + n;
    return buf_[0];
}

bool SourceReader::skipPastLineFeed() {
    for (;;) {
        if (cur_ != end_) {
            const void* lf = std::memchr(cur_, '\n', static_cast<std::size_t>(end_ - cur_));
            if (lf != nullptr) {
                cur_ = static_cast<const std::uint8_t*>(lf) + 1;
                return true;
            }
            cur_ = end_;
        }
        int c = refill();
        if (c < 0) return false;
        if (c == '\n') return true;
    }
}

}  // namespace korvane::detail
