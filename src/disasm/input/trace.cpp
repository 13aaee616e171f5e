// Execution traces: what an emulator saw run. A text trace lists executed addresses, one
// hexadecimal address or A-B range (B excluded) a line, or is qemu's -d in_asm log; a
// code/data log is one byte per address from a base, bit 0 executed, bit 1 read, bit 2
// written. Executed bytes become code, bytes only read data; bytes both executed and read
// are code, and reported.
#include <algorithm>
#include <cctype>

#include "korvane/disassemble.h"

namespace korvane {

namespace {

constexpr std::size_t kMostErrors = 20;

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

TraceRead readText(std::string_view text, const std::string& file, DisassemblyOptions& options) {
    TraceRead r;
    std::vector<AddressRange> executed;
    bool qemu = false;  // a qemu log: its other lines are passed over
    std::size_t lineNo = 0;
    while (!text.empty()) {
        const std::size_t nl = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, nl));
        text.remove_prefix(nl == std::string_view::npos ? text.size() : nl + 1);
        ++lineNo;
        if (line.empty() || line[0] == '#') continue;
        if (line.starts_with("IN:") || line.starts_with("----")) {
            qemu = true;
            continue;
        }
        // qemu: "0x06004000:  mov.l ..."; otherwise ADDR or A-B.
        const std::size_t colon = line.find(':');
        std::uint64_t a, b;
        if (colon != std::string_view::npos && line.starts_with("0x") && hexNumber(line.substr(0, colon), a)) {
            qemu = true;
            addRange(executed, static_cast<std::uint32_t>(a), a + 2);
            continue;
        }
        const std::size_t dash = line.find('-');
        if (dash == std::string_view::npos && hexNumber(line, a)) {
            addRange(executed, static_cast<std::uint32_t>(a), a + 2);
            continue;
        }
        if (dash != std::string_view::npos && hexNumber(trimmed(line.substr(0, dash)), a) &&
            hexNumber(trimmed(line.substr(dash + 1)), b) && b > a) {
            addRange(executed, static_cast<std::uint32_t>(a), b);
            continue;
        }
        if (qemu) continue;
        if (r.errors.size() < kMostErrors) {
            r.errors.push_back(file + ":" + std::to_string(lineNo) +
                               ": not an address, a range A-B or a line of qemu's -d in_asm log");
        }
    }
    joinRanges(executed);
    options.executed.insert(options.executed.end(), executed.begin(), executed.end());
    return r;
}

TraceRead readLog(std::span<const std::uint8_t> log, std::uint32_t base, DisassemblyOptions& options) {
    TraceRead r;
    std::vector<AddressRange> executed;
    for (std::size_t i = 0; i < log.size(); ++i) {
        const std::uint64_t a = std::uint64_t{base} + i;
        if (a > 0xFFFFFFFFull) break;
        const bool ran = log[i] & 1, read = (log[i] & 2) != 0;
        const auto at = static_cast<std::uint32_t>(a);
        if (ran) addRange(executed, at, a + 1);
        if (!ran && (log[i] & 6) != 0) addRange(options.touched, at, a + 1);
        if (ran && read) addRange(r.both, at, a + 1);
        if (read && !ran) {
            if (!options.data.empty() && options.data.back().end == a && options.data.back().width == DataWidth::Any) {
                options.data.back().end = a + 1;
            } else {
                DataRange d;
                d.begin = at;
                d.end = a + 1;
                options.data.push_back(d);
            }
        }
    }
    options.executed.insert(options.executed.end(), executed.begin(), executed.end());
    return r;
}

}  // namespace

TraceRead readTrace(std::span<const std::uint8_t> trace, const std::string& file, std::optional<std::uint32_t> logBase,
                    DisassemblyOptions& options) {
    if (logBase) return readLog(trace, *logBase, options);
    return readText({reinterpret_cast<const char*>(trace.data()), trace.size()}, file, options);
}

}  // namespace korvane
