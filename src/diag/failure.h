// How a run stops: the first error anywhere throws a Failure carrying its Diagnostic,
// and assemble() returns that Diagnostic to its caller.
#pragma once

#include <cstdint>
#include <string_view>

#include "korvane/korvane.h"

namespace korvane::detail {

struct Failure {
    Diagnostic diagnostic;
};

// Stops the run with a message of the catalogue.
[[noreturn]] void fail(Message code, std::uint32_t line, std::string_view name = {});

// The diagnostic of a message (for the paths that report instead of stopping).
Diagnostic diagnosticOf(Message code, std::uint32_t line, std::string_view name = {});

}  // namespace korvane::detail
