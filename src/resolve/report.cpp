// The label listing appended to the log after a successful run.
#include "driver/assembly.h"
#include "source/text.h"

namespace korvane::detail {

void Assembly::writeLabelListing() {
    const std::uint32_t count = labels_.count();
    if (count == 0) return;
    std::uint8_t* p = log_.reserve(32);
    std::uint8_t* start = p;
    p = putText(p, "labels (");
    p = putDecimal(p, count);
    p = putText(p, "):\r\n");
    log_.commit(static_cast<std::size_t>(p - start));
    for (std::uint32_t i = 0; i < count; ++i) {
        p = start = log_.reserve(40);
        const LabelName& name = labels_.name(i);
        p = putText(p, {name.data(), name.size()});
        p = putText(p, "   $");
        p = putHex(p, labels_.value(i));
        p = putText(p, "\r\n");
        log_.commit(static_cast<std::size_t>(p - start));
    }
}

}  // namespace korvane::detail
