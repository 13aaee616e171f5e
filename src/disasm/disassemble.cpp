// The disassembler. One pass over the code paths marks, for every byte of the image,
// whether an instruction starts there, whether a label is needed there and whether a
// PC-relative load reads a literal there. The source is then made statement by
// statement from those marks: instructions in this assembler's own forms (labels for
// every branch and PC-relative target), data in the widths the code reads it with.
// A source holds at most 10,000 labels and 9,998 references, so a large image is split
// into parts, each assembled on its own and included by the top source.
#include "korvane/disassemble.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <optional>

#include "disasm/fingerprint.h"
#include "driver/names.h"
#include "isa/isa.h"

namespace korvane {

namespace {

using sh2::Arg;
using sh2::Form;
using sh2::Reach;

enum : std::uint8_t {
    F_CODE = 0x01,   // an instruction starts here
    F_LABEL = 0x02,  // a label is defined here
    F_LITW = 0x04,   // a 16-bit literal read by MOV.W @(disp,PC) starts here
    F_LITL = 0x08,   // a 32-bit literal read by MOV.L @(disp,PC) starts here
    F_SYM = 0x10,    // that 32-bit literal holds a labelled code address
    F_DATA = 0x20,   // forced data
    F_CONT = 0x40,   // the second byte of an instruction
    F_SLOT = 0x80,   // the instruction is in a delay slot
};

// A source may hold 10,000 labels and 9,998 references; a part keeps its own labels
// plus the references it makes below this.
constexpr std::size_t kPartBudget = 9990;

// Statements of data: at most this many values on one line.
constexpr std::size_t kValuesPerLine = 4;
// Runs of 0xFF at least this long become PAD; printable runs at least this long, strings.
constexpr std::size_t kPadRun = 32;
constexpr std::size_t kStringRun = 4;
constexpr std::size_t kStringMost = 256;

// What an instruction does to the flow, by form, worked out once from the mnemonics.
enum : std::uint8_t {
    C_DELAYED = 0x01,  // has a delay slot
    C_ENDS = 0x02,     // the path ends after it (and its slot)
    C_THROUGH = 0x04,  // JSR @Rm, JMP @Rm: may go where a literal pool says
    C_MOVA = 0x08,     // MOVA: its target is named, not read as a literal
    C_HAZARD = 0x10,   // illegal or unpredictable in a delay slot
};

const std::vector<std::uint8_t>& controlOfForms() {
    static const std::vector<std::uint8_t> control = [] {
        std::vector<std::uint8_t> c;
        for (const Form& f : sh2::forms()) {
            const std::string_view m = f.mnemonic;
            std::uint8_t bits = 0;
            if (m == "BRA" || m == "BSR" || m == "BRAF" || m == "BSRF" || m == "JMP" ||
                m == "JSR" || m == "RTS" || m == "RTE" || m == "BT/S" || m == "BF/S")
                bits |= C_DELAYED;
            if (m == "BRA" || m == "BRAF" || m == "JMP" || m == "RTS" || m == "RTE") bits |= C_ENDS;
            if ((m == "JSR" || m == "JMP") && f.args[0] == Arg::AtRm) bits |= C_THROUGH;
            if (m == "MOVA") bits |= C_MOVA;
            if (f.group == sh2::Group::Branch || m == "RTE" || m == "TRAPA" ||
                f.reach == Reach::PcWord || f.reach == Reach::PcLong)
                bits |= C_HAZARD;
            c.push_back(bits);
        }
        return c;
    }();
    return control;
}

std::uint8_t control(const Form& f) {
    return controlOfForms()[static_cast<std::size_t>(&f - sh2::forms().data())];
}

// Two hexadecimal digits of every byte.
constexpr std::array<char, 512> kHexPairs = [] {
    std::array<char, 512> t{};
    constexpr char digits[] = "0123456789ABCDEF";
    for (int i = 0; i < 256; ++i) {
        t[static_cast<std::size_t>(2 * i)] = digits[i >> 4];
        t[static_cast<std::size_t>(2 * i + 1)] = digits[i & 15];
    }
    return t;
}();

using sh2::targetOf;

constexpr char kHex[] = "0123456789ABCDEF";

// Text made in a fixed buffer and handed to the output in large blocks, with the
// fingerprint of everything written but its own digits.
class Text {
  public:
    explicit Text(SourceOutput& out) : out_(out), buf_(new char[kCapacity]) {}
    bool flush() {
        if (len_ != 0) hand(std::string_view(buf_.get(), len_));
        len_ = 0;
        return ok_;
    }
    void put(std::string_view s) {
        if (len_ + s.size() > kCapacity) flush();
        if (s.size() > kCapacity) {  // longer than the buffer: straight through
            hand(s);
            return;
        }
        std::memcpy(buf_.get() + len_, s.data(), s.size());
        len_ += s.size();
    }
    void put(char c) {
        if (len_ == kCapacity) flush();
        buf_[len_++] = c;
    }
    // Ends a line; a full block goes to the output.
    void endLine() {
        put('\n');
        if (len_ >= kBlock) flush();
    }
    void hex(std::uint32_t v, int digits) {
        char out[8];
        for (int i = digits - 1; i >= 0; --i, v >>= 4) out[i] = kHex[v & 15];
        put(std::string_view(out, static_cast<std::size_t>(digits)));
    }
    void hexBytes(const std::uint8_t* p, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) put(std::string_view(&kHexPairs[2u * p[i]], 2));
    }
    void hexTrim(std::uint32_t v) {  // without leading zeros
        int digits = 1;
        while (digits < 8 && (v >> (4 * digits)) != 0) ++digits;
        hex(v, digits);
    }
    void dec(std::int64_t v) {
        char out[24];
        char* p = out + sizeof out;
        const bool negative = v < 0;
        std::uint64_t u =
            negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
        do {
            *--p = static_cast<char>('0' + u % 10);
            u /= 10;
        } while (u != 0);
        if (negative) *--p = '-';
        put(std::string_view(p, static_cast<std::size_t>(out + sizeof out - p)));
    }
    void label(std::uint32_t address) {
        put('L');
        hex(address, 8);
    }
    // The fingerprint's line: its digits are filled in by finish().
    void fingerprintLine() {
        put(detail::kFingerprintLead);
        digitsAt_ = position();
        put(std::string_view("0000000000000000", detail::kFingerprintDigits));
        put(" (korvane-dis replaces this file only while its text is unchanged)\n");
    }
    // Writes what is left and the fingerprint's digits.
    bool finish() {
        if (!flush()) return false;
        char digits[detail::kFingerprintDigits];
        std::uint64_t v = fingerprint_.value();
        for (int i = static_cast<int>(detail::kFingerprintDigits) - 1; i >= 0; --i, v >>= 4)
            digits[i] = kHex[v & 15];
        return out_.patch(digitsAt_, std::string_view(digits, sizeof digits));
    }
    // Where the current line began, and blanks up to a column of it.
    std::size_t mark() const { return len_; }
    void column(std::size_t lineStart, std::size_t at) {
        static constexpr char kBlanks[] = "                                        ";
        const std::size_t len = len_ >= lineStart ? len_ - lineStart : at;
        put(std::string_view(kBlanks, len < at && at - len < sizeof kBlanks ? at - len : 1));
    }

  private:
    std::uint64_t position() const { return written_ + len_; }
    // Hands a block to the output, adding all but the fingerprint's digits to it.
    void hand(std::string_view block) {
        ok_ = ok_ && out_.write(block);
        const std::uint64_t at = written_;
        written_ += block.size();
        const std::uint64_t skipEnd = digitsAt_ + detail::kFingerprintDigits;
        if (digitsAt_ == kNone || skipEnd <= at || digitsAt_ >= written_) {
            fingerprint_.add(block);
            return;
        }
        const std::size_t from = digitsAt_ > at ? static_cast<std::size_t>(digitsAt_ - at) : 0;
        const std::size_t to = static_cast<std::size_t>(std::min<std::uint64_t>(skipEnd, written_) - at);
        fingerprint_.add(block.substr(0, from));
        fingerprint_.add(block.substr(to));
    }
    static constexpr std::size_t kBlock = 1 << 16;
    static constexpr std::size_t kCapacity = 1 << 17;
    static constexpr std::uint64_t kNone = ~std::uint64_t{0};
    SourceOutput& out_;
    std::unique_ptr<char[]> buf_;
    std::size_t len_ = 0;
    std::uint64_t written_ = 0;
    std::uint64_t digitsAt_ = kNone;
    detail::Fingerprint fingerprint_;
    bool ok_ = true;
};

template <typename Out>
void operand(Out& t, Arg arg, const sh2::Decoded& d, std::uint32_t pc) {
    const sh2::Fields& x = d.fields;
    const unsigned disp = static_cast<unsigned>(x.d) * d.form->scale;
    switch (arg) {
        case Arg::None:
            break;
        case Arg::Rn:
            t.put('R');
            t.dec(x.n);
            break;
        case Arg::Rm:
            t.put('R');
            t.dec(x.m);
            break;
        case Arg::R0:
            t.put("R0");
            break;
        case Arg::AtRn:
            t.put("@R");
            t.dec(x.n);
            break;
        case Arg::AtRm:
            t.put("@R");
            t.dec(x.m);
            break;
        case Arg::AtMinusRn:
            t.put("@-R");
            t.dec(x.n);
            break;
        case Arg::AtRmPlus:
            t.put("@R");
            t.dec(x.m);
            t.put('+');
            break;
        case Arg::AtRnPlus:
            t.put("@R");
            t.dec(x.n);
            t.put('+');
            break;
        case Arg::AtR0Rn:
            t.put("@(R0,R");
            t.dec(x.n);
            t.put(')');
            break;
        case Arg::AtR0Rm:
            t.put("@(R0,R");
            t.dec(x.m);
            t.put(')');
            break;
        case Arg::AtDispRn:
        case Arg::AtDispRm:
            t.put("@(");
            t.dec(disp);
            t.put(",R");
            t.dec(arg == Arg::AtDispRn ? x.n : x.m);
            t.put(')');
            break;
        case Arg::AtDispGbr:
            t.put("@(");
            t.dec(disp);
            t.put(",GBR)");
            break;
        case Arg::AtDispPc:
            t.put("@(");
            t.label(targetOf(*d.form, x, pc));
            t.put(",PC)");
            break;
        case Arg::AtR0Gbr:
            t.put("@(R0,GBR)");
            break;
        case Arg::Imm:
            t.put('#');
            t.dec(x.d);
            break;
        case Arg::SImm:
            t.put('#');
            t.dec(static_cast<std::int8_t>(x.d));
            break;
        case Arg::Target:
            t.label(targetOf(*d.form, x, pc));
            break;
        case Arg::SR:
            t.put("SR");
            break;
        case Arg::GBR:
            t.put("GBR");
            break;
        case Arg::VBR:
            t.put("VBR");
            break;
        case Arg::MACH:
            t.put("MACH");
            break;
        case Arg::MACL:
            t.put("MACL");
            break;
        case Arg::PR:
            t.put("PR");
            break;
    }
}

// "first,second" or "first" (nothing for an instruction without operands).
template <typename Out>
void operands(Out& t, const sh2::Decoded& d, std::uint32_t pc) {
    operand(t, d.form->args[0], d, pc);
    if (d.form->args[1] != Arg::None) {
        t.put(',');
        operand(t, d.form->args[1], d, pc);
    }
}


}  // namespace

struct Disassembly::State {
    std::span<const std::uint8_t> image;
    DisassemblyOptions options;
    std::vector<std::uint8_t> flags;
    std::vector<std::uint32_t> partStart;  // offset where each part begins
    std::vector<std::string> files;
    std::string error;  // why the options cannot be used; empty when they can

    std::uint32_t size() const { return static_cast<std::uint32_t>(image.size()); }
    std::uint32_t address(std::uint32_t off) const { return options.base + off; }
    bool inImage(std::uint32_t address, std::uint32_t& off) const {
        off = address - options.base;
        return off < size();
    }
    std::uint16_t word(std::uint32_t off) const {
        return static_cast<std::uint16_t>(image[off] << 8 | image[off + 1]);
    }
    std::uint32_t longAt(std::uint32_t off) const {
        return static_cast<std::uint32_t>(image[off]) << 24 | image[off + 1] << 16 |
               image[off + 2] << 8 | image[off + 3];
    }

    // ---- analysis ------------------------------------------------------------------

    // An instruction that can start at off: even address, two bytes, not forced data.
    std::optional<sh2::Decoded> decodable(std::uint32_t off) const {
        if (off + 1 >= size() || (address(off) & 1) != 0) return std::nullopt;
        if (((flags[off] | flags[off + 1]) & F_DATA) != 0) return std::nullopt;
        return sh2::decode(word(off));
    }

    // Marks an instruction as code, with the labels and literals its operand reaches.
    void markInstruction(std::uint32_t off, const sh2::Decoded& d) {
        flags[off] |= F_CODE;
        flags[off + 1] |= F_CONT;
        if (d.form->reach == Reach::None) return;
        // A target outside the image is labelled by each part that names it.
        std::uint32_t t;
        if (!inImage(targetOf(*d.form, d.fields, address(off)), t)) return;
        flags[t] |= F_LABEL;
        if (!(control(*d.form) & C_MOVA))
            flags[t] |= d.form->reach == Reach::PcWord ? F_LITW : F_LITL;
    }

    // JSR @Rn or JMP @Rn after MOV.L @(disp,PC),Rn, on a straight path that leaves Rn
    // as the load left it: the literal's address is code.
    void callThroughLiteral(std::uint32_t off, unsigned reg, std::vector<std::uint32_t>& work) {
        for (unsigned back = 1; back <= 8 && off >= 2 * back; ++back) {
            const std::uint32_t p = off - 2u * back;
            if ((flags[p] & F_CODE) == 0) break;
            const std::optional<sh2::Decoded> d = sh2::decode(word(p));
            if (!d || (control(*d->form) & C_DELAYED)) break;  // another path joins or leaves
            if (!(sh2::writtenRegisters(*d->form, d->fields) & (1u << reg))) continue;
            if (d->form->reach != Reach::PcLong || d->form->args[0] != Arg::AtDispPc ||
                d->form->args[1] != Arg::Rn)
                break;
            std::uint32_t lit, to;
            if (inImage(targetOf(*d->form, d->fields, address(p)), lit) && lit + 3 < size() &&
                inImage(longAt(lit), to)) {
                work.push_back(to);
            }
            break;
        }
    }

    void follow(std::uint32_t start, std::vector<std::uint32_t>& work) {
        for (std::uint32_t off = start;;) {
            if (off >= size() || (flags[off] & F_CODE) != 0) return;
            const std::optional<sh2::Decoded> d = decodable(off);
            if (!d) return;
            markInstruction(off, *d);
            const Form& f = *d->form;
            const std::uint8_t c = control(f);
            if (f.reach == Reach::Branch8 || f.reach == Reach::Branch12) {
                std::uint32_t t;
                if (inImage(targetOf(f, d->fields, address(off)), t)) work.push_back(t);
            }
            if (c & C_THROUGH) callThroughLiteral(off, d->fields.m, work);
            if (!(c & C_DELAYED)) {
                off += 2;
                continue;
            }
            // The delay slot runs with the branch; its own flow is not followed.
            const std::uint32_t slot = off + 2;
            if (slot >= size()) return;
            if ((flags[slot] & F_CODE) == 0) {
                const std::optional<sh2::Decoded> s = decodable(slot);
                if (!s) return;
                markInstruction(slot, *s);
            }
            flags[slot] |= F_SLOT;
            if (c & C_ENDS) return;
            off += 4;
        }
    }

    void analyse() {
        const std::uint64_t end = static_cast<std::uint64_t>(options.base) + size();
        for (const AddressRange& r : options.data) {
            for (std::uint64_t a = std::max<std::uint64_t>(r.begin, options.base);
                 a < std::min(r.end, end); ++a) {
                flags[static_cast<std::uint32_t>(a - options.base)] |= F_DATA;
            }
        }
        std::vector<std::uint32_t> work;
        // Every entry is labelled, so that the reader (and an edit) can name it.
        auto entry = [&](std::uint32_t address) {
            std::uint32_t off;
            if (!inImage(address, off)) return;
            work.push_back(off);
            flags[off] |= F_LABEL;
        };
        if (options.entries.empty()) {
            entry(options.base);
        } else {
            for (std::uint32_t e : options.entries) entry(e);
        }
        // Forced code: a path from every word of the range.
        for (const AddressRange& r : options.code) {
            for (std::uint64_t a = std::max<std::uint64_t>(r.begin, options.base);
                 a < std::min(r.end, end); ++a) {
                if ((a & 1) == 0) work.push_back(static_cast<std::uint32_t>(a - options.base));
            }
        }
        // Each path is followed until it ends or meets code already found; the branches
        // and calls it meets are added to the work.
        while (!work.empty()) {
            const std::uint32_t off = work.back();
            work.pop_back();
            follow(off, work);
        }
        // A literal that holds the address of code names it.
        for (std::uint32_t off = 0; off + 3 < size(); ++off) {
            if ((flags[off] & (F_LITL | F_CODE | F_CONT)) != F_LITL) continue;
            std::uint32_t to;
            if (inImage(longAt(off), to) && (flags[to] & F_CODE) != 0) {
                flags[to] |= F_LABEL;
                flags[off] |= F_SYM;
            }
        }
    }

    // ---- statements ----------------------------------------------------------------

    enum class Kind { Instruction, Long, Word, Byte, String, Pad };
    struct Statement {
        Kind kind;
        std::uint32_t off;
        std::uint32_t size;
        bool refers;             // it names a label ...
        std::uint32_t target;    // ... at this address
        sh2::Decoded decoded{};  // an instruction's form and fields
    };

    bool boundary(std::uint32_t off) const { return (flags[off] & (F_CODE | F_LABEL)) != 0; }

    // The statement that starts at off.
    Statement statementAt(std::uint32_t off) const {
        const std::uint8_t f = flags[off];
        if (f & F_CODE) {
            const sh2::Decoded d = *sh2::decode(word(off));
            const Form* form = d.form;
            const bool refers = form->reach != Reach::None;
            return {Kind::Instruction,
                    off,
                    2,
                    refers,
                    refers ? targetOf(*form, d.fields, address(off)) : 0,
                    d};
        }
        // Data runs to the next instruction or label; each kind looks only as far ahead
        // as its own statement can reach.
        auto room = [&](std::uint32_t most) {
            std::uint32_t n = 1;
            while (n < most && off + n < size() && !boundary(off + n)) ++n;
            return n;
        };
        auto literal = [&](std::uint32_t o) { return (flags[o] & (F_LITL | F_LITW)) != 0; };
        if ((f & F_LITL) && room(4) >= 4) {
            const bool sym = (f & F_SYM) != 0;
            return {Kind::Long, off, 4, sym, sym ? longAt(off) : 0};
        }
        if ((f & F_LITW) && room(2) >= 2) return {Kind::Word, off, 2, false, 0};
        // A long run of 0xFF, where PAD can reach its end without passing 2^32.
        std::uint32_t n = 0;
        while (off + n < size() && image[off + n] == 0xFF && (n == 0 || !boundary(off + n)) &&
               !literal(off + n))
            ++n;
        if (n >= kPadRun) {
            const std::uint64_t top = 0xFFFFFFFFull - address(off);
            if (n > top) n = static_cast<std::uint32_t>(top);
            if (n >= kPadRun) return {Kind::Pad, off, n, false, 0};
        }
        // Printable text (no quote, which a string cannot hold).
        const std::uint32_t textRoom = room(kStringMost);
        n = 0;
        while (n < textRoom && image[off + n] >= 0x20 && image[off + n] < 0x7F &&
               image[off + n] != '"' && (n == 0 || !literal(off + n)))
            ++n;
        if (n >= kStringRun) return {Kind::String, off, n, false, 0};
        // Numbers in the widest unit the address allows.
        const std::uint32_t a = address(off);
        const std::uint32_t numbers = room(4 * kValuesPerLine);
        if ((a & 3) == 0 && numbers >= 4) {
            std::uint32_t len = 4;
            while (len + 4 <= numbers && !literal(off + len)) len += 4;
            return {Kind::Long, off, len, false, 0};
        }
        if ((a & 1) == 0 && numbers >= 2) return {Kind::Word, off, 2, false, 0};
        return {Kind::Byte, off, 1, false, 0};
    }

    // ---- parts -------------------------------------------------------------------

    void plan() {
        partStart.push_back(0);
        std::size_t used = 0;
        for (std::uint32_t off = 0; off < size();) {
            const Statement s = statementAt(off);
            const std::size_t cost = ((flags[off] & F_LABEL) ? 1 : 0) + (s.refers ? 1 : 0);
            if (used + cost > kPartBudget) {
                partStart.push_back(off);
                used = 0;
            }
            used += cost;
            off += s.size;
        }
        // Targets outside the image are defined in each part that uses them: they are
        // counted among its references already.
        const std::string top =
            options.sourceName.empty() ? options.imageName + ".s" : options.sourceName;
        // Parts are named after the top source: "game.bin.s" has "game.bin.part01.s".
        const bool dotS = top.size() > 2 && top.compare(top.size() - 2, 2, ".s") == 0;
        const std::string stem = dotS ? top.substr(0, top.size() - 2) : top;
        if (partStart.size() > 1) {
            for (std::size_t i = 0; i < partStart.size(); ++i) {
                char number[24];
                std::snprintf(number, sizeof number, "%02zu", i + 1);
                files.push_back(stem + ".part" + number + ".s");
            }
        }
        files.push_back(top);
    }

    // ---- text --------------------------------------------------------------------

    void mnemonic(Text& t, std::string_view m) const {
        t.put(m);
        t.put(std::string_view("        ", m.size() < 8 ? 8 - m.size() : 1));
    }

    // "; AAAAAAAA BYTES" at column 40.
    void comment(Text& t, std::size_t lineStart, const Statement& s) const {
        t.column(lineStart, 40);
        t.put("; ");
        t.hex(address(s.off), 8);
        t.put(' ');
        if (s.kind == Kind::Pad) {
            t.put("FF x ");
            t.dec(s.size);
            return;
        }
        t.hexBytes(&image[s.off], s.size);
    }

    void statementText(Text& t, const Statement& s) const {
        const std::size_t lineStart = t.mark();
        if (flags[s.off] & F_LABEL) {
            t.label(address(s.off));
            t.put(':');
        }
        t.column(lineStart, 12);
        const std::uint32_t pc = address(s.off);
        switch (s.kind) {
            case Kind::Instruction: {
                const sh2::Decoded& d = s.decoded;
                mnemonic(t, d.form->mnemonic);
                operands(t, d, pc);
                comment(t, lineStart, s);
                if ((flags[s.off] & F_SLOT) && (control(*d.form) & C_HAZARD))
                    t.put(" (illegal in a delay slot)");
                break;
            }
            case Kind::Long:
                mnemonic(t, "DC.L");
                for (std::uint32_t i = 0; i < s.size; i += 4) {
                    if (i) t.put(',');
                    if (s.refers) {
                        t.label(s.target);
                    } else {
                        t.put('$');
                        t.hexTrim(longAt(s.off + i));
                    }
                }
                comment(t, lineStart, s);
                break;
            case Kind::Word:
                mnemonic(t, "DC.W");
                t.put('$');
                t.hexTrim(word(s.off));
                comment(t, lineStart, s);
                if (sh2::decode(word(s.off)) && (flags[s.off] & (F_LITW | F_LITL)) == 0)
                    decodedMeaning(t, s);
                break;
            case Kind::Byte:
                mnemonic(t, "DC.B");
                t.put('$');
                t.hexTrim(image[s.off]);
                comment(t, lineStart, s);
                break;
            case Kind::String:
                mnemonic(t, "DC.B");
                t.put('"');
                t.put(std::string_view(reinterpret_cast<const char*>(&image[s.off]), s.size));
                t.put('"');
                comment(t, lineStart, s);
                break;
            case Kind::Pad:
                mnemonic(t, "PAD");
                t.put('$');
                t.hexTrim(pc + s.size);
                comment(t, lineStart, s);
                break;
        }
        t.endLine();
    }

    // After a data word that is an instruction: what it would be, for the reader.
    void decodedMeaning(Text& t, const Statement& s) const {
        const sh2::Decoded d = *sh2::decode(word(s.off));
        t.put(" (");
        t.put(d.form->mnemonic);
        if ((address(s.off) & 1) == 0 && d.form->reach == Reach::None &&
            d.form->args[0] != Arg::None) {
            t.put(' ');
            operands(t, d, address(s.off));
        }
        t.put(')');
    }

    void header(Text& t) const {
        t.put(kDisassemblyHeader);
        t.put(options.imageName);
        t.put('\n');
        t.fingerprintLine();
        t.put("; ");
        t.dec(size());
        t.put(" bytes at $");
        t.hex(options.base, 8);
        if (files.size() == 1) {
            t.put(". Rebuild in the directory of this file: korvane ");
            t.put(shellWord(files[0]));
            t.put("\n; the result is ");
            t.put(resultName());
            t.put(", the image byte for byte.\n");
            return;
        }
        t.put(" in ");
        t.dec(static_cast<std::int64_t>(files.size()));
        t.put(" sources. Rebuild in the directory of these files, in this order\n");
        t.put("; (INCBIN names are relative to the working directory):");
        for (std::size_t i = 0; i < files.size(); ++i) {
            t.put(i ? ", then\n;   korvane " : "\n;   korvane ");
            t.put(shellWord(files[i]));
        }
        t.put("\n; the result is ");
        t.put(resultName());
        t.put(", the image byte for byte. \"included file ");
        t.put(binOf(files[0]));
        t.put(" is empty\"\n; there means that a part was not assembled in that directory first.\n");
    }

    // The image the assembler makes of a source.
    static std::string binOf(const std::string& source) { return baseName(source) + ".bin"; }
    std::string resultName() const { return binOf(files.back()); }

    bool writePart(SourceOutput& out, std::size_t part, std::uint32_t begin, std::uint32_t end,
                   bool whole) const {
        const std::string& name = files[part];
        if (!out.open(name)) return false;
        Text t(out);
        header(t);
        t.put("            SETPC   $");
        t.hex(address(begin), 8);
        t.put('\n');
        std::vector<std::uint32_t> elsewhere;  // labels this part uses and defines at its end
        for (std::uint32_t off = begin; off < end;) {
            const Statement s = statementAt(off);
            statementText(t, s);
            if (s.refers) {
                std::uint32_t to;
                if (!inImage(s.target, to) || to < begin || to >= end)
                    elsewhere.push_back(s.target);
            }
            off += s.size;
        }
        std::sort(elsewhere.begin(), elsewhere.end());
        elsewhere.erase(std::unique(elsewhere.begin(), elsewhere.end()), elsewhere.end());
        if (!elsewhere.empty()) {
            t.put(whole ? "; Targets outside the image: labels only, nothing is written.\n"
                        : "; Labels defined in other parts or outside the image.\n");
        }
        for (std::uint32_t a : elsewhere) {
            t.put("            SETPC   $");
            t.hex(a, 8);
            t.endLine();
            t.label(a);
            t.put(':');
            t.endLine();
        }
        return t.finish() && out.close();
    }

    bool writeAll(SourceOutput& out) const {
        const std::size_t parts = partStart.size();
        if (parts == 1) return writePart(out, 0, 0, size(), true);
        for (std::size_t i = 0; i < parts; ++i) {
            const std::uint32_t end = i + 1 < parts ? partStart[i + 1] : size();
            if (!writePart(out, i, partStart[i], end, false)) return false;
        }
        const std::string& top = files.back();
        if (!out.open(top)) return false;
        Text t(out);
        header(t);
        for (std::size_t i = 0; i + 1 < files.size(); ++i) {
            t.put("            INCBIN  \"");
            t.put(binOf(files[i]));
            t.put("\"");
            t.endLine();
        }
        return t.finish() && out.close();
    }
};

namespace {

std::string hexAddress(std::uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "$%llX", static_cast<unsigned long long>(v));
    return buf;
}

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

std::string checkOptions(std::span<const std::uint8_t> image, const DisassemblyOptions& options) {
    const std::uint64_t base = options.base;
    const std::uint64_t end = base + image.size();
    if (end > 0x100000000ull) return "the image does not fit below 2^32 at base " + hexAddress(base);
    for (const std::uint32_t e : options.entries) {
        if (e < base || e >= end) return "entry " + hexAddress(e) + " is outside the image";
        if (e & 1) return "entry " + hexAddress(e) + " is odd: instructions start at even addresses";
    }
    for (const auto* ranges : {&options.code, &options.data}) {
        for (const AddressRange& r : *ranges) {
            if (r.end < r.begin || r.begin < base || r.end > end)
                return "range " + hexAddress(r.begin) + "-" + hexAddress(r.end) +
                       " is not inside the image";
        }
    }
    if (options.imageName.empty()) return "the image has no name";
    for (const std::string* name : {&options.imageName, &options.sourceName}) {
        // A name stands in comments and in INCBIN "..." of the sources.
        for (const char c : *name) {
            if (static_cast<unsigned char>(c) < 0x20 || c == '"' || c == 0x7F || c == '/')
                return "the name cannot be written in a source: " + *name;
        }
    }
    return {};
}

Disassembly::Disassembly(std::span<const std::uint8_t> image, const DisassemblyOptions& options)
    : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.image = image;
    s.options = options;
    s.error = checkOptions(image, options);
    if (!s.error.empty()) return;
    s.flags.assign(image.size(), 0);
    s.analyse();
    s.plan();
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
        operands(t, *d, address);
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
    return state_->error.empty() && state_->writeAll(out);
}

bool parseAddress(std::string_view text, std::uint64_t& value) {
    unsigned base = 10;
    if (!text.empty() && text[0] == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
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
        value = value * base + d;
        if (value > 0x100000000ull) return false;
    }
    return true;
}

}  // namespace korvane
