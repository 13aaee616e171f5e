// The disassembler: analyses an image into a model (flow, switch, discover), then
// writes the model as sources (printer, parts).
#include "korvane/disassemble.h"

#include "disasm/input/input.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "disasm/analysis/analysis.h"
#include "disasm/model/model.h"
#include "disasm/print/printer.h"
#include "disasm/print/text.h"

namespace korvane {

using sh2::Arg;

struct Disassembly::State {
    Model::Data data;
    Model model{data};
    DisassemblyOptions options;
    std::vector<std::uint32_t> partStart;  // offset where each part begins
    std::vector<std::string> files;
    std::string error;  // why the options cannot be used; empty when they can
};

namespace {

// Text made in a std::string, as the operand writer wants it.
struct StringText {
    std::string text;
    void put(std::string_view s) { text += s; }
    void put(char c) { text += c; }
    void dec(std::int64_t v) { text += std::to_string(v); }
    void label(std::uint32_t address) {
        char buf[12];
        std::snprintf(buf, sizeof buf, "L%08X", address);
        text += buf;
    }
};

}  // namespace

namespace {

// Every byte of the image in one segment: the given ones, and base + offset between.
std::vector<ImageSegment> coverOf(std::size_t size, const DisassemblyOptions& options) {
    std::vector<ImageSegment> cover;
    std::uint64_t at = 0;
    auto plain = [&](std::uint64_t to) {
        if (to > at)
            cover.push_back({static_cast<std::uint32_t>(at), static_cast<std::uint32_t>(to - at),
                             static_cast<std::uint32_t>(options.base + at)});
    };
    for (const ImageSegment& s : options.segments) {
        plain(s.offset);
        cover.push_back(s);
        at = static_cast<std::uint64_t>(s.offset) + s.size;
    }
    plain(size);
    if (cover.empty()) cover.push_back({0, 0, options.base});
    return cover;
}

}  // namespace

std::vector<AddressRange> imageAddresses(std::size_t size, const DisassemblyOptions& options) {
    std::vector<AddressRange> out;
    for (const ImageSegment& s : coverOf(size, options)) out.push_back({s.address, std::uint64_t{s.address} + s.size});
    std::sort(out.begin(), out.end(), [](const AddressRange& a, const AddressRange& b) { return a.begin < b.begin; });
    return out;
}

namespace {

// The segment that holds [begin, end) whole, if one does.
bool holds(const std::vector<ImageSegment>& cover, std::uint64_t begin, std::uint64_t end) {
    for (const ImageSegment& s : cover) {
        if (begin >= s.address && end <= std::uint64_t{s.address} + s.size && begin < end) return true;
    }
    return false;
}

}  // namespace

std::string checkOptions(std::span<const std::uint8_t> image, const DisassemblyOptions& options) {
    const std::uint64_t base = options.base;
    const std::uint64_t end = base + image.size();
    if (end > 0x100000000ull) return "the image does not fit below 2^32 at base " + dis::hexText(base);
    std::uint64_t after = 0;
    for (const ImageSegment& s : options.segments) {
        if (s.offset < after || std::uint64_t{s.offset} + s.size > image.size() || s.size == 0 ||
            ((s.offset | s.address) & 1) || std::uint64_t{s.address} + s.size > 0x100000000ull)
            return "segment at offset " + dis::hexText(s.offset) +
                   " is empty, odd, overlaps another or passes the image's end or 2^32";
        after = std::uint64_t{s.offset} + s.size;
    }
    const std::vector<ImageSegment> cover = coverOf(image.size(), options);
    // Where code starts: an entry, or where another module calls or jumps (an extern
    // outside the image is that module's, or this one's way out).
    auto startsCode = [&](std::string_view what, std::uint32_t a, bool outside) -> std::string {
        const std::string at = std::string(what) + " " + dis::hexText(a);
        if (!holds(cover, a, std::uint64_t{a} + 1)) return outside ? "" : at + " is outside the image";
        if (a & 1) return at + " is odd: instructions start at even addresses";
        for (const DataRange& r : options.data) {
            if (a >= r.begin && a < r.end)
                return at + " lies in the data range " + dis::hexText(r.begin) + "-" + dis::hexText(r.end) +
                       ": code cannot start in data";
        }
        return {};
    };
    for (const std::uint32_t e : options.entries) {
        if (std::string why = startsCode("entry", e, false); !why.empty()) return why;
    }
    for (const DisassemblyOptions::Extern& x : options.externs) {
        if (std::string why = startsCode("extern", x.address, true); !why.empty()) return why;
    }
    for (const std::uint32_t v : options.vectors) {
        if (!holds(cover, v, std::uint64_t{v} + 4)) return "vector table " + dis::hexText(v) + " is outside the image";
    }
    std::vector<AddressRange> ranges(options.code);
    ranges.insert(ranges.end(), options.data.begin(), options.data.end());
    for (const AddressRange& r : ranges) {
        if (r.end < r.begin || (r.end > r.begin && !holds(cover, r.begin, r.end)) ||
            (r.end == r.begin && !holds(cover, r.begin, r.begin + 1) && r.begin != end))
            return "range " + dis::hexText(r.begin) + "-" + dis::hexText(r.end) + " is not inside the image";
    }
    if (options.imageName.empty()) return "the image has no name";
    for (const std::string* name : {&options.imageName, &options.sourceName}) {
        // A name stands in comments and in INCBIN "..." of the sources.
        for (const char c : *name) {
            if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == 0x7F || c == '/')
                return "the name cannot be written in a source: " + *name;
        }
    }
    for (const std::string& note : options.notes) {
        for (const char c : note) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "a note cannot be written in a source";
        }
    }
    return {};
}

Disassembly::Disassembly(std::span<const std::uint8_t> image, const DisassemblyOptions& options)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.options = options;
    s.error = checkOptions(image, options);
    if (!s.error.empty()) return;
    Model::Data& d = s.data;
    d.image = image;
    d.base = options.base;
    d.thirtyTwoX = options.thirtyTwoX;
    d.guess = options.guess;
    d.flags.assign(image.size());
    d.why.assign(image.size());
    d.more.assign(image.size());
    for (const DisassemblyOptions::Name& n : options.names) {
        d.names[n.address] = n.name;
        if (!n.comment.empty()) d.comments[n.address] += n.name + ": " + n.comment + "\n";
    }
    for (const DisassemblyOptions::Note& n : options.comments) d.comments[n.address] += n.text + "\n";
    d.segments = coverOf(image.size(), options);
    for (const ImageSegment& seg : d.segments) {
        if (seg.size != 0) d.flags[seg.offset] |= dis::F_SEGMENT;
    }
    dis::analyse(d, options);
    s.partStart = dis::planParts(d);
    s.files = dis::sourceNames(
        options.sourceName.empty() ? options.imageName + ".s" : options.sourceName, s.partStart.size());
}

const Model& Disassembly::model() const {
    return state_->model;
}

const std::string& Disassembly::error() const {
    return state_->error;
}

std::string instructionText(std::uint16_t word, std::uint32_t address) {
    const std::optional<sh2::Decoded> d = sh2::decode(word);
    if (!d) return {};
    StringText t;
    t.put(d->form->mnemonic);
    if (d->form->args[0] != Arg::None) {
        t.put(' ');
        dis::operands(t, *d, address);
    }
    return t.text;
}

std::string shellWord(std::string_view word) {
    const bool plain = !word.empty() && std::all_of(word.begin(), word.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("._-+/,=:@%", c) != nullptr;
    });
    if (plain) return std::string(word);
    std::string out = "'";
    for (const char c : word) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

Disassembly::~Disassembly() = default;

const std::vector<std::string>& Disassembly::files() const {
    return state_->files;
}

bool Disassembly::write(SourceOutput& out) const {
    const State& s = *state_;
    return s.error.empty() && dis::Printer(s.data, s.options, s.files).write(out, s.partStart);
}

std::size_t Disassembly::parts() const {
    return state_->error.empty() ? state_->partStart.size() : 0;
}

bool Disassembly::writePart(SourceOutput& out, std::size_t i, std::uint64_t& fingerprint) const {
    const State& s = *state_;
    return s.error.empty() && i < s.partStart.size() &&
           dis::Printer(s.data, s.options, s.files).writePart(out, s.partStart, i, fingerprint);
}

bool Disassembly::writeTop(SourceOutput& out, const std::vector<std::uint64_t>& fingerprints) const {
    const State& s = *state_;
    return s.error.empty() && s.partStart.size() > 1 && fingerprints.size() == s.partStart.size() &&
           dis::Printer(s.data, s.options, s.files).writeTop(out, fingerprints);
}

namespace {

// 06004000: C reads it as octal, this command line once read it as decimal, and its writer
// most often meant hex. It is taken as none of them.
bool leadingZero(std::string_view text) {
    return text.size() > 1 && text[0] == '0' && text[1] >= '0' && text[1] <= '9';
}

}  // namespace

bool parseAddress(std::string_view text, std::uint64_t& value) {
    return parseNumber(text, value, 0x100000000ull);
}

bool parseNumber(std::string_view text, std::uint64_t& value, std::uint64_t most) {
    unsigned base = 10;
    if (!text.empty() && text[0] == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    } else if (leadingZero(text)) {
        return false;
    }
    if (text.empty()) return false;
    value = 0;
    for (char c : text) {
        unsigned d;
        if (c >= '0' && c <= '9') {
            d = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            d = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            d = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return false;
        }
        if (value > (most - d) / base) return false;
        value = value * base + d;
    }
    return true;
}

bool parseRange(std::string_view text, AddressRange& range) {
    const std::size_t dash = text.find('-');
    if (dash == std::string_view::npos) return false;
    std::uint64_t begin, end;
    if (!parseAddress(text.substr(0, dash), begin) || !parseAddress(text.substr(dash + 1), end) ||
        begin > 0xFFFFFFFFull || end < begin)
        return false;
    range = {static_cast<std::uint32_t>(begin), end};
    return true;
}

std::string leadingZeroText(std::string_view where, std::string_view value) {
    auto isWord = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '$'; };
    for (std::size_t i = 0; i < value.size();) {
        if (!isWord(value[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < value.size() && isWord(value[end])) ++end;
        const std::string_view word = value.substr(i, end - i);
        i = end;
        if (!leadingZero(word) || word.size() > 24 ||
            !std::all_of(word.begin(), word.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
            continue;
        const std::size_t first = std::min(word.find_first_not_of('0'), word.size() - 1);
        const std::string digits(word.substr(first));
        const bool decimal = std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        return std::string(where) + ": a leading 0 is refused; write " + std::string(word) + " as $" + digits +
               " or 0x" + digits + " (hex)" + (decimal ? " or " + digits + " (decimal)" : std::string());
    }
    return {};
}

std::string infoOf(const Disassembly& disassembly, const DisassemblyOptions& options) {
    return infoText(disassembly.model(), options);
}

}  // namespace korvane
