// The korvane executable on real files in a temporary directory: console bytes, exit
// status, output names, and exactly which files exist afterwards and what they hold.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "files/names.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

const std::string kExe = KORVANE_EXE;

std::set<std::string> listing(const TempDir& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.insert(e.path().filename().string());
    return names;
}

CommandResult korvane(const TempDir& dir, const std::vector<std::string>& args) {
    std::vector<std::string> argv{kExe};
    argv.insert(argv.end(), args.begin(), args.end());
    return runCommand(argv, dir.path());
}

TEST(BaseName, EveryExampleOfTheTable) {
    const std::pair<const char*, const char*> cases[] = {
        {"prog.asm", "prog"},       {"a.b.asm", "a.b"}, {"prog.s", "prog"}, {"prog", "prog"},
        {"prog.text", "prog.text"}, {"x.s", "x"},       {".s", ""},         {"d.x/a", "d"},
        {"my file.asm", "my file"}, {"a.", "a"},        {".", ""},          {"ab.cd.e", "ab.cd"},
    };
    for (auto [source, base] : cases) EXPECT_EQ(baseName(source), base) << source;
}

TEST(Cli, BannerWithoutArgument) {
    TempDir dir;
    const std::string banner =
        "\r\nSH2 assembler `KORVANE` by VOSSKIN V0.93\r\n\r\nusage:\r\nKORVANE sourcefile\r\n\r\n";
    CommandResult r = korvane(dir, {});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner);
    CommandResult empty = korvane(dir, {""});
    EXPECT_EQ(empty.status, 0);
    EXPECT_EQ(empty.out, banner);
    EXPECT_TRUE(listing(dir).empty());
}

TEST(Cli, SourceThatIsMissingEmptyOrUnreadable) {
    TempDir dir;
    CommandResult missing = korvane(dir, {"nothere.asm"});
    EXPECT_EQ(missing.out, "empty source file\r\n");
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(listing(dir).empty());

    dir.write("empty.asm", "");
    CommandResult empty = korvane(dir, {"empty.asm"});
    EXPECT_EQ(empty.out, "empty source file\r\n");
    EXPECT_EQ(empty.status, 1);
    EXPECT_EQ(listing(dir), std::set<std::string>{"empty.asm"});  // kept, nothing created

    std::filesystem::create_directory(dir.file("folder.asm"));
    CommandResult folder = korvane(dir, {"folder.asm"});
    EXPECT_EQ(folder.out, "empty source file\r\n");
    EXPECT_EQ(folder.status, 1);
    EXPECT_EQ(listing(dir), (std::set<std::string>{"empty.asm", "folder.asm"}));
}

TEST(Cli, SuccessWritesImageAndListingSilently) {
    TempDir dir;
    dir.write("prog.asm", "START: MOV #1,R0\n RTS\n NOP\n");
    CommandResult r = korvane(dir, {"prog.asm"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.read("prog.bin"), std::string("\xE0\x01\x00\x0B\x00\x09", 6));
    EXPECT_EQ(dir.read("prog.log"),
              "source line #1 binary offset 0 PC $0 MOV    \r\n"
              "source line #2 binary offset 2 PC $2 RTS    \r\n"
              "source line #3 binary offset 4 PC $4 NOP    \r\n"
              "labels (1):\r\n"
              "START                  $0\r\n");  // the name padded to 20, then "   $"
}

TEST(Cli, OutputNames) {
    TempDir dir;
    dir.write("my file.asm", "NOP\n");
    CommandResult r = korvane(dir, {"my", "file.asm"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(dir.exists("my file.bin"));
    EXPECT_TRUE(dir.exists("my file.log"));

    dir.write("prog.text", "NOP\n");
    EXPECT_EQ(korvane(dir, {"prog.text"}).status, 0);
    EXPECT_TRUE(dir.exists("prog.text.bin"));
    EXPECT_TRUE(dir.exists("prog.text.log"));

    dir.write("plain", "NOP\n");
    EXPECT_EQ(korvane(dir, {"plain"}).status, 0);
    EXPECT_EQ(dir.read("plain.bin"), std::string("\x00\x09", 2));
}

TEST(Cli, ExistingOutputsAreEmptiedFirst) {
    TempDir dir;
    dir.write("prog.asm", "NOP\n");
    dir.write("prog.bin", std::string(1000, 'x'));
    dir.write("prog.log", std::string(1000, 'y'));
    EXPECT_EQ(korvane(dir, {"prog.asm"}).status, 0);
    EXPECT_EQ(dir.read("prog.bin"), std::string("\x00\x09", 2));
    EXPECT_EQ(dir.read("prog.log"), "source line #1 binary offset 0 PC $0 NOP    \r\n");

    dir.write("quiet.asm", "; nothing but a comment\n\n");
    dir.write("quiet.bin", "old");
    EXPECT_EQ(korvane(dir, {"quiet.asm"}).status, 0);
    EXPECT_EQ(dir.read("quiet.bin"), "");
    EXPECT_EQ(dir.read("quiet.log"), "");
}

TEST(Cli, ErrorKeepsWhatWasWritten) {
    TempDir dir;
    dir.write("bad.asm", "NOP\nNOP\nNOP\nNOP\nNOP\nNOP\nFOO R1\nNOP\n");
    CommandResult r = korvane(dir, {"bad.asm"});
    EXPECT_EQ(r.out, "parsing failure on line 7\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("bad.bin").size(), 12u);
    EXPECT_EQ(logLines(dir.read("bad.log")).size(), 6u);

    // A fixup error leaves the placeholders and no label table.
    dir.write("far.asm", "BRA FAR\nORG $2000\nFAR: NOP\n");
    CommandResult f = korvane(dir, {"far.asm"});
    EXPECT_EQ(f.out, "invalid address reference on line 1\r\n");
    EXPECT_EQ(f.status, 1);
    const std::string bin = dir.read("far.bin");
    ASSERT_EQ(bin.size(), 0x2002u);
    EXPECT_EQ(bin.substr(0, 2), std::string("\xA0\x00", 2));
    EXPECT_EQ(logLines(dir.read("far.log")).size(), 3u);
}

TEST(Cli, NeverOverwritesItsOwnSource) {
    TempDir dir;
    const std::string text = "NOP\n";
    dir.write("prog.log", text);
    CommandResult r = korvane(dir, {"prog.log"});
    EXPECT_EQ(r.out, "cannot write prog.log\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("prog.log"), text);
    EXPECT_EQ(listing(dir), std::set<std::string>{"prog.log"});

    TempDir dir2;
    dir2.write("prog.bin", text);
    CommandResult b = korvane(dir2, {"prog.bin"});
    EXPECT_EQ(b.out, "cannot write prog.bin\r\n");
    EXPECT_EQ(dir2.read("prog.bin"), text);
    EXPECT_EQ(listing(dir2), std::set<std::string>{"prog.bin"});

    // The same file under another name is recognised too.
    TempDir dir3;
    dir3.write("src.asm", text);
    ASSERT_EQ(::symlink("src.asm", dir3.file("src.bin").c_str()), 0);
    CommandResult l = korvane(dir3, {"src.asm"});
    EXPECT_EQ(l.out, "cannot write src.bin\r\n");
    EXPECT_EQ(l.status, 1);
    EXPECT_EQ(dir3.read("src.asm"), text);
    EXPECT_FALSE(dir3.exists("src.log"));
    EXPECT_EQ(korvane(dir3, {"./src.bin"}).out, "cannot write ./src.bin\r\n");
}

TEST(Cli, OutputThatCannotBeWritten) {
    TempDir dir;
    dir.write("prog.asm", "NOP\n");
    std::filesystem::create_directory(dir.file("prog.bin"));
    CommandResult r = korvane(dir, {"prog.asm"});
    EXPECT_EQ(r.out, "cannot write prog.bin\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_FALSE(dir.exists("prog.log"));

    TempDir dir2;
    dir2.write("prog.asm", "NOP\n");
    std::filesystem::create_directory(dir2.file("prog.log"));
    CommandResult l = korvane(dir2, {"prog.asm"});
    EXPECT_EQ(l.out, "cannot write prog.log\r\n");
    EXPECT_EQ(l.status, 1);
}

TEST(Cli, ReadOnlyOutput) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    dir.write("prog.asm", "NOP\n");
    dir.write("prog.bin", "old");
    ::chmod(dir.file("prog.bin").c_str(), 0444);
    ::chmod(dir.file("prog.asm").c_str(), 0644);
    std::vector<std::string> argv{kExe, "prog.asm"};
    if (!asOrdinaryUser(argv)) GTEST_SKIP() << "running as root without setpriv";
    CommandResult r = runCommand(argv, dir.path());
    EXPECT_EQ(r.out, "cannot write prog.bin\r\n");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(dir.read("prog.bin"), "old");
}

TEST(Cli, IncbinReadsRealFilesAndCreatesNone) {
    TempDir dir;
    std::string data(5000, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i % 251);
    dir.write("data.raw", data);
    dir.write("prog.asm", "INCBIN \"data.raw\"\nEND:NOP\n");
    CommandResult r = korvane(dir, {"prog.asm"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(dir.read("prog.bin"), data + std::string("\x00\x09", 2));

    dir.write("missing.asm", "INCBIN \"absent.raw\"\n");
    CommandResult m = korvane(dir, {"missing.asm"});
    EXPECT_EQ(m.out, "included file absent.raw is empty\r\n");
    EXPECT_EQ(m.status, 1);
    EXPECT_FALSE(dir.exists("absent.raw"));
    // A second run finds no file either.
    EXPECT_EQ(korvane(dir, {"missing.asm"}).out, "included file absent.raw is empty\r\n");
    EXPECT_FALSE(dir.exists("absent.raw"));

    std::filesystem::create_directory(dir.file("sub"));
    dir.write("dir.asm", "INCBIN \"sub\"\n");
    EXPECT_EQ(korvane(dir, {"dir.asm"}).out, "included file sub is empty\r\n");
    dir.write("zero.raw", "");
    dir.write("zero.asm", "INCBIN \"zero.raw\"\n");
    EXPECT_EQ(korvane(dir, {"zero.asm"}).out, "included file zero.raw is empty\r\n");
}

}  // namespace
}  // namespace korvane::test
