// The run of the assembler, as the library's assemble() makes it, with the one knob that
// tests and the fuzz target turn: the value written into fields that the fixup pass
// fills in, so that they can show that no such field is left after a success.
#pragma once

#include <cstdint>

#include "korvane/korvane.h"

namespace korvane::detail {

Result assembleWithPlaceholder(ByteSource& source, ByteSink& bin, ByteSink& log,
                               IncludeOpener& includes, const Options& options,
                               std::uint8_t placeholder);

}  // namespace korvane::detail
