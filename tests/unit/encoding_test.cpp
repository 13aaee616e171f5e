// Every instruction form of tests/data/encodings.s, each line assembled on its own and
// compared with the words (or the error) written in its comment.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "unit/support.h"

namespace korvane::test {
namespace {

std::string trim(const std::string& s) {
    std::size_t b = s.find_first_not_of(' ');
    std::size_t e = s.find_last_not_of(' ');
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

TEST(Encoding, EveryFormOfTheTable) {
    std::ifstream file(std::string(KORVANE_TEST_DATA) + "/encodings.s");
    ASSERT_TRUE(file) << "encodings.s not found";
    std::string line;
    int checked = 0;
    int number = 0;
    while (std::getline(file, line)) {
        ++number;
        std::size_t semi = line.find(';');
        if (semi == std::string::npos || semi == 0) continue;
        const std::string statement = trim(line.substr(0, semi));
        const std::string expected = trim(line.substr(semi + 1));
        Assembled a = assembleText(statement + "\n");
        SCOPED_TRACE("encodings.s:" + std::to_string(number) + ": " + statement);
        if (expected == "!operand") {
            std::string mnemonic = statement.substr(0, statement.find(' '));
            for (char& c : mnemonic)
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            mnemonic.resize(7, ' ');
            EXPECT_EQ(a.message(), mnemonic + " incorrect or missing operand on line 1");
        } else if (expected == "!missing") {
            EXPECT_EQ(a.message(), "missing argument on line 1");
        } else if (expected == "!range") {
            EXPECT_EQ(a.message(), "number out of range on line 1");
            EXPECT_EQ(a.bin.size(), 0u);
        } else if (expected == "!address") {
            EXPECT_EQ(a.message(), "invalid address reference on line 1");
            EXPECT_EQ(a.bin.size(), 0u);
        } else {
            EXPECT_EQ(a.message(), "");
            EXPECT_EQ(words(a.bin), expected);
        }
        ++checked;
    }
    EXPECT_GT(checked, 200);
}

}  // namespace
}  // namespace korvane::test
