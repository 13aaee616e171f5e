// The map page: the model's items as runs of the band, its functions, tables, pointers
// and unknowns as data for the page's script, and the lines where the functions start,
// noted while the sources are written.
#include "korvane/map.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "disasm/grammar/fingerprint.h"
#include "disasm/grammar/grammar.h"
#include "disasm/grammar/settle.h"
#include "disasm/print/map_page.h"

namespace korvane {

namespace {

struct KindRow {
    std::string_view name;
    std::string_view colour;
};
// In the order of MapKind.
constexpr KindRow kKinds[kMapKinds] = {
    {"instruction", "#2e6bd9"},   {"literal", "#8fbcff"},
    {"jump table", "#7d3c98"},    {"pointer table", "#c39bd3"},
    {"text", "#27ae60"},          {"fill", "#dcdfe3"},
    {"data", "#808b96"},          {"unknown: may be code", "#e67e22"},
    {"unknown: table of unknown length", "#e02d2d"}, {"unknown: may be a pointer", "#f4d03f"},
};

// The unknown kinds as the band shows them, the one that says most first where several
// stand at one item.
MapKind shadeOf(UnknownKind k) {
    switch (k) {
        case UnknownKind::MaybeCode:
            return MapKind::MaybeCode;
        case UnknownKind::OpenTable:
            return MapKind::OpenTable;
        case UnknownKind::MaybePointer:
            break;
    }
    return MapKind::MaybePointer;
}

// Text as a JSON string (safe inside a <script> element).
void jsonString(std::string& out, std::string_view s) {
    out += '"';
    for (const char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '<':
                out += "\\u003c";
                break;
            case '>':
                out += "\\u003e";
                break;
            case '&':
                out += "\\u0026";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char esc[8];
                    std::snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
                    out += esc;
                } else {
                    out += c;
                }
        }
    }
    out += '"';
}

void base36(std::string& out, std::uint32_t v) {
    char digits[8];
    int n = 0;
    do {
        digits[n++] = "0123456789abcdefghijklmnopqrstuvwxyz"[v % 36];
        v /= 36;
    } while (v != 0);
    while (n > 0) out += digits[--n];
}

// Numbers as one string of base-36 words, a space between them.
template <typename Range>
void words(std::string& out, const Range& values) {
    out += '"';
    bool first = true;
    for (const std::uint32_t v : values) {
        if (!first) out += ' ';
        first = false;
        base36(out, v);
    }
    out += '"';
}

}  // namespace

std::string_view mapKindName(MapKind kind) {
    return kKinds[static_cast<std::size_t>(kind)].name;
}

namespace {

// The band of a model whose unknowns are these.
std::vector<MapRun> runsOf(const Model& m, const std::vector<Unknown>& unknowns) {
    // The unknowns by address, and the tables' spans (both in address order).
    std::vector<std::pair<std::uint32_t, MapKind>> unknown;
    for (const Unknown& u : unknowns) unknown.emplace_back(u.address, shadeOf(u.kind));
    std::stable_sort(unknown.begin(), unknown.end(), [](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : a.second == MapKind::OpenTable && b.second != MapKind::OpenTable;
    });
    struct Span {
        std::uint32_t start, end;
        bool pointers;
    };
    std::vector<Span> tables;
    for (const Table& t : m.tables()) tables.push_back({t.address, t.address + t.count * t.width, t.pointers});
    std::sort(tables.begin(), tables.end(), [](const Span& a, const Span& b) { return a.start < b.start; });

    std::vector<MapRun> runs;
    std::size_t u = 0;
    std::uint32_t previous = 0;
    m.items([&](const Item& item) {
        MapRun* last = runs.empty() ? nullptr : &runs.back();
        // Most items are instructions after instructions (no unknown is an instruction).
        if (item.kind == ItemKind::Instruction && last != nullptr && last->kind == MapKind::Instruction &&
            last->address + 2 * last->count == item.address) {
            ++last->count;
            return;
        }
        // The kind of each item kind, in the order of ItemKind (a table's entries are told
        // apart by their table).
        static constexpr MapKind kOfItem[] = {MapKind::Instruction, MapKind::Literal, MapKind::JumpTable,
                                              MapKind::Text,        MapKind::Fill,    MapKind::Data};
        MapKind kind = kOfItem[static_cast<std::size_t>(item.kind)];
        if (item.kind == ItemKind::Table) {
            // The table that holds the entry: the last to start at or before it that
            // reaches past it.
            auto k = std::upper_bound(tables.begin(), tables.end(), item.address,
                                      [](std::uint32_t at, const Span& x) { return at < x.start; });
            while (k != tables.begin() && std::prev(k)->end <= item.address) --k;
            if (k != tables.begin() && std::prev(k)->pointers) kind = MapKind::PointerTable;
        }
        // Segments come in image order, but their addresses need not: the unknowns
        // are looked up again where the addresses go back.
        if (item.address < previous)
            u = static_cast<std::size_t>(std::lower_bound(unknown.begin(), unknown.end(), item.address,
                                                          [](const auto& x, std::uint32_t a) { return x.first < a; }) -
                                         unknown.begin());
        previous = item.address;
        while (u < unknown.size() && unknown[u].first < item.address) ++u;
        if (u < unknown.size() && unknown[u].first == item.address) kind = unknown[u].second;
        if (last != nullptr && last->kind == kind && last->item == item.kind && last->size == item.size &&
            last->address + std::uint64_t{last->size} * last->count == item.address) {
            ++last->count;
        } else {
            runs.push_back({kind, item.kind, item.address, item.size, 1});
        }
    });
    return runs;
}

}  // namespace

std::vector<MapRun> mapRuns(const Disassembly& dis) {
    return runsOf(dis.model(), dis.model().unknowns());
}

// ---- where the functions start in the sources --------------------------------------------

// The newlines in text: 16 bytes at a time where the compiler has vectors of them (each
// byte of a sum counts its lane's newlines, up to 255 blocks at a time), else byte by byte.
std::size_t newlines(std::string_view text) {
    std::size_t n = 0, i = 0;
#if defined(__GNUC__)
    using Bytes = unsigned char __attribute__((vector_size(16)));
    while (i + 16 <= text.size()) {
        Bytes sum = {};
        for (int k = 0; k < 255 && i + 16 <= text.size(); ++k, i += 16) {
            Bytes b;
            std::memcpy(&b, text.data() + i, 16);
            sum -= reinterpret_cast<Bytes>(b == '\n');  // -1 in each lane that holds one
        }
        for (int lane = 0; lane < 16; ++lane) n += sum[lane];
    }
#endif
    for (; i < text.size(); ++i) n += text[i] == '\n';
    return n;
}

// Passes the text on and notes every line that begins with a label and a colon. Only the colons are looked at (a label's line is one of few that has one):
// the text from the line's start to the colon must be a label. Lines
// are counted between them; a line's start in an earlier piece of text is kept. A
// statement's label has the statement after it on its line; a label alone on its line
// is one that a part defines for others (after its SETPC) and is not taken.
struct MapPage::Watcher : SourceOutput {
    Watcher(SourceOutput& to, const std::unordered_map<std::string, std::uint32_t>& known,
            std::vector<std::pair<std::uint32_t, SourcePlace>>& placed)
        : out(to), labels(known), seen(placed) {}
    bool open(const std::string& name) override {
        file = name;
        if (const std::size_t slash = file.rfind('/'); slash != std::string::npos) file.erase(0, slash + 1);
        line = 1;
        tail.clear();
        pending.reset();
        return out.open(name);
    }
    bool write(std::string_view text) override {
        if (pending && !text.empty()) {  // a colon ended the text before
            if (text.front() != '\n') seen.push_back(std::move(*pending));
            pending.reset();
        }
        std::size_t counted = 0;
        for (std::size_t c = text.find(':'); c != std::string_view::npos; c = text.find(':', c + 1)) {
            line += newlines(text.substr(counted, c - counted));
            counted = c;
            const std::size_t nl = text.rfind('\n', c);
            std::string label = nl == std::string_view::npos ? tail + std::string(text.substr(0, c))
                                                             : std::string(text.substr(nl + 1, c - nl - 1));
            if (label.empty() || label.size() > kLongest || label.find_first_of(" \t;") != std::string::npos) continue;
            // The user's name, or the disassembler's own L and eight digits.
            std::optional<std::uint32_t> address = dis::ownLabelAddress(label);
            if (const auto it = labels.find(label); it != labels.end()) address = it->second;
            if (!address) continue;
            if (c + 1 == text.size()) {
                pending = std::make_pair(*address, SourcePlace{file, line});
            } else if (text[c + 1] != '\n') {
                seen.push_back({*address, {file, line}});
            }
        }
        line += newlines(text.substr(counted));
        const std::size_t nl = text.rfind('\n');
        if (nl != std::string_view::npos) tail.clear();
        if (tail.size() <= kLongest) tail += text.substr(nl == std::string_view::npos ? 0 : nl + 1, kLongest + 1);
        return out.write(text);
    }
    bool patch(std::uint64_t position, std::string_view text) override { return out.patch(position, text); }
    bool close() override {
        if (pending) seen.push_back(std::move(*pending));
        pending.reset();
        return out.close();
    }

    static constexpr std::size_t kLongest = 256;
    SourceOutput& out;
    const std::unordered_map<std::string, std::uint32_t>& labels;
    std::vector<std::pair<std::uint32_t, SourcePlace>>& seen;
    std::string file;
    std::string tail;  // the start of the line the text so far ends in (up to a label's length)
    std::size_t line = 1;
    std::optional<std::pair<std::uint32_t, SourcePlace>> pending;  // a label whose colon ended a piece
};

MapPage::MapPage(const Disassembly& disassembly, const DisassemblyOptions& options)
    : dis_(disassembly), options_(options) {
    for (const DisassemblyOptions::Name& n : options.names) labels_.emplace(n.name, n.address);
}

MapPage::~MapPage() = default;

std::unique_ptr<SourceOutput> MapPage::watch(SourceOutput& out) {
    seen_.push_back(std::make_unique<std::vector<std::pair<std::uint32_t, SourcePlace>>>());
    return std::make_unique<Watcher>(out, labels_, *seen_.back());
}

const SourcePlace* MapPage::placeOf(std::uint32_t address) const {
    if (!placesMade_) {
        for (const auto& s : seen_) {
            for (const auto& [a, p] : *s) places_.emplace(a, p);
        }
        placesMade_ = true;
    }
    const auto it = places_.find(address);
    return it == places_.end() ? nullptr : &it->second;
}

// ---- the page ----------------------------------------------------------------------------

// The page's data, written in the order the page's script reads it (functions, runs of
// kinds, tables, references, places): one pass over the model, kept as one function
// (about 170 lines) so that the order of the data reads as the script's.
void MapPage::prepare() {
    if (prepared_) return;
    prepared_ = true;
    functions_ = dis_.model().functions();
    const Model& m = dis_.model();
    std::string& out = data_;
    out = "{\"name\":";
    jsonString(out, options_.imageName);

    const std::vector<Unknown> unknowns = m.unknowns();
    const std::vector<MapRun> runs = runsOf(m, unknowns);
    std::vector<ImageSegment> segments = options_.segments;
    if (segments.empty()) {
        std::uint32_t size = 0;
        for (const MapRun& r : runs) size += r.size * r.count;
        segments.push_back({0, size, options_.base});
    }
    out += ",\"segs\":[";
    for (std::size_t i = 0; i < segments.size(); ++i) {
        out += i ? ",[" : "[";
        out += std::to_string(segments[i].offset);
        out += ',';
        out += std::to_string(segments[i].size);
        out += ',';
        out += std::to_string(segments[i].address);
        out += ']';
    }
    out += "],\"kinds\":[";
    for (std::size_t i = 0; i < kMapKinds; ++i) {
        out += i ? ",[" : "[";
        jsonString(out, kKinds[i].name);
        out += ',';
        jsonString(out, kKinds[i].colour);
        out += ']';
    }
    out += "],\"items\":[";
    for (std::size_t i = 0; i <= static_cast<std::size_t>(ItemKind::Data); ++i) {
        if (i) out += ',';
        jsonString(out, itemKindText(static_cast<ItemKind>(i)));
    }
    out += "],\"why\":[";
    for (std::size_t i = 0; i <= static_cast<std::size_t>(Evidence::Stored); ++i) {
        if (i) out += ',';
        jsonString(out, evidenceText(static_cast<Evidence>(i)));
    }
    // The band: a letter for the kind, a digit for the item's kind, the item's size and
    // the count of items, in base 36.
    out += "],\"runs\":\"";
    for (const MapRun& r : runs) {
        out += static_cast<char>('A' + static_cast<int>(r.kind));
        out += static_cast<char>('0' + static_cast<int>(r.item));
        base36(out, r.size);
        out += '.';
        base36(out, r.count);
    }
    out += "\"";

    // What code reads: a load of a literal written as a pointer (the load, the literal,
    // where it points), and a MOVA of a table's start (the MOVA, 0, the table).
    out += ",\"reads\":";
    std::vector<std::uint32_t> reads;
    {
        const std::vector<Reference>& refs = m.references();
        std::vector<std::pair<std::uint32_t, std::uint32_t>> pointers;  // literal -> target, by literal
        for (const Reference& r : refs) {
            if (r.kind == RefKind::Pointer) pointers.emplace_back(r.from, r.to);
        }
        for (const Reference& r : refs) {
            if (r.kind == RefKind::Load || r.kind == RefKind::SlotLoad) {
                const auto p = std::lower_bound(pointers.begin(), pointers.end(), std::make_pair(r.to, 0u));
                if (p != pointers.end() && p->first == r.to) reads.insert(reads.end(), {r.from, r.to, p->second});
            } else if (r.kind == RefKind::Mova && m.tableAt(r.to) != nullptr) {
                reads.insert(reads.end(), {r.from, 0u, r.to});
            }
        }
    }
    words(out, reads);
    // The tables: address, entries, width, pointers (1) or jump (0), the jump or call
    // that uses it (0 for none).
    out += ",\"tables\":";
    std::vector<std::uint32_t> tables;
    for (const Table& t : m.tables()) tables.insert(tables.end(), {t.address, t.count, t.width, t.pointers ? 1u : 0u, t.jump});
    words(out, tables);
    // The worklist: address, kind, what it is, the info-file line that settles it.
    out += ",\"unknowns\":[";
    bool first = true;
    for (const Unknown& u : unknowns) {
        const auto item = m.itemAt(u.address);
        const std::uint32_t size = item ? item->size : 0;
        const std::string range = dis::rangeText(u.address, u.address + size);
        std::string what, settle;
        std::string targets;
        for (const std::uint32_t t : u.targets) targets += (targets.empty() ? "" : ", ") + dis::addressText(t);
        if (u.kind == UnknownKind::MaybeCode) {
            what = "data that may be code (it would reach " + targets + ")";
            settle = dis::settleCode(range);
        } else if (u.kind == UnknownKind::OpenTable) {
            const Table* t = m.tableAt(u.address);
            const unsigned width = t ? t->width : 0;
            const std::optional<std::uint32_t> base = t && t->relative ? std::optional<std::uint32_t>(t->base) : std::nullopt;
            what = "a jump table of unknown length, entries of " + std::to_string(width) +
                   (base ? " from " + dis::addressText(*base) : std::string());
            settle = dis::settleTable(u.address, width, base);
        } else {
            what = "a number that may be a pointer to " + targets;
            settle = dis::settleMaybe(u.address, range, false);
        }
        out += first ? "[" : ",[";
        first = false;
        out += std::to_string(u.address) + "," + std::to_string(static_cast<int>(shadeOf(u.kind))) + ",";
        jsonString(out, what);
        out += ',';
        jsonString(out, settle);
        out += ']';
    }
    out += ']';
}

std::string MapPage::text() {
    prepare();
    std::string out = std::string(kMapHeader) + options_.imageName + " (korvane-dis --map; open it in a browser) -->\n";
    out += detail::kMapFingerprintLead;
    const std::size_t digitsAt = out.size();
    out += std::string(detail::kFingerprintDigits, '0') + " (korvane-dis replaces this page only while its text is unchanged) -->\n";
    out += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>";
    for (const char c : options_.imageName) {
        if (c == '<') out += "&lt;";
        else if (c == '&') out += "&amp;";
        else out += c;
    }
    out += " — map</title>\n<style>";
    out += dis::kMapStyle;
    out += "</style></head>\n<body>\n";
    out += dis::kMapBody;
    out += "<script id=\"model\" type=\"application/json\">";
    out += data_;
    // The functions: start, end, reason, name (none: its own label), file, line, then
    // the addresses of the calls to it.
    std::unordered_map<std::uint32_t, std::string> names;
    for (const DisassemblyOptions::Name& n : options_.names) names[n.address] = n.name;
    std::vector<std::string> files;
    out += ",\"fn\":[";
    bool first = true;
    for (const Function& f : functions_) {
        out += first ? "[" : ",[";
        first = false;
        const auto name = names.find(f.start);
        jsonString(out, name == names.end() ? std::string() : name->second);
        out += ',';
        int file = -1;
        std::size_t line = 0;
        if (const SourcePlace* p = placeOf(f.start)) {
            const auto at = std::find(files.begin(), files.end(), p->file);
            file = static_cast<int>(at - files.begin());
            if (at == files.end()) files.push_back(p->file);
            line = p->line;
        }
        std::vector<std::uint32_t> head{f.start, f.end - f.start, static_cast<std::uint32_t>(f.why),
                                        static_cast<std::uint32_t>(file + 1), static_cast<std::uint32_t>(line)};
        head.insert(head.end(), f.callers.begin(), f.callers.end());
        words(out, head);
        out += ']';
    }
    out += "],\"files\":[";
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i) out += ',';
        jsonString(out, files[i]);
    }
    out += "]}</script>\n<script>";
    out += dis::kMapScript;
    out += "</script>\n</body></html>\n";
    detail::seal(out, digitsAt);
    return out;
}

}  // namespace korvane
