// Writes the manual pages korvane.1, korvane-dis.1 and korvane-run.1 from the commands'
// option tables and the manual's text in docs/; the build runs it.
//   korvane-manpages OUTDIR DOCSDIR DATE
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "driver/dis_command.h"
#include "driver/kit.h"
#include "driver/run_command.h"
#include "korvane/version.h"

namespace {

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

std::string assemblerPage(const std::string& manual, const std::string& date) {
    std::vector<std::string> description = korvane::kit::paragraphsOf(manual, "Usage", 4);
    const korvane::kit::ManPage page{
        .command = "korvane",
        .summary = "assemble an SH-2 source into a flat image and a listing",
        .usage = "usage: korvane SOURCE\n",
        .description = std::move(description),
        .options = {},
        .exitStatus = "0 on success and for the banner (no argument); 1 whenever a message reports an error, "
                      "including a file-size limit and memory exhaustion; 128 + the signal when a signal ends it.",
        .seeAlso = "korvane-dis(1), korvane-run(1); the manual: docs/assembler.md in the source, installed as "
                   "share/doc/korvane/assembler.md.",
        .version = korvane::version(),
        .date = date,
    };
    return korvane::kit::manPage(page);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fputs("usage: korvane-manpages OUTDIR DOCSDIR DATE\n", stderr);
        return 2;
    }
    const std::string out = argv[1], docs = argv[2], date = argv[3];
    const std::string assembler = readFile(docs + "/assembler.md");
    const std::string disassembler = readFile(docs + "/disassembler.md");
    const std::string runner = readFile(docs + "/run.md");
    if (assembler.empty() || disassembler.empty() || runner.empty()) {
        std::fprintf(stderr, "korvane-manpages: cannot read the manual in %s\n", docs.c_str());
        return 1;
    }
    const bool ok = writeFile(out + "/korvane.1", assemblerPage(assembler, date)) &&
                    writeFile(out + "/korvane-dis.1", korvane::command::manPage(disassembler, date)) &&
                    writeFile(out + "/korvane-run.1", korvane::runcmd::manPage(runner, date));
    if (!ok) {
        std::fprintf(stderr, "korvane-manpages: cannot write into %s\n", out.c_str());
        return 1;
    }
    return 0;
}
