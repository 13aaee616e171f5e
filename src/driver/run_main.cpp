// The korvane-run command: runs one routine of an SH-2 image and prints how it stopped,
// its steps and cycles, the registers and the memory asked for. Status 0 when the
// routine returned (and, with --against, the second image agreed), 1 otherwise.
#include <unistd.h>

#include <cstdio>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/replace.h"
#include "korvane/disassemble.h"
#include "korvane/run.h"
#include "korvane/version.h"

namespace {

using korvane::run::Machine;
using korvane::run::Registers;
using korvane::run::Stop;
using korvane::run::StopKind;

constexpr std::uint64_t kLargestFile = 256u << 20;
constexpr std::uint64_t kDefaultSteps = 100'000'000;

constexpr std::string_view kUsage =
    "usage: korvane-run IMAGE --base ADDR --call ADDR [--set REG=VALUE]... [--ram ADDR-ADDR[:WAIT]]...\n"
    "                   [--load FILE@ADDR]... [--max-steps N] [--trace] [--info FILE] [--dump ADDR-ADDR]...\n"
    "                   [--stub ADDR[=VALUE]]... [--traps-enter-vectors] [--against IMAGE2 [--at ADDR2]]\n";

void out(std::string_view text) {
    korvane::files::writeAll(STDOUT_FILENO, text);
}
int fail(const std::string& why) {
    korvane::files::writeAll(STDERR_FILENO, "korvane-run: " + why + "\n");
    return 1;
}

std::string hex(std::uint32_t v, bool dollar = false) {
    char buf[16];
    std::snprintf(buf, sizeof buf, dollar ? "$%08X" : "%08X", v);
    return buf;
}

std::optional<std::uint32_t> number(std::string_view text) {
    std::uint64_t v = 0;
    if (!korvane::parseAddress(text, v) || v > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

// Why an option's value is refused: a number with a leading 0 said so, else otherwise.
std::string refused(std::string_view option, std::string_view value, std::string_view number, std::string otherwise) {
    std::string why = korvane::leadingZeroText(std::string(option) + " " + std::string(value), number);
    return why.empty() ? otherwise : why;
}

using Range = korvane::AddressRange;
// A-B, B excluded and after A.
std::optional<Range> range(std::string_view text) {
    Range r;
    if (!korvane::parseRange(text, r) || r.end == r.begin) return std::nullopt;
    return r;
}

struct Ram {
    Range range;
    unsigned wait;
};
struct Load {
    std::string file;
    std::uint32_t at;
};

struct Options {
    std::string image;
    std::optional<std::uint32_t> base, call, at;
    std::string callText, atText;  // an address, or a label of the info file
    std::map<std::string, std::uint32_t> set;
    std::vector<Ram> ram;
    std::vector<Load> loads;
    std::uint64_t maxSteps = kDefaultSteps;
    bool trace = false, enterTraps = false;
    std::string info, against;
    std::vector<Range> dumps;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> stubs;
    std::vector<std::pair<std::string, std::uint32_t>> stubTexts;
};

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return u;
}

// The command line, or why it cannot be taken.
std::string parse(int argc, char** argv, Options& o) {
    std::vector<std::string_view> args(argv + 1, argv + argc);
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        auto value = [&](std::string_view& v) {
            if (i + 1 >= args.size()) return false;
            v = args[++i];
            return true;
        };
        std::string_view v;
        if (a == "--trace") {
            o.trace = true;
        } else if (a == "--traps-enter-vectors") {
            o.enterTraps = true;
        } else if (!a.starts_with("--")) {
            if (!o.image.empty()) return "more than one image: " + std::string(a);
            o.image = a;
        } else if (!value(v)) {
            return std::string(a) + " needs a value";
        } else if (a == "--base") {
            o.base = number(v);
            if (!o.base) return refused(a, v, v, "--base: not an address: " + std::string(v));
        } else if (a == "--call" || a == "--at") {
            (a == "--call" ? o.callText : o.atText) = v;
        } else if (a == "--set") {
            const std::size_t eq = v.find('=');
            const std::string reg = upper(v.substr(0, std::min(eq, v.size())));
            Registers probe;
            const auto n = eq == std::string_view::npos ? std::nullopt : number(v.substr(eq + 1));
            if (korvane::run::registerNamed(probe, reg) == nullptr || !n)
                return refused(a, v, v.substr(std::min(eq, v.size())), "--set: not REG=VALUE: " + std::string(v));
            o.set[reg] = *n;
        } else if (a == "--ram") {
            const std::size_t colon = v.find(':');
            const auto r = range(v.substr(0, colon));
            std::optional<std::uint32_t> wait = 0;
            if (colon != std::string_view::npos) wait = number(v.substr(colon + 1));
            if (!r || !wait || *wait > 255) return refused(a, v, v, "--ram: not ADDR-ADDR[:WAIT]: " + std::string(v));
            o.ram.push_back({*r, *wait});
        } else if (a == "--load") {
            const std::size_t at = v.rfind('@');
            const auto n = at == std::string_view::npos ? std::nullopt : number(v.substr(at + 1));
            if (!n || at == 0)
                return refused(a, v, v.substr(std::min(at, v.size())), "--load: not FILE@ADDR: " + std::string(v));
            o.loads.push_back({std::string(v.substr(0, at)), *n});
        } else if (a == "--max-steps") {
            std::uint64_t n = 0;
            if (!korvane::parseAddress(v, n) || n == 0) return refused(a, v, v, "--max-steps: not a count: " + std::string(v));
            o.maxSteps = n;
        } else if (a == "--info") {
            o.info = v;
        } else if (a == "--dump") {
            const auto r = range(v);
            if (!r) return refused(a, v, v, "--dump: not ADDR-ADDR: " + std::string(v));
            o.dumps.push_back(*r);
        } else if (a == "--stub") {
            const std::size_t eq = v.find('=');
            const auto val = eq == std::string_view::npos ? std::optional<std::uint32_t>{0} : number(v.substr(eq + 1));
            if (eq == 0 || !val) return refused(a, v, v, "--stub: not ADDR[=VALUE]: " + std::string(v));
            o.stubTexts.emplace_back(std::string(v.substr(0, std::min(eq, v.size()))), *val);
        } else if (a == "--against") {
            o.against = v;
        } else {
            return "unknown option " + std::string(a);
        }
    }
    if (o.image.empty()) return "no image given";
    if (!o.base) return "--base is needed";
    if (o.callText.empty()) return "--call is needed";
    if (!o.atText.empty() && o.against.empty()) return "--at needs --against";
    return "";
}

// Names for the trace: the labels of an info file, each address by the label at or
// before it.
class Names {
  public:
    void add(std::uint32_t address, std::string name) {
        addresses_[name] = address;
        names_[address] = std::move(name);
    }
    // An address as written ($hex, 0xhex, decimal) or a label's name.
    std::optional<std::uint32_t> address(const std::string& text) const {
        if (const auto n = number(text)) return n;
        const auto it = addresses_.find(text);
        if (it == addresses_.end()) return std::nullopt;
        return it->second;
    }
    std::string of(std::uint32_t address) const {
        auto it = names_.upper_bound(address);
        if (it == names_.begin()) return "";
        --it;
        if (it->first == address) return it->second;
        const std::uint32_t off = address - it->first;
        if (off > 0xFFFF) return "";
        char buf[16];
        std::snprintf(buf, sizeof buf, "+$%X", off);
        return it->second + buf;
    }

  private:
    std::map<std::uint32_t, std::string> names_;
    std::map<std::string, std::uint32_t> addresses_;
};

class Printer : public korvane::run::Tracer {
  public:
    explicit Printer(const Names& names) : names_(names) {}
    void executed(const korvane::run::Event& e) override {
        char head[64];
        std::snprintf(head, sizeof head, "%10llu  $%08X  ", static_cast<unsigned long long>(e.cycles), e.pc);
        std::string line = head;
        std::string name = names_.of(e.pc);
        name.resize(std::max<std::size_t>(name.size(), 20), ' ');
        line += name;
        line += ' ';
        line += e.stub ? "stub returns R0=" + hex(e.value, true) : korvane::instructionText(e.word, e.pc);
        line += '\n';
        buffer_ += line;
        if (buffer_.size() > 1 << 16) flush();
    }
    void flush() {
        out(buffer_);
        buffer_.clear();
    }

  private:
    const Names& names_;
    std::string buffer_;
};

// An even address outside every region, for the return address.
std::uint32_t freeAddress(const Machine& m) {
    for (std::uint32_t a = 0xDEADBEEEu;; a -= 0x01000000u) {
        if (!m.mapped(a)) return a;
    }
}

struct Run {
    std::unique_ptr<Machine> machine;
    Stop stop;
    std::vector<Range> images;  // where the images lie (their bytes are not compared)
};

// Sets a machine up as the options say, with image at its base, and runs the routine
// at call. "" or why not.
std::string runOne(const Options& o, const std::vector<std::uint8_t>& image, std::uint32_t call, const Names& names,
                   bool trace, Run& run) {
    run.machine = std::make_unique<Machine>();
    Machine& m = *run.machine;
    std::string why = m.map(*o.base, image);
    if (!why.empty()) return "the image at " + hex(*o.base, true) + ": " + why;
    run.images.push_back({*o.base, std::uint64_t{*o.base} + image.size()});
    for (const Ram& r : o.ram) {
        why = m.map(r.range.begin, std::vector<std::uint8_t>(r.range.end - r.range.begin, 0), r.wait);
        if (!why.empty()) return "--ram " + hex(r.range.begin, true) + ": " + why;
    }
    for (const Load& l : o.loads) {
        std::vector<std::uint8_t> bytes;
        korvane::files::Seen seen;
        if (!korvane::files::readAll(l.file, bytes, kLargestFile, false, seen, why)) return why;
        if (bytes.empty()) continue;
        if (!m.poke(l.at, bytes)) {
            // Not mapped yet: the file is a region of its own.
            why = m.map(l.at, bytes);
            if (!why.empty()) return "--load " + l.file + ": " + why;
            run.images.push_back({l.at, std::uint64_t{l.at} + bytes.size()});
        }
    }
    for (const auto& [addr, value] : o.stubs) m.stub(addr, value);
    m.trapsEnterVectors(o.enterTraps);
    Registers& r = m.registers();
    if (!o.ram.empty()) r.r[15] = static_cast<std::uint32_t>(o.ram.back().range.end);
    r.pr = freeAddress(m);
    for (const auto& [name, value] : o.set) *korvane::run::registerNamed(r, name) = value;
    m.returnAt(r.pr);
    r.pc = call;
    if (trace) {
        Printer p(names);
        run.stop = m.run(o.maxSteps, &p);
        p.flush();
    } else {
        run.stop = m.run(o.maxSteps);
    }
    return "";
}

std::string summary(const Run& run) {
    const Machine& m = *run.machine;
    const Registers& r = m.registers();
    std::string s = "stop: " + korvane::run::describe(run.stop) + "\n";
    s += "steps: " + std::to_string(m.steps()) + "\ncycles: " + std::to_string(m.cycles()) + "\n";
    for (unsigned i = 0; i < 16; ++i) {
        s += "R" + std::to_string(i) + "=" + hex(r.r[i]);
        s += i == 7 || i == 15 ? "\n" : " ";
    }
    s += "SR=" + hex(r.sr) + " GBR=" + hex(r.gbr) + " VBR=" + hex(r.vbr) + " MACH=" + hex(r.mach) +
         " MACL=" + hex(r.macl) + " PR=" + hex(r.pr) + " PC=" + hex(r.pc) + "\n";
    return s;
}

bool inImages(const Run& run, std::uint32_t a) {
    for (const Range& i : run.images) {
        if (a >= i.begin && a < i.end) return true;
    }
    return false;
}

// Where the two runs differ: R0-R15, T, MACH, MACL and the bytes either wrote outside
// the images.
std::vector<std::string> compare(const Run& a, const Run& b, std::size_t& bytes) {
    std::vector<std::string> diffs;
    const Registers& x = a.machine->registers();
    const Registers& y = b.machine->registers();
    if (a.stop.kind != b.stop.kind)
        diffs.push_back("stop: " + korvane::run::describe(a.stop) + " against " + korvane::run::describe(b.stop));
    for (unsigned i = 0; i < 16; ++i) {
        if (x.r[i] != y.r[i])
            diffs.push_back("R" + std::to_string(i) + "=" + hex(x.r[i]) + " against " + hex(y.r[i]));
    }
    if ((x.sr & 1) != (y.sr & 1))
        diffs.push_back("T=" + std::to_string(x.sr & 1) + " against " + std::to_string(y.sr & 1));
    if (x.mach != y.mach) diffs.push_back("MACH=" + hex(x.mach) + " against " + hex(y.mach));
    if (x.macl != y.macl) diffs.push_back("MACL=" + hex(x.macl) + " against " + hex(y.macl));
    std::map<std::uint32_t, std::pair<int, int>> written;  // -1: not written
    for (const auto& [addr, v] : a.machine->written()) {
        if (!inImages(a, addr) && !inImages(b, addr)) written[addr] = {v, -1};
    }
    for (const auto& [addr, v] : b.machine->written()) {
        if (inImages(a, addr) || inImages(b, addr)) continue;
        auto [it, fresh] = written.try_emplace(addr, -1, v);
        if (!fresh) it->second.second = v;
    }
    bytes = written.size();
    std::size_t shown = 0;
    for (const auto& [addr, v] : written) {
        if (v.first == v.second) continue;
        if (++shown > 64) {
            diffs.push_back("... and more bytes");
            break;
        }
        auto byte = [](int value) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "%02X", value);
            return value < 0 ? std::string("unwritten") : std::string(buf);
        };
        diffs.push_back(hex(addr, true) + "=" + byte(v.first) + " against " + byte(v.second));
    }
    return diffs;
}

int runCommand(int argc, char** argv) {
    if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        out(kUsage);
        return 0;
    }
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        out(std::string("korvane-run ") + KORVANE_VERSION + "\n");
        return 0;
    }
    Options o;
    if (const std::string why = parse(argc, argv, o); !why.empty()) {
        korvane::files::writeAll(STDERR_FILENO, kUsage);
        return fail(why);
    }
    std::vector<std::uint8_t> image;
    korvane::files::Seen seen;
    std::string why;
    if (!korvane::files::readAll(o.image, image, kLargestFile, false, seen, why)) return fail(why);
    if (image.empty()) return fail(o.image + " is empty");

    Names names;
    if (!o.info.empty()) {
        std::vector<std::uint8_t> text;
        if (!korvane::files::readAll(o.info, text, kLargestFile, true, seen, why)) return fail(why);
        korvane::DisassemblyOptions info;
        const auto errors =
            korvane::readInfo(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), o.info, info);
        if (!errors.empty()) return fail(errors.front());
        for (const auto& n : info.names) names.add(n.address, n.name);
    }

    auto notNamed = [&](std::string_view option, const std::string& text) {
        return fail(refused(option, text, text,
                            std::string(option) + ": not an address" +
                                (o.info.empty() ? "" : " or a label of " + o.info) + ": " + text));
    };
    o.call = names.address(o.callText);
    if (!o.call) return notNamed("--call", o.callText);
    if (!o.atText.empty()) {
        o.at = names.address(o.atText);
        if (!o.at) return notNamed("--at", o.atText);
    }
    for (const auto& [text, value] : o.stubTexts) {
        const auto addr = names.address(text);
        if (!addr) return notNamed("--stub", text);
        o.stubs.emplace_back(*addr, value);
    }

    Run first;
    if (why = runOne(o, image, *o.call, names, o.trace, first); !why.empty()) return fail(why);
    std::string text = summary(first);
    for (const Range& d : o.dumps) {
        const auto bytes = first.machine->peek(d.begin, static_cast<std::uint32_t>(d.end - d.begin));
        if (!bytes) return fail("--dump " + hex(d.begin, true) + ": not all of it is mapped");
        text += hex(d.begin, true) + ":";
        for (const std::uint8_t b : *bytes) {
            char buf[4];
            std::snprintf(buf, sizeof buf, " %02X", b);
            text += buf;
        }
        text += "\n";
    }
    bool ok = first.stop.kind == StopKind::Returned;
    if (!o.against.empty()) {
        std::vector<std::uint8_t> other;
        if (!korvane::files::readAll(o.against, other, kLargestFile, false, seen, why)) return fail(why);
        if (other.empty()) return fail(o.against + " is empty");
        Run second;
        if (why = runOne(o, other, o.at.value_or(*o.call), names, false, second); !why.empty()) return fail(why);
        std::size_t bytes = 0;
        const std::vector<std::string> diffs = compare(first, second, bytes);
        text += "against " + o.against + ": stop: " + korvane::run::describe(second.stop) +
                ", steps: " + std::to_string(second.machine->steps()) +
                ", cycles: " + std::to_string(second.machine->cycles()) + "\n";
        if (diffs.empty()) {
            text += "agree: R0-R15, T, MACH, MACL, " + std::to_string(bytes) + " bytes written\n";
        } else {
            for (const std::string& d : diffs) text += "differ: " + d + "\n";
            ok = false;
        }
        out(text);
        if (!ok && diffs.empty()) return fail("stopped: " + korvane::run::describe(first.stop));
        if (!diffs.empty()) return fail(o.against + " differs");
        return 0;
    }
    out(text);
    if (!ok) return fail("stopped: " + korvane::run::describe(first.stop));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return runCommand(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail("out of memory (a --ram or --load too large for this machine)");
    }
}
