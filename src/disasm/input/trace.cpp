// Execution traces: what an emulator saw run. A text trace lists executed addresses, one
// hexadecimal address or A-B range (B excluded) a line, or is qemu's -d in_asm log; a
// code/data log is one byte per address from a base, bit 0 executed, bit 1 read, bit 2
// written. Executed bytes become code, bytes only read data; bytes both executed and read
// are code, and reported.
//
// A trace is read as it comes, a piece at a time: it only adds ranges, and only those the
// image holds are kept (an emulator logs all of its memory), joined as they grow, so that
// a trace of any length takes memory bounded by the image's size.
#include <algorithm>
#include <cctype>

#include "disasm/grammar/grammar.h"
#include "korvane/dis_inputs.h"
#include "korvane/numbers.h"

namespace korvane {

namespace {

constexpr std::size_t kMostErrors = 20;
// A line longer than this is no address, range or line of qemu's log.
constexpr std::size_t kLongestLine = 4096;
// A code/data log's runs of bytes read or written after the image that are kept: the
// lowest ones, which an edit that grows the image reaches first.
constexpr std::size_t kMostTouched = 64;

// A hexadecimal number: $hex, 0xhex or bare hex digits.
bool hexNumber(std::string_view t, std::uint64_t& v) {
    if (!t.empty() && t[0] == '$') t.remove_prefix(1);
    else if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) t.remove_prefix(2);
    if (t.empty() || t.size() > 8) return false;
    v = 0;
    for (const char c : t) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        v = v * 16 + static_cast<std::uint64_t>(std::isdigit(static_cast<unsigned char>(c)) ? c - '0'
                                                                                           : (c | 0x20) - 'a' + 10);
    }
    return true;
}

std::string_view trimmed(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t' || t.back() == '\r')) t.remove_suffix(1);
    return t;
}

// Ranges in order, touching ones joined.
void addRange(std::vector<AddressRange>& out, std::uint32_t begin, std::uint64_t end) {
    if (!out.empty() && out.back().end == begin) {
        out.back().end = end;
    } else {
        out.push_back({begin, end});
    }
}

void joinRanges(std::vector<AddressRange>& r) {
    std::sort(r.begin(), r.end(), [](const AddressRange& a, const AddressRange& b) { return a.begin < b.begin; });
    std::vector<AddressRange> out;
    for (const AddressRange& x : r) {
        if (!out.empty() && x.begin <= out.back().end) {
            out.back().end = std::max(out.back().end, x.end);
        } else {
            out.push_back(x);
        }
    }
    r.swap(out);
}

}  // namespace

struct TraceReader::State {
    std::string file;
    std::optional<std::uint32_t> logBase;
    std::vector<AddressRange> image;  // the addresses the image holds, in order
    TraceRead read;
    std::vector<AddressRange> executed;
    std::size_t joined = 0;  // executed's size when last joined
    std::vector<DataRange> data;
    std::vector<AddressRange> touched;  // a log: bytes read or written after the image
    // A text trace: the line so far, whether it grew too long, its number, and whether
    // the trace is a qemu log (whose other lines are passed over).
    std::string line;
    bool overlong = false;
    std::size_t lineNo = 0;
    bool qemu = false;
    std::uint64_t logAt = 0;  // a log: the offset of the next byte

    // The parts of [begin, end) that the image holds, each given to inside; the rest
    // counted as passed over.
    template <typename Inside>
    void clip(std::uint64_t begin, std::uint64_t end, Inside&& inside) {
        std::uint64_t kept = 0;
        for (const AddressRange& r : image) {
            const std::uint64_t from = std::max<std::uint64_t>(begin, r.begin), to = std::min(end, r.end);
            if (from >= to) continue;
            inside(from, to);
            kept += to - from;
        }
        read.outside += end - begin - kept;
    }

    void ran(std::uint64_t begin, std::uint64_t end) {
        clip(begin, end, [&](std::uint64_t from, std::uint64_t to) {
            addRange(executed, static_cast<std::uint32_t>(from), to);
        });
        // Joined as it grows: joined, the ranges inside the image are at most half its size.
        if (executed.size() > 2 * joined + 1024) {
            joinRanges(executed);
            joined = executed.size();
        }
    }

    void textLine(std::string_view text) {
        ++lineNo;
        const std::string_view l = trimmed(text);
        if (l.empty() || l[0] == '#') return;
        if (l.starts_with("IN:") || l.starts_with("----")) {
            qemu = true;
            return;
        }
        // qemu: "0x06004000:  mov.l ..."; otherwise ADDR or A-B.
        const std::size_t colon = l.find(':');
        std::uint64_t a, b;
        if (!overlong && colon != std::string_view::npos && l.starts_with("0x") && hexNumber(l.substr(0, colon), a)) {
            qemu = true;
            return ran(a, a + 2);
        }
        const std::size_t dash = l.find('-');
        if (!overlong && dash == std::string_view::npos && hexNumber(l, a)) return ran(a, a + 2);
        if (!overlong && dash != std::string_view::npos && hexNumber(trimmed(l.substr(0, dash)), a) &&
            hexNumber(trimmed(l.substr(dash + 1)), b) && b > a)
            return ran(a, b);
        if (qemu) return;
        if (read.errors.size() < kMostErrors) {
            read.errors.push_back(file + ":" + std::to_string(lineNo) + ": " + dis::excerpt(l) +
                                  ": not an address, a range A-B or a line of qemu's -d in_asm log");
        }
    }

    void text(std::span<const std::uint8_t> bytes) {
        std::string_view rest(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        while (!rest.empty()) {
            const std::size_t nl = rest.find('\n');
            const std::string_view piece = rest.substr(0, nl);
            if (line.size() + piece.size() > kLongestLine) {
                overlong = true;
                if (line.size() < kLongestLine) line.append(piece.substr(0, kLongestLine - line.size()));
            } else {
                line.append(piece);
            }
            if (nl == std::string_view::npos) return;
            rest.remove_prefix(nl + 1);
            textLine(line);
            line.clear();
            overlong = false;
        }
    }

    void log(std::span<const std::uint8_t> bytes) {
        const std::uint64_t first = std::uint64_t{*logBase} + logAt;
        logAt += bytes.size();
        // Memory the program uses after the image: what an edit that grows it runs over.
        std::uint64_t after = 0;
        for (const AddressRange& r : image) after = std::max(after, r.end);
        for (std::uint64_t a = std::max(first, after); a < first + bytes.size() && a <= 0xFFFFFFFFull; ++a) {
            const std::uint8_t b = bytes[static_cast<std::size_t>(a - first)];
            if ((b & 1) != 0 || (b & 6) == 0) continue;
            if (!touched.empty() && touched.back().end == a) {
                touched.back().end = a + 1;
            } else if (touched.size() < kMostTouched) {
                touched.push_back({static_cast<std::uint32_t>(a), a + 1});
            }
        }
        clip(first, first + bytes.size(), [&](std::uint64_t from, std::uint64_t to) {
            for (std::uint64_t a = from; a < to; ++a) {
                const std::uint8_t b = bytes[static_cast<std::size_t>(a - first)];
                const bool run = b & 1, seen = (b & 2) != 0;
                const auto at = static_cast<std::uint32_t>(a);
                if (run) addRange(executed, at, a + 1);
                if (run && seen) addRange(read.both, at, a + 1);
                if (seen && !run) {
                    if (!data.empty() && data.back().end == a) {
                        data.back().end = a + 1;
                    } else {
                        DataRange d;
                        d.begin = at;
                        d.end = a + 1;
                        data.push_back(d);
                    }
                }
            }
        });
    }
};

TraceReader::TraceReader(std::string file, std::optional<std::uint32_t> logBase, std::uint64_t imageSize,
                         const DisassemblyOptions& options)
    : s_(std::make_unique<State>()) {
    s_->file = std::move(file);
    s_->logBase = logBase;
    s_->image = imageAddresses(static_cast<std::size_t>(imageSize), options);
}

TraceReader::~TraceReader() = default;

void TraceReader::add(std::span<const std::uint8_t> bytes) {
    if (s_->logBase) {
        s_->log(bytes);
    } else {
        s_->text(bytes);
    }
}

TraceRead TraceReader::finish(DisassemblyOptions& options) {
    State& s = *s_;
    if (!s.logBase && !s.line.empty()) {
        s.textLine(s.line);
        s.line.clear();
    }
    joinRanges(s.executed);
    options.executed.insert(options.executed.end(), s.executed.begin(), s.executed.end());
    options.data.insert(options.data.end(), s.data.begin(), s.data.end());
    options.touched.insert(options.touched.end(), s.touched.begin(), s.touched.end());
    s.executed.clear();
    s.data.clear();
    return std::move(s.read);
}

TraceRead readTrace(std::span<const std::uint8_t> trace, const std::string& file, std::optional<std::uint32_t> logBase,
                    std::uint64_t imageSize, DisassemblyOptions& options) {
    TraceReader reader(file, logBase, imageSize, options);
    reader.add(trace);
    return reader.finish(options);
}

}  // namespace korvane
