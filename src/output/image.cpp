#include "output/image.h"

#include <algorithm>

#include "diag/failure.h"

namespace korvane::detail {

namespace {
constexpr std::size_t kImageBuffer = 1 << 18;
}  // namespace

Image::Image(ByteSink& sink, std::uint8_t placeholder)
    : buffer_(sink, kImageBuffer), placeholder_(placeholder) {}

void Image::tooLarge(std::uint32_t line) {
    fail(Message::OutputTooLarge, line);
}

void Image::fillGap(std::uint64_t n) {
    buffer_.fill(0xFF, n);
    if (capture_ != nullptr) {
        const std::size_t room = kCaptureLimit - std::min(kCaptureLimit, capture_->size());
        capture_->insert(capture_->end(),
                         static_cast<std::size_t>(std::min<std::uint64_t>(n, room)), 0xFF);
    }
    written_ += n;
}

void Image::record(const std::uint8_t* p, std::size_t n) {
    const std::size_t room = kCaptureLimit - std::min(kCaptureLimit, capture_->size());
    capture_->insert(capture_->end(), p, p + std::min(n, room));
}

}  // namespace korvane::detail
