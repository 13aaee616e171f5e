#include "directives/directives.h"

namespace korvane::detail {

void align(Image& image, std::uint32_t modulus, std::uint32_t line) {
    const std::uint32_t pad = (modulus - (image.pc() & (modulus - 1))) & (modulus - 1);
    image.needRoom(pad, line);
    for (std::uint32_t i = 0; i < pad; ++i) image.put(0xFF);
}

bool handleAlign(Statement& s) {
    align(s.image, opOf(s.operands.row()) == Op::ALIGN_L ? 4 : 2, s.operands.line());
    return true;
}

// OPT: its operands are not read.
bool handleOption(Statement&) { return true; }

// END: the run reads nothing after it.
bool handleEnd(Statement&) { return true; }

}  // namespace korvane::detail
