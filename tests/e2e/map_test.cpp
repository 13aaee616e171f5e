// The map page: the band's runs and the functions' places in the sources against the
// model; the page in a real browser (headless Chromium) showing the model's counts,
// functions, callers and items; the page replaced under the sources' rules.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "korvane/map.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

const std::string kAsm = KORVANE_EXE;
const std::string kDis = KORVANE_DIS_EXE;
const std::string kExamples = std::string(KORVANE_TEST_DATA) + "/../../examples";

// A switch through a byte table, a call and pointers in data, beside the example's
// functions, literals, text and unknowns.
constexpr const char* kSwitch =
    "        SETPC   $6000000\n"
    "        MOV     #3,R1\n"
    "        CMP/HI  R1,R4\n"
    "        BT      DEFLT\n"
    "        MOVA    @(TAB,PC),R0\n"
    "        MOV.B   @(R0,R4),R4\n"
    "        BRAF    R4\n"
    "        NOP\n"
    "        ALIGN.L\n"
    "TAB:    DC.B    $6,$A,$E,$12\n"
    "        RTS\n"
    "        MOV     #0,R0\n"
    "        RTS\n"
    "        MOV     #1,R0\n"
    "        RTS\n"
    "        MOV     #2,R0\n"
    "        BSR     DEFLT\n"
    "        MOV     #3,R0\n"
    "DEFLT:  RTS\n"
    "        MOV     #-1,R0\n"
    "        ALIGN.L\n"
    "PTRS:   DC.L    DEFLT,TAB,PTRS\n"
    "        DC.B    \"some text here\",0\n";
// What the user says of it: PTRS holds pointers.
constexpr const char* kSwitchInfo = "data $06000028-$06000034 pointers\n";

DisassemblyOptions switchOptions() {
    DisassemblyOptions o = unguessedAt06000000("s.bin");
    EXPECT_TRUE(readInfo(kSwitchInfo, "s.info", o).empty());
    return o;
}

// What the band must show for every byte, worked out byte by byte from the model.
std::vector<std::uint64_t> modelCounts(const Model& m, std::uint32_t base, std::uint32_t size) {
    std::map<std::uint32_t, MapKind> unknown;
    for (const Unknown& u : m.unknowns()) {
        const MapKind k = u.kind == UnknownKind::MaybeCode   ? MapKind::MaybeCode
                          : u.kind == UnknownKind::OpenTable ? MapKind::OpenTable
                                                             : MapKind::MaybePointer;
        if (!unknown.count(u.address) || k == MapKind::OpenTable) unknown[u.address] = k;
    }
    std::vector<std::uint64_t> counts(kMapKinds);
    for (std::uint32_t a = base; a < base + size; ++a) {
        const Item it = *m.itemAt(a);
        MapKind k = it.kind == ItemKind::Instruction ? MapKind::Instruction
                    : it.kind == ItemKind::Literal   ? MapKind::Literal
                    : it.kind == ItemKind::String    ? MapKind::Text
                    : it.kind == ItemKind::Padding   ? MapKind::Fill
                                                     : MapKind::Data;
        if (it.kind == ItemKind::Table) {
            k = MapKind::JumpTable;
            for (const Table& t : m.tables())
                if (a >= t.address && a < t.address + t.count * t.width && t.pointers) k = MapKind::PointerTable;
        }
        if (const auto u = unknown.find(it.address); u != unknown.end()) k = u->second;
        ++counts[static_cast<std::size_t>(k)];
    }
    return counts;
}

// The sources as written, by name.
struct Collected : SourceOutput {
    std::map<std::string, std::string> files;
    std::string* at = nullptr;
    bool open(const std::string& name) override { return (at = &files[name]) != nullptr; }
    bool write(std::string_view text) override { return at->append(text), true; }
    bool patch(std::uint64_t position, std::string_view text) override {
        return at->replace(static_cast<std::size_t>(position), text.size(), text), true;
    }
    bool close() override { return true; }
};

std::vector<std::uint8_t> randomImage(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<std::uint8_t> image(n);
    for (auto& b : image) b = static_cast<std::uint8_t>(random());
    return image;
}

// Every run follows the one before, each byte's kind is the model's, and every function
// is placed on the line of the sources that defines its label.
TEST(Map, RunsAndPlacesFollowTheModel) {
    const Disassembled sw = assembleAndDisassemble(kSwitch, switchOptions());
    DisassemblyOptions guessed;
    guessed.imageName = "r.bin";
    guessed.base = 0x06000000;
    guessed.names.push_back({0x06000000, "START", ""});
    const std::vector<std::uint8_t> noise = randomImage(1 << 16, 7);
    const Disassembly random(noise, guessed);
    // 12,000 labels: a source of two parts, each of which defines the labels of the
    // other that it names. Each step calls the F of the step 200 on (its own, at the
    // end) over the branch to its N: BSR F, NOP, BRA N, NOP, F: RTS, NOP, N: NOP.
    std::vector<std::uint8_t> steps;
    for (int i = 0; i < 6000; ++i) {
        const std::uint8_t far = i < 5800 ? 0x7A : 0x02, farHigh = i < 5800 ? 0xB5 : 0xB0;
        steps.insert(steps.end(), {farHigh, far, 0x00, 0x09, 0xA0, 0x02, 0x00, 0x09, 0x00, 0x0B, 0x00, 0x09, 0x00, 0x09});
    }
    steps.insert(steps.end(), {0x00, 0x0B, 0x00, 0x09});
    const Disassembly partsDis(steps, unguessedAt06000000("p.bin"));
    struct {
        const Disassembly* dis;
        std::vector<std::uint8_t> image;
    } parts{&partsDis, steps};
    ASSERT_GT(parts.dis->files().size(), 2u);
    for (const auto& [dis, options, size] : {std::tuple{static_cast<const Disassembly*>(sw.dis.get()), switchOptions(), sw.image.size()},
                                             std::tuple{&random, guessed, noise.size()},
                                             std::tuple{parts.dis,
                                                        unguessedAt06000000("p.bin"), parts.image.size()}}) {
        std::vector<std::uint64_t> counts(kMapKinds);
        std::uint32_t next = options.base;
        for (const MapRun& r : mapRuns(*dis)) {
            ASSERT_EQ(r.address, next);
            ASSERT_GT(r.count, 0u);
            next += r.size * r.count;
            counts[static_cast<std::size_t>(r.kind)] += std::uint64_t{r.size} * r.count;
        }
        EXPECT_EQ(next, options.base + size);
        EXPECT_EQ(counts, modelCounts(dis->model(), options.base, static_cast<std::uint32_t>(size)));

        MapPage page(*dis, options);
        Collected out;
        auto watcher = page.watch(out);
        ASSERT_TRUE(dis->write(*watcher));
        const std::vector<Function> fns = dis->model().functions();
        ASSERT_FALSE(fns.empty());
        std::map<std::string, std::vector<std::string>> linesOf;
        for (const Function& f : fns) {
            const SourcePlace* p = page.placeOf(f.start);
            ASSERT_NE(p, nullptr) << std::hex << f.start;
            std::vector<std::string>& lines = linesOf[p->file];
            if (lines.empty()) {
                std::istringstream text(out.files.at(p->file));
                for (std::string l; std::getline(text, l);) lines.push_back(l);
            }
            ASSERT_LE(p->line, lines.size());
            const std::string& line = lines[p->line - 1];
            char label[12];
            std::snprintf(label, sizeof label, "L%08X:", f.start);
            const std::string name = f.start == 0x06000000 && options.imageName == "r.bin" ? "START:" : label;
            EXPECT_EQ(line.substr(0, name.size()), name) << p->file << ":" << p->line;
            // The label's own statement, with its address, not a mention of the label.
            EXPECT_NE(line.find("; " + std::string(label + 1, 8) + " "), std::string::npos) << p->file << ":" << p->line;
        }
    }
    // The counts say the switch has a jump table and text.
    const std::vector<std::uint64_t> c = modelCounts(sw.model(), 0x06000000, static_cast<std::uint32_t>(sw.image.size()));
    EXPECT_GT(c[static_cast<std::size_t>(MapKind::JumpTable)], 0u);
    EXPECT_GT(c[static_cast<std::size_t>(MapKind::Text)], 0u);
}

// The page of an image opened in headless Chromium clicks itself (#selftest): its shares,
// its functions with their callers and the items it shows at clicked places are the
// model's, and the browser logs nothing on its console.
TEST(MapBrowser, PageShowsTheModel) {
    if (!haveTool("chromium")) GTEST_SKIP() << "chromium is not installed: the map is not tried in a browser";
    TempDir dir;
    dir.write("demo.s", readFile(kExamples + "/demo.s"));
    dir.write("sw.s", kSwitch);
    dir.write("sw.info", kSwitchInfo);
    ASSERT_EQ(runCommand({kAsm, "demo.s"}, dir.path(), 60).status, 0);
    ASSERT_EQ(runCommand({kAsm, "sw.s"}, dir.path(), 60).status, 0);
    dir.write("noise.bin", std::string(reinterpret_cast<const char*>(randomImage(1 << 14, 3).data()), 1 << 14));
    struct Case {
        std::string image;
        std::string info;
        std::uint32_t base;
    };
    const std::vector<Case> cases = {
        {"demo.bin", kExamples + "/demo.info", 0x400000},
        {"sw.bin", dir.file("sw.info"), 0x6000000},
        {"noise.bin", "", 0x6000000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.image);
        std::vector<std::string> argv{kDis, c.image, "--map", c.image + ".html", "--base", std::to_string(c.base)};
        if (!c.info.empty()) argv.insert(argv.end(), {"--info", c.info});
        const CommandResult made = runCommand(argv, dir.path(), 60);
        ASSERT_EQ(made.status, 0) << made.out;

        // The model, as korvane-dis made it.
        const std::string bytes = dir.read(c.image);
        const std::vector<std::uint8_t> image(bytes.begin(), bytes.end());
        DisassemblyOptions o;
        o.imageName = c.image;
        o.base = c.base;
        if (!c.info.empty()) {
            ASSERT_TRUE(readInfo(readFile(c.info), c.info, o).empty());
        }
        const Disassembly d(image, o);
        const Model& m = d.model();
        const std::vector<Function> fns = m.functions();

        // Places to click: every function's start, a byte inside each unknown and table.
        std::string clicks;
        std::vector<std::uint32_t> wanted;
        for (const Function& f : fns) wanted.push_back(f.start);
        for (const Unknown& u : m.unknowns()) wanted.push_back(u.address + 1);
        for (const Table& t : m.tables()) wanted.push_back(t.address + t.width);
        wanted.push_back(c.base + static_cast<std::uint32_t>(image.size()) - 1);
        for (const std::uint32_t a : wanted) {
            char w[12];
            std::snprintf(w, sizeof w, "%s%X", clicks.empty() ? "" : ",", a);
            clicks += w;
        }
        const CommandResult shown =
            runCommand({"chromium", "--headless", "--disable-gpu", "--no-sandbox", "--enable-logging=stderr", "--v=0",
                        "--window-size=1600,1000", "--dump-dom", "file://" + dir.file(c.image + ".html") + "#selftest=" + clicks},
                       dir.path(), 120);
        ASSERT_EQ(shown.status, 0) << shown.out;
        EXPECT_EQ(shown.out.find(":CONSOLE"), std::string::npos) << shown.out;
        const std::size_t from = shown.out.find("<div id=\"selftest\" hidden=\"\">");
        ASSERT_NE(from, std::string::npos) << shown.out;
        std::istringstream report(shown.out.substr(from + 29, shown.out.find("</div>", from) - from - 29));

        const std::vector<std::uint64_t> counts = modelCounts(m, c.base, static_cast<std::uint32_t>(image.size()));
        std::vector<std::uint64_t> shares(kMapKinds);
        std::vector<std::pair<std::uint32_t, std::vector<std::uint32_t>>> rows;
        std::size_t clicked = 0;
        std::string what;
        while (report >> what) {
            if (what == "share") {
                std::size_t k;
                report >> k;
                report >> shares.at(k);
            } else if (what == "click") {
                std::uint32_t want, address, item;
                long long fn, panel;
                std::string why;
                report >> want >> address >> item >> fn >> panel;
                std::getline(report, why);
                // Where the band was clicked, within a pixel's bytes of the place wanted
                // (a pixel of a 1600-pixel window may cover several); then the item and
                // function there.
                EXPECT_EQ(want, wanted.at(clicked++));
                EXPECT_LE(std::max(address, want) - std::min(address, want), image.size() / 1500 + 1) << std::hex << want;
                const Item it = *m.itemAt(address);
                EXPECT_EQ(item, it.address);
                EXPECT_EQ(" " + m.why(address).front().text, why) << std::hex << address;
                std::optional<std::uint32_t> in;
                for (const Function& f : fns)
                    if (address >= f.start && address < f.end) in = f.start;
                EXPECT_EQ(fn, in ? static_cast<long long>(*in) : -1) << std::hex << address;
                if (in) {
                    EXPECT_EQ(panel, fn);  // a click opens the function
                }
            } else if (what == "fn") {
                std::uint32_t start;
                std::size_t callers;
                report >> start >> callers;
                std::string rest;
                std::getline(report, rest);
                std::istringstream sites(rest);
                std::vector<std::uint32_t> listed;
                for (std::uint32_t s; sites >> s;) listed.push_back(s);
                EXPECT_EQ(callers, listed.size());
                rows.emplace_back(start, listed);
            } else {
                std::getline(report, what);
            }
        }
        EXPECT_EQ(shares, counts);
        EXPECT_EQ(clicked, wanted.size());
        ASSERT_EQ(rows.size(), fns.size());
        for (std::size_t i = 0; i < fns.size(); ++i) {
            EXPECT_EQ(rows[i].first, fns[i].start);
            EXPECT_EQ(rows[i].second, fns[i].callers) << std::hex << fns[i].start;
        }
    }
}

// The page is one of the run's files: replaced only while it is as korvane-dis wrote
// it, never in place of a file the run reads or writes, and not beside -o -.
TEST(MapFiles, ReplacedOnlyWhileUnchanged) {
    TempDir dir;
    dir.write("a.bin", std::string("\x00\x09\x00\x0B\x00\x09", 6));
    auto dis = [&](std::vector<std::string> args) {
        args.insert(args.begin(), kDis);
        return runCommand(args, dir.path(), 60);
    };
    ASSERT_EQ(dis({"a.bin", "--map", "a.html"}).status, 0);
    const std::string first = dir.read("a.html");
    EXPECT_EQ(first.substr(0, kMapHeader.size()), kMapHeader);
    ASSERT_EQ(dis({"a.bin", "--map", "a.html"}).status, 0);  // unchanged: replaced
    EXPECT_EQ(dir.read("a.html"), first);
    const struct {
        std::vector<std::string> args;
        std::string said;
    } refusals[] = {
        {{"a.bin", "--map", "a.bin"}, "--map a.bin names a file this run reads or writes"},
        {{"a.bin", "--map", "a.bin.s"}, "names a file this run reads or writes"},
        {{"a.bin", "-o", "-", "--map", "b.html"}, "--map goes with a source written to a file"},
        {{"a.bin", "--map", "mine.html"}, "mine.html exists and was not written by --map"},
        {{"a.bin", "--map", "a.html"}, "a.html was changed since --map wrote it; it is not replaced"},
    };
    dir.write("mine.html", "<p>my notes</p>\n");
    dir.write("a.html", first + "<!-- an edit -->\n");
    for (const auto& r : refusals) {
        const CommandResult got = dis(r.args);
        EXPECT_EQ(got.status, 1) << r.args.back();
        EXPECT_NE(got.out.find(r.said), std::string::npos) << got.out;
    }
    EXPECT_EQ(dir.read("mine.html"), "<p>my notes</p>\n");
    EXPECT_EQ(dir.read("a.html"), first + "<!-- an edit -->\n");
}

}  // namespace
}  // namespace korvane::test
