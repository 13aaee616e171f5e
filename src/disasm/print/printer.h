// The source text of a model, in parts.
#pragma once

#include <string>
#include <vector>

#include "disasm/model/model.h"
#include "korvane/dis_sources.h"

namespace korvane::dis {

class Text;

class Printer {
  public:
    Printer(const Model::Data& data, const DisassemblyOptions& options, const std::vector<std::string>& files)
        : d_(data), options_(options), files_(files) {}
    // Every file: the parts (one per start offset), then the top source.
    bool write(SourceOutput& out, const std::vector<std::uint32_t>& partStart) const;
    // The same file by file: part i (the whole source when there is one part), and the
    // top source of several parts with the fingerprints they were written with. The
    // model is only read, so parts may be written on several threads at once.
    bool writePart(SourceOutput& out, const std::vector<std::uint32_t>& partStart, std::size_t i,
                   std::uint64_t& fingerprint) const;
    bool writeTop(SourceOutput& out, const std::vector<std::uint64_t>& fingerprints) const;

  private:
    using Statement = Model::Data::Statement;
    // Whether the text so far is known to end at a 4- (or 2-) aligned address whatever
    // an edit before it moved.
    struct Alignment {
        bool four = false;
        bool two = false;
    };
    void align(Text& t, const Statement& s, Alignment& aligned) const;
    void mnemonic(Text& t, std::string_view m) const;
    void mnemonic(Text& t, const sh2::Form& f) const;
    void place(Text& t, std::uint32_t address) const;
    void placeBase(Text& t, std::uint32_t address) const;
    void comment(Text& t, std::size_t lineStart, const Statement& s) const;
    void commentText(Text& t, const Statement& s) const;
    void note(Text& t, const Statement& s) const;
    void valueNote(Text& t, std::uint32_t value) const;
    void insideNote(Text& t, std::uint32_t value) const;
    void unknownNotes(Text& t, const Statement& s) const;
    bool offsetNote(Text& t, const Statement& s) const;
    void statement(Text& t, const Statement& s) const;
    void decodedMeaning(Text& t, const Statement& s) const;
    void header(Text& t, std::uint32_t begin, std::uint32_t end, bool top) const;
    void rebuild(Text& t) const;
    static std::string binOf(const std::string& source);
    std::string resultName() const;
    bool writePart(SourceOutput& out, std::size_t part, std::uint32_t begin, std::uint32_t end,
                   bool whole, std::uint64_t& fingerprint) const;

    // An instruction's text up to its comment, written once for each word: mnemonic and
    // operands padded to the comment's column, for every form that names no address.
    struct Line {
        char text[31];  // 28 used: the columns from the mnemonic's to the comment's
        std::uint8_t made;  // 1: text is the word's; 2: the word's text is not kept
    };
    const Line& lineOf(std::uint16_t word, const sh2::Decoded& d) const;

    const Model::Data& d_;
    const DisassemblyOptions& options_;
    const std::vector<std::string>& files_;
    mutable ZeroArray<Line> lines_;  // by word, made on first use
};

// Where each part of the source begins: a source holds at most 10,000 labels and 9,998
// references, so a large image is split into parts assembled on their own.
std::vector<std::uint32_t> planParts(const Model::Data& data);

// The names of the sources: the parts after the top source ("game.bin.s" has
// "game.bin.part01.s"), then the top source.
std::vector<std::string> sourceNames(const std::string& top, std::size_t parts);

}  // namespace korvane::dis
