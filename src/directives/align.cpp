// ALIGN.W, ALIGN.L and the alignment step of IDATA: pad the assembly PC with 0xFF.
#include "driver/assembly.h"

namespace korvane::detail {

void Assembly::align(std::uint32_t modulus) {
    const std::uint32_t pad = (modulus - (pc_ & (modulus - 1))) & (modulus - 1);
    needRoom(pad);
    for (std::uint32_t i = 0; i < pad; ++i) putByte(0xFF);
}

}  // namespace korvane::detail
