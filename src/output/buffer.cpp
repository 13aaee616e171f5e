#include "output/buffer.h"

#include <algorithm>
#include <span>

#include "diag/failure.h"

namespace korvane::detail {

OutputBuffer::OutputBuffer(ByteSink& sink, std::size_t capacity)
    : sink_(sink), buf_(new std::uint8_t[capacity]), capacity_(capacity) {}

void OutputBuffer::failed() const {
    fail(Message::CannotWrite, 0, sink_.name());
}

void OutputBuffer::spill() {
    if (len_ == 0) return;
    if (!sink_.append(std::span<const std::uint8_t>(buf_.get(), len_))) failed();
    flushed_ += len_;
    len_ = 0;
}

bool OutputBuffer::tryFlush() {
    try {
        spill();
        return true;
    } catch (const Failure&) {
        return false;
    }
}

void OutputBuffer::finish() {
    spill();
    if (!sink_.finish()) failed();
}

void OutputBuffer::putSlow(const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        if (len_ == capacity_) spill();
        std::size_t k = std::min(n, capacity_ - len_);
        std::memcpy(buf_.get() + len_, p, k);
        len_ += k;
        p += k;
        n -= k;
    }
}

void OutputBuffer::fill(std::uint8_t b, std::uint64_t n) {
    while (n > 0) {
        if (len_ == capacity_) spill();
        std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, capacity_ - len_));
        std::memset(buf_.get() + len_, b, k);
        len_ += k;
        n -= k;
    }
}

void OutputBuffer::overwrite(std::uint64_t position, const std::uint8_t* p, std::size_t n) {
    // The part that lies before the buffer goes to the sink, the rest is patched in memory.
    if (position < flushed_) {
        std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(n, flushed_ - position));
        if (!sink_.overwrite(position, std::span<const std::uint8_t>(p, k))) failed();
        position += k;
        p += k;
        n -= k;
    }
    if (n > 0) std::memcpy(buf_.get() + (position - flushed_), p, n);
}

}  // namespace korvane::detail
