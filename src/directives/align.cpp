#include "directives/directives.h"

namespace korvane::detail {

void align(Image& image, std::uint32_t modulus, std::uint32_t line) {
    const std::uint32_t pad = (modulus - (image.pc() & (modulus - 1))) & (modulus - 1);
    image.needRoom(pad, line);
    for (std::uint32_t i = 0; i < pad; ++i) image.put(0xFF);
}

}  // namespace korvane::detail
