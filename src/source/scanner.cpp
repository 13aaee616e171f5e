// The line scanner: splits the source into lines, drops comments, folds letters to
// upper case, defines labels, finds each statement's mnemonic, writes its listing line
// and hands it to its encoder or directive.
#include <cstring>

#include "driver/assembly.h"
#include "resolve/failure.h"
#include "source/charclass.h"
#include "source/text.h"

namespace korvane::detail {

void Assembly::scan() {
    for (;;) {
        ++line_;
        resetWord();
        for (;;) {
            if (comment_) {
                // The rest of the line is dropped, up to its line feed.
                if (!in_.skipPastLineFeed()) return;
                lineEnd_ = true;
                break;
            }
            int c = in_.next();
            if (c < 0) {
                // A statement ended by the end of the source is assembled like any other.
                if (wordLen_ > 0) wordComplete();
                return;
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
                    if (len == 21) failAt("parsing failure on line ", line_);
                    continue;
                }
                case SC_CR:
                    continue;
                case SC_LF:
                    lineEnd_ = true;
                    if (wordComplete() == Flow::Stop) return;
                    break;
                case SC_SEMI:  // a ";" ends the word as a blank does, and opens a comment
                    comment_ = true;
                    [[fallthrough]];
                case SC_BLANK: {
                    if (wordLen_ == 0) {
                        // Leading blanks (and CRs among them) are dropped.
                        in_.skip(
                            [](std::uint8_t b) { return kScanClass[b] == SC_BLANK || b == '\r'; });
                        continue;
                    }
                    Flow f = wordComplete();
                    if (f == Flow::Stop) return;
                    if (f == Flow::NextLine) break;
                    continue;
                }
                case SC_COLON:
                    word_[wordLen_++] = ':';
                    defineLabel();
                    resetWord();
                    continue;
            }
            break;  // next line
        }
    }
}

Assembly::Flow Assembly::wordComplete() {
    if (wordLen_ == 0) return Flow::NextLine;
    if (wordLen_ > 7 || wordLen_ < 2) failAt("parsing failure on line ", line_);
    row_ = findMnemonic(word_);
    if (row_ == nullptr) failAt("parsing failure on line ", line_);
    writeListingLine(*row_);
    switch (row_->format()) {
        case '0':
            emitWord(static_cast<std::uint16_t>(row_->nibble(1) << 12 | row_->nibble(2) << 8 |
                                                row_->nibble(3) << 4 | row_->nibble(4)));
            break;
        case '5':  // END: nothing after it is read
            return Flow::Stop;
        case 'F':  // OPT
            break;
        case 'G':  // ALIGN.W, ALIGN.L
            align(row_->text[6] == 'L' ? 4 : 2);
            break;
        case 'I':  // IDATA
            align(4);
            placeLiterals();
            break;
        default:
            dispatchOperands();
            if (!op_.lineEmitted) failAt("missing argument on line ", line_);
            break;
    }
    return statementDone();
}

Assembly::Flow Assembly::statementDone() {
    checkReferenceCapacity();
    if (lineEnd_) return Flow::NextLine;
    comment_ = true;  // the rest of the line is ignored
    return Flow::Continue;
}

void Assembly::applyLocalSuffix(LabelName& name) {
    name[18] = static_cast<char>(0x30 + (scope_ & 15));
    name[19] = static_cast<char>(0x30 + (scope_ >> 4));
    localUsed_ = true;
}

std::uint32_t Assembly::labelFor(const LabelName& name) {
    std::int32_t i = labels_.find(name);
    if (i >= 0) return static_cast<std::uint32_t>(i);
    if (labels_.full()) failAt("overflowed label table on line ", line_);
    return labels_.add(name, LABEL_UNDEFINED, false);
}

void Assembly::defineLabel() {
    if (wordLen_ < 3) failAt("what`s this colon doing on line ", line_, "?");
    LabelName name;
    name.fill(' ');
    std::memcpy(name.data(), word_, wordLen_ - 1);
    bool local = name[0] == '@';
    if (local) applyLocalSuffix(name);
    const std::uint32_t i = labelFor(name);
    if (labels_.defined(i)) {
        failAt("duplicate label " + std::string(name.data(), name.size()) + " on line ", line_);
    }
    labels_.define(i, pc_);
    if (!local && localUsed_) {
        localUsed_ = false;
        ++scope_;
    }
}

void Assembly::writeListingLine(const OpRow& row) {
    // "source line #N binary offset W PC $H MNEMONC" CR LF: at most 82 bytes, and the
    // numbers may write up to 16 bytes each.
    ++statements_;
    listedLine_.update(line_);
    listedOffset_.update(written_);
    listedPc_.update(pc_);
    std::uint8_t* p = log_.reserve(128);
    std::uint8_t* start = p;
    p = putText(p, "source line #");
    p = listedLine_.put(p);
    p = putText(p, " binary offset ");
    p = listedOffset_.put(p);
    p = putText(p, " PC $");
    p = listedPc_.put(p);
    *p++ = ' ';
    std::memcpy(p, row.text, 7);
    p += 7;
    *p++ = '\r';
    *p++ = '\n';
    log_.commit(static_cast<std::size_t>(p - start));
}

}  // namespace korvane::detail
