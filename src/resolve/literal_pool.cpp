#include "resolve/literal_pool.h"

namespace korvane::detail {

void LiteralPool::place(Image& image, RefTable& refs, std::uint32_t line) {
    image.needRoom(4ull * pending_.size(), line);
    for (std::uint32_t index : pending_) {
        Reference& r = refs[index];
        const std::uint32_t constant = r.target;
        r.kind = REF_IMOV_PLACED;
        r.target = image.pc();
        for (int i = 3; i >= 0; --i) image.put(static_cast<std::uint8_t>(constant >> (8 * i)));
    }
    pending_.clear();
}

}  // namespace korvane::detail
