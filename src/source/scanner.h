// The line scanner: splits the source into lines, drops comments, folds letters to
// upper case, and hands out, one at a time, the label definitions and the statements
// (their mnemonic's OpTable row). It owns the line number and the state of the current
// line; the operand lexer reads a statement's operands through it.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

#include "vocab/vocabulary.h"
#include "korvane/korvane.h"
#include "source/reader.h"

namespace korvane::detail {

// What the scanner found next: a statement (its mnemonic's row), a label definition
// (the length of its name, which label() gives) or the end of the source. Small enough
// to come back in registers.
struct Scanned {
    const OpRow* row = nullptr;
    std::size_t labelLength = 0;

    bool statement() const { return row != nullptr; }
    bool label() const { return labelLength != 0; }
};

class LineScanner {
  public:
    explicit LineScanner(ByteSource& source) : in_(source) {}

    // The next label definition or statement, or End at the end of the source.
    // Stops the run on a word that is no mnemonic and on a one-character label.
    Scanned next();
    // After a statement: the rest of its line is ignored.
    void endStatement() {
        if (lineEnd_) {
            startLine_ = true;
        } else {
            comment_ = true;
        }
    }

    std::uint32_t line() const { return line_; }
    // The name of the label just found, without its colon.
    std::string_view label(const Scanned& s) const {
        return {reinterpret_cast<const char*>(label_), s.labelLength};
    }

    // For the operand lexer, which reads on from the statement's mnemonic.
    SourceReader& reader() { return in_; }
    bool operandsEnded() const { return lineEnd_ || comment_; }
    bool lineEnded() const { return lineEnd_; }
    bool inComment() const { return comment_; }
    void endLine() { lineEnd_ = true; }
    void startComment() { comment_ = true; }
    // A line feed inside a quoted string still starts a new source line.
    void lineFeedInString() { ++line_; }

  private:
    void resetWord() {
        // The word buffer stays blank-padded beyond the word: the mnemonic lookup reads
        // its first 8 bytes whole.
        std::memset(word_, ' ', 8);
        wordLen_ = 0;
        comment_ = false;
        lineEnd_ = false;
    }
    const OpRow* mnemonic() const;

    SourceReader in_;
    std::uint32_t line_ = 0;
    bool startLine_ = true;  // the next byte begins a new line
    bool lineEnd_ = false;   // the line feed of the current line has been read
    bool comment_ = false;   // the rest of the current line is ignored
    std::uint8_t word_[24];
    std::size_t wordLen_ = 0;
    std::uint8_t label_[20];  // the last label's name, until the next call
};

}  // namespace korvane::detail
