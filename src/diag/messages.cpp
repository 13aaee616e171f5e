// The message catalogue: the one place where the assembler's console texts are spelled.
#include "korvane/messages.h"

#include <array>

namespace korvane {

namespace {

using enum Message;

constexpr std::array<MessageTemplate, 29> kCatalogue = {{
    {EmptySource, "empty source file"},
    {CannotWrite, "cannot write {name}"},
    {CannotRead, "cannot read {name}"},
    {ParsingFailure, "parsing failure on line {line}"},
    {StrayColon, "what`s this colon doing on line {line}?"},
    {DuplicateLabel, "duplicate label {name} on line {line}"},
    {LabelNameTooLong, "label name too long on line {line}"},
    {JunkBeforeQuote, "what is this junk before this quote on line {line}?"},
    {EmptyString, "empty string on line {line}"},
    {StringTooLong, "string too long on line {line}"},
    {TooManyCommas, "too many commas inside operand on line {line}"},
    {OperandTooLong, "operand too long on line {line}"},
    {BadHexNumber, "thought there was a hex number, but something weird showed up on line {line}"},
    {BadDecimalNumber,
     "thought there was a decimal number, but something weird showed up on line {line}"},
    {OneCharacterLabel,
     "there is something that appears to be a one-character-long label name on line {line}"},
    {MissingArgument, "missing argument on line {line}"},
    {IncorrectOperand, "{mnemonic} incorrect or missing operand on line {line}"},
    {ExpectedFilename, "expected filename (in quotes) on line {line}"},
    {IncludedFileEmpty, "included file {name} is empty"},
    {IncludedFileTooLarge, "included file {name} is too large"},
    {IncludedFileIsOutput, "included file {name} is an output of this run"},
    {OutputTooLarge, "output too large on line {line}"},
    {LabelTableFull, "overflowed label table on line {line}"},
    {ReferenceTableFull, "overflowed label reference database :("},
    {ImovWithoutIdata, "IMOV was used on line {line} but no IDATA area was specified afterward"},
    {LabelUndefined, "label {name} undefined"},
    {InvalidAddressReference, "invalid address reference on line {line}"},
    {OutOfMemory, "out of memory"},
    {NumberOutOfRange, "number out of range on line {line}"},
}};

constexpr bool inCodeOrder() {
    for (std::size_t i = 0; i < kCatalogue.size(); ++i) {
        if (static_cast<std::size_t>(kCatalogue[i].code) != i) return false;
    }
    return true;
}
static_assert(inCodeOrder(), "the catalogue lists the messages in the order of their codes");

}  // namespace

std::span<const MessageTemplate> messageCatalogue() {
    return kCatalogue;
}

std::string messageText(Message code, std::uint32_t line, std::string_view name) {
    const std::string_view text = kCatalogue[static_cast<std::size_t>(code)].text;
    // A text without blanks is copied as it is: "out of memory" needs no allocation.
    if (text.find('{') == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size() + name.size() + 10);
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '{') {
            const std::size_t end = text.find('}', i);
            const std::string_view blank = text.substr(i + 1, end - i - 1);
            if (blank == "line") {
                out += std::to_string(line);
            } else {
                out += name;  // {name} and {mnemonic}
            }
            i = end + 1;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string_view usageText() {
    return "\r\nSH2 assembler `KORVANE` by VOSSKIN V0.93\r\n\r\nusage:\r\nKORVANE "
           "sourcefile\r\n\r\n";
}

}  // namespace korvane
