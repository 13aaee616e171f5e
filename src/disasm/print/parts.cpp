// How a large image is split into sources that the assembler takes one at a time.
#include <cstdio>

#include "disasm/print/printer.h"

namespace korvane::dis {

namespace {

// A source may hold 10,000 labels and 9,998 references; a part keeps its own labels
// plus the references it makes below this.
constexpr std::size_t kPartBudget = 9990;

}  // namespace

std::vector<std::uint32_t> planParts(const Model::Data& d) {
    std::vector<std::uint32_t> starts{0};
    std::size_t used = 0;
    for (std::uint32_t off = 0; off < d.size();) {
        // An instruction refers to a label when it has a PC-relative field, unless it
        // is a load in a delay slot (written as its number).
        std::uint32_t size = 2;
        bool refers;
        if ((d.flags[off] & (F_CODE | F_SLOTPC)) == F_CODE) {
            refers = sh2::decodeForm(d.word(off))->reach != sh2::Reach::None;
        } else {
            const Model::Data::Statement s = d.statementAt(off);
            size = s.size;
            refers = s.refers;
        }
        // Targets outside the image are defined in each part that uses them: they are
        // counted among its references already.
        const std::size_t cost = ((d.flags[off] & F_LABEL) ? 1 : 0) + (refers ? 1 : 0);
        if (used + cost > kPartBudget) {
            starts.push_back(off);
            used = 0;
        }
        used += cost;
        off += size;
    }
    return starts;
}

std::vector<std::string> sourceNames(const std::string& top, std::size_t parts) {
    std::vector<std::string> files;
    if (parts > 1) {
        for (std::size_t i = 0; i < parts; ++i) files.push_back(partName(top, i));
    }
    files.push_back(top);
    return files;
}

}  // namespace korvane::dis

namespace korvane {

std::string partName(const std::string& top, std::size_t index) {
    const bool dotS = top.size() > 2 && top.compare(top.size() - 2, 2, ".s") == 0;
    const std::string stem = dotS ? top.substr(0, top.size() - 2) : top;
    char number[24];
    std::snprintf(number, sizeof number, "%02zu", index + 1);
    return stem + ".part" + number + ".s";
}

}  // namespace korvane
