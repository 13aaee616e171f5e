#include "source/scanner.h"

#include "diag/failure.h"
#include "source/charclass.h"

namespace korvane::detail {

const OpRow* LineScanner::mnemonic() const {
    if (wordLen_ > 7 || wordLen_ < 2) fail(Message::ParsingFailure, line_);
    const OpRow* row = findMnemonic(word_);
    if (row == nullptr) fail(Message::ParsingFailure, line_);
    return row;
}

Scanned LineScanner::next() {
    for (;;) {
        if (startLine_) {
            ++line_;
            resetWord();
            startLine_ = false;
        }
        if (comment_) {
            // The rest of the line is dropped, up to its line feed.
            if (!in_.skipPastLineFeed()) return {};
            lineEnd_ = true;
            startLine_ = true;
            continue;
        }
        // The line's labels and its first word; the loop ends with the line's end or a
        // comment that has nothing before it.
        for (bool more = true; more;) {
            const int c = in_.next();
            if (c < 0) {
                // A statement ended by the end of the source is assembled like any other.
                if (wordLen_ > 0) {
                    const OpRow* row = mnemonic();
                    wordLen_ = 0;
                    return {row, 0};
                }
                return {};
            }
            switch (kScanClass[static_cast<std::size_t>(c)]) {
                case SC_WORD: {
                    // Collect the rest of the word straight from the read buffer.
                    word_[wordLen_++] = kUpper[static_cast<std::size_t>(c)];
                    const std::uint8_t* p = in_.cursor();
                    const std::uint8_t* const end = in_.limit();
                    std::size_t len = wordLen_;
                    while (len < 21 && p != end && kScanClass[*p] == SC_WORD)
                        word_[len++] = kUpper[*p++];
                    in_.advance(p);
                    wordLen_ = len;
                    if (len == 21) fail(Message::ParsingFailure, line_);
                    break;
                }
                case SC_CR:
                    break;
                case SC_LF:
                    lineEnd_ = true;
                    if (wordLen_ > 0) return {mnemonic(), 0};
                    startLine_ = true;  // nothing on this line
                    more = false;
                    break;
                case SC_SEMI:  // a ";" ends the word as a blank does, and opens a comment
                    comment_ = true;
                    if (wordLen_ > 0) return {mnemonic(), 0};
                    more = false;
                    break;
                case SC_BLANK:
                    if (wordLen_ > 0) return {mnemonic(), 0};
                    // Leading blanks (and CRs among them) are dropped.
                    in_.skip([](std::uint8_t b) { return kScanClass[b] == SC_BLANK || b == '\r'; });
                    break;
                case SC_COLON: {
                    if (wordLen_ < 2) fail(Message::StrayColon, line_);
                    std::memcpy(label_, word_, wordLen_);
                    const Scanned label{nullptr, wordLen_};
                    std::memset(word_, ' ', 8);
                    wordLen_ = 0;
                    return label;
                }
            }
        }
    }
}

}  // namespace korvane::detail
