// Assembles a few lines in memory and decodes the words back with the instruction
// table, disassembles a word, looks for a file; prints what it found, one line each.
#include <korvane/disassemble.h>
#include <korvane/files.h>
#include <korvane/korvane.h>
#include <korvane/sh2.h>
#include <korvane/version.h>

#include <cstdio>

int main() {
    korvane::MemorySource source("START: MOV #1,R0\n BRA START\n");
    korvane::MemorySink bin, log;
    korvane::NoIncludes includes;
    const korvane::Result r = korvane::assemble(source, bin, log, includes);
    if (!r.ok) {
        std::printf("failed: %s\n", r.diagnostic.text.c_str());
        return 1;
    }
    const std::string& image = bin.bytes();
    for (std::size_t i = 0; i + 1 < image.size(); i += 2) {
        const auto word = static_cast<std::uint16_t>(static_cast<unsigned char>(image[i]) << 8 |
                                                     static_cast<unsigned char>(image[i + 1]));
        const auto decoded = korvane::sh2::decode(word);
        std::printf("%04X %s\n", word, decoded ? std::string(decoded->form->mnemonic).c_str() : "?");
    }
    std::printf("%s = %X\n", r.labels.at(0).name.c_str(), r.labels.at(0).value);
    std::printf("%s\n", korvane::instructionText(0xD102, 0x06004000).c_str());
    korvane::FileIncludes files;  // finds no file of that name
    const bool found = files.open("no such file").file != nullptr;
    std::printf("korvane %s%s\n", std::string(korvane::version()).c_str(),
                found || korvane::version() != KORVANE_VERSION ? " (wrong)" : "");
    return 0;
}
