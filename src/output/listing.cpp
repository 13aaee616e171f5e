#include "output/listing.h"

namespace korvane::detail {

namespace {
constexpr std::size_t kLogBuffer = 1 << 18;
}  // namespace

Listing::Listing(ByteSink& sink) : buffer_(sink, kLogBuffer) {}

}  // namespace korvane::detail
