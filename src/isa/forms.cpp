// The SH-2 instruction forms (src/isa/form_table.h) as the library gives them.
#include "isa/form_table.h"

namespace korvane::sh2 {

std::span<const Form> forms() {
    return kFormTable;
}

}  // namespace korvane::sh2
