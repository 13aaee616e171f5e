// Every message the assembler can print, by code. The texts live in one catalogue;
// a Diagnostic carries its code, the line it names and the text made from both.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

enum class Message : std::uint8_t {
    EmptySource,
    CannotWrite,
    CannotRead,
    ParsingFailure,
    StrayColon,
    DuplicateLabel,
    LabelNameTooLong,
    JunkBeforeQuote,
    EmptyString,
    StringTooLong,
    TooManyCommas,
    OperandTooLong,
    BadHexNumber,
    BadDecimalNumber,
    OneCharacterLabel,
    MissingArgument,
    IncorrectOperand,
    ExpectedFilename,
    IncludedFileEmpty,
    IncludedFileTooLarge,
    IncludedFileIsOutput,
    OutputTooLarge,
    LabelTableFull,
    ReferenceTableFull,
    ImovWithoutIdata,
    LabelUndefined,
    InvalidAddressReference,
    OutOfMemory,
    NumberOutOfRange,
};

// A message's text with its blanks to fill: "{line}" the source line number, "{name}" a
// file or label name, "{mnemonic}" the mnemonic padded to 7 characters.
struct MessageTemplate {
    Message code;
    std::string_view text;
};

// The whole catalogue, in the order of Message.
std::span<const MessageTemplate> messageCatalogue();

// The text of a message: the template with its blanks filled.
std::string messageText(Message code, std::uint32_t line, std::string_view name = {});

// The six lines printed when the command is given no source (each ends in CR LF).
std::string_view usageText();

}  // namespace korvane
