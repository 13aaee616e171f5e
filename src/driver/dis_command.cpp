// korvane-dis's option table and message catalogue, and the parser, usage and help
// made from them.
#include "driver/dis_command.h"

#include <algorithm>
#include <array>

#include "korvane/version.h"

namespace korvane::command {

namespace {

constexpr SayTemplate kCatalogue[] = {
    {Say::NoImage, 2, "no image named"},
    {Say::OneImage, 2, "one image at a time"},
    {Say::UnknownOption, 2, "unknown option {opt}"},
    {Say::GivenTwice, 2, "{opt} was given twice; it is taken once"},
    {Say::TakesNoValue, 2, "{opt} takes no value"},
    {Say::NeedsAddress, 2, "{opt} needs an address"},
    {Say::NeedsRange, 2, "{opt} needs a range ADDR-ADDR"},
    {Say::NeedsFile, 2, "{opt} needs a file name"},
    {Say::NeedsFormat, 2, "--format needs flat, saturn or 32x"},
    {Say::NeedsSource, 2, "--check needs a source"},
    {Say::CheckTakesSource, 2, "--check takes a source, not an image"},
    {Say::WriteGoesWithCheck, 2, "--write goes with --check"},
    {Say::UnknownsGoWithCheck, 2, "--unknowns goes with --check, without --write"},
    {Say::NotForCheck, 2, "{opt} does not apply to --check"},
    {Say::OutputWithoutWrite, 2, "-o goes with --check only beside --write"},
    {Say::CheckToStandardOutput, 2, "--check --write writes a file: -o - is for a disassembly"},
    {Say::IpWithoutSaturn, 2, "--ip goes with --format saturn"},
    {Say::ElfImage, 1,
     "{name} is an ELF file, not a flat image; extract its code with\n  sh-elf-objcopy -O binary {other}\nand "
     "disassemble that (or give --flat to take the file as it is)"},
    {Say::OutputIsDirectory, 1, "-o needs a file name, not a directory"},
    {Say::ReplacesImage, 1, "assembling {name} would replace the image itself; choose another -o"},
    {Say::PartsToStandardOutput, 1,
     "the image needs {count} parts; -o - writes a single source only: name the top source with -o NAME"},
    {Say::InfoOutToStandardOutput, 1, "--info-out goes with a source written to a file, not -o -"},
    {Say::InfoOutIsOwnFile, 1, "--info-out {name} names a file this run reads or writes ({other}); name another"},
    {Say::MapToStandardOutput, 1, "--map goes with a source written to a file, not -o -"},
    {Say::MapIsOwnFile, 1, "--map {name} names a file this run reads or writes ({other}); name another"},
    {Say::CannotWrite, 1, "cannot write {name}"},
    {Say::CannotWriteStandardOutput, 1, "cannot write the standard output"},
    {Say::CheckedLink, 1, "{name} is a symbolic link; --write replaces files, not links: give the file itself"},
    {Say::CheckedReadOnly, 1,
     "{name} is read-only; --write does not replace it: make it writable, or write the checked source elsewhere "
     "with -o NAME"},
    {Say::CheckedOutputExists, 1, "{name} exists; --check --write -o writes a new file only: name another, or remove it"},
    {Say::CheckedOtherUser, 1,
     "{name} belongs to another user; --write does not take it over: write the checked source elsewhere with -o NAME"},
    {Say::CheckedChanged, 1, "{name} was changed while korvane-dis checked it; it is not replaced: check it again"},
    {Say::CheckedMixedSet, 1,
     "{name}: {other} is not the part this source was written with (a run was stopped while it replaced the set); "
     "run korvane-dis again to write the whole set"},
    {Say::CheckedPartsElsewhere, 1,
     "{name} is the top source of a set of parts: --write rewrites its parts in place; -o is for a source of one part"},
    {Say::SystemRefused, 1, "the system refused what the run needed: {why}"},
    {Say::OutOfMemory, 1, "out of memory"},
    {Say::MixedSetReplaced, 0,
     "{name} was not the part {other} was written with (a run was stopped while it replaced the set); the whole set "
     "is replaced"},
    {Say::TraceBoth, 0, "{name}: {other} was both executed and read as data; taken as code"},
    {Say::BaseHint, 0, "{why} (korvane-dis {name} --find-base lists the candidates)"},
};

using Row = kit::Option<Parsed>;

// Why an option's value is refused: a number with a leading 0 is said so, anything
// else as code says.
std::string refused(Say code, std::string_view option, std::string_view value) {
    return kit::refused(option, value, value, text(code, {.opt = option}));
}

std::string address(std::string_view option, std::string_view value, std::uint32_t& out) {
    std::uint64_t a;
    if (!parseAddress(value, a) || a > 0xFFFFFFFFull) return refused(Say::NeedsAddress, option, value);
    out = static_cast<std::uint32_t>(a);
    return "";
}
std::string addressTo(std::string_view option, std::string_view value, std::vector<std::uint32_t>& to) {
    std::uint32_t a = 0;
    std::string bad = address(option, value, a);
    if (bad.empty()) to.push_back(a);
    return bad;
}
std::string range(std::string_view option, std::string_view value, AddressRange& out) {
    return parseRange(value, out) ? "" : refused(Say::NeedsRange, option, value);
}
std::string file(std::string_view option, std::string_view value, std::string& out) {
    if (value.empty()) return text(Say::NeedsFile, {.opt = option});
    out = value;
    return "";
}

constexpr Row kOptions[] = {
    {{"--base", "", "ADDR", false, "address of the image's first byte (default 0)"},
     [](Parsed& p, std::string_view o, std::string_view v) {
         p.baseGiven = true;
         return address(o, v, p.base);
     }},
    {{"--entry", "", "ADDR", true, "where code starts (default: the base); may be repeated"},
     [](Parsed& p, std::string_view o, std::string_view v) { return addressTo(o, v, p.disassembly.entries); }},
    {{"--code", "", "ADDR-ADDR", true, "take this range as code (its end excluded); may be repeated"},
     [](Parsed& p, std::string_view o, std::string_view v) {
         AddressRange r;
         std::string bad = range(o, v, r);
         if (bad.empty()) p.disassembly.code.push_back(r);
         return bad;
     }},
    {{"--data", "", "ADDR-ADDR", true, "take this range as data; may be repeated"},
     [](Parsed& p, std::string_view o, std::string_view v) {
         AddressRange r;
         std::string bad = range(o, v, r);
         if (bad.empty()) p.disassembly.data.push_back({r});
         return bad;
     }},
    {{"--vectors", "", "ADDR", true, "an SH-2 exception vector table: its PCs are entries"},
     [](Parsed& p, std::string_view o, std::string_view v) { return addressTo(o, v, p.disassembly.vectors); }},
    {{"--no-guess", "", "", false, "code only where paths and the options lead, none by evidence"},
     [](Parsed& p, std::string_view, std::string_view) {
         p.disassembly.guess = false;
         return std::string();
     }},
    {{"--format", "", "flat|saturn|32x", false,
      "flat (the default); saturn: a program loaded at $6004000\n(or where --ip IP.BIN says); 32x: a 32X ROM, read "
      "from its header"},
     [](Parsed& p, std::string_view, std::string_view v) {
         if (v == "flat") {
             p.format = ImageFormat::Flat;
         } else if (v == "saturn") {
             p.format = ImageFormat::Saturn;
         } else if (v == "32x" || v == "32X") {
             p.format = ImageFormat::ThirtyTwoX;
         } else {
             return text(Say::NeedsFormat);
         }
         return std::string();
     }},
    {{"--ip", "", "IP.BIN", false, "the Saturn IP.BIN that says where the program loads"},
     [](Parsed& p, std::string_view o, std::string_view v) { return file(o, v, p.ip); }},
    {{"--info", "", "FILE", true,
      "names, entries, ranges, tables, comments and constants (docs/disassembler.md);\nof another image: where it "
      "calls into this one"},
     [](Parsed& p, std::string_view o, std::string_view v) { return file(o, v, p.infos.emplace_back()); }},
    {{"--symbols", "", "FILE", false, "names from nm output, NAME = ADDR or ADDR NAME lines"},
     [](Parsed& p, std::string_view o, std::string_view v) { return file(o, v, p.symbols); }},
    {{"--info-out", "", "FILE", false, "write what was found as an info file to start from"},
     [](Parsed& p, std::string_view o, std::string_view v) { return file(o, v, p.infoOut); }},
    {{"--trace", "", "FILE[@BASE]", true,
      "addresses an emulator saw run are code: one address or A-B a\nline, or qemu's -d in_asm log; FILE@BASE: a "
      "code/data log,\none byte per address from BASE (bit 0 run, bit 1 read)"},
     [](Parsed& p, std::string_view o, std::string_view v) {
         // FILE@BASE: a BASE with a leading 0 is refused, not taken as part of the name.
         if (const std::size_t at = v.rfind('@'); at != std::string_view::npos) {
             if (std::string why = kit::refused(o, v, v.substr(at + 1), ""); !why.empty()) return why;
         }
         return file(o, v, p.traces.emplace_back());
     }},
    {{"--map", "", "FILE.html", false,
      "write a map of what was found: one page to open in a browser\n(the image as a band, the functions, the unknowns)"},
     [](Parsed& p, std::string_view o, std::string_view v) { return file(o, v, p.map); }},
    {{"--output", "-o", "SOURCE", false,
      "write the top source as SOURCE (parts are named after it);\n-o - writes a source of one part to standard "
      "output;\nwith --check --write: the checked source as a new file"},
     [](Parsed& p, std::string_view o, std::string_view v) { return file(o, v, p.output); }, kWithCheck},
    {{"--flat", "", "", false, "take an image that starts like an ELF file as flat bytes"},
     [](Parsed& p, std::string_view, std::string_view) {
         p.flat = true;
         return std::string();
     }},
    {{"--find-base", "", "", false,
      "list the bases at which the literals that calls go through land\nwhere routines open, best first; writes no "
      "source"},
     [](Parsed& p, std::string_view, std::string_view) {
         p.findBase = true;
         return std::string();
     }},
    {{"--why", "", "ADDR", true,
      "say what is at ADDR and why (label, code, function, table,\npointer or number, with the evidence); writes no "
      "source"},
     [](Parsed& p, std::string_view o, std::string_view v) { return addressTo(o, v, p.whys); }},
    {{"--check", "", "SOURCE", false,
      "assemble an edited disassembly in memory and report what no\nlonger holds (table entries, loads in delay "
      "slots, stale pointers)"},
     [](Parsed& p, std::string_view, std::string_view v) {
         if (v.empty()) return text(Say::NeedsSource);
         p.check = v;
         return std::string();
     },
     kWithCheck},
    {{"--write", "", "", false, "with --check: rewrite those numbers in SOURCE"},
     [](Parsed& p, std::string_view, std::string_view) {
         p.write = true;
         return std::string();
     },
     kWithCheck},
    {{"--unknowns", "", "", false,
      "with --check: list what stays unknown in SOURCE, each with the\ninfo-file line that settles it"},
     [](Parsed& p, std::string_view, std::string_view) {
         p.unknowns = true;
         return std::string();
     },
     kWithCheck},
    {{"--help", "-h", "", false, "this text, on standard output"},
     [](Parsed& p, std::string_view, std::string_view) {
         p.help = true;
         return std::string();
     },
     kWithCheck},
    {{"--version", "-V", "", false, "the version, on standard output"},
     [](Parsed& p, std::string_view, std::string_view) {
         p.version = true;
         return std::string();
     },
     kWithCheck},
};

static_assert(kit::inOrder(kCatalogue), "the catalogue lists the messages in the order of Say");

}  // namespace

std::span<const SayTemplate> catalogue() {
    return kCatalogue;
}

std::string text(Say code, const Blanks& b) {
    const std::pair<std::string_view, std::string_view> blanks[] = {
        {"{opt}", b.opt}, {"{name}", b.name}, {"{other}", b.other}, {"{count}", b.count}, {"{why}", b.why}};
    return kit::fill(kCatalogue[static_cast<std::size_t>(code)].text, blanks);
}

std::span<const kit::Option<Parsed>> options() {
    return kOptions;
}

std::string parse(int argc, char** argv, Parsed& p) {
    const kit::Reading r = kit::parse<Parsed>(kOptions, argc, argv, p);
    auto templ = [](Say code) { return kCatalogue[static_cast<std::size_t>(code)].text; };
    if (std::string t = kit::problemText(r, templ(Say::UnknownOption), templ(Say::TakesNoValue), templ(Say::GivenTwice));
        !t.empty())
        return t;
    if (r.problem == kit::Problem::Missing) {
        // The action says what the option needs, given nothing.
        for (const Row& o : kOptions) {
            if (o.text.name == r.option || o.text.brief == r.option) return o.apply(p, r.option, "");
        }
    }
    if (!r.said.empty()) return r.said;
    if (p.help || p.version) return "";
    if (r.operands.size() > 1) return text(Say::OneImage);
    if (!r.operands.empty()) p.image = r.operands.front();
    std::vector<std::string_view> notForCheck;  // options given that --check does not take
    for (std::string_view given : r.given) {
        for (const Row& o : kOptions) {
            if (o.text.name == given && (o.flags & kWithCheck) == 0) notForCheck.push_back(given);
        }
    }
    if (!p.check.empty()) {
        if (!p.image.empty()) return text(Say::CheckTakesSource);
        if (!notForCheck.empty()) return text(Say::NotForCheck, {.opt = notForCheck.front()});
        if (p.unknowns && (p.write || !p.output.empty())) return text(Say::UnknownsGoWithCheck);
        if (!p.output.empty() && !p.write) return text(Say::OutputWithoutWrite);
        if (p.output == "-") return text(Say::CheckToStandardOutput);
        return "";
    }
    if (p.write) return text(Say::WriteGoesWithCheck);
    if (p.unknowns) return text(Say::UnknownsGoWithCheck);
    if (p.image.empty()) return text(Say::NoImage);
    if (!p.ip.empty() && p.format != ImageFormat::Saturn) return text(Say::IpWithoutSaturn);
    return "";
}

std::string usage() {
    // The disassembly's options (and -o), then --check's line, then help and version.
    std::vector<kit::OptionText> disassembly;
    for (const Row& o : kOptions) {
        if ((o.flags & kWithCheck) == 0 || o.text.brief == "-o") disassembly.push_back(o.text);
    }
    return kit::usageLines("korvane-dis", "IMAGE", disassembly) +
           "       korvane-dis --check SOURCE [--write [-o OUT] | --unknowns]\n"
           "       korvane-dis -h | --help | -V | --version\n";
}

std::string help() {
    return "Writes IMAGE.s, an SH-2 source that korvane rebuilds into IMAGE byte for byte.\n\n" +
           kit::helpLines(kit::texts<Parsed>(kOptions)) +
           "  --                    everything after it is the image's name\n"
           "ADDR is $6004000, 0x6004000 or decimal (06004000 is refused); --opt=value is --opt value.\n"
           "A source is replaced only while it is exactly as korvane-dis wrote it.\n";
}

std::string manPage(std::string_view manual, std::string_view date) {
    const std::string lines = usage();
    const std::vector<kit::OptionText> texts = kit::texts<Parsed>(kOptions);
    kit::ManPage page{
        .command = "korvane-dis",
        .summary = "turn an SH-2 image into source that rebuilds it, and check edits of that source",
        .usage = lines,
        .description = kit::paragraphsOf(manual, "What it does and its options", 3),
        .options = texts,
        .exitStatus = "0 on success and for --help and --version; 1 when an error was reported (one message on "
                      "standard error, starting with `korvane-dis: `), and for `--check` when an edit does not "
                      "hold; 2 for a command line it cannot read (the message, then the usage); 128 + the signal "
                      "when a signal ends it.",
        .seeAlso = "korvane(1), korvane-run(1); the manual: docs/disassembler.md in the source, installed as "
                   "share/doc/korvane/disassembler.md.",
        .version = version(),
        .date = date,
    };
    return kit::manPage(page);
}

}  // namespace korvane::command
