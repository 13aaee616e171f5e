// The korvane-run command: runs one routine of an SH-2 image and prints how it stopped,
// its steps and cycles, the registers and the memory asked for. Status 0 when the
// routine returned (and, with --against, the second image agreed), 1 otherwise.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "files/names.h"
#include "driver/run_command.h"
#include "files/replace.h"
#include "korvane/dis_inputs.h"
#include "korvane/dis_sources.h"
#include "korvane/numbers.h"
#include "korvane/run.h"
#include "korvane/version.h"

namespace {

using korvane::run::Machine;
using korvane::run::Registers;
using korvane::run::Stop;
using korvane::run::StopKind;

constexpr std::uint64_t kLargestFile = 256u << 20;
// Without --ram (and without R15 set), the stack: 64 KiB below the first of these ends
// that neither image nor a --load covers.
constexpr std::uint32_t kStackSize = 0x10000;
constexpr std::uint32_t kStackEnds[] = {0x10000000u, 0x20000000u, 0xF0000000u};

// The standard output, and whether a write of it failed.
struct Console {
    bool failed = false;
    int error = 0;
    void out(std::string_view text) {
        if (failed || korvane::files::writeAll(STDOUT_FILENO, text)) return;
        failed = true;
        error = errno;
    }
};
int fail(const std::string& why) {
    korvane::files::writeAll(STDERR_FILENO, "korvane-run: " + why + "\n");
    return 1;
}

using korvane::runcmd::Compared;
using korvane::runcmd::hex;
using korvane::runcmd::kCompared;
using korvane::runcmd::kT;
using korvane::runcmd::Load;
using korvane::runcmd::number;
using korvane::runcmd::Ram;
using korvane::runcmd::Range;
using korvane::runcmd::rangeText;
using korvane::runcmd::refused;
using korvane::runcmd::Say;
using Options = korvane::runcmd::Parsed;

int fail(Say code, const korvane::runcmd::Blanks& blanks = {}) {
    return fail(korvane::runcmd::text(code, blanks));
}

// Names for the options and the trace: the labels of an info file and of korvane's label
// table, each address by the label at or before it.
class Names {
  public:
    // A name given again (a label table's after an info file's) moves to its new address.
    void add(std::uint32_t address, std::string name) {
        const auto [it, fresh] = addresses_.try_emplace(name, address);
        if (!fresh) {
            const auto old = names_.find(it->second);
            if (old != names_.end() && old->second == name) names_.erase(old);
            it->second = address;
        }
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
    // The option's text as an address, or why not ("--call: not an address or a label
    // of FILE: TEXT").
    std::string resolve(std::string_view option, const std::string& text, std::uint32_t& address) const {
        if (const auto a = this->address(text)) {
            address = *a;
            return "";
        }
        const std::string where = (from.empty() ? "" : " or a label of " + from) + (unread.empty() ? "" : " (" + unread + ")");
        return refused(option, text, text, korvane::runcmd::text(Say::NotNamed, {.opt = option, .value = text, .why = where}));
    }
    std::string from;    // the files the names came from
    std::string unread;  // a label table passed over, and why

  private:
    std::map<std::uint32_t, std::string> names_;
    std::map<std::string, std::uint32_t> addresses_;
};

// The label table of a listing into names. "" or why not.
std::string readLabels(const std::string& path, Names& names, korvane::files::Seen& seen) {
    std::vector<std::uint8_t> text;
    std::string why;
    if (!korvane::files::readAll(path, text, kLargestFile, true, seen, why)) return why;
    std::vector<korvane::run::Label> labels;
    why = korvane::run::labelTable(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), labels);
    if (!why.empty()) return path + ": " + why;
    for (auto& l : labels) names.add(l.address, std::move(l.name));
    names.from += (names.from.empty() ? "" : ", ") + path;
    return "";
}

// The names of an image: an info file's (when given), then the label table of the build
// (given, or the listing korvane wrote beside the image when it is at least as new as the
// image), which wins where both name a label: it holds the addresses of this build.
std::string namesOf(const std::string& image, const korvane::files::Seen& imageSeen, const std::string& info,
                    const std::string& labels, Names& names) {
    korvane::files::Seen seen;
    std::string why;
    if (!info.empty()) {
        std::vector<std::uint8_t> text;
        if (!korvane::files::readAll(info, text, kLargestFile, true, seen, why)) return why;
        korvane::DisassemblyOptions parsed;
        const auto errors =
            korvane::readInfo(std::string_view(reinterpret_cast<const char*>(text.data()), text.size()), info, parsed);
        if (!errors.empty()) return errors.front();
        for (const auto& n : parsed.names) names.add(n.address, n.name);
        names.from = info;
    }
    if (!labels.empty()) return readLabels(labels, names, seen);
    const std::string beside = korvane::baseName(image) + ".log";
    const korvane::files::Seen log = korvane::files::look(beside);
    if (!log.exists || beside == image) return "";
    if (log.mtime < imageSeen.mtime) {
        names.unread = beside + " is older than " + image + ": not read";
        return "";
    }
    Names table = names;
    if (!readLabels(beside, table, seen).empty()) {
        names.unread = beside + " holds no label table: not read";
        return "";
    }
    names = std::move(table);
    return "";
}

class Printer : public korvane::run::Tracer {
  public:
    Printer(const Names& names, Console& console) : names_(names), console_(console) {}
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
        console_.out(buffer_);
        buffer_.clear();
    }

  private:
    const Names& names_;
    Console& console_;
    std::string buffer_;
};

// An even address outside every region, for the return address: one in each 16 MiB of
// the address space is tried.
std::optional<std::uint32_t> freeAddress(const Machine& m) {
    for (std::uint32_t i = 0; i < 256; ++i) {
        const std::uint32_t a = 0xDEADBEEEu - i * 0x01000000u;
        if (!m.mapped(a)) return a;
    }
    return std::nullopt;
}

struct Run {
    std::unique_ptr<Machine> machine;
    Stop stop;
    std::vector<Range> images;  // where the images lie (their bytes are not compared)
    std::optional<Range> stack;  // the stack given without --ram
};

// What one run is: an image and its name, the routine, the stubs, where a stack with
// no --ram goes (where the first run put it, or nothing to choose).
struct Subject {
    const std::string& name;
    const std::vector<std::uint8_t>& image;
    std::uint32_t call;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> stubs;
    std::optional<Range> stack;
};

// Sets a machine up as the options say, with the image at its base, and runs the
// routine. "" or why not.
std::string runOne(const Options& o, const Subject& subject, korvane::run::Tracer* tracer, Run& run) {
    run.machine = std::make_unique<Machine>();
    Machine& m = *run.machine;
    const std::uint64_t imageEnd = std::uint64_t{*o.base} + subject.image.size();
    std::string why = m.map(*o.base, subject.image);
    if (!why.empty()) return subject.name + " at " + hex(*o.base, true) + ": " + why;
    run.images.push_back({*o.base, imageEnd});
    for (const Ram& r : o.ram) {
        // Checked before a byte is allocated; the memory's pages come as they are written.
        const std::string ram = "--ram " + rangeText(r.range.begin, r.range.end);
        if (r.range.begin < imageEnd && *o.base < r.range.end)
            return korvane::runcmd::text(Say::RamOverlaps, {.value = rangeText(*o.base, imageEnd), .name = subject.name,
                                                            .other = rangeText(r.range.begin, r.range.end)});
        why = m.mapZeroed(r.range.begin, r.range.end - r.range.begin, r.wait);
        if (!why.empty()) return ram + ": " + why;
    }
    for (const Load& l : o.loads) {
        std::vector<std::uint8_t> bytes;
        korvane::files::Seen seen;
        if (!korvane::files::readAll(l.file, bytes, kLargestFile, false, seen, why)) return why;
        if (bytes.empty()) continue;
        if (!m.poke(l.at, bytes)) {
            // Not mapped yet: the file is a region of its own.
            why = m.map(l.at, bytes);
            if (!why.empty()) return korvane::runcmd::text(Say::LoadRefused, {.name = l.file, .why = why});
            run.images.push_back({l.at, std::uint64_t{l.at} + bytes.size()});
        }
    }
    Registers& r = m.registers();
    if (!o.ram.empty()) {
        r.r[15] = static_cast<std::uint32_t>(o.ram.back().range.end);
    } else if (!o.set.contains("R15")) {
        // No RAM given: a stack of its own, never the address space's top (the on-chip
        // block) below R15 = 0.
        for (const std::uint32_t end : kStackEnds) {
            const Range stack{end - kStackSize, end};
            if (subject.stack && subject.stack->begin != stack.begin) continue;
            if (!m.mapZeroed(end - kStackSize, kStackSize).empty()) continue;
            run.stack = stack;
            break;
        }
        if (!run.stack)
            return korvane::runcmd::text(Say::NoStackRoom, {.name = subject.name});
        r.r[15] = static_cast<std::uint32_t>(run.stack->end);
    }
    for (const auto& [addr, value] : subject.stubs) m.stub(addr, value);
    m.trapsEnterVectors(o.enterTraps);
    for (const auto& [name, value] : o.set) *korvane::run::registerNamed(r, name) = value;
    // R15 = 0 (or inside the block): a push would wrap into the on-chip block and pass.
    if (r.r[15] - 4u >= 0xFFFFFE00u)
        return korvane::runcmd::text(Say::StackIntoBlock, {.value = hex(r.r[15], true), .other = hex(r.r[15] - 4u, true)});
    if (!o.set.contains("PR")) {
        const auto free = freeAddress(m);
        if (!free) return korvane::runcmd::text(Say::NoReturnAddress);
        r.pr = *free;
    }
    m.returnAt(r.pr);
    r.pc = subject.call;
    run.stop = m.run(o.maxSteps, tracer);
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

std::uint32_t valueOf(const Registers& r, unsigned i) {
    if (i == kT) return r.sr & 1;
    Registers copy = r;
    return *korvane::run::registerNamed(copy, kCompared[i]);
}

// What a comparison covers, for the line that says the runs agree.
std::string coverage(const Compared& c, std::size_t bytes) {
    std::string s;
    for (unsigned i = 0; i < std::size(kCompared); ++i) {
        if (i == 1 && c.movableR1) s += (s.empty() ? "" : ", ") + std::string("R1 (but for addresses in the images)");
        if (((c.registers >> i) & 1u) == 0) continue;
        // R8-R15 as one run.
        if (i > 8 && i <= 15 && ((c.registers >> (i - 1)) & 1u) != 0 && ((c.registers >> 8) & 0xFFu) == 0xFFu) {
            if (i == 15) s += "-R15";
            continue;
        }
        s += (s.empty() ? "" : ", ") + std::string(kCompared[i]);
    }
    if (c.written) s += (s.empty() ? "" : ", ") + std::to_string(bytes) + " bytes written";
    for (const Range& r : c.ranges)
        s += (s.empty() ? "" : ", ") + rangeText(r.begin, r.end);
    return s.empty() ? "how they stopped" : s;
}

// Where the two runs differ in what c covers, and how they stopped.
std::vector<std::string> compare(const Run& a, const Run& b, const Compared& c, std::size_t& bytes) {
    std::vector<std::string> diffs;
    const Registers& x = a.machine->registers();
    const Registers& y = b.machine->registers();
    if (a.stop.kind != b.stop.kind)
        diffs.push_back("stop: " + korvane::run::describe(a.stop) + " against " + korvane::run::describe(b.stop));
    for (unsigned i = 0; i < std::size(kCompared); ++i) {
        const bool movable = i == 1 && c.movableR1;
        if (((c.registers >> i) & 1u) == 0 && !movable) continue;
        const std::uint32_t u = valueOf(x, i), v = valueOf(y, i);
        if (u == v || (movable && inImages(a, u) && inImages(b, v))) continue;
        diffs.push_back(std::string(kCompared[i]) + "=" + (i == kT ? std::to_string(u) : hex(u)) + " against " +
                        (i == kT ? std::to_string(v) : hex(v)));
    }
    std::map<std::uint32_t, std::pair<int, int>> memory;  // -1: not written, or not mapped
    if (c.written) {
        for (const auto& [addr, v] : a.machine->written()) {
            if (!inImages(a, addr) && !inImages(b, addr)) memory[addr] = {v, -1};
        }
        for (const auto& [addr, v] : b.machine->written()) {
            if (inImages(a, addr) || inImages(b, addr)) continue;
            auto [it, fresh] = memory.try_emplace(addr, -1, v);
            if (!fresh) it->second.second = v;
        }
    }
    bytes = memory.size();
    for (const Range& r : c.ranges) {
        const auto size = static_cast<std::uint32_t>(r.end - r.begin);
        const auto u = a.machine->peek(r.begin, size), v = b.machine->peek(r.begin, size);
        if (!u || !v) {
            diffs.push_back(rangeText(r.begin, r.end) + ": not all of it is mapped");
            continue;
        }
        for (std::uint32_t i = 0; i < size; ++i) memory[r.begin + i] = {(*u)[i], (*v)[i]};
        bytes += size;
    }
    std::size_t shown = 0;
    for (const auto& [addr, v] : memory) {
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

// The end of a run: what it printed, and a message and status 1 when the output could
// not be written.
int finish(Console& console, int status) {
    if (!console.failed) return status;
    return fail(Say::CannotWriteOutput, {.why = std::strerror(console.error)});
}

int runCommand(int argc, char** argv) {
    Console console;
    Options o;
    if (const std::string why = korvane::runcmd::parse(argc, argv, o); !why.empty()) {
        fail(why);
        korvane::files::writeAll(STDERR_FILENO, korvane::runcmd::usage());
        return 2;
    }
    if (o.help || o.version) {
        console.out(o.help ? korvane::runcmd::usage() + "\n" + korvane::runcmd::help()
                           : "korvane-run " + std::string(korvane::version()) + "\n");
        return finish(console, 0);
    }
    std::vector<std::uint8_t> image;
    korvane::files::Seen seen;
    std::string why;
    if (!korvane::files::readAll(o.image, image, kLargestFile, false, seen, why)) return fail(why);
    if (image.empty()) return fail(Say::EmptyImage, {.name = o.image});
    for (const Range& d : o.dumps) {
        if (d.end - d.begin > 0xFFFFFFFFu)
            return fail(Say::DumpUnmapped, {.other = rangeText(d.begin, d.end)});
    }

    Names names;
    if (why = namesOf(o.image, seen, o.info, o.labels, names); !why.empty()) return fail(why);
    // Each image's addresses by its own names.
    auto subject = [&](const std::string& name, const std::vector<std::uint8_t>& bytes, const Names& n,
                       std::string_view option, const std::string& callText, std::optional<Subject>& into) {
        std::uint32_t call = 0;
        if (std::string w = n.resolve(option, callText, call); !w.empty()) return w;
        into.emplace(Subject{name, bytes, call, {}, std::nullopt});
        for (const auto& [text, value] : o.stubTexts) {
            std::uint32_t addr = 0;
            if (std::string w = n.resolve("--stub", text, addr); !w.empty()) return w;
            into->stubs.emplace_back(addr, value);
        }
        return std::string();
    };
    std::optional<Subject> firstSubject;
    if (why = subject(o.image, image, names, "--call", o.callText, firstSubject); !why.empty()) return fail(why);

    Run first;
    {
        Printer p(names, console);
        if (why = runOne(o, *firstSubject, o.trace ? &p : nullptr, first); !why.empty()) return fail(why);
        p.flush();
    }
    std::string text = summary(first);
    for (const Range& d : o.dumps) {
        const auto bytes = first.machine->peek(d.begin, static_cast<std::uint32_t>(d.end - d.begin));
        if (!bytes) return fail(Say::DumpUnmapped, {.other = rangeText(d.begin, d.end)});
        text += hex(d.begin, true) + ":";
        for (const std::uint8_t b : *bytes) {
            char buf[4];
            std::snprintf(buf, sizeof buf, " %02X", b);
            text += buf;
        }
        text += "\n";
    }
    bool ok = first.stop.kind == StopKind::Returned;
    std::string stopped = korvane::run::describe(first.stop);
    if (first.stop.kind == StopKind::Unmapped) stopped += ": no memory there (give it with --ram ADDR-ADDR)";
    if (o.against.empty()) {
        console.out(text);
        if (!ok) return finish(console, fail(Say::Stopped, {.why = stopped}));
        return finish(console, 0);
    }

    std::vector<std::uint8_t> other;
    korvane::files::Seen otherSeen;
    if (!korvane::files::readAll(o.against, other, kLargestFile, false, otherSeen, why)) return fail(why);
    if (other.empty()) return fail(Say::EmptyImage, {.name = o.against});
    // IMAGE2's own label table names its routines; without one, the first image's names.
    Names otherNames;
    if (why = namesOf(o.against, otherSeen, "", o.againstLabels, otherNames); !why.empty()) return fail(why);
    const Names& secondNames = otherNames.from.empty() ? names : otherNames;
    std::optional<Subject> secondSubject;
    if (why = subject(o.against, other, secondNames, o.atText.empty() ? "--call" : "--at",
                      o.atText.empty() ? o.callText : o.atText, secondSubject);
        !why.empty())
        return fail(why);
    secondSubject->stack = first.stack;
    Run second;
    if (why = runOne(o, *secondSubject, nullptr, second); !why.empty()) return fail(why);
    std::size_t bytes = 0;
    const std::vector<std::string> diffs = compare(first, second, o.compared, bytes);
    text += "against " + o.against + ": stop: " + korvane::run::describe(second.stop) +
            ", steps: " + std::to_string(second.machine->steps()) +
            ", cycles: " + std::to_string(second.machine->cycles()) + "\n";
    if (diffs.empty()) {
        text += "agree: " + coverage(o.compared, bytes) + "\n";
    } else {
        for (const std::string& d : diffs) text += "differ: " + d + "\n";
        ok = false;
    }
    console.out(text);
    if (!diffs.empty()) return finish(console, fail(Say::Differs, {.name = o.against}));
    if (!ok) return finish(console, fail(Say::Stopped, {.why = stopped}));
    return finish(console, 0);
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return runCommand(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail(Say::OutOfMemory);
    }
}
