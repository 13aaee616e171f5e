#include "diag/failure.h"

namespace korvane::detail {

Diagnostic diagnosticOf(Message code, std::uint32_t line, std::string_view name) {
    return Diagnostic{code, line, std::string(name), messageText(code, line, name)};
}

void fail(Message code, std::uint32_t line, std::string_view name) {
    throw Failure{diagnosticOf(code, line, name)};
}

}  // namespace korvane::detail
