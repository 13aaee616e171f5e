// korvane-dis's promises about the files around it and the input it reads, end to end:
// --info-out never names the run's own files and replaces only its own unchanged file;
// --check --write keeps read-only and other people's files and honours -o; a set of
// parts loses the parts it no longer has and is told when a stopped run left it mixed;
// info and symbol files in CR LF and from pipes; the conventions of the command line.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "unit/support.h"

namespace korvane::test {
namespace {

const std::string kDis = KORVANE_DIS_EXE;

CommandResult dis(const TempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), kDis);
    return runCommand(args, dir.path(), 120);
}

// A small program at $06000000: code that calls a routine, and a literal pool.
const std::string kProgram("\x00\x09\xB0\x02\x00\x09\x00\x0B\x00\x09\x00\x0B\x00\x09\x00\x09", 16);

TEST(DisPromises, InfoOutAndCheckWriteKeepWhatTheUserOwns) {
    TempDir dir;
    dir.write("p.bin", kProgram);
    const std::vector<std::string> base = {"p.bin", "--base", "$6000000"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> a = base;
        a.insert(a.end(), more.begin(), more.end());
        return dis(dir, a);
    };
    // --info-out that names the source this run writes (not there yet), the image, or
    // the --info file: refused, nothing written.
    for (const char* name : {"p.bin.s", "./p.bin.s", "p.bin"}) {
        const CommandResult r = with({"--info-out", name});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_NE(r.out.find("names a file this run reads or writes"), std::string::npos) << r.out;
        EXPECT_FALSE(dir.exists("p.bin.s"));
    }
    ASSERT_EQ(with({"--info-out", "p.info"}).status, 0);
    EXPECT_NE(with({"--info", "p.info", "--info-out", "p.info"}).out.find("names a file this run reads"), std::string::npos);
    // Replaced while unchanged; kept when edited or read-only.
    EXPECT_EQ(with({"--info-out", "p.info"}).status, 0);
    ::chmod(dir.file("p.info").c_str(), 0444);
    EXPECT_NE(with({"--info-out", "p.info"}).out.find("p.info is read-only"), std::string::npos);
    ::chmod(dir.file("p.info").c_str(), 0644);
    const std::string edited = dir.read("p.info") + "label $6000004 SUB\n";
    dir.write("p.info", edited);
    EXPECT_NE(with({"--info-out", "p.info"}).out.find("p.info was changed since --info-out wrote it"), std::string::npos);
    EXPECT_EQ(dir.read("p.info"), edited);

    // --check: options that do not apply are refused; -o writes the checked source as a
    // new file and leaves the source alone; a read-only source is not replaced.
    const std::string source = dir.read("p.bin.s");
    for (const auto& [option, value] : {std::pair{"--base", "$0"}, {"--info", "p.info"}, {"--format", "flat"}}) {
        const CommandResult r = dis(dir, {"--check", "p.bin.s", option, value});
        EXPECT_EQ(r.status, 2) << option;
        EXPECT_NE(r.out.find(std::string(option) + " does not apply to --check"), std::string::npos) << r.out;
    }
    EXPECT_EQ(dis(dir, {"--check", "p.bin.s", "-o", "fixed.s"}).status, 2);
    EXPECT_EQ(dis(dir, {"--check", "p.bin.s", "--write", "-o", "fixed.s"}).status, 0);
    EXPECT_EQ(dir.read("fixed.s"), source);
    EXPECT_NE(dis(dir, {"--check", "p.bin.s", "--write", "-o", "fixed.s"}).out.find("fixed.s exists"), std::string::npos);
    ::chmod(dir.file("p.bin.s").c_str(), 0444);
    const CommandResult ro = dis(dir, {"--check", "p.bin.s", "--write"});
    EXPECT_EQ(ro.status, 1);
    EXPECT_NE(ro.out.find("p.bin.s is read-only; --write does not replace it"), std::string::npos) << ro.out;
    struct stat st {};
    ::stat(dir.file("p.bin.s").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
    EXPECT_TRUE(dir.read("p.bin.s") == source);
}

TEST(DisPromises, PartsOfAnEarlierSetAndAMixedSet) {
    TempDir dir;
    auto parts = [&] {
        std::vector<std::string> found;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            const std::string f = e.path().filename().string();
            if (f.find(".part") != std::string::npos && f.size() > 2 && f.substr(f.size() - 2) == ".s") found.push_back(f);
        }
        return found.size();
    };
    dir.write("z.bin", std::string(256 * 1024, '\0'));
    ASSERT_EQ(dis(dir, {"z.bin"}).status, 0);
    const std::size_t many = parts();
    ASSERT_GE(many, 4u);
    // A part of another run's set put in place of one of these: a mixed set, as a run
    // killed between its renames leaves. --check says so; korvane-dis replaces it whole.
    const std::string part2 = dir.read("z.bin.part02.s");
    TempDir other;
    std::string changed(256 * 1024, '\0');
    changed[0x9C23] = 4;  // a long in the second part
    other.write("z.bin", changed);
    ASSERT_EQ(runCommand({kDis, "z.bin"}, other.path(), 120).status, 0);
    ASSERT_FALSE(other.read("z.bin.part02.s") == part2);
    dir.write("z.bin.part02.s", other.read("z.bin.part02.s"));
    const CommandResult checked = dis(dir, {"--check", "z.bin.s"});
    EXPECT_EQ(checked.status, 1);
    EXPECT_NE(checked.out.find("z.bin.part02.s is not the part this source was written with"), std::string::npos)
        << checked.out;
    const CommandResult again = dis(dir, {"z.bin"});
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("z.bin.part02.s was not the part z.bin.s was written with"), std::string::npos) << again.out;
    EXPECT_TRUE(dir.read("z.bin.part02.s") == part2);
    // A smaller image: the parts it no longer has are removed, an edited one is kept
    // and the run refused.
    dir.write("z.bin", std::string(64 * 1024, '\0'));
    ASSERT_EQ(dis(dir, {"z.bin"}).status, 0);
    EXPECT_LT(parts(), many);
    EXPECT_FALSE(dir.exists("z.bin.part0" + std::to_string(many) + ".s"));
}

TEST(DisPromises, InputAsUsersWriteIt) {
    TempDir dir;
    dir.write("p.bin", kProgram);
    // CR LF info and symbol files, a symbol file from a pipe, the disassembler's own
    // form of a name refused in an info file and mapped in a symbol file.
    dir.write("crlf.info", "label $6000008 ROUTINE\r\nentry $6000000\r\n");
    dir.write("crlf.sym", "06000000 T _main\r\n");
    ASSERT_EQ(dis(dir, {"p.bin", "--base", "$6000000", "--info", "crlf.info", "--symbols", "crlf.sym"}).status, 0);
    EXPECT_NE(dir.read("p.bin.s").find("_MAIN:"), std::string::npos);
    EXPECT_NE(dir.read("p.bin.s").find("ROUTINE:"), std::string::npos);
    const CommandResult piped = runCommand(
        {"bash", "-c", "'" + kDis + "' p.bin --base '$6000000' --symbols <(echo '06000008 T start')"}, dir.path(), 60);
    EXPECT_EQ(piped.status, 0) << piped.out;
    EXPECT_NE(dir.read("p.bin.s").find("START:"), std::string::npos);
    dir.write("own.info", "label $6000008 B06000006\n");
    const CommandResult own = dis(dir, {"p.bin", "--base", "$6000000", "--info", "own.info"});
    EXPECT_EQ(own.status, 1);
    EXPECT_NE(own.out.find("own.info:1: the name B06000006 is the disassembler's"), std::string::npos) << own.out;
    dir.write("own.sym", "B06000006 = $6000008\n");
    ASSERT_EQ(dis(dir, {"p.bin", "--base", "$6000000", "--symbols", "own.sym"}).status, 0);
    EXPECT_NE(dir.read("p.bin.s").find("B06000006_:"), std::string::npos);

    // --why explains and writes nothing.
    TempDir quiet;
    quiet.write("p.bin", kProgram);
    const CommandResult why = runCommand({kDis, "p.bin", "--base", "$6000000", "--why", "$600000A", "--why", "0"}, quiet.path(), 60);
    EXPECT_EQ(why.status, 0);
    EXPECT_NE(why.out.find("$0600000A label: called (by $06000002)"), std::string::npos) << why.out;
    EXPECT_NE(why.out.find("$00000000: outside the image"), std::string::npos) << why.out;
    EXPECT_FALSE(quiet.exists("p.bin.s"));

    // -h, -V, and -o - for a source of one part (refused for parts).
    EXPECT_NE(dis(dir, {"-h"}).out.find("usage: korvane-dis"), std::string::npos);
    EXPECT_EQ(dis(dir, {"-V"}).out.substr(0, 12), "korvane-dis ");
    const CommandResult out = runCommand({kDis, "p.bin", "-o", "-"}, dir.path(), 60);
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(out.out.substr(0, 25), "; korvane-dis: source of ");
    dir.write("z.bin", std::string(256 * 1024, '\0'));
    EXPECT_NE(dis(dir, {"z.bin", "-o", "-"}).out.find("-o - writes a single source only"), std::string::npos);
    EXPECT_FALSE(dir.exists("z.bin.s"));
}

// korvane-dis's own source of an image of 4 MiB of random bytes is larger than 16 MiB:
// --check takes it (and any source korvane-dis writes).
TEST(DisPromises, CheckTakesAnySourceKorvaneDisWrites) {
    TempDir dir;
    std::string image(4 << 20, '\0');
    std::uint32_t x = 12345;
    for (char& c : image) c = static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    dir.write("r.bin", image);
    ASSERT_EQ(dis(dir, {"r.bin"}).status, 0);
    ASSERT_GT(std::filesystem::file_size(dir.file("r.bin.s")), std::uintmax_t{16} << 20);
    const CommandResult r = dis(dir, {"--check", "r.bin.s"});
    EXPECT_EQ(r.status, 0) << r.out.substr(0, 2000);
}

// With too little address space for a second thread, the run goes on without one, and
// memory running out is one message and status 1, never an abort.
TEST(DisPromises, NoThreadNoAbort) {
#if defined(KORVANE_SANITIZED)
    GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
#else
    TempDir dir;
    dir.write("small.bin", std::string(64 * 1024, '\0'));
    dir.write("z.bin", std::string(16 << 20, '\0'));
    const struct {
        const char* image;
        const char* limit;  // KiB of address space
        bool done;          // enough for the work, not for a thread's stack (8 MiB more)
    } cases[] = {{"small.bin", "9000", true}, {"small.bin", "10000", true}, {"z.bin", "25000", false}, {"z.bin", "30000", false}};
    for (const auto& c : cases) {
        const CommandResult r = runCommand(
            {"bash", "-c", std::string("ulimit -v ") + c.limit + "; exec '" + kDis + "' " + c.image}, dir.path(), 120);
        if (c.done) {
            EXPECT_EQ(r.status, 0) << c.limit << ": " << r.out;
        } else {
            EXPECT_TRUE(r.status == 0 || r.status == 1) << c.limit << ": " << r.status << " " << r.out;
        }
        if (r.status == 1) {
            EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << r.out;
        }
    }
#endif
}

}  // namespace
}  // namespace korvane::test
