// The annotations korvane-dis writes in a statement's comment and --check reads back:
// each kind has one function that writes it and one that reads it, and nothing else in
// the toolkit spells them.
//
//   address     "; AAAAAAAA BYTES" at the comment column: where the statement stood
//   relative    " -> TARGET (from BASE)": a table entry's target less its base
//   offset      " -> TARGET (from BASE for BRAF)" (or BSRF): an offset a branch adds
//   slot load   " (in a delay slot: MOV.L @(disp,PC),Rn reads X[ taken][, Y not taken];
//                depends on the branch)": what a load in a delay slot reads
//   constant    " ; const": a number that is not a pointer, whatever it equals
//   if code     " ; if code: BRA TARGET at +K, MOV.L reads TARGET at +K": data that may
//               be code, with what its words at K bytes in would reach
//   open table  " ; unknown length: entries of W from BASE give TARGET, TARGET": a
//               relative table no bound limits, with what its plausible entries reach
//   maybe       " ; maybe a pointer to TARGET[+K]": a long that may be a pointer (K bytes
//               into the item TARGET labels)
//   after       "; after the image: $AAAAAAAA-$BBBBBBBB read by $PPPPPPPP" (written by,
//               named by): a line of its own after the image's last statement, for each
//               of the lowest places after the image that the program uses, with the
//               instruction that reads or writes it (or the literal that names it;
//               "traced at": a code/data log saw it used)
//
// TARGET, BASE, X and Y are labels (or $ and eight digits where no label stands).
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <string_view>
#include <vector>

#include "disasm/grammar/grammar.h"
#include "korvane/analysis.h"

namespace korvane::dis::note {

inline constexpr std::string_view kArrow = " -> ";
inline constexpr std::string_view kFrom = " (from ";
inline constexpr std::string_view kForBraf = " for BRAF)";
inline constexpr std::string_view kForBsrf = " for BSRF)";
inline constexpr std::string_view kSlot = " (in a delay slot: ";
inline constexpr std::string_view kReads = " reads ";
inline constexpr std::string_view kTaken = " taken";
inline constexpr std::string_view kNotTaken = " not taken";
inline constexpr std::string_view kNowhere = " reads from where the branch goes";
inline constexpr std::string_view kSlotEnd = "; depends on the branch)";
inline constexpr std::string_view kConst = " ; const";
inline constexpr std::string_view kInside = " ; inside ";
inline constexpr std::string_view kIfCode = " ; if code: ";
inline constexpr std::string_view kOpenTable = " ; unknown length: entries of ";
inline constexpr std::string_view kGive = " give ";
inline constexpr std::string_view kMaybe = " ; maybe a pointer to ";
inline constexpr std::string_view kAfterImage = "; after the image: $";

// ---- reading ---------------------------------------------------------------------------

// A label (or $address) as it stands after a marker.
inline std::string_view nameAfter(std::string_view s, std::string_view marker) {
    const std::size_t at = s.find(marker);
    if (at == std::string_view::npos) return {};
    std::string_view rest = s.substr(at + marker.size());
    std::size_t n = 0;
    auto word = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '@' || c == '_';
    };
    while (n < rest.size() && word(rest[n])) ++n;
    return rest.substr(0, n);
}

// A decimal number at the start of s, taken off it; false when s starts with no digit.
inline bool takeDecimal(std::string_view& s, std::uint32_t& v) {
    std::size_t n = 0;
    v = 0;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') v = v * 10 + static_cast<std::uint32_t>(s[n++] - '0');
    s.remove_prefix(n);
    return n != 0;
}

// The address a comment (from its ';') says its statement stood at.
inline std::optional<std::uint32_t> addressOf(std::string_view comment) {
    std::uint32_t was;
    if (comment.size() < 11 || comment.substr(0, 2) != "; " || comment[10] != ' ' ||
        !hexNumber(comment.substr(2, 8), was))
        return std::nullopt;
    return was;
}
// How many bytes the address comment says its statement holds: its hexadecimal bytes,
// or the count of padding ("FF x N"); 0 when it says neither.
inline constexpr std::string_view kPadBytes = "FF x ";
inline std::uint32_t bytesOf(std::string_view comment) {
    if (comment.size() > 11 && comment.substr(11, kPadBytes.size()) == kPadBytes) {
        std::string_view count = comment.substr(11 + kPadBytes.size());
        std::uint32_t n;
        return takeDecimal(count, n) ? n : 0;
    }
    std::uint32_t n = 0;
    for (std::size_t i = 11; i < comment.size(); ++i) {
        const char c = comment[i];
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) break;
        ++n;
    }
    return n / 2;
}
// Whether a line's address comment is there at all (a label line has the address
// alone).
inline std::optional<std::uint32_t> addressAlone(std::string_view comment) {
    std::uint32_t was;
    if (comment.size() < 10 || comment.substr(0, 2) != "; " || !hexNumber(comment.substr(2, 8), was)) return std::nullopt;
    return was;
}

enum class User : std::uint8_t { Table, Braf, Bsrf };
struct Relative {
    std::string_view target, base;
    User user;
};
inline std::optional<Relative> readRelative(std::string_view comment) {
    const std::string_view target = nameAfter(comment, kArrow);
    if (target.empty()) return std::nullopt;
    const User user = comment.find(kForBraf) != std::string_view::npos   ? User::Braf
                      : comment.find(kForBsrf) != std::string_view::npos ? User::Bsrf
                                                                         : User::Table;
    return Relative{target, nameAfter(comment, kFrom), user};
}

// What a slot load's comment names: the first place it reads, and where it names two
// (taken, then not taken) the second.
struct SlotReads {
    std::string_view first, second;
    bool both = false;      // " X taken, Y not taken"
    bool notTaken = false;  // the comment says " not taken" (of the first, when alone)
};
inline std::optional<SlotReads> readSlotLoad(std::string_view comment) {
    if (comment.find(kSlot) == std::string_view::npos) return std::nullopt;
    SlotReads r;
    if (comment.find(kNowhere) != std::string_view::npos) return r;
    r.first = nameAfter(comment, kReads);
    r.both = comment.find(" taken, ") != std::string_view::npos;
    if (r.both) r.second = nameAfter(comment, " taken, ");
    r.notTaken = comment.find(kNotTaken) != std::string_view::npos;
    return r;
}

// A pointer into an item: the item's label and how far in.
struct Inside {
    std::string_view item;
    std::uint32_t offset;
};
inline std::optional<Inside> readInside(std::string_view comment) {
    const std::string_view item = nameAfter(comment, kInside);
    if (item.empty()) return std::nullopt;
    std::string_view rest = comment.substr(comment.find(kInside) + kInside.size() + item.size());
    std::uint32_t k;
    if (rest.substr(0, 1) != "+") return std::nullopt;
    rest.remove_prefix(1);
    if (!takeDecimal(rest, k)) return std::nullopt;
    return Inside{item, k};
}

// Data that may be code: each would-be reference, its mnemonic, target and place.
struct WouldBe {
    std::string_view mnemonic, target;
    std::uint32_t offset;
};
inline std::vector<WouldBe> readIfCode(std::string_view comment) {
    std::vector<WouldBe> out;
    const std::size_t at = comment.find(kIfCode);
    if (at == std::string_view::npos) return out;
    std::string_view rest = comment.substr(at + kIfCode.size());
    for (;;) {
        const std::size_t blank = rest.find(' ');
        if (blank == std::string_view::npos) break;
        WouldBe w{rest.substr(0, blank), {}, 0};
        rest.remove_prefix(blank);
        if (rest.substr(0, kReads.size()) == kReads) rest.remove_prefix(kReads.size() - 1);
        w.target = nameAfter(rest, " ");
        const std::size_t plus = rest.find(" at +");
        if (w.target.empty() || plus == std::string_view::npos) break;
        rest.remove_prefix(plus + 5);
        if (!takeDecimal(rest, w.offset)) break;
        out.push_back(w);
        if (rest.substr(0, 2) != ", ") break;
        rest.remove_prefix(2);
    }
    return out;
}

// A relative table of unknown length: its width, base and the plausible targets.
struct OpenTable {
    unsigned width = 0;
    std::string_view base;
    std::vector<std::string_view> targets;
};
inline std::optional<OpenTable> readOpenTable(std::string_view comment) {
    const std::size_t at = comment.find(kOpenTable);
    if (at == std::string_view::npos) return std::nullopt;
    OpenTable t;
    std::string_view rest = comment.substr(at + kOpenTable.size());
    if (rest.empty() || rest[0] < '1' || rest[0] > '4') return std::nullopt;
    t.width = static_cast<unsigned>(rest[0] - '0');
    t.base = nameAfter(rest, " from ");
    const std::size_t give = rest.find(kGive);
    if (t.base.empty() || give == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(give + kGive.size() - 1);
    while (!rest.empty() && rest[0] == ' ') {
        const std::string_view name = nameAfter(rest, " ");
        if (name.empty()) break;
        t.targets.push_back(name);
        rest.remove_prefix(1 + name.size());
        if (rest.substr(0, 1) == ",") rest.remove_prefix(1);
    }
    return t;
}

// What a number that may be a pointer names: a label, and how far into its item.
struct Maybe {
    std::string_view target;
    std::uint32_t offset = 0;
};
inline std::optional<Maybe> readMaybePointer(std::string_view comment) {
    Maybe m{nameAfter(comment, kMaybe)};
    if (m.target.empty()) return std::nullopt;
    std::string_view rest = comment.substr(comment.find(kMaybe) + kMaybe.size() + m.target.size());
    if (rest.substr(0, 1) == "+") {
        rest.remove_prefix(1);
        takeDecimal(rest, m.offset);
    }
    return m;
}

inline constexpr std::string_view kUses[] = {" read by $", " written by $", " named by $", " traced at $"};
inline std::optional<UsedAfter> readAfterImage(std::string_view line) {
    if (line.substr(0, kAfterImage.size()) != kAfterImage) return std::nullopt;
    line.remove_prefix(kAfterImage.size());
    UsedAfter a{};
    std::uint32_t to;
    if (line.size() < 18 || line[8] != '-' || line[9] != '$' || !hexNumber(line.substr(0, 8), a.address) ||
        !hexNumber(line.substr(10, 8), to) || to <= a.address)
        return std::nullopt;
    a.size = to - a.address;
    line.remove_prefix(18);
    for (std::size_t u = 0; u < std::size(kUses); ++u) {
        if (line.substr(0, kUses[u].size()) != kUses[u]) continue;
        if (!hexNumber(line.substr(kUses[u].size(), 8), a.by)) return std::nullopt;
        a.use = static_cast<AfterUse>(u);
        return a;
    }
    return std::nullopt;
}

inline bool isConstant(std::string_view comment) {
    return comment.find(kConst.substr(1)) != std::string_view::npos;
}

// ---- writing (Out has put; place writes a label or an address) --------------------------

template <typename Out>
void writeDecimal(Out& t, std::uint32_t v) {
    char digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    while (n > 0) t.put(digits[--n]);
}

// "; AAAAAAAA " into out (kAddressWidth characters); the bytes follow.
inline constexpr std::size_t kAddressWidth = 11;
inline void writeAddress(char* out, std::uint32_t address) {
    out[0] = ';';
    out[1] = ' ';
    for (int i = 9; i >= 2; --i, address >>= 4) out[i] = kHex[address & 15];
    out[10] = ' ';
}

// A top source's line for one part: "; part FINGERPRINT NAME" (recordedParts reads it).
template <typename Out>
void writePart(Out& t, std::uint64_t fingerprint, std::string_view name) {
    char digits[16];
    for (int i = 15; i >= 0; --i, fingerprint >>= 4) digits[i] = kHex[fingerprint & 15];
    t.put(kPartLead);
    t.put(std::string_view(digits, sizeof digits));
    t.put(' ');
    t.put(name);
    t.put('\n');
}

template <typename Out, typename Place, typename PlaceBase>
void writeRelative(Out& t, Place target, PlaceBase base, User user) {
    t.put(kArrow);
    target();
    t.put(kFrom);
    base();
    t.put(user == User::Table ? std::string_view(")") : user == User::Braf ? kForBraf : kForBsrf);
}

// what writes the load as it would read ("MOV.L @(disp,PC),R1"); place(address) writes
// where it reads, taken and notTaken (either may be unknown).
template <typename Out, typename What, typename Place>
void writeSlotLoad(Out& t, What what, Place place, std::optional<std::uint32_t> taken,
                   std::optional<std::uint32_t> notTaken) {
    t.put(kSlot);
    what();
    if (taken) {
        t.put(kReads);
        place(*taken);
        if (notTaken) t.put(kTaken);
    }
    if (notTaken) {
        t.put(taken ? std::string_view(", ") : kReads);
        place(*notTaken);
        t.put(kNotTaken);
    }
    if (!taken && !notTaken) t.put(kNowhere);
    t.put(kSlotEnd);
}

template <typename Out, typename Place>
void writeInside(Out& t, Place item, std::uint32_t offset) {
    t.put(kInside);
    item();
    t.put('+');
    writeDecimal(t, offset);
}

template <typename Out>
void writeConstant(Out& t) {
    t.put(kConst);
}

// refs: (mnemonic, target address, offset, is a load); place writes a target.
template <typename Out, typename Refs, typename Place>
void writeIfCode(Out& t, const Refs& refs, Place place) {
    t.put(kIfCode);
    bool first = true;
    for (const auto& [mnemonic, target, offset, load] : refs) {
        if (!first) t.put(", ");
        first = false;
        t.put(mnemonic);
        t.put(load ? kReads : std::string_view(" "));
        place(target);
        t.put(" at +");
        writeDecimal(t, offset);
    }
}

template <typename Out, typename PlaceBase, typename Targets, typename Place>
void writeOpenTable(Out& t, unsigned width, PlaceBase base, const Targets& targets, Place place) {
    t.put(kOpenTable);
    t.put(static_cast<char>('0' + width));
    t.put(" from ");
    base();
    t.put(kGive.substr(0, kGive.size() - 1));
    bool first = true;
    for (const std::uint32_t target : targets) {
        t.put(first ? " " : ", ");
        first = false;
        place(target);
    }
}

template <typename Out>
void writeAfterImage(Out& t, const UsedAfter& a) {
    t.put(kAfterImage);
    t.hex(a.address, 8);
    t.put("-$");
    t.hex(a.address + a.size, 8);
    t.put(kUses[static_cast<std::size_t>(a.use)]);
    t.hex(a.by, 8);
    t.put('\n');
}

template <typename Out, typename Place>
void writeMaybePointer(Out& t, Place target, std::uint32_t offset) {
    t.put(kMaybe);
    target();
    if (offset != 0) {
        t.put('+');
        writeDecimal(t, offset);
    }
}

}  // namespace korvane::dis::note
