// Buffered writer over a ByteSink. Bytes are gathered in a fixed buffer and handed to
// the sink in large blocks; overwrites of bytes still in the buffer are made in memory,
// older ones go to the sink. Memory use is the buffer, whatever the output size.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "korvane/korvane.h"

namespace korvane::detail {

class OutputBuffer {
  public:
    OutputBuffer(ByteSink& sink, std::size_t capacity);

    void put(std::uint8_t b) {
        if (len_ == capacity_) spill();
        buf_[len_++] = b;
    }
    void put(const std::uint8_t* p, std::size_t n) {
        if (n <= capacity_ - len_) {
            std::memcpy(buf_.get() + len_, p, n);
            len_ += n;
        } else {
            putSlow(p, n);
        }
    }
    void put(std::string_view s) { put(reinterpret_cast<const std::uint8_t*>(s.data()), s.size()); }
    void fill(std::uint8_t b, std::uint64_t n);
    // Room for n more bytes without a spill; used by callers that format in place.
    std::uint8_t* reserve(std::size_t n) {
        if (capacity_ - len_ < n) spill();
        return buf_.get() + len_;
    }
    void commit(std::size_t n) { len_ += n; }

    // Overwrites bytes at a 0-based position below size().
    void overwrite(std::uint64_t position, const std::uint8_t* p, std::size_t n);
    // Hands everything buffered to the sink. Stops the run with "cannot write NAME".
    void flush() { spill(); }
    // Like flush(), but reports instead of throwing.
    bool tryFlush();
    // flush(), then the device's own finish(); stops the run as flush() does.
    void finish();

    std::uint64_t size() const { return flushed_ + len_; }

  private:
    void spill();
    void putSlow(const std::uint8_t* p, std::size_t n);
    [[noreturn]] void failed() const;

    ByteSink& sink_;
    std::unique_ptr<std::uint8_t[]> buf_;
    std::size_t capacity_;
    std::size_t len_ = 0;
    std::uint64_t flushed_ = 0;  // bytes already handed to the sink
};

}  // namespace korvane::detail
