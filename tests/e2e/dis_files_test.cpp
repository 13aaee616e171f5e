// korvane-dis and the files around it: a source is replaced only while it is exactly
// as korvane-dis wrote it; a run that fails, is interrupted or runs out of a limit leaves
// the previous set of sources whole and no temporary file behind; the printed rebuild
// works from the directory of the sources; the small points of its command line.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "unit/support.h"

namespace korvane::test {
namespace {

const std::string kAsm = KORVANE_EXE;
const std::string kDis = KORVANE_DIS_EXE;

CommandResult dis(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), kDis);
    return runCommand(args, dir.path(), 120);
}

// Every file of a directory with its bytes.
std::map<std::string, std::string> snapshot(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        files[e.path().filename().string()] = dir.read(e.path().filename().string());
    return files;
}

std::vector<std::string> temporaries(const TempDir& dir) {
    std::vector<std::string> found;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        const std::string f = e.path().filename().string();
        if (f.find(".korvane-dis-") != std::string::npos) found.push_back(f);
    }
    return found;
}

std::string randomImage(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string image(size, '\0');
    for (char& c : image) c = static_cast<char>(random());
    return image;
}

bool underSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#endif
#endif
    return false;
}

TEST(DisFiles, SourcesAreReplacedOnlyWhileUnchanged) {
    TempDir dir;
    dir.write("a.bin", std::string("\x00\x09\x00\x0B\x00\x09", 6));
    ASSERT_EQ(dis(dir, {"a.bin"}).status, 0);
    const std::string original = dir.read("a.bin.s");
    ASSERT_EQ(dis(dir, {"a.bin"}).status, 0) << "an unchanged source is replaced";
    EXPECT_EQ(dir.read("a.bin.s"), original);

    const std::string path = dir.file("a.bin.s");
    struct Case {
        const char* what;
        std::string text;
        mode_t mode;
        const char* says;
    };
    std::string edited = original;
    edited.insert(edited.find("RTS"), "NOP\n            ");
    std::string oldHeader = original;  // as sources were written before fingerprints
    oldHeader.erase(oldHeader.find("; fingerprint"), oldHeader.find('\n', oldHeader.find("; fingerprint")) -
                                                         oldHeader.find("; fingerprint") + 1);
    for (const Case& c : {Case{"edited", edited, 0644, "was changed since korvane-dis wrote it"},
                          Case{"one byte more", original + "\n", 0644, "was changed"},
                          Case{"read-only", original, 0444, "is read-only"},
                          Case{"edited and read-only", edited, 0444, "was changed"},
                          Case{"no fingerprint", oldHeader, 0644, "was changed"},
                          Case{"someone else's", "notes\n", 0644, "was not written by korvane-dis"}}) {
        SCOPED_TRACE(c.what);
        ::chmod(path.c_str(), 0644);
        dir.write("a.bin.s", c.text);
        ::chmod(path.c_str(), c.mode);
        const CommandResult r = dis(dir, {"a.bin"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("-o NAME"), std::string::npos) << "says how to go on: " << r.out;
        EXPECT_EQ(dir.read("a.bin.s"), c.text);
        struct stat st {};
        ::stat(path.c_str(), &st);
        EXPECT_EQ(st.st_mode & 0777, c.mode);
        EXPECT_TRUE(temporaries(dir).empty());
    }
    // -o writes elsewhere, and its assembly rebuilds the image; it never names the image.
    ASSERT_EQ(dis(dir, {"a.bin", "-o", "other.s"}).status, 0);
    ASSERT_EQ(runCommand({kAsm, "other.s"}, dir.path(), 60).status, 0);
    EXPECT_EQ(dir.read("other.bin"), dir.read("a.bin"));
    for (const char* self : {"a.s", "a.bin", "a.log"}) {
        const CommandResult r = dis(dir, {"a.bin", "-o", self});
        EXPECT_EQ(r.status, 1) << self;
        EXPECT_NE(r.out.find("would replace the image itself"), std::string::npos) << r.out;
    }
    EXPECT_EQ(dir.read("a.bin"), std::string("\x00\x09\x00\x0B\x00\x09", 6));
}

// A multi-part set under several kinds of failure: the previous set stays whole and the
// run's temporary files go, except after SIGKILL, whose leftovers the next run removes.
TEST(DisFiles, FailedAndInterruptedRunsLeaveThePreviousSetWhole) {
    TempDir dir;
    // 2 MiB of words forced to code: 50 sources, long enough to be interrupted while
    // they are written.
    dir.write("big.bin", randomImage(2u << 20, 7));
    const std::vector<std::string> args{"big.bin", "--code", "0-$200000"};
    ASSERT_EQ(dis(dir, args).status, 0);
    const std::map<std::string, std::string> before = snapshot(dir);
    ASSERT_GT(before.size(), 5u);
    dir.write("big.bin", randomImage(2u << 20, 8));  // the next runs would write another set
    auto expectBefore = [&](const std::string& what) {
        std::map<std::string, std::string> now = snapshot(dir);
        now["big.bin"] = before.at("big.bin");
        EXPECT_TRUE(now == before) << what << ": the previous set changed";
    };

    // A signal once the run has begun writing.
    auto interrupted = [&](int sig) {
        std::vector<std::string> argv{kDis};
        argv.insert(argv.end(), args.begin(), args.end());
        Child child(argv, dir.path());
        for (int i = 0; i < 4000 && temporaries(dir).empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        child.signal(sig);
        return child.finish(60);
    };
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE("signal " + std::to_string(sig));
        const CommandResult r = interrupted(sig);
        EXPECT_EQ(r.status, 128 + sig);
        EXPECT_TRUE(temporaries(dir).empty());
        expectBefore("signal");
    }
    // A file-size limit: reported, and nothing of the run is left.
    const CommandResult limited =
        runCommand({"/bin/sh", "-c", "ulimit -f 100 && exec " + kDis + " big.bin --code 0-0x200000"},
                   dir.path(), underSanitizer() ? 900 : 60);  // (2 MiB forced code: minutes under the sanitizers)
    EXPECT_EQ(limited.status, 1);
    EXPECT_NE(limited.out.find("korvane-dis: cannot write big.bin.part01.s"), std::string::npos)
        << limited.out;
    EXPECT_TRUE(temporaries(dir).empty());
    expectBefore("file-size limit");
    // Memory: "out of memory", nothing left behind.
    if (!underSanitizer()) {
        const CommandResult starved = runCommand(
            {"/bin/sh", "-c", "ulimit -v 30000 && exec " + kDis + " big.bin --code 0-0x200000"},
            dir.path(), 60);
        EXPECT_EQ(starved.status, 1);
        EXPECT_EQ(starved.out, "korvane-dis: out of memory\n");
        EXPECT_TRUE(temporaries(dir).empty());
        expectBefore("memory limit");
    }
    // SIGKILL: what it leaves is named after the run, and removed by the next one; a
    // file that merely looks like a leftover is not.
    const CommandResult killed = interrupted(SIGKILL);
    EXPECT_EQ(killed.status, 128 + SIGKILL);
    const std::vector<std::string> left = temporaries(dir);
    EXPECT_FALSE(left.empty());
    dir.write("big.bin.s.korvane-dis-4194305-abcdef", "mine\n");
    dir.write("big.bin.s.korvane-dis-4194305-ghijkl", "");  // killed before it wrote anything
    ASSERT_EQ(dis(dir, args).status, 0);
    for (const std::string& f : left) EXPECT_FALSE(dir.exists(f)) << f;
    EXPECT_FALSE(dir.exists("big.bin.s.korvane-dis-4194305-ghijkl"));
    EXPECT_EQ(dir.read("big.bin.s.korvane-dis-4194305-abcdef"), "mine\n");
    EXPECT_NE(dir.read("big.bin.part01.s"), before.at("big.bin.part01.s"));
}

// The printed sequence rebuilds the image from anywhere; run elsewhere without it, the
// missing part is what the assembler reports, as the header says.
TEST(DisFiles, RebuildWorksFromTheDirectoryOfTheSources) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("my  dir"));
    const std::string image = randomImage(1u << 20, 9);
    dir.write("my  dir/a b.bin", image);
    const CommandResult d = dis(dir, {"my  dir/a b.bin", "--code", "0-$100000"});
    ASSERT_EQ(d.status, 0) << d.out;
    std::istringstream lines(d.out);
    std::string line;
    std::string script;
    while (std::getline(lines, line)) {
        if (line.rfind("  ", 0) == 0) script += (script.empty() ? "" : " && ") + line.substr(2);
    }
    ASSERT_EQ(script.rfind("cd 'my  dir/' && korvane 'a b.bin.part01.s'", 0), 0u) << script;
    const std::string bin = std::filesystem::path(kAsm).parent_path().string();
    const CommandResult r =
        runCommand({"/bin/sh", "-c", "PATH='" + bin + "':$PATH && " + script}, dir.path(), 120);
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(dir.read("my  dir/a b.bin.bin") == image);
    const std::string top = dir.read("my  dir/a b.bin.s");
    const std::string header = top.substr(0, top.find("\n            "));
    EXPECT_NE(header.find("Rebuild in the directory of these files"), std::string::npos) << header;
    EXPECT_NE(header.find("\"included file a b.bin.part01.bin is empty\""), std::string::npos)
        << header;
    // From the parent directory the parts are not found: the message the header names.
    std::filesystem::remove(dir.file("my  dir/a b.bin.bin"));
    const CommandResult elsewhere = runCommand({kAsm, "my  dir/a b.bin.s"}, dir.path(), 60);
    EXPECT_EQ(elsewhere.out, "included file a b.bin.part01.bin is empty\r\n");
}

TEST(DisCommand, OptionsNamesAndRefusals) {
    TempDir dir;
    // MOV.L L14,R1; SHLL2 R1; JSR @R1; NOP: the call goes to 4 * $12, not to the literal's
    // value $12, which therefore is no code address. MOV.L L18,R2; JSR @R2; NOP: the call
    // goes to $1C, code that nothing else reaches. RTS; NOP; a filler word; the literals.
    const std::string code("\xD1\x04\x41\x08\x41\x0B\x00\x09\xD2\x03\x42\x0B\x00\x09\x00\x0B"
                           "\x00\x09\x00\x09\x00\x00\x00\x12\x00\x00\x00\x1C\x00\x0B\x00\x09",
                           32);
    dir.write("c.bin", code);
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string says;  // in the output, or in the source for status 0
    };
    const Case cases[] = {
        {{"--base=0", "c.bin"}, 0, "SETPC   $00000000"},
        {{"c.bin", "--base=$6004000", "--entry=0x6004010"}, 0, "L06004010:  NOP"},
        {{"c.bin", "--entry", "0x000000000000000000000002"}, 0, "L00000002:  SHLL2"},
        {{"c.bin"}, 0, "L00000012:  DC.W    $9 "},  // $12 is no code: the register changed (maybe a pointer)
        {{"c.bin"}, 0, "DC.L    $12 "},
        {{"c.bin"}, 0, "L0000001C:  RTS"},  // MOV.L then JSR of the same register
        {{"c.bin"}, 0, "L00000000:  MOV.L"},  // the entry is labelled
        {{"c.bin", "--data", "2-4"}, 0, "(SHLL2 R1)"},
        {{"c.bin", "--data", "6-8"}, 0, "(NOP)\n"},  // no blank before the bracket
        {{"--", "-c.bin"}, 0, ""},
        {{"--help"}, 0, "-o SOURCE"},
        {{"--version"}, 0, "korvane-dis 0.93\n"},
        {{"c.bin", "--entry", "1"}, 1, "entry $1 is odd"},
        {{"c.bin", "--base"}, 2, "--base needs an address"},
        {{"c.bin", "--base=12G"}, 2, "--base needs an address"},
        {{"c.bin", "-o"}, 2, "-o needs a file name"},
        {{"c.bin", "d.bin"}, 2, "one image at a time"},
        {{"elf.bin"}, 1, "elf.bin is an ELF file, not a flat image; extract its code with\n"
                         "  sh-elf-objcopy -O binary elf.bin elf.bin.flat"},
        {{"elf.bin", "--flat"}, 0, ""},
    };
    dir.write("-c.bin", code);
    dir.write("elf.bin", std::string("\x7F" "ELF\x01\x02\x01\x00", 8));
    for (const Case& c : cases) {
        std::string shown;
        for (const std::string& a : c.args) shown += a + " ";
        SCOPED_TRACE(shown);
        for (const char* f : {"c.bin.s", "-c.bin.s", "elf.bin.s"}) {
            if (dir.exists(f)) std::filesystem::remove(dir.file(f));
        }
        const CommandResult r = dis(dir, c.args);
        EXPECT_EQ(r.status, c.status) << r.out;
        if (c.status != 0 || (c.args[0].rfind("--", 0) == 0 && c.args.size() == 1)) {
            EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
            if (c.status != 0) {
                EXPECT_FALSE(dir.exists("c.bin.s") || dir.exists("elf.bin.s"));
            }
            continue;
        }
        const std::string source = c.args[0] == "--" ? "-c.bin.s" : c.args[0] == "elf.bin" ? "elf.bin.s" : "c.bin.s";
        ASSERT_TRUE(dir.exists(source));
        EXPECT_NE(dir.read(source).find(c.says), std::string::npos) << dir.read(source);
    }
}

// A trace is read as it comes: an emulator's log of all of its memory, larger than any
// file the commands read whole, takes what the image holds in bounded memory and passes
// over the rest (the source's header and --why say so). A file past a command's limit is
// refused with that limit.
TEST(DisFiles, TracesStreamAndLimitsAreSaid) {
    TempDir dir;
    dir.write("img.bin", std::string("\x00\x0B\x00\x09\x12\x34\x56\x78", 8));
    {
        std::string log(32u << 20, '\0');
        for (std::size_t i = 0; i < 4; ++i) {
            log[(16u << 20) + i] = 2;      // read: data
            log[(16u << 20) + 4 + i] = 1;  // ran: code
        }
        dir.write("ram.log", log);
    }
    const CommandResult r = dis(dir, {"img.bin", "--base", "0x6000000", "--trace", "ram.log@0x5000000", "--no-guess"});
    ASSERT_EQ(r.status, 0) << r.out;
#ifndef KORVANE_SANITIZED  // the sanitizers' shadow memory and quarantine are more than the log
    EXPECT_LT(r.maxRssKb, 24 * 1024) << "the log is read as it comes";
#endif
    const std::string source = dir.read("img.bin.s");
    EXPECT_NE(source.find("; trace: ram.log@0x5000000 (33554424 bytes of it outside the image passed over)\n"),
              std::string::npos)
        << source;
    EXPECT_NE(source.find("L06000000:  DC.L    $B0009              ; 06000000 000B0009\n"
                          "; code: executed (an execution trace saw it run)\n"
                          "L06000004:  MOV.L   R3,@(16,R2)"),
              std::string::npos)
        << source;
    const CommandResult why = dis(dir, {"img.bin", "--base", "0x6000000", "--trace", "ram.log@0x5000000", "--why", "0x5000000"});
    EXPECT_EQ(why.out, "$05000000: outside the image (what a trace says of it is passed over)\n");

    const struct {
        std::string tool, size, says;
    } limits[] = {
        {KORVANE_DIS_EXE, "17M", "korvane-dis: big.bin is larger than 16 MiB\n"},
        {KORVANE_RUN_EXE, "300M", "korvane-run: big.bin is larger than 256 MiB\n"},
    };
    dir.write("big.bin", "");
    for (const auto& l : limits) {
        std::filesystem::resize_file(dir.path() + "/big.bin", std::stoull(l.size) << 20);  // sparse
        std::vector<std::string> args = {l.tool, "big.bin"};
        if (l.tool == KORVANE_RUN_EXE) args.insert(args.end(), {"--base", "0", "--call", "0"});
        const CommandResult big = runCommand(args, dir.path());
        EXPECT_EQ(big.status, 1);
        EXPECT_EQ(big.out, l.says);
    }
}

}  // namespace
}  // namespace korvane::test
