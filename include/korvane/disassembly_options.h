// What the disassembler is told about an image: where it sits, where code starts, what
// the user knows of it. The analysis reads these; the disassembler's interface
// (korvane/disassemble.h) builds on them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

// Addresses [begin, end); end may be 2^32.
struct AddressRange {
    std::uint32_t begin = 0;
    std::uint64_t end = 0;
};

// How data that the user declared is written: as the disassembler sees fit (Any), or
// bytes, words, longs, strings (text and single bytes) or pointers (longs, each that
// points into the image as its label).
enum class DataWidth : std::uint8_t { Any, Bytes, Words, Longs, Strings, Pointers };
struct DataRange : AddressRange {
    DataWidth width = DataWidth::Any;
};

// Bytes of the image that sit elsewhere than base + offset: [offset, offset + size) at
// address (a 32X ROM's SH-2 code, copied to SDRAM).
struct ImageSegment {
    std::uint32_t offset = 0;
    std::uint32_t size = 0;
    std::uint32_t address = 0;
};

struct DisassemblyOptions {
    std::string imageName;               // the image's file name, without directory
    std::string sourceName;              // the top source's name; imageName + ".s" when empty
    std::uint32_t base = 0;              // the address of the image's first byte
    std::vector<std::uint32_t> entries;  // where code starts; the base when empty
    std::vector<AddressRange> code;      // forced code
    std::vector<AddressRange> executed;  // code that a trace saw run
    std::vector<AddressRange> touched;   // bytes a trace saw read or written, never run
    // Where other modules call or jump (their info files' extern lines): those in the
    // image are entries.
    struct Extern {
        std::uint32_t address;
        bool call;
    };
    std::vector<Extern> externs;
    std::vector<DataRange> data;         // forced data
    // Exception vector tables: at each address, up to vectorCount 32-bit vectors
    // (power-on PC and SP, manual reset PC and SP, then the exceptions and interrupts);
    // every PC that points into the image is an entry, a 0 is skipped, anything else
    // ends the table.
    std::vector<std::uint32_t> vectors;
    std::uint32_t vectorCount = 128;
    bool guess = true;        // also take code that no path reaches, with evidence
    bool thirtyTwoX = false;  // name the 32X system registers too
    std::vector<ImageSegment> segments;  // by offset, not overlapping
    std::vector<std::string> notes;      // lines for the sources' headers (what a format found)

    // What a user knows (an info file, a symbol table).
    struct Name {
        std::uint32_t address;
        std::string name;     // a label as the assembler takes it
        std::string comment;  // written before the label ("" for none)
    };
    std::vector<Name> names;
    struct Note {
        std::uint32_t address;
        std::string text;
    };
    std::vector<Note> comments;            // a comment line before the statement there
    std::vector<std::uint32_t> constants;  // literals that are numbers, never pointers
    struct UserTable {
        std::uint32_t address;
        std::uint32_t count;
        std::uint8_t width;  // 1, 2 or 4
        bool relative;       // entries are offsets from base; otherwise addresses
        std::uint32_t base;
    };
    std::vector<UserTable> tables;
};

}  // namespace korvane
