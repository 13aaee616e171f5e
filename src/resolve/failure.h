// The error exit: every message that stops a run travels as a Failure to the
// top of assemble(), which turns it into the Diagnostic returned to the caller.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "korvane/korvane.h"

namespace korvane::detail {

struct Failure {
    Diagnostic diagnostic;
};

// "TEXT" + line number + tail, e.g. failAt("empty string on line ", 7).
[[noreturn]] void failAt(std::string_view text, std::uint32_t line, std::string_view tail = {});
// The diagnostic of a run that ran out of memory.
Diagnostic outOfMemory();
// A message that names no line.
[[noreturn]] void failPlain(std::string text);

}  // namespace korvane::detail
