// Where an image runs, from its code alone: the literals that calls and jumps go through
// (MOV.L @(disp,PC),Rn and then JSR or JMP @Rn) name routines, and at the right base most
// of them land where a routine opens: a save of R8-R14 or PR on the stack, or the word
// after a return or jump and its slot (past fill). A base that maps many of them onto
// openings, where the base given maps few, is where the image runs.
#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "disasm/grammar/grammar.h"
#include "isa/isa.h"
#include "isa/known.h"
#include "korvane/dis_inputs.h"

namespace korvane {

namespace {

// How far after its literal's load a call may stand (instructions), and how many of the
// distinct targets and candidate bases are weighed: bounds for the largest image.
constexpr unsigned kLoadToCall = 8;
constexpr std::size_t kSampledTargets = 64;
constexpr std::size_t kWeighedBases = 16;
// The most fill words (NOP, 0) between a routine's end and the next one's start.
constexpr unsigned kMostFill = 8;

struct Code {
    std::span<const std::uint8_t> image;
    std::vector<std::uint32_t> targets;  // the values of the literals calls go through
    std::vector<bool> opening;           // by word: a routine may open here

    std::uint16_t word(std::uint32_t off) const { return static_cast<std::uint16_t>(image[off] << 8 | image[off + 1]); }
    std::uint32_t longAt(std::uint32_t off) const {
        return static_cast<std::uint32_t>(image[off]) << 24 | image[off + 1] << 16 | image[off + 2] << 8 | image[off + 3];
    }
    bool opensAt(std::uint32_t base, std::uint32_t target) const {
        const std::uint32_t off = target - base;
        return (target & 1) == 0 && off < image.size() && opening[off / 2];
    }
};

Code readCode(std::span<const std::uint8_t> image) {
    Code c{image, {}, std::vector<bool>(image.size() / 2 + 1, false)};
    const sh2::KnownForms& k = sh2::known();
    const std::uint32_t size = static_cast<std::uint32_t>(image.size());
    for (std::uint32_t off = 0; off + 1 < size; off += 2) {
        const auto d = sh2::decode(c.word(off));
        if (!d) continue;
        const sh2::Form* f = d->form;
        const unsigned stack = sh2::kStackRegister;
        if ((f == k.push && d->fields.n == stack && d->fields.m >= 8 && d->fields.m < stack) ||
            (f == k.pushPr && d->fields.n == stack))
            c.opening[off / 2] = true;
        if ((f->flow & sh2::FlowDelayed) && (f->flow & sh2::FlowEnds)) {
            std::uint32_t next = off + 4;
            for (unsigned n = 0; n < kMostFill && next + 1 < size && (c.word(next) == k.nopWord || c.word(next) == 0); ++n)
                next += 2;
            if (next + 1 < size) c.opening[next / 2] = true;
        }
        // A long literal loaded and then called or jumped through, its register unchanged.
        if (f->reach != sh2::Reach::PcLong || f == k.mova) continue;
        const std::uint32_t literal = ((off + 4) & ~3u) + 4u * d->fields.d;
        if (literal + 4 > size) continue;
        const unsigned reg = d->fields.n;
        for (std::uint32_t p = off + 2, n = 0; n < kLoadToCall && p + 1 < size; p += 2, ++n) {
            const auto e = sh2::decode(c.word(p));
            if (!e) break;
            const sh2::Form* g = e->form;
            if ((g->flow & sh2::FlowRegister) && !(g->flow & sh2::FlowRelative) && e->fields.m == reg) {
                c.targets.push_back(c.longAt(literal));
                break;
            }
            if (g->flow != 0 || ((sh2::writtenRegisters(*g, e->fields) >> reg) & 1u)) break;
        }
    }
    return c;
}

BaseCandidate weigh(const Code& c, std::uint32_t base) {
    BaseCandidate b{base, 0, static_cast<std::uint32_t>(c.targets.size()), 0, 0};
    std::unordered_set<std::uint32_t> distinct, explained;
    for (const std::uint32_t t : c.targets) {
        distinct.insert(t);
        if (!c.opensAt(base, t)) continue;
        ++b.opening;
        explained.insert(t);
    }
    b.distinctTargets = static_cast<std::uint32_t>(distinct.size());
    b.distinctOpening = static_cast<std::uint32_t>(explained.size());
    return b;
}

std::vector<BaseCandidate> rank(const Code& c, std::uint32_t given, std::size_t most) {
    std::vector<std::uint32_t> values(c.targets);
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    values.erase(std::remove_if(values.begin(), values.end(), [](std::uint32_t v) { return (v & 1) != 0; }), values.end());
    // A sample spread over the values, each voting for every base that puts it on an
    // opening.
    std::unordered_map<std::uint32_t, std::uint32_t> votes;
    const std::size_t step = std::max<std::size_t>(1, values.size() / kSampledTargets);
    for (std::size_t i = 0; i < values.size(); i += step) {
        for (std::uint32_t w = 0; w < c.opening.size(); ++w) {
            if (c.opening[w]) ++votes[values[i] - 2 * w];
        }
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> byVotes(votes.begin(), votes.end());
    std::sort(byVotes.begin(), byVotes.end(), [](const auto& a, const auto& b) {
        return a.second != b.second ? a.second > b.second : a.first < b.first;
    });
    std::vector<BaseCandidate> out{weigh(c, given)};
    for (std::size_t i = 0; i < byVotes.size() && i < kWeighedBases; ++i) {
        if (byVotes[i].first != given) out.push_back(weigh(c, byVotes[i].first));
    }
    std::stable_sort(out.begin(), out.end(), [](const BaseCandidate& a, const BaseCandidate& b) {
        return a.distinctOpening != b.distinctOpening ? a.distinctOpening > b.distinctOpening : a.opening > b.opening;
    });
    if (out.size() > most) out.resize(most);
    return out;
}

}  // namespace

std::vector<BaseCandidate> findBases(std::span<const std::uint8_t> image, std::uint32_t given, std::size_t most) {
    return rank(readCode(image), given, most);
}

std::string baseHint(std::span<const std::uint8_t> image, std::uint32_t given) {
    const Code c = readCode(image);
    const BaseCandidate here = weigh(c, given);
    // Most targets open a routine here (or too few to tell): nothing to say, and no vote.
    if (here.distinctTargets < kFewestHinted || 2 * here.distinctOpening >= here.distinctTargets) return "";
    const std::vector<BaseCandidate> best = rank(c, given, 1);
    const BaseCandidate& b = best.front();
    if (b.base == given || 2 * b.distinctOpening < b.distinctTargets || b.distinctOpening < kFewestHinted / 2 ||
        b.distinctOpening < 3 * here.distinctOpening)
        return "";
    return std::to_string(b.opening) + " of " + std::to_string(b.targets) + " call targets open a routine at --base " +
           dis::addressText(b.base) + "; " + std::to_string(here.opening) + " at the base given";
}

}  // namespace korvane
