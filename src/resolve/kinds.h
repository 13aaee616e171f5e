// Which RefTable kind a form records for its label, and back: the one place where the
// assembler's reference kinds meet the instruction forms.
#pragma once

#include "isa/isa.h"
#include "resolve/tables.h"

namespace korvane::detail {

// The kind of the reference a form's label operand records.
RefKind referenceKind(const sh2::Form& form);

// The form whose word a 12-bit branch reference (REF_BRA12, REF_BSR12) is patched with.
const sh2::Form& branch12Form(RefKind kind);

}  // namespace korvane::detail
