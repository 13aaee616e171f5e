// The image: bytes appended at the binary offset with the assembly PC kept in step, and
// patched in place by the fixup pass. It owns both counters.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "output/buffer.h"

namespace korvane::detail {

class Image {
  public:
    Image(ByteSink& sink, std::uint8_t placeholder);

    std::uint32_t pc() const { return pc_; }
    // Only SETPC, ORG and PAD move the PC without appending: the PC they set before the
    // first byte is where the image starts.
    void setPc(std::uint32_t pc) {
        if (written_ == 0) start_ = pc;
        pc_ = pc;
    }
    // The address of the image's first byte (0 while nothing is written).
    std::uint32_t start() const { return written_ == 0 ? 0 : start_; }
    // Bytes appended so far (the binary offset less one).
    std::uint64_t written() const { return written_; }
    // The 1-based position of the next byte.
    std::uint32_t binOffset() const { return static_cast<std::uint32_t>(written_ + 1); }
    // The value written into fields that the fixup pass fills in.
    std::uint8_t placeholder() const { return placeholder_; }

    // The binary offset is 32 bits wide: the image holds at most 4 GiB - 1 bytes. Stops
    // the run with "output too large on line N" when n more bytes would not fit.
    void needRoom(std::uint64_t n, std::uint32_t line) const {
        if (written_ + n > 0xFFFFFFFFull) tooLarge(line);
    }

    // Appending: the binary offset and the PC advance together.
    void put(std::uint8_t b) {
        buffer_.put(b);
        if (capture_ != nullptr) record(&b, 1);
        ++written_;
        ++pc_;
    }
    void put(const std::uint8_t* p, std::size_t n) {
        buffer_.put(p, n);
        if (capture_ != nullptr) record(p, n);
        written_ += n;
        pc_ += static_cast<std::uint32_t>(n);
    }
    void putWord(std::uint16_t word) {  // big-endian
        const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(word >> 8),
                                       static_cast<std::uint8_t>(word)};
        put(bytes, 2);
    }
    // n bytes 0xFF that leave the PC where it is (ORG and PAD set it themselves).
    void fillGap(std::uint64_t n);

    // Overwrites bytes at a 0-based position already appended.
    void overwrite(std::uint64_t position, const std::uint8_t* p, std::size_t n) {
        buffer_.overwrite(position, p, n);
    }
    // Everything flushed and the device's deferred writes made; stops the run on failure.
    void finish() { buffer_.finish(); }
    bool tryFlush() { return buffer_.tryFlush(); }

    // The bytes of one statement, for an observer: kept from begin to the next begin,
    // the first kCaptureLimit of them.
    static constexpr std::size_t kCaptureLimit = 1 << 16;
    void captureInto(std::vector<std::uint8_t>* bytes) { capture_ = bytes; }

  private:
    [[noreturn]] static void tooLarge(std::uint32_t line);
    void record(const std::uint8_t* p, std::size_t n);

    OutputBuffer buffer_;
    std::uint8_t placeholder_;
    std::uint32_t pc_ = 0;
    std::uint32_t start_ = 0;
    std::uint64_t written_ = 0;
    std::vector<std::uint8_t>* capture_ = nullptr;
};

}  // namespace korvane::detail
