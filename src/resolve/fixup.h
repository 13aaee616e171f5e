// After the last line: every reference resolved, range-checked and patched into the
// image.
#pragma once

#include "output/image.h"
#include "resolve/tables.h"

namespace korvane::detail {

// Walks the references in recording order; the first one that fails stops the run.
void resolveReferences(const RefTable& refs, const LabelTable& labels, Image& image);

}  // namespace korvane::detail
