// The directives: alignment, the location counter, data, included files and the
// IMOV.L literal pool. Their handlers (handleAlign, handleData ...) are declared with
// the encoders' (encode/encoder.h).
#pragma once

#include <cstdint>
#include <vector>

#include "encode/encoder.h"

namespace korvane::detail {

// ALIGN.W, ALIGN.L and the start of IDATA: pads the PC to a multiple of modulus with 0xFF.
void align(Image& image, std::uint32_t modulus, std::uint32_t line);

// IMOV.L #constant,Rn writes MOV.L @(disp,PC),Rn and queues the constant; IDATA places
// every queued constant and the fixup pass writes the displacements.
class LiteralPool {
  public:
    bool imov(Statement& s);
    // IDATA, after its alignment: the queued constants in source order.
    void place(Image& image, RefTable& refs, std::uint32_t line);

  private:
    std::vector<std::uint32_t> pending_;  // RefTable indices of kind REF_IMOV_PENDING
};

}  // namespace korvane::detail
