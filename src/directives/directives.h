// The directives: alignment, the location counter, data, included files and IMOV.L
// with IDATA (their pool is resolve/literal_pool.h). Their handlers (handleAlign,
// handleData ...) are declared with the encoders' (encode/encoder.h).
#pragma once

#include <cstdint>

#include "encode/encoder.h"

namespace korvane::detail {

// ALIGN.W, ALIGN.L and the start of IDATA: pads the PC to a multiple of modulus with 0xFF.
void align(Image& image, std::uint32_t modulus, std::uint32_t line);

}  // namespace korvane::detail
