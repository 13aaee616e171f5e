#include "resolve/failure.h"

namespace korvane::detail {

void failAt(std::string_view text, std::uint32_t line, std::string_view tail) {
    std::string message(text);
    message += std::to_string(line);
    message += tail;
    throw Failure{Diagnostic{std::move(message), line}};
}

Diagnostic outOfMemory() {
    return Diagnostic{"out of memory", 0};
}

void failPlain(std::string text) {
    throw Failure{Diagnostic{std::move(text), 0}};
}

}  // namespace korvane::detail
