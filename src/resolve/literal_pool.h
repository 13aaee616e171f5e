// The IMOV.L literal pool: the constants IMOV.L queues, each a reference of kind
// REF_IMOV_PENDING, until IDATA places them and the fixup pass writes the loads'
// displacements.
#pragma once

#include <cstdint>
#include <vector>

#include "output/image.h"
#include "resolve/tables.h"

namespace korvane::detail {

class LiteralPool {
  public:
    // The reference about to be added to refs is a queued constant.
    void queue(const RefTable& refs) { pending_.push_back(refs.count()); }
    // IDATA, after its alignment: the queued constants in source order.
    void place(Image& image, RefTable& refs, std::uint32_t line);

  private:
    std::vector<std::uint32_t> pending_;  // RefTable indices of kind REF_IMOV_PENDING
};

}  // namespace korvane::detail
