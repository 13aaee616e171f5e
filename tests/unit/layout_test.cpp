// The folders of src/ include one another one way only: each may include its own
// headers, the library's interface (korvane/) and the folders of lower layers; the
// disassembler only the instruction table and the file pieces.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Lowest first; a folder may include only folders of lower layers.
const std::vector<std::set<std::string>> kLayers = {
    {"vocab", "isa", "diag", "files"}, {"output"}, {"source"}, {"resolve"}, {"encode"}, {"directives"}, {"driver"},
};
// Beside the assembler's layers, the disassembler's folders: all that each may include.
// Analysis and print never include each other; edit reads the grammar and the
// assembler's interface (korvane/) only; the facade (disasm itself) puts them together.
const std::map<std::string, std::set<std::string>> kOnly = {
    {"disasm/grammar", {"isa"}},
    {"disasm/model", {"isa", "disasm/grammar"}},
    {"disasm/analysis", {"isa", "disasm/model"}},
    {"disasm/input", {"isa", "disasm/grammar"}},
    {"disasm/print", {"isa", "files", "disasm/grammar", "disasm/model"}},
    {"disasm/edit", {"isa", "disasm/grammar"}},
    {"disasm", {"isa", "files", "disasm/grammar", "disasm/model", "disasm/analysis", "disasm/input",
                "disasm/print", "disasm/edit"}},
    // The machine that runs SH-2 code: the instruction table and its semantics only.
    {"run", {"isa"}},
};

// The library's public headers (korvane/) each folder may include. The facade of the
// disassembler (disassemble.h) only its own folder and the commands: the rooms below it
// include the pieces they use.
const std::set<std::string> kAssembler = {"korvane.h", "messages.h", "sh2.h", "files.h"};
const std::map<std::string, std::set<std::string>> kPublic = {
    {"files", {"files.h", "korvane.h", "dis_sources.h", "map.h"}},
    {"run", {"run.h", "sh2.h"}},
    {"disasm/model", {"analysis.h", "disassembly_options.h", "sh2.h"}},
    {"disasm/analysis", {"analysis.h", "disassembly_options.h", "sh2.h"}},
    {"disasm/grammar", {"analysis.h", "dis_sources.h", "map.h", "sh2.h"}},
    {"disasm/input",
     {"analysis.h", "dis_inputs.h", "dis_sources.h", "disassembly_options.h", "korvane.h", "numbers.h", "sh2.h"}},
    {"disasm/print", {"analysis.h", "dis_sources.h", "disassembly_options.h", "map.h", "sh2.h"}},
    {"disasm/edit", {"analysis.h", "dis_sources.h", "korvane.h", "sh2.h"}},
};
// Folders that may include every public header.
const std::set<std::string> kEveryPublic = {"disasm", "driver"};

// The unit of a folder below src: its path ("encode", "disasm/print").
std::vector<std::string> includesAgainstTheOrder(const fs::path& root) {
    std::vector<std::string> bad;
    std::map<std::string, std::set<fs::path>> units;  // unit -> its files
    for (const fs::directory_entry& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).generic_string();
        if (e.is_directory()) {
            units[rel];
        } else if (rel.find('/') != std::string::npos) {
            units[fs::path(rel).parent_path().generic_string()].insert(e.path());
        }
    }
    const std::regex include(R"(^\s*#\s*include\s+"([^"]+)/[^/"]+")");
    const std::regex publicHeader(R"re(^\s*#\s*include\s+"korvane/([^"]+)")re");
    for (const auto& [name, files] : units) {
        std::set<std::string> may;
        if (const auto only = kOnly.find(name); only != kOnly.end()) {
            may = only->second;
        } else {
            std::size_t rank = 0;
            while (rank < kLayers.size() && !kLayers[rank].count(name)) ++rank;
            if (rank == kLayers.size()) {
                bad.push_back(name + ": a folder in no layer");
                continue;
            }
            for (std::size_t r = 0; r < rank; ++r) may.insert(kLayers[r].begin(), kLayers[r].end());
        }
        may.insert({name, "korvane"});
        for (const fs::path& file : files) {
            std::ifstream in(file);
            std::string line;
            for (int number = 1; std::getline(in, line); ++number) {
                std::smatch m;
                if (std::regex_search(line, m, include) && !may.count(m[1].str()))
                    bad.push_back(name + "/" + file.filename().string() + ":" + std::to_string(number) +
                                  ": includes " + m[1].str() + "/");
                if (std::regex_search(line, m, publicHeader) && !kEveryPublic.count(name)) {
                    const auto listed = kPublic.find(name);
                    const std::set<std::string>& allowed = listed != kPublic.end() ? listed->second : kAssembler;
                    if (!allowed.count(m[1].str()))
                        bad.push_back(name + "/" + file.filename().string() + ":" + std::to_string(number) +
                                      ": includes korvane/" + m[1].str());
                }
            }
        }
    }
    return bad;
}

TEST(Layout, IncludesPointOneWay) {
    const fs::path src = fs::path(KORVANE_TEST_DATA) / ".." / ".." / "src";
    ASSERT_TRUE(fs::is_directory(src / "encode"));
    EXPECT_EQ(includesAgainstTheOrder(src), std::vector<std::string>{});

    // The check itself: an include upwards, one the disassembler may not make, and a
    // folder in no layer are each named.
    const fs::path tree = fs::temp_directory_path() / ("korvane-layout-" + std::to_string(::getpid()));
    fs::remove_all(tree);
    for (const char* folder : {"source", "disasm/model", "disasm/analysis", "disasm/print", "extra"})
        fs::create_directories(tree / folder);
    std::ofstream(tree / "source" / "scanner.h") << "#include \"vocab/vocabulary.h\"\n#include \"encode/encoder.h\"\n";
    std::ofstream(tree / "disasm" / "model" / "model.h") << "#include <vector>\n  #  include \"output/image.h\"\n";
    std::ofstream(tree / "disasm" / "analysis" / "flow.cpp") << "#include \"disasm/model/model.h\"\n"
                                                              << "#include \"disasm/print/text.h\"\n";
    std::ofstream(tree / "disasm" / "print" / "printer.h") << "#include \"disasm/analysis/analysis.h\"\n"
                                                          << "#include \"korvane/disassemble.h\"\n";
    std::ofstream(tree / "source" / "lexer.h") << "#include \"korvane/run.h\"\n#include \"korvane/korvane.h\"\n";
    const std::vector<std::string> expected = {"disasm/analysis/flow.cpp:2: includes disasm/print/",
                                               "disasm/model/model.h:2: includes output/",
                                               "disasm/print/printer.h:1: includes disasm/analysis/",
                                               "disasm/print/printer.h:2: includes korvane/disassemble.h",
                                               "extra: a folder in no layer", "source/lexer.h:1: includes korvane/run.h",
                                               "source/scanner.h:2: includes encode/"};
    EXPECT_EQ(includesAgainstTheOrder(tree), expected);
    fs::remove_all(tree);
}

}  // namespace
