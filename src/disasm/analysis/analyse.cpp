// The analysis: the model seeded from the options (entries, vectors, declared code,
// data and tables), the paths and finders run until nothing more is found, then what
// the user declared and the evidence gathered settled into labels and pointers.
#include <algorithm>

#include "disasm/analysis/analysis.h"
#include "disasm/analysis/paths.h"

namespace korvane::dis {

namespace {

// The offsets of a range of addresses, segment by segment, with their addresses.
template <class Each>
void eachOffset(const Model::Data& d, const AddressRange& r, Each&& each) {
    for (const ImageSegment& s : d.segments) {
        const std::uint64_t from = std::max<std::uint64_t>(r.begin, s.address);
        const std::uint64_t to = std::min<std::uint64_t>(r.end, std::uint64_t{s.address} + s.size);
        for (std::uint64_t a = from; a < to; ++a) each(static_cast<std::uint32_t>(s.offset + (a - s.address)), a);
    }
}

// What the user declared data, in the shape declared.
void declaredData(Model::Data& d, const DisassemblyOptions& options) {
    auto offsets = [&d](const AddressRange& r, auto&& each) { eachOffset(d, r, each); };
    for (const DataRange& r : options.data) {
        static constexpr std::uint8_t kShapes[] = {0, G_BYTES, G_WORDS, G_LONGS, G_TEXT, G_LONGS};
        const std::uint8_t shape = kShapes[static_cast<std::size_t>(r.width)];
        offsets(r, [&d, shape](std::uint32_t off, std::uint64_t) {
            d.flags[off] |= F_DATA;
            d.more[off] = static_cast<std::uint8_t>((d.more[off] & ~G_SHAPE) | shape);
        });
    }
}

// The entries, other modules' ways in, vectors, declared code and constants: the work
// the paths start from.
void seedEntries(Model::Data& d, const DisassemblyOptions& options, std::vector<std::uint32_t>& work) {
    auto offsets = [&d](const AddressRange& r, auto&& each) { eachOffset(d, r, each); };
    // Every entry is labelled, so that the reader (and an edit) can name it.
    auto entry = [&](std::uint32_t address, Evidence why, std::uint32_t from = Model::Data::kNoCause) {
        std::uint32_t off;
        if (!d.inImage(address, off) || (address & 1) != 0) return;
        work.push_back(off);
        d.startFunction(off, why, from);
    };
    if (options.entries.empty() && options.vectors.empty()) entry(d.address(0), Evidence::Entry);
    for (const std::uint32_t e : options.entries) entry(e, Evidence::Entry);
    for (const DisassemblyOptions::Extern& x : options.externs) {
        std::uint32_t off;
        if (!d.inImage(x.address, off) || (x.address & 1) != 0) continue;  // another module's (or its own way out)
        work.push_back(off);
        d.label(off, Evidence::OtherModule);
        if (x.call) d.markFunction(off, Evidence::OtherModule);
    }
    for (const std::uint32_t v : options.vectors) {
        std::uint32_t off;
        if (!d.inImage(v, off)) continue;
        // Power-on and manual reset PC and SP, then the exceptions and interrupts. A
        // vector that is neither 0 nor a code address in the image ends the table.
        for (std::uint32_t i = 0; i < options.vectorCount; ++i) {
            const std::uint32_t at = off + 4 * i;
            std::uint32_t t;
            if (!d.inImage(v + 4 * i, t) || t != at || at + 3 >= d.size()) break;
            if (i == 1 || i == 3) continue;  // stack pointers
            const std::uint32_t target = d.longAt(at);
            if (target == 0) continue;
            if (!d.inImage(target, t) || (target & 1) != 0 || (d.flags[at] & (F_CODE | F_CONT))) break;
            d.pointer(at, PointerEvidence::Vector, v);
            entry(target, Evidence::Vector, d.address(at));
        }
        d.label(off, Evidence::Vector);
    }
    // Forced code: a path from every word of the range.
    for (const AddressRange& r : options.code) {
        offsets(r, [&work](std::uint32_t off, std::uint64_t a) {
            if ((a & 1) == 0) work.push_back(off);
        });
    }
    for (const std::uint32_t c : options.constants) {
        std::uint32_t off;
        if (d.inImage(c, off)) d.more[off] |= G_CONST;
    }
}

// Tables the user declared: their entries are code.
void declaredTables(Model::Data& d, const DisassemblyOptions& options, std::vector<std::uint32_t>& work) {
    for (const DisassemblyOptions::UserTable& u : options.tables) {
        std::uint32_t off;
        if (!d.inImage(u.address, off) || d.tableStarting(off)) continue;
        Table t{u.address, 0, u.width, u.relative, false, u.base, 0, {}};
        for (std::uint32_t e = 0; e < u.count && off + (e + 1) * u.width <= d.size(); ++e) {
            const std::uint32_t at = off + e * u.width;
            const std::uint32_t v = d.entryAt(at, u.width, u.relative);
            const std::uint32_t target = u.relative ? u.base + v : v;
            t.targets.push_back(target);
            for (std::uint32_t b = 0; b < u.width; ++b) d.flags[at + b] |= F_TABLE;
            d.refs.push_back({u.address + e * u.width, target, RefKind::TableEntry});
            std::uint32_t to;
            if (d.inImage(target, to) && !(target & 1)) {
                d.label(to, Evidence::SwitchCase, u.address + e * u.width);
                work.push_back(to);
            }
            ++t.count;
        }
        if (u.width == 4) d.flags[off] |= F_ALIGN4;
        d.relabel(off, Evidence::Table);
        std::uint32_t base;
        if (u.relative && u.base != u.address && d.inImage(u.base, base)) d.markBase(base);
        d.tableIndex.emplace(off, d.tables.size());
        d.tables.push_back(std::move(t));
    }
}

// The paths, the register pass, the switch finder, the open tables, the code after
// calls, the pointers and (when guessing) code found by evidence, until none finds more.
void findAll(Model::Data& d, const DisassemblyOptions& options, std::vector<std::uint32_t>& work) {
    auto offsets = [&d](const AddressRange& r, auto&& each) { eachOffset(d, r, each); };
    std::vector<std::uint32_t> jumps, tried;  // jumps new to the switch finder, and those it found no table for
    Flow flow(d, jumps);
    // What a trace saw run: code, first of all, each run of it followed from its first
    // instruction (labelled, unless it goes on after a call's slot).
    for (const AddressRange& r : options.executed) {
        offsets(r, [&](std::uint32_t off, std::uint64_t a) {
            if ((a & 1) || (d.flags[off] & (F_CODE | F_CONT)) || off + 1 >= d.size()) return;
            if (!d.afterCallSlot(off)) d.label(off, Evidence::Executed);
            work.push_back(off);
            flow.run(work);
        });
    }
    const ValueBefore valueBefore = [&flow](std::uint32_t off, unsigned reg) { return flow.valueBefore(off, reg); };
    for (;;) {
        flow.run(work);
        if (flow.registerPass(work)) continue;
        const bool found = findSwitchTables(d, work, jumps, valueBefore, false);
        tried.insert(tried.end(), jumps.begin(), jumps.end());
        jumps.clear();
        if (found) continue;
        if (growOpenTables(d, work)) continue;
        // The code after calls, then again the jumps whose windows it may complete.
        if (flow.resume(work)) {
            jumps.swap(tried);
            continue;
        }
        markPointers(d, work);
        if (!work.empty()) continue;
        // No more code comes before them: the tables whose bounds were not found.
        if (!tried.empty()) {
            const bool any = findSwitchTables(d, work, tried, valueBefore, true);
            tried.clear();
            if (any || !work.empty()) continue;
        }
        if (d.guess) bytesAsData(d);
        if (d.guess && discoverCode(d, work)) continue;
        break;
    }
}

// Data the user says are pointers, and the user's names.
void declaredPointers(Model::Data& d, const DisassemblyOptions& options) {
    auto offsets = [&d](const AddressRange& r, auto&& each) { eachOffset(d, r, each); };
    // Data the user says are pointers: every aligned long that points where a label can
    // stand (once the code is known, so never into an instruction), or into the middle of
    // an item (its number, with the item).
    d.indexTables();
    for (const DataRange& r : options.data) {
        if (r.width != DataWidth::Pointers) continue;
        offsets(r, [&d, &r](std::uint32_t off, std::uint64_t a) {
            std::uint32_t to;
            if ((a & 3) || a + 4 > r.end || off + 4 > d.size() || (d.flags[off] & F_PTR) ||
                !d.inImage(d.longAt(off), to))
                return;
            if (!d.labelFits(to)) {  // into the middle of an item: its number, with the item
                if (!d.insideItem(d.longAt(off))) return;
                d.pointer(off, PointerEvidence::InfoFile, Model::Data::kNoCause);
                return;
            }
            d.pointer(off, PointerEvidence::InfoFile, Model::Data::kNoCause);
            d.label(to, Evidence::Pointer, static_cast<std::uint32_t>(a));
        });
    }
    // The user's names label their addresses (a name is no evidence of code).
    for (const DisassemblyOptions::Name& n : options.names) {
        std::uint32_t off;
        if (d.inImage(n.address, off) && !(d.flags[off] & (F_CONT | F_LITIN))) d.label(off, Evidence::Named);
    }
}

// Tables by address; a pointer or table entry into the middle of an item names it.
void itemsPointedInto(Model::Data& d) {
    std::sort(d.tables.begin(), d.tables.end(),
              [](const Table& a, const Table& b) { return a.address < b.address; });
    d.indexTables();
    // A pointer or table entry into the middle of an item is written as its number with
    // the item it points into, which gets a label so that it can be named.
    for (const Reference& r : d.refs) {
        std::uint32_t from, start;
        if (r.kind != RefKind::Pointer && r.kind != RefKind::TableEntry) continue;
        const auto item = d.insideItem(r.to);
        if (!d.inImage(r.from, from)) continue;
        if (const Table* t = d.tableHolding(from, start); r.kind == RefKind::TableEntry && (!t || t->relative)) continue;
        if (std::uint32_t to; !item) {  // (an odd address the user's table holds has no label yet)
            if (d.inImage(r.to, to) && d.labelFits(to)) d.label(to, Evidence::Pointer, r.from);
            continue;
        }
        d.more[from] |= G_INSIDE;
        d.label(*item, Evidence::Pointer, r.from);
    }
}

}  // namespace

void analyse(Model::Data& d, const DisassemblyOptions& options) {
    declaredData(d, options);
    std::vector<std::uint32_t> work;
    seedEntries(d, options, work);
    declaredTables(d, options, work);
    findAll(d, options, work);
    functionPointers(d);
    declaredPointers(d, options);
    itemsPointedInto(d);
    d.cutTablesAtLabels();
    markUnknowns(d);
    // The places after the image that literals name (whatever uses them: an index
    // added, a copy the register pass lost).
    for (const std::uint32_t off : d.literals) {
        if (off + 3 < d.size() && !(d.more[off] & G_CONST)) d.useAfter(d.longAt(off), 1, AfterUse::Named, d.address(off));
    }
    for (const AddressRange& r : options.touched) {
        const auto bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(r.end - r.begin, 0xFFFFFFFFu));
        d.useAfter(r.begin, bytes, AfterUse::Traced, r.begin);
    }
    d.settleEvidence();
}

}  // namespace korvane::dis
