// After the last line: every reference resolved, range-checked and patched into the
// image.
#pragma once

#include <vector>

#include "output/image.h"
#include "resolve/tables.h"

namespace korvane::detail {

// Walks the references in recording order; the first one that fails stops the run, but
// where outOfReach is given, a target out of reach only adds the reference's line to it.
void resolveReferences(const RefTable& refs, const LabelTable& labels, Image& image,
                       std::vector<std::uint32_t>* outOfReach = nullptr);

}  // namespace korvane::detail
