// Jump tables behind BRAF and JMP, recognised only when every part of the idiom
// compilers emit is there: a bound check that branches away when the index is out of
// range, the table's address (MOVA or a literal), an indexed load scaled to the entry
// width, then the jump. The instructions are read backwards from the jump, across the
// conditional branch that leads to its block where there is one.
//
// Tables of code pointers behind JSR and JMP (handlers[i](x), also as a tail call): an
// indexed MOV.L from a table whose address is known, its value (or a copy of it) the
// register jumped through. Without a bound, the entries run as far as each one points
// at code (known, or a whole routine) and nothing else starts: such a table is open.
#include <algorithm>

#include "disasm/analysis/analysis.h"
#include "disasm/analysis/limits.h"

namespace korvane::dis {

namespace {

using sh2::Form;


// The region of the routine that holds the instruction at off: from the last function
// start at or before it to the next one after it (at most kRegion bytes each way).
std::pair<std::uint32_t, std::uint32_t> regionOf(const Model::Data& d, std::uint32_t off) {
    std::uint32_t from = off, to = off + 2;
    while (from > 0 && off - from < kRegion && !(d.flags[from] & F_FUNC)) --from;
    while (to < d.size() && to - off < kRegion && !(d.flags[to] & F_FUNC)) ++to;
    return {from, to};
}

// Whether the long at at (in the table of code pointers at off) is one more entry:
// nothing else is there or starts there, and it points at code: known, a whole routine,
// or for a jump (not a call) an instruction in the jumping routine's region.
bool plausibleEntry(const Model::Data& d, std::uint32_t off, std::uint32_t at, bool first,
                    std::pair<std::uint32_t, std::uint32_t> region = {0, 0}) {
    constexpr std::uint16_t kTaken = F_CODE | F_CONT | F_LITW | F_LITL | F_LITIN | F_TABLE;
    if (at + 4 > d.size() || (!first && (d.flags[at] & F_LABEL))) return false;
    if (d.longFlags(at) & kTaken) return false;
    const std::uint32_t v = d.longAt(at);
    std::uint32_t to;
    return !(v & 1) && d.inImage(v, to) && to + 1 < d.size() && !(to >= off && to < at + 4) &&
           !(d.flags[to] & (kTaken & ~F_CODE)) && sh2::decode(d.word(to)) &&
           ((d.flags[to] & F_CODE) || (to >= region.first && to < region.second) || routineAt(d, to));
}

// Makes the next n longs of table t its entries: pointers written as labels, their
// targets code (functions, when a call goes through them).
void takeEntries(Model::Data& d, Table& t, std::uint32_t n, bool call, std::vector<std::uint32_t>& work) {
    std::uint32_t off = 0;
    d.inImage(t.address, off);
    for (std::uint32_t e = t.count; e < t.count + n; ++e) {
        const std::uint32_t at = off + 4 * e;
        const std::uint32_t v = d.longAt(at);
        std::uint32_t to = 0;
        d.inImage(v, to);
        for (std::uint32_t b = 0; b < 4; ++b) d.flags[at + b] |= F_TABLE;
        t.targets.push_back(v);
        d.pointer(at, PointerEvidence::JumpedThrough, t.jump);
        d.label(to, Evidence::PointerTable, d.address(at));
        if (call) d.markFunction(to, Evidence::PointerTable);
        work.push_back(to);
    }
    t.count += n;
}

// An instruction of the window: where it is and what it is.
struct Step {
    std::uint32_t off;
    sh2::Decoded d;
    bool crossed;  // the conditional branch whose target leads on towards the jump
};


class SwitchFinder {
  public:
    SwitchFinder(Model::Data& d, const ValueBefore& valueBefore, bool settle)
        : d_(d), valueBefore_(valueBefore), settle_(settle) {}

    // Every branch of the code found, by target (in the order of the code, so the sort
    // has little to do): made when a window first meets a label.
    const std::vector<std::pair<std::uint32_t, std::uint32_t>>& into() {
        if (intoMade_) return into_;
        intoMade_ = true;
        for (std::uint32_t off = 0; off + 1 < d_.size(); off += 2) {
            if ((d_.flags[off] & (F_CODE | F_SLOT)) != F_CODE) continue;
            const sh2::Form* f = sh2::decodeForm(d_.word(off));
            if ((f->reach != sh2::Reach::Branch8 && f->reach != sh2::Reach::Branch12) || (f->flow & sh2::FlowCall))
                continue;
            const std::uint32_t pc = d_.address(off);
            into_.push_back({sh2::targetOf(*f, sh2::fieldsOf(*f, d_.word(off)), pc), pc});
        }
        std::sort(into_.begin(), into_.end());
        return into_;
    }

    // A table for the jump at off, or false. One match read back from the jump through
    // the window (the indexed load, the table's address, the scaling, the bound), then
    // the table taken: kept as one function (about 170 lines) because each step narrows
    // the registers and the place the next one looks for.
    bool find(std::uint32_t jump, std::vector<std::uint32_t>& work) {
        if (!window(jump)) return false;
        const sh2::Decoded j = *sh2::decode(d_.word(jump));
        const KnownForms& k = known();
        const bool braf = (j.form->flow & sh2::FlowRelative) != 0;
        const bool call = (j.form->flow & sh2::FlowCall) != 0;
        unsigned rd = j.fields.m;
        std::size_t i = steps_.size();
        bool addR0 = false;  // ADD R0,Rd before JMP @Rd: entries count from the table
        if (!braf && i > 0 && steps_[i - 1].d.form == k.addRR && steps_[i - 1].d.fields.m == 0 &&
            steps_[i - 1].d.fields.n == rd) {
            addR0 = true;
            --i;
        }
        // The indexed load that leaves the entry in Rd, possibly through EXTU.
        bool isUnsigned = false;
        std::size_t load = 0;
        unsigned width = 0;
        for (;;) {
            if (i == 0) return false;
            const sh2::Decoded& s = steps_[--i].d;
            if (!(sh2::writtenRegisters(*s.form, s.fields) & (1u << rd))) continue;
            if ((s.form == k.extuB || s.form == k.extuW) && s.fields.n == rd) {
                isUnsigned = true;
                rd = s.fields.m;
                continue;
            }
            if (s.form == k.movRR && s.fields.n == rd) {  // a copy of the entry
                rd = s.fields.m;
                continue;
            }
            for (unsigned w = 0; w < 3; ++w) {
                if (s.form == k.loadR0[w] && s.fields.n == rd) width = 1u << w;
            }
            if (s.form == k.loadAt && s.fields.n == rd && !braf && !addR0) width = 4;  // MOV.L @Rm,Rd
            if (width == 0) return false;
            load = i;
            break;
        }
        const sh2::Fields& lf = steps_[load].d.fields;
        const bool relative = braf || addR0;
        // The table's address: MOVA into R0 (relative or absolute), or a literal; for
        // MOV.L @Rm,Rd, a literal added to the index in Rm (ADD).
        std::uint32_t table = 0;
        unsigned index = 16;
        if (steps_[load].d.form == k.loadAt) {
            std::size_t add = load;
            while (add > 0 && !(sh2::writtenRegisters(*steps_[add - 1].d.form, steps_[add - 1].d.fields) & (1u << lf.m))) --add;
            if (add == 0 || steps_[add - 1].d.form != k.addRR || steps_[add - 1].d.fields.n != lf.m) return false;
            const sh2::Fields& af = steps_[--add].d.fields;
            if (const auto rt = valueOf(af.m, add, false)) {
                table = *rt;
                index = af.n;
            } else if (const auto rn = valueOf(af.n, add, false)) {
                table = *rn;
                index = af.m;
            }
            load = add;  // the index is scaled before the ADD
        } else if (const auto r0 = valueOf(0, load, false)) {
            table = *r0;
            index = lf.m;
        }
        if (index == 16 && !relative && steps_[load].d.form != k.addRR) {
            auto rt = valueOf(lf.m, load, false);
            // A table's address kept in a register from before the window (the start of
            // the routine that dispatches in a loop).
            if (!rt && !writtenInWindow(lf.m, load)) rt = valueBefore_(steps_[load].off, lf.m);
            if (rt) {
                table = *rt;
                index = 0;
            }
        }
        if (index == 16 || (relative && addR0 && index != lf.m)) return false;
        if (!relative && width != 4) return false;
        if (call && addR0) return false;
        // The index scaled to the entry width, back to the comparison that bounds it.
        unsigned scale = 1;
        std::optional<std::uint32_t> count;
        std::size_t at = load;
        while (at > 0) {
            const Step& s = steps_[--at];
            const Form* f = s.d.form;
            const sh2::Fields& x = s.d.fields;
            if (f == k.cmpHi || f == k.cmpGt || f == k.cmpHs || f == k.cmpGe) {
                if (x.n != index) continue;
                if (!branchesAwayWhenT(at)) break;
                auto bound = valueOf(x.m, at, true);
                if (!bound && !writtenInWindow(x.m, at)) bound = valueBefore_(s.off, x.m);  // set before the window
                if (!bound) break;
                const bool inclusive = f == k.cmpHi || f == k.cmpGt;  // T when index > bound
                const std::uint64_t n = static_cast<std::uint64_t>(*bound) + (inclusive ? 1 : 0);
                if (n == 0 || n > kMostEntries) break;
                count = static_cast<std::uint32_t>(n);
                break;
            }
            if (!(sh2::writtenRegisters(*f, x) & (1u << index))) continue;
            if (f == k.shll2 && x.n == index) {
                scale *= 4;
            } else if ((f == k.shll && x.n == index) || (f == k.addRR && x.n == index && x.m == index)) {
                scale *= 2;
            } else if ((f == k.movRR || f == k.extuB || f == k.extuW) && x.n == index) {
                index = x.m;
            } else {
                break;
            }
        }
        // A bound not found may be found once more code is known (after calls).
        if (!count && !settle_) return false;
        std::uint32_t off;
        if (!d_.inImage(table, off) || d_.tableStarting(off)) return false;
        if (!relative && (call || !count || scale != width))
            return codePointers(off, jump, call, scale == width ? count : std::nullopt, work);
        Table t{table, 0, static_cast<std::uint8_t>(width), relative, false,
                braf ? d_.address(jump) + 4 : table, d_.address(jump), {}};
        if (!count || scale != width) {
            // A table whose length no bound gives (an index the code trusts, a call
            // offset): named, and marked as of unknown length (with what its entries
            // would reach). The targets of as many entries as give plausible code, up
            // to the first case after the table, are followed.
            d_.relabel(off, Evidence::Table);
            bool followed = false;
            if (scale == width) {
                const std::vector<std::uint32_t> targets = plausibleTargets(off, t, width, isUnsigned, call);
                for (std::size_t e = 0; targets.size() >= kFewestUnbounded && e < targets.size(); ++e) {
                    std::uint32_t to = 0;
                    d_.inImage(targets[e], to);
                    d_.label(to, Evidence::SwitchCase, table + static_cast<std::uint32_t>(e) * width);
                    if (call) d_.markFunction(to, Evidence::Call);
                    work.push_back(to);
                    followed = true;
                }
            }
            add(off, std::move(t));
            return followed;
        }
        if (static_cast<std::uint64_t>(off) + std::uint64_t{*count} * width > d_.size()) return false;
        for (std::uint32_t e = 0; e < *count; ++e) {
            const std::uint32_t at2 = off + e * width;
            for (std::uint32_t b = 0; b < width; ++b) {
                if (d_.flags[at2 + b] & (F_CODE | F_CONT | F_TABLE)) return false;
            }
            const std::uint32_t v = d_.entryAt(at2, width, !isUnsigned);
            const std::uint32_t target = relative ? t.base + v : v;
            std::uint32_t to;
            if ((target & 1) || !d_.inImage(target, to) || to + 1 >= d_.size() ||
                !sh2::decode(d_.word(to)) || (d_.flags[to] & (F_CONT | F_LITIN)) ||
                (to >= off && to < off + *count * width))
                return false;
            t.targets.push_back(target);
        }
        t.count = *count;
        for (std::uint32_t b = 0; b < *count * width; ++b) d_.flags[off + b] |= F_TABLE;
        if (width == 4) d_.flags[off] |= F_ALIGN4;
        d_.relabel(off, Evidence::Table, d_.address(jump));
        std::uint32_t base;
        // A base after a BRAF's slot stays where the code ends when an edit moves the
        // table; a base that is the table itself (MOVA) is the table's own label.
        if (relative && t.base != table && d_.inImage(t.base, base)) d_.markBase(base);
        for (std::uint32_t e = 0; e < *count; ++e) {
            std::uint32_t to = 0;
            d_.inImage(t.targets[e], to);
            d_.refs.push_back({table + e * width, t.targets[e], RefKind::TableEntry});
            d_.label(to, Evidence::SwitchCase, table + e * width);
            if (call) d_.markFunction(to, Evidence::Call);
            work.push_back(to);
        }
        add(off, std::move(t));
        return true;
    }

  private:
    // The targets of the entries of the relative table at off that are plausible: even, in the
    // image, decodable and not data, outside the entries, and code already or (for a
    // jump) near the jump, (for a call) a whole routine; counted up to the first case
    // after the table and to anything known or labelled in the entries' way.
    std::vector<std::uint32_t> plausibleTargets(std::uint32_t off, const Table& t, unsigned width, bool isUnsigned,
                                                bool call) const {
        constexpr std::uint16_t kTaken = F_CODE | F_CONT | F_TABLE | F_LITW | F_LITL | F_LITIN | F_DATA;
        std::uint32_t jumpOff = 0;
        d_.inImage(t.jump, jumpOff);
        std::uint32_t first = ~0u;
        std::vector<std::uint32_t> targets;
        for (std::uint32_t n = 0; n < kMostEntries; ++n) {
            const std::uint32_t at = off + n * width;
            if (at + width > d_.size() || at >= first || (n > 0 && (d_.flags[at] & F_LABEL))) break;
            bool free = true;
            for (std::uint32_t b = 0; b < width; ++b) free = free && !(d_.flags[at + b] & kTaken);
            if (!free) break;
            const std::uint32_t target = t.base + d_.entryAt(at, width, !isUnsigned);
            std::uint32_t to;
            if ((target & 1) || !d_.inImage(target, to) || to + 1 >= d_.size() || !sh2::decode(d_.word(to)) ||
                (d_.flags[to] & (kTaken & ~F_CODE)) || (to >= off && to < at + width))
                break;
            const bool known = (d_.flags[to] & F_CODE) != 0;
            const std::uint32_t distance = to > jumpOff ? to - jumpOff : jumpOff - to;
            if (!known && (call ? !routineAt(d_, to) : distance > kUnboundedReach)) break;
            if (to > off) first = std::min(first, to);
            targets.push_back(target);
        }
        return targets;
    }

    // The table of code pointers at off read for the jump or call at jump: count
    // entries when a bound says so, otherwise as far as they stay plausible.
    bool codePointers(std::uint32_t off, std::uint32_t jump, bool call, std::optional<std::uint32_t> count,
                      std::vector<std::uint32_t>& work) {
        if (d_.address(off) & 3) return false;
        Table t{d_.address(off), 0, 4, false, true, 0, d_.address(jump), {}, !count};
        std::uint32_t n = 0;
        const auto region = call ? std::pair<std::uint32_t, std::uint32_t>{0, 0} : regionOf(d_, jump);
        while (n < count.value_or(kMostEntries) && plausibleEntry(d_, off, off + 4 * n, n == 0, region)) ++n;
        if (n == 0 || (count && n != *count)) return false;
        d_.flags[off] |= F_ALIGN4;
        d_.relabel(off, Evidence::Table, t.jump);
        add(off, std::move(t));
        takeEntries(d_, d_.tables.back(), n, call, work);
        return true;
    }

    void add(std::uint32_t off, Table t) {
        d_.tableIndex.emplace(off, d_.tables.size());
        d_.tables.push_back(std::move(t));
    }

    // The instructions that run before the jump, oldest first: back along its block
    // and, where the block starts at the target of one conditional branch, on before it.
    bool window(std::uint32_t jump) {
        steps_.clear();
        std::uint32_t p = jump;
        unsigned crossings = 0;
        // Whether the code before off runs on into it.
        auto fallsInto = [&](std::uint32_t off) {
            if (off < 2 || !(d_.flags[off - 2] & F_CODE)) return false;
            const auto before = sh2::decode(d_.word(off - 2));
            if (!before || (d_.flags[off - 2] & F_SLOT)) {
                // a slot: the branch before it decides
                if (off < 4 || !(d_.flags[off - 4] & F_CODE)) return true;
                const auto branch = sh2::decode(d_.word(off - 4));
                return !branch || !(branch->form->flow & sh2::FlowEnds);
            }
            return !(before->form->flow & sh2::FlowEnds);
        };
        while (steps_.size() < kWindow) {
            if ((p != jump || !fallsInto(p)) && (d_.flags[p] & F_LABEL)) {
                // One branch into this block, and no way to fall into it.
                const auto& branches = into();
                const auto range = std::equal_range(
                    branches.begin(), branches.end(), std::pair<std::uint32_t, std::uint32_t>{d_.address(p), 0},
                    [](const auto& a, const auto& b) { return a.first < b.first; });
                if (range.first == range.second || crossings == kCrossings) break;
                std::uint32_t from;
                if (!d_.inImage(range.first->second, from)) break;
                const sh2::Decoded b = *sh2::decode(d_.word(from));
                // One conditional branch into the block, or only BRAs (a shared dispatch
                // that each path reaches with its entry loaded): back along the first.
                const bool bras = std::all_of(range.first, range.second, [&](const auto& x) {
                    std::uint32_t o;
                    return d_.inImage(x.second, o) && sh2::decodeForm(d_.word(o))->reach == sh2::Reach::Branch12;
                });
                if (!(b.form->flow & sh2::FlowConditional) && !bras) break;
                if ((b.form->flow & sh2::FlowConditional) && range.second - range.first != 1) break;
                if (p >= 2 && (d_.flags[p - 2] & F_CODE)) {
                    const auto before = sh2::decode(d_.word(p - 2));
                    if (before && !(before->form->flow & sh2::FlowEnds) && !(d_.flags[p - 2] & F_SLOT)) {
                        // The code before falls into the block as well. When the last
                        // instruction on both ways in is the same (a comparison the
                        // compiler repeats in the branch's slot), it runs last either way.
                        const std::uint32_t last = (b.form->flow & sh2::FlowDelayed) ? from + 2 : from - 2;
                        if ((b.form->flow & sh2::FlowConditional) && last + 1 < d_.size() &&
                            d_.word(last) == d_.word(p - 2) && sh2::writtenRegisters(*before->form, before->fields) == 0)
                            steps_.push_back({p - 2, *before, false});
                        break;
                    }
                }
                if (b.form->flow & sh2::FlowDelayed) {  // its slot runs on the way (unless the image's end cuts it)
                    if (from + 3 >= d_.size()) break;
                    if (auto s = sh2::decode(d_.word(from + 2))) steps_.push_back({from + 2, *s, false});
                }
                steps_.push_back({from, b, (b.form->flow & sh2::FlowConditional) != 0});
                ++crossings;
                p = from;
            }
            if (p < 2 || !(d_.flags[p - 2] & F_CODE)) break;
            p -= 2;
            const auto d = sh2::decode(d_.word(p));
            // Back past a BT/BF (the path did not take it), not past another jump.
            if (!d || ((d->form->flow & sh2::FlowDelayed) && !(d->form->flow & sh2::FlowConditional))) break;
            steps_.push_back({p, *d, false});
        }
        std::reverse(steps_.begin(), steps_.end());
        return !steps_.empty();
    }

    // The comparison at steps_[at] sets T when the index is out of range; the branch
    // that follows must leave the path to the jump when T is set.
    bool branchesAwayWhenT(std::size_t at) const {
        for (std::size_t i = at + 1; i < steps_.size(); ++i) {
            const Form* f = steps_[i].d.form;
            if (!(f->flow & sh2::FlowConditional)) continue;
            const bool onT = f == known().bt || f == known().bts;
            return steps_[i].crossed ? !onT : onT;
        }
        return false;
    }

    // Whether an instruction of the window before steps_[before] writes the register.
    bool writtenInWindow(unsigned reg, std::size_t before) const {
        for (std::size_t i = before; i-- > 0;) {
            const sh2::Decoded& s = steps_[i].d;
            if (sh2::writtenRegisters(*s.form, s.fields) & (1u << reg)) return true;
        }
        return false;
    }

    // The value a register has before steps_[before], from the window: MOVA, a
    // PC-relative load, or (with imm) MOV #imm.
    std::optional<std::uint32_t> valueOf(unsigned reg, std::size_t before, bool imm) const {
        const KnownForms& k = known();
        for (std::size_t i = before; i-- > 0;) {
            const sh2::Decoded& s = steps_[i].d;
            if (!(sh2::writtenRegisters(*s.form, s.fields) & (1u << reg))) continue;
            if (s.form == k.movRR) {  // a copy: the value of its source before it
                reg = s.fields.m;
                continue;
            }
            if (s.form == k.mova) return sh2::targetOf(*s.form, s.fields, d_.address(steps_[i].off));
            if (imm && s.form == k.movImm) return static_cast<std::uint32_t>(static_cast<std::int8_t>(s.fields.d));
            if (s.form->reach == sh2::Reach::PcLong || s.form->reach == sh2::Reach::PcWord) {
                std::uint32_t off;
                if (!d_.inImage(sh2::targetOf(*s.form, s.fields, d_.address(steps_[i].off)), off) ||
                    off + 3 >= d_.size())
                    return std::nullopt;
                return s.form->reach == sh2::Reach::PcLong
                           ? d_.longAt(off)
                           : static_cast<std::uint32_t>(static_cast<std::int16_t>(d_.word(off)));
            }
            return std::nullopt;
        }
        return std::nullopt;
    }

    Model::Data& d_;
    const ValueBefore& valueBefore_;
    const bool settle_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> into_;  // branch target, branch
    bool intoMade_ = false;
    std::vector<Step> steps_;
};

}  // namespace

bool findSwitchTables(Model::Data& d, std::vector<std::uint32_t>& work, std::vector<std::uint32_t>& jumps,
                      const ValueBefore& valueBefore, bool settle) {
    // A call goes through a table only where an indexed load leaves the register it
    // calls through, a few instructions before it (most calls through registers are not).
    const KnownForms& k = known();
    std::erase_if(jumps, [&](std::uint32_t j) {
        const sh2::Decoded call = *sh2::decode(d.word(j));
        if (!(call.form->flow & sh2::FlowCall)) return false;
        for (std::uint32_t back = 2; back <= kCallLook && back <= j; back += 2) {
            if (!(d.flags[j - back] & F_CODE)) return true;
            const sh2::Decoded w = *sh2::decode(d.word(j - back));
            const bool offsets = (call.form->flow & sh2::FlowRelative) && (w.form == k.loadR0[0] || w.form == k.loadR0[1]);
            if ((w.form == k.loadR0[2] || w.form == k.loadAt || offsets) && w.fields.n == call.fields.m) return false;
        }
        return true;
    });
    if (jumps.empty()) return false;
    SwitchFinder finder(d, valueBefore, settle);
    bool found = false;
    std::erase_if(jumps, [&](std::uint32_t j) {
        if (!finder.find(j, work)) return false;
        found = true;
        return true;
    });
    return found;
}

bool growOpenTables(Model::Data& d, std::vector<std::uint32_t>& work) {
    bool grown = false;
    for (Table& t : d.tables) {
        std::uint32_t off;
        if (!t.open || !t.pointers || !d.inImage(t.address, off)) continue;
        std::uint32_t n = 0;
        while (t.count + n < kMostEntries && plausibleEntry(d, off, off + 4 * (t.count + n), false)) ++n;
        if (n == 0) continue;
        takeEntries(d, t, n, d.calledThrough(t), work);
        grown = true;
    }
    return grown;
}

}  // namespace korvane::dis
