// korvane-run's option table and message catalogue, and the parser, usage, help and
// manual page made from them.
#include "driver/run_command.h"

#include <algorithm>
#include <cstdio>

#include "korvane/run.h"
#include "korvane/version.h"

namespace korvane::runcmd {

namespace {

constexpr SayTemplate kCatalogue[] = {
    {Say::UnknownOption, 2, "unknown option {opt}"},
    {Say::GivenTwice, 2, "{opt} was given twice; it is taken once"},
    {Say::TakesNoValue, 2, "{opt} takes no value"},
    {Say::NeedsValue, 2, "{opt} needs {value}"},
    {Say::NoImage, 2, "no image given"},
    {Say::OneImage, 2, "more than one image: {name}"},
    {Say::NeedsBase, 2, "--base is needed"},
    {Say::NeedsCall, 2, "--call is needed"},
    {Say::NeedsAgainst, 2, "{opt} needs --against"},
    {Say::NotAddress, 2, "{opt}: not an address: {value}"},
    {Say::NotSet, 2, "--set: not REG=VALUE: {value}"},
    {Say::NotRam, 2, "--ram: not ADDR-ADDR[:WAIT]: {value}"},
    {Say::NotLoad, 2, "--load: not FILE@ADDR: {value}"},
    {Say::NotCount, 2, "--max-steps: not a count from 1 to 2^64-1 ($hex, 0xhex or decimal): {value}"},
    {Say::NotDump, 2, "--dump: not ADDR-ADDR: {value}"},
    {Say::NotStub, 2, "--stub: not ADDR[=VALUE]: {value}"},
    {Say::NotCompared, 2, "--compare: {why}"},
    {Say::EmptyImage, 1, "{name} is empty"},
    {Say::DumpUnmapped, 1, "--dump {other}: not all of it is mapped"},
    {Say::NotNamed, 1, "{opt}: not an address{why}: {value}"},
    {Say::RamOverlaps, 1, "--ram {other} overlaps {name} at {value}"},
    {Say::LoadRefused, 1, "--load {name}: {why}"},
    {Say::NoStackRoom, 1, "no room for the stack beside {name}: give memory for it with --ram"},
    {Say::StackIntoBlock, 1,
     "R15={value}: a push would land in the on-chip block at {other}: give the stack memory with --ram ADDR-ADDR"},
    {Say::NoReturnAddress, 1, "no unmapped address left to return to: give one with --set PR=ADDR"},
    {Say::Stopped, 1, "stopped: {why}"},
    {Say::Differs, 1, "{name} differs"},
    {Say::CannotWriteOutput, 1, "cannot write the standard output: {why}"},
    {Say::OutOfMemory, 1, "out of memory (a --ram or --load too large for this machine)"},
};

static_assert(kit::inOrder(kCatalogue), "the catalogue lists the messages in the order of Say");


// A-B, B excluded and after A.
std::optional<Range> range(std::string_view text) {
    Range r;
    if (!parseRange(text, r) || r.end == r.begin) return std::nullopt;
    return r;
}

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return u;
}

// One item of --compare into c, or why not.
std::string chooseCompared(std::string_view item, Compared& c) {
    const std::string name = upper(item);
    if (name == "DEFAULT") {
        const Compared d = conventional();
        c.registers |= d.registers;
        c.movableR1 = (c.registers & 2u) == 0;
        c.written = true;
        return "";
    }
    if (name == "ALL") {
        c.registers |= 0x3FFFFFu;
        c.movableR1 = false;
        c.written = true;
        return "";
    }
    if (name == "WRITTEN") {
        c.written = true;
        return "";
    }
    if (item.starts_with('@')) {
        const auto r = range(item.substr(1));
        if (!r) return "not @ADDR-ADDR: " + std::string(item);
        c.ranges.push_back(*r);
        return "";
    }
    for (unsigned i = 0; i < std::size(kCompared); ++i) {
        if (name != kCompared[i]) continue;
        c.registers |= 1u << i;
        if (i == 1) c.movableR1 = false;
        return "";
    }
    return "not a register, written, @ADDR-ADDR, default or all: " + std::string(item);
}

using Row = kit::Option<Parsed>;

std::string flag(bool& b) {
    b = true;
    return "";
}

constexpr Row kOptions[] = {
    {{"--base", "", "ADDR", false, "where the image's first byte is", true},
     [](Parsed& p, std::string_view o, std::string_view v) {
         p.base = number(v);
         return p.base ? std::string() : refused(o, v, v, text(Say::NotAddress, {.opt = o, .value = v}));
     }},
    {{"--call", "", "ADDR", false, "the routine to run: an address or a label's name", true},
     [](Parsed& p, std::string_view, std::string_view v) {
         p.callText = v;
         return std::string();
     }},
    {{"--set", "", "REG=VALUE", true, "a register's value at the call (R0-R15, SR, GBR, VBR, MACH, MACL, PR)"},
     [](Parsed& p, std::string_view o, std::string_view v) {
         const std::size_t eq = v.find('=');
         const std::string reg = upper(v.substr(0, std::min(eq, v.size())));
         run::Registers probe;
         const auto n = eq == std::string_view::npos ? std::nullopt : number(v.substr(eq + 1));
         if (run::registerNamed(probe, reg) == nullptr || !n)
             return refused(o, v, v.substr(std::min(eq + 1, v.size())), text(Say::NotSet, {.value = v}));
         p.set[reg] = *n;
         return std::string();
     }},
    {{"--ram", "", "ADDR-ADDR[:WAIT]", true,
      "zeroed RAM (the end excluded), W wait states an access; R15 starts\nat the end of the last (without --ram: "
      "a stack of 64 KiB of its own)"},
     [](Parsed& p, std::string_view o, std::string_view v) {
         const std::size_t colon = v.find(':');
         const auto r = range(v.substr(0, colon));
         std::optional<std::uint32_t> wait = 0;
         if (colon != std::string_view::npos) wait = number(v.substr(colon + 1));
         if (!r || !wait || *wait > 255) return refused(o, v, v, text(Say::NotRam, {.value = v}));
         p.ram.push_back({*r, *wait});
         return std::string();
     }},
    {{"--load", "", "FILE@ADDR", true, "a file's bytes at ADDR"},
     [](Parsed& p, std::string_view o, std::string_view v) {
         const std::size_t at = v.rfind('@');
         const auto n = at == std::string_view::npos ? std::nullopt : number(v.substr(at + 1));
         if (!n || at == 0)
             return refused(o, v, v.substr(std::min(at + 1, v.size())), text(Say::NotLoad, {.value = v}));
         p.loads.push_back({std::string(v.substr(0, at)), *n});
         return std::string();
     }},
    {{"--max-steps", "", "N", false, "at most N instructions (100,000,000 by default)"},
     [](Parsed& p, std::string_view o, std::string_view v) {
         std::uint64_t n = 0;
         if (!parseNumber(v, n, ~std::uint64_t{0}) || n == 0) return refused(o, v, v, text(Say::NotCount, {.value = v}));
         p.maxSteps = n;
         return std::string();
     }},
    {{"--trace", "", "", false, "every instruction as it runs, with its cycles and names"},
     [](Parsed& p, std::string_view, std::string_view) { return flag(p.trace); }},
    {{"--info", "", "FILE", false, "names of an info file as korvane-dis reads and writes them"},
     [](Parsed& p, std::string_view, std::string_view v) {
         p.info = v;
         return std::string();
     }},
    {{"--labels", "", "FILE.log", false,
      "names from korvane's listing of the image (default: the .log\nbeside the image, when it is as new)"},
     [](Parsed& p, std::string_view, std::string_view v) {
         p.labels = v;
         return std::string();
     }},
    {{"--dump", "", "ADDR-ADDR", true, "the bytes of a range once the run stopped"},
     [](Parsed& p, std::string_view o, std::string_view v) {
         const auto r = range(v);
         if (!r) return refused(o, v, v, text(Say::NotDump, {.value = v}));
         p.dumps.push_back(*r);
         return std::string();
     }},
    {{"--stub", "", "ADDR[=VALUE]", true, "a call to ADDR returns at once with R0 = VALUE (0 by default)"},
     [](Parsed& p, std::string_view o, std::string_view v) {
         const std::size_t eq = v.find('=');
         const auto val = eq == std::string_view::npos ? std::optional<std::uint32_t>{0} : number(v.substr(eq + 1));
         if (eq == 0 || !val)
             return refused(o, v, v.substr(std::min(eq + 1, v.size())), text(Say::NotStub, {.value = v}));
         p.stubTexts.emplace_back(std::string(v.substr(0, std::min(eq, v.size()))), *val);
         return std::string();
     }},
    {{"--traps-enter-vectors", "", "", false, "TRAPA goes through VBR instead of stopping the run"},
     [](Parsed& p, std::string_view, std::string_view) { return flag(p.enterTraps); }},
    {{"--against", "", "IMAGE2", false, "run the same call on a second build and compare the results"},
     [](Parsed& p, std::string_view, std::string_view v) {
         p.against = v;
         return std::string();
     }},
    {{"--at", "", "ADDR2", false, "with --against: where the routine is in IMAGE2"},
     [](Parsed& p, std::string_view, std::string_view v) {
         p.atText = v;
         return std::string();
     }},
    {{"--against-labels", "", "FILE2.log", false, "with --against: IMAGE2's listing (default: the .log beside it)"},
     [](Parsed& p, std::string_view, std::string_view v) {
         p.againstLabels = v;
         return std::string();
     }},
    {{"--compare", "", "WHAT,...", true,
      "with --against: what to compare: R0-R15, SR, T, GBR, VBR, MACH,\nMACL, PR, written, @ADDR-ADDR, default, all "
      "(default: R0, R1\nunless both hold addresses in their images, R8-R15, MACH, MACL,\nthe return and every byte "
      "written outside the stack frame)"},
     [](Parsed& p, std::string_view, std::string_view v) {
         if (!p.compared.chosen) {
             p.compared = Compared();
             p.compared.chosen = true;
         }
         for (std::size_t from = 0; from <= v.size();) {
             const std::size_t comma = std::min(v.find(',', from), v.size());
             if (const std::string why = chooseCompared(v.substr(from, comma - from), p.compared); !why.empty())
                 return text(Say::NotCompared, {.why = why});
             from = comma + 1;
         }
         return std::string();
     }},
    {{"--help", "-h", "", false, "this text, on standard output"},
     [](Parsed& p, std::string_view, std::string_view) { return flag(p.help); }},
    {{"--version", "-V", "", false, "the version, on standard output"},
     [](Parsed& p, std::string_view, std::string_view) { return flag(p.version); }},
};

}  // namespace

std::span<const SayTemplate> catalogue() {
    return kCatalogue;
}

std::string text(Say code, const Blanks& b) {
    const std::pair<std::string_view, std::string_view> blanks[] = {
        {"{opt}", b.opt}, {"{value}", b.value}, {"{name}", b.name}, {"{other}", b.other}, {"{why}", b.why}};
    return kit::fill(kCatalogue[static_cast<std::size_t>(code)].text, blanks);
}

std::span<const kit::Option<Parsed>> options() {
    return kOptions;
}

std::string hex(std::uint32_t v, bool dollar) {
    char buf[16];
    std::snprintf(buf, sizeof buf, dollar ? "$%08X" : "%08X", v);
    return buf;
}

// "$A-$B", B excluded (up to $100000000).
std::string rangeText(std::uint64_t begin, std::uint64_t end) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "$%08llX-$%08llX", static_cast<unsigned long long>(begin),
                  static_cast<unsigned long long>(end));
    return buf;
}

std::optional<std::uint32_t> number(std::string_view text) {
    std::uint64_t v = 0;
    if (!parseAddress(text, v) || v > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<std::uint32_t>(v);
}

// Why an option's value is refused: a number with a leading 0 said so, else otherwise.

// The calling convention's results and kept registers: R0 and R1 (a 64-bit result),
// R8-R15, MACH and MACL (the Renesas convention keeps them), every byte written outside
// the stack frame. R1 is also where compiled code leaves scratch addresses, so it is
// not compared where both runs left an address in their own image there.
Compared conventional() {
    Compared c;
    c.registers = 1u | 0xFF00u | 1u << 19 | 1u << 20;
    c.movableR1 = true;
    c.written = true;
    return c;
}
std::string parse(int argc, char** argv, Parsed& p) {
    const kit::Reading r = kit::parse<Parsed>(kOptions, argc, argv, p);
    auto templ = [](Say code) { return kCatalogue[static_cast<std::size_t>(code)].text; };
    if (std::string t = kit::problemText(r, templ(Say::UnknownOption), templ(Say::TakesNoValue), templ(Say::GivenTwice));
        !t.empty())
        return t;
    if (r.problem == kit::Problem::Missing) {
        std::string_view value = "a value";
        for (const Row& row : kOptions) {
            if (row.text.name == r.option || row.text.brief == r.option) value = row.text.value;
        }
        return text(Say::NeedsValue, {.opt = r.option, .value = value});
    }
    if (!r.said.empty()) return r.said;
    if (p.help || p.version) return "";
    if (r.operands.size() > 1) return text(Say::OneImage, {.name = r.operands[1]});
    if (r.operands.empty()) return text(Say::NoImage);
    p.image = r.operands.front();
    if (!p.base) return text(Say::NeedsBase);
    if (p.callText.empty()) return text(Say::NeedsCall);
    if (!p.atText.empty() && p.against.empty()) return text(Say::NeedsAgainst, {.opt = "--at"});
    if (!p.againstLabels.empty() && p.against.empty()) return text(Say::NeedsAgainst, {.opt = "--against-labels"});
    if (p.compared.chosen && p.against.empty()) return text(Say::NeedsAgainst, {.opt = "--compare"});
    return "";
}

std::string usage() {
    std::vector<kit::OptionText> run;
    for (const Row& o : kOptions) {
        if (o.text.name != "--help" && o.text.name != "--version") run.push_back(o.text);
    }
    return kit::usageLines("korvane-run", "IMAGE", run) + "       korvane-run -h | --help | -V | --version\n";
}

std::string help() {
    return "Runs one routine of an SH-2 image and prints how it stopped, its steps, cycles and registers.\n\n" +
           kit::helpLines(kit::texts<Parsed>(kOptions)) +
           "ADDR and VALUE are $hex, 0xhex or decimal (0100 is refused); --opt=value is --opt value.\n"
           "Status 0 when the routine returned (and IMAGE2 agreed), 1 otherwise, 2 for a command\n"
           "line it cannot read.\n";
}

std::string manPage(std::string_view manual, std::string_view date) {
    const std::string lines = usage();
    const std::vector<kit::OptionText> texts = kit::texts<Parsed>(kOptions);
    kit::ManPage page{
        .command = "korvane-run",
        .summary = "run one routine of an SH-2 image, with its result and SH7604 cycles, and compare two builds",
        .usage = lines,
        .description = kit::paragraphsOf(manual, "", 3),
        .options = texts,
        .exitStatus = "0 when the routine returned (and, with --against, the second image agreed); 1 for any other "
                      "stop, a difference or an error (one message on standard error, starting with `korvane-run: `); "
                      "2 for a command line it cannot read (the message, then the usage).",
        .seeAlso = "korvane(1), korvane-dis(1); the manual: docs/run.md in the source, installed as "
                   "share/doc/korvane/run.md.",
        .version = version(),
        .date = date,
    };
    return kit::manPage(page);
}

}  // namespace korvane::runcmd
