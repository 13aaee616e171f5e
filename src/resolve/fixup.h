// After the last line: every reference resolved, range-checked and patched into the
// image; then the label table appended to the listing.
#pragma once

#include "output/image.h"
#include "output/listing.h"
#include "resolve/tables.h"

namespace korvane::detail {

// Walks the references in recording order; the first one that fails stops the run.
void resolveReferences(const RefTable& refs, const LabelTable& labels, Image& image);

// "labels (N):" and one line per label, in the order first met.
void writeLabelTable(const LabelTable& labels, Listing& listing);

}  // namespace korvane::detail
