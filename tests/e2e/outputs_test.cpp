// How the korvane executable treats what already stands under its output names, and
// what it does at the limits of the process: outputs are replaced (never written
// through a link), refused when they are not files, empty from the start of the run;
// INCBIN never reads them; file-size and memory limits end in a message.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "unit/support.h"

namespace korvane::test {
namespace {

using namespace std::string_literals;

const std::string kExe = KORVANE_EXE;
constexpr int kTimeout = 20;  // seconds; a run that blocks fails the test instead of CI

CommandResult korvane(const TempDir& dir, const std::string& source) {
    return runCommand({kExe, source}, dir.path(), kTimeout);
}

struct stat lstatOf(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) st.st_mode = 0;
    return st;
}

// A run with source "START: NOP" gives this image and listing.
const std::string kNop("\x00\x09", 2);
const std::string kNopLog =
    "source line #1 binary offset 0 PC $0 NOP    \r\nlabels (1):\r\nSTART                  $0\r\n";

TEST(Outputs, LinksAreReplacedNeverWrittenThrough) {
    TempDir dir;
    dir.write("prog.s", "START: NOP\n");

    // A hard link: the other name keeps its bytes.
    dir.write("backup.bin", "PRECIOUS");
    ASSERT_EQ(::link(dir.file("backup.bin").c_str(), dir.file("prog.bin").c_str()), 0);
    // A symbolic link to a user's file.
    dir.write("other.dat", "OTHER");
    ASSERT_EQ(::symlink("other.dat", dir.file("prog.log").c_str()), 0);
    CommandResult r = korvane(dir, "prog.s");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(dir.read("backup.bin"), "PRECIOUS");
    EXPECT_EQ(dir.read("other.dat"), "OTHER");
    EXPECT_EQ(dir.read("prog.bin"), kNop);
    EXPECT_EQ(dir.read("prog.log"), kNopLog);
    for (const char* name : {"prog.bin", "prog.log"}) {
        const struct stat st = lstatOf(dir.file(name));
        EXPECT_TRUE(S_ISREG(st.st_mode)) << name;
        EXPECT_EQ(st.st_nlink, 1u) << name;
    }

    // One output linked to the other: two files afterwards.
    dir.write("b.s", "START: NOP\n");
    dir.write("b.log", "old");
    ASSERT_EQ(::symlink("b.log", dir.file("b.bin").c_str()), 0);
    EXPECT_EQ(korvane(dir, "b.s").status, 0);
    EXPECT_EQ(dir.read("b.bin"), kNop);
    EXPECT_EQ(dir.read("b.log"), kNopLog);

    // Dangling links: the target is never created.
    dir.write("d.s", "START: NOP\n");
    ASSERT_EQ(::symlink("gone/x.bin", dir.file("d.bin").c_str()), 0);
    ASSERT_EQ(::symlink("made.log", dir.file("d.log").c_str()), 0);
    EXPECT_EQ(korvane(dir, "d.s").status, 0);
    EXPECT_EQ(dir.read("d.bin"), kNop);
    EXPECT_FALSE(dir.exists("gone"));
    EXPECT_FALSE(dir.exists("made.log"));
}

// Refused for every user, root included (read-only files as well).
TEST(Outputs, FifosSocketsDirectoriesAndReadOnlyFilesAreRefusedAtOnce) {
    struct Case {
        const char* what;
        const char* name;
    };
    for (const Case c : {Case{"fifo", "p.bin"}, Case{"fifo", "p.log"}, Case{"socket", "p.bin"},
                         Case{"socket", "p.log"}, Case{"directory", "p.log"},
                         Case{"read-only", "p.bin"}, Case{"read-only", "p.log"}}) {
        SCOPED_TRACE(std::string(c.what) + " " + c.name);
        TempDir dir;
        dir.write("p.s", "NOP\n");
        const std::string path = dir.file(c.name);
        int sock = -1;
        if (std::string(c.what) == "fifo") {
            ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
        } else if (std::string(c.what) == "socket") {
            sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
            struct sockaddr_un addr {};
            addr.sun_family = AF_UNIX;
            ASSERT_LT(path.size(), sizeof addr.sun_path);
            std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
            ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        } else if (std::string(c.what) == "read-only") {
            dir.write(c.name, "old\n");
            ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
        } else {
            std::filesystem::create_directory(path);
        }
        CommandResult r = korvane(dir, "p.s");
        if (std::string(c.what) == "read-only") {
            EXPECT_EQ(dir.read(c.name), "old\n");
        }
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.out, "cannot write " + std::string(c.name) + "\r\n");
        EXPECT_EQ(r.status, 1);
        // Refused before either output is touched.
        EXPECT_FALSE(dir.exists(std::string(c.name) == "p.bin" ? "p.log" : "p.bin"));
        if (sock >= 0) ::close(sock);
    }
}

TEST(Outputs, CharacterDevicesAreWrittenAsTheyAre) {
    TempDir dir;
    // /dev/null and /dev/full made under the outputs' own names.
    if (::mknod(dir.file("prog.bin").c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
        GTEST_SKIP() << "cannot make device nodes here";
    dir.write("prog.s", "START: BRA START\nDC.L START\n");
    CommandResult r = korvane(dir, "prog.s");
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(S_ISCHR(lstatOf(dir.file("prog.bin")).st_mode));
    EXPECT_NE(dir.read("prog.log").find("labels (1):"), std::string::npos);

    ASSERT_EQ(::mknod(dir.file("full.bin").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    dir.write("full.s", "NOP\n");
    EXPECT_EQ(korvane(dir, "full.s").out, "cannot write full.bin\r\n");
    // An error of the source is still reported as itself.
    ASSERT_EQ(::mknod(dir.file("bad.log").c_str(), S_IFCHR | 0666, makedev(1, 7)), 0);
    dir.write("bad.s", "FOO\n");
    EXPECT_EQ(korvane(dir, "bad.s").out, "parsing failure on line 1\r\n");
}

TEST(Outputs, AKilledRunLeavesNoEarlierRunBehind) {
    TempDir dir;
    dir.write("p.s", "START: NOP\n");
    ASSERT_EQ(korvane(dir, "p.s").status, 0);
    ASSERT_EQ(dir.read("p.bin"), kNop);

    // The source becomes a FIFO that is fed one line and then held open.
    ASSERT_EQ(::unlink(dir.file("p.s").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.file("p.s").c_str(), 0644), 0);
    for (int sig : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(sig);
        dir.write("p.bin", kNop);  // as an earlier, successful run left them
        dir.write("p.log", kNopLog);
        Child run({kExe, "p.s"}, dir.path());
        const int feed = ::open(dir.file("p.s").c_str(), O_WRONLY);
        ASSERT_GE(feed, 0);
        ASSERT_EQ(::write(feed, "CLRT\n", 5), 5);
        // The run waits for more source once both outputs are new, empty files.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeout);
        while ((dir.read("p.bin") != "" || dir.read("p.log") != "") &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        run.signal(sig);
        CommandResult r = run.finish(kTimeout);
        ::close(feed);
        EXPECT_EQ(r.status, 128 + sig);
        EXPECT_EQ(dir.read("p.bin"), "");
        EXPECT_EQ(dir.read("p.log").find("labels"), std::string::npos);
    }
}

TEST(Outputs, IncbinNeverReadsTheRunsOwnOutputs) {
    TempDir dir;
    dir.write("g.s", "DC.B 1,2,3\nINCBIN \"g.bin\"\nINCBIN \"g.bin\"\n");
    dir.write("g.bin", "from an earlier run");
    for (int run = 0; run < 2; ++run) {
        CommandResult r = korvane(dir, "g.s");
        EXPECT_EQ(r.out, "included file g.bin is an output of this run\r\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(dir.read("g.bin"), "\x01\x02\x03");
    }
    // Under another name too, and the listing as well.
    ASSERT_EQ(::symlink("g.log", dir.file("alias.dat").c_str()), 0);
    dir.write("g.s", "NOP\nINCBIN \"./alias.dat\"\n");
    EXPECT_EQ(korvane(dir, "g.s").out, "included file ./alias.dat is an output of this run\r\n");
    // Another run's outputs are ordinary files.
    dir.write("h.s", "DC.B 1,2,3\n");
    ASSERT_EQ(korvane(dir, "h.s").status, 0);
    dir.write("g.s", "INCBIN \"h.bin\"\n");
    EXPECT_EQ(korvane(dir, "g.s").status, 0);
    EXPECT_EQ(dir.read("g.bin"), "\x01\x02\x03");
}

// The command under a shell limit: sh -c 'ulimit OPTION VALUE; exec korvane SOURCE'.
CommandResult limited(const TempDir& dir, const std::string& limit, const std::string& source) {
    return runCommand(
        {"/bin/sh", "-c", "ulimit " + limit + " && exec \"$0\" \"$1\" 2>/dev/null", kExe, source},
        dir.path(), kTimeout);
}

TEST(Outputs, FileSizeLimitIsReported) {
    TempDir dir;
    dir.write("big.s", "NOP\nORG $100000\nNOP\n");
    CommandResult r = limited(dir, "-f 100", "big.s");
    EXPECT_EQ(r.out, "cannot write big.bin\r\n");
    EXPECT_EQ(r.status, 1);
}

TEST(Outputs, MemoryExhaustionIsReported) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory does not fit a memory limit";
#else
    // Where the limit falls depends on the build; every run, whatever the limit, ends
    // in success, in "out of memory", or (the smallest) before the program is loaded.
    TempDir dir;
    dir.write("p.s", "START: NOP\nDC.L START\n");
    int outOfMemory = 0;
    for (int kb = 3000; kb <= 16000; kb += 250) {
        SCOPED_TRACE(kb);
        CommandResult r = limited(dir, "-v " + std::to_string(kb), "p.s");
        if (r.status == 127) continue;  // the loader could not map the libraries
        if (r.status == 1) {
            EXPECT_EQ(r.out, "out of memory\r\n");
            ++outOfMemory;
        } else {
            EXPECT_EQ(r.status, 0) << r.out;
            EXPECT_EQ(dir.read("p.bin"), std::string("\x00\x09\x00\x00\x00\x00", 6));
        }
    }
    EXPECT_GT(outOfMemory, 0);
#endif
}

// The assembler's own refusals, through the executable on real files.
TEST(Outputs, OperandRulesEndToEnd) {
    struct Case {
        std::string source;
        std::string bin;
        std::string out;
    };
    const Case cases[] = {
        {"SETPC $3\nIMOV.L #1,R1\nIDATA\n", "\xD1\x01\xFF\xFF\xFF\x00\x00\x00\x01"s, ""},
        {"OR.B #1\nAND.B #2,@(R0,GBR)\n", "\xCF\x01\xCD\x02"s, ""},
        {"NOP\nAND.B #1,@R1\n", kNop, "AND.B   incorrect or missing operand on line 2\r\n"},
        {"TST.B #1,@(R0,R1)\n", "", "TST.B   incorrect or missing operand on line 1\r\n"},
        {"DC.B \"hi\" ,10\n", "hi", "missing argument on line 1\r\n"},
        {"DC.B 1,,2\n", "\x01", "missing argument on line 1\r\n"},
        {"DC.B 1,(,2)\n", "\x01", "missing argument on line 1\r\n"},
        {"DC.B 3,\n", "\x03", ""},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        dir.write("t.s", c.source);
        CommandResult r = korvane(dir, "t.s");
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.out.empty() ? 0 : 1);
        EXPECT_EQ(dir.read("t.bin"), c.bin);
    }
}

// ---- The executable over randomly chosen file-system situations ----------------------

// What stands under a name, for comparison before and after a run.
std::string describe(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return "absent";
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        return "link " + std::string(target, n > 0 ? static_cast<std::size_t>(n) : 0);
    }
    if (S_ISREG(st.st_mode)) {
        std::ifstream f(path, std::ios::binary);
        std::ostringstream bytes;
        bytes << f.rdbuf();
        return "file " + std::to_string(st.st_ino) + " " + std::to_string(st.st_mode) + " " +
               bytes.str();
    }
    return "other " + std::to_string(st.st_mode) + " " + std::to_string(st.st_ino);
}

std::map<std::string, std::string> snapshot(const TempDir& dir) {
    std::map<std::string, std::string> all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path())) {
        const std::string name = e.path().lexically_relative(dir.path()).string();
        if (name != "p.bin" && name != "p.log") all[name] = describe(e.path().string());
    }
    return all;
}

TEST(Outputs, RandomFileSystemSituations) {
    const bool root = ::geteuid() == 0;
    std::vector<std::string> prefix;
    // As an ordinary user where the tests run as root, so that read-only files count.
    asOrdinaryUser(prefix);
    const char* programs[] = {
        "START: NOP\nDC.L START\n", "FOO\n",
        "NOP\nORG $50000\nNOP\n",  // flushed while the run goes on
        "NOP\nINCBIN \"p.bin\"\n",  "NOP\nINCBIN \"p.log\"\n",
        "NOP\nINCBIN \"alias\"\n",  "NOP\nINCBIN \"keep1\"\n",
    };
    enum Situation {
        ABSENT,
        FILE_RW,
        FILE_RO,
        HARD_LINK,
        SYMLINK_USER,
        SYMLINK_RO,
        SYMLINK_OTHER,
        DANGLING,
        SYMLINK_DIR,
        FIFO,
        DIRECTORY,
        DEV_NULL,
        DEV_FULL,
        kSituations
    };
    std::mt19937 random(20261209);
    for (int iteration = 0; iteration < 150; ++iteration) {
        TempDir dir;
        ::chmod(dir.path().c_str(), 0777);
        const std::string program = programs[random() % std::size(programs)];
        dir.write("p.s", program);
        dir.write("keep1", "KEEP ONE");
        dir.write("keep2", "KEEP TWO");
        dir.write("locked", "LOCKED");
        ::chmod(dir.file("locked").c_str(), 0444);
        std::filesystem::create_directory(dir.file("sub"));
        std::string trace = program;
        for (const char* name : {"p.bin", "p.log"}) {
            const std::string path = dir.file(name);
            const std::string other = std::string(name) == "p.bin" ? "p.log" : "p.bin";
            const int s = static_cast<int>(random() % kSituations);
            trace += std::string(" ") + name + "=" + std::to_string(s);
            switch (s) {
                case FILE_RW:
                case FILE_RO:
                    dir.write(name, "EARLIER RUN labels (1):");
                    ::chmod(path.c_str(), s == FILE_RW ? 0666 : 0444);
                    break;
                case HARD_LINK:
                    ::link(dir.file("keep1").c_str(), path.c_str());
                    break;
                case SYMLINK_USER:
                    ::symlink("keep2", path.c_str());
                    break;
                case SYMLINK_RO:
                    ::symlink("locked", path.c_str());
                    break;
                case SYMLINK_OTHER:
                    ::symlink(other.c_str(), path.c_str());
                    break;
                case DANGLING:
                    ::symlink("nowhere", path.c_str());
                    break;
                case SYMLINK_DIR:
                    ::symlink("sub", path.c_str());
                    break;
                case FIFO:
                    ::mkfifo(path.c_str(), 0666);
                    break;
                case DIRECTORY:
                    std::filesystem::create_directory(path);
                    break;
                case DEV_NULL:
                case DEV_FULL:
                    if (root)
                        ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, s == DEV_NULL ? 3 : 7));
                    break;
                default:
                    break;
            }
        }
        switch (random() % 3) {
            case 0:
                ::symlink("p.bin", dir.file("alias").c_str());
                break;
            case 1:
                ::symlink("p.log", dir.file("alias").c_str());
                break;
            default:
                break;
        }
        SCOPED_TRACE(trace);
        const auto before = snapshot(dir);

        std::vector<std::string> argv = prefix;
        argv.insert(argv.end(), {kExe, "p.s"});
        CommandResult r = runCommand(argv, dir.path(), kTimeout);

        ASSERT_FALSE(r.timedOut);
        ASSERT_TRUE(r.status == 0 || r.status == 1) << r.status;
        // One message on every failure, none on success.
        const bool refusedOutput = r.out.rfind("cannot write ", 0) == 0;
        if (r.status == 1) {
            EXPECT_GT(r.out.size(), 2u);
            EXPECT_EQ(r.out.find("\r\n"), r.out.size() - 2) << r.out;
            if (refusedOutput) {
                EXPECT_TRUE(r.out == "cannot write p.bin\r\n" || r.out == "cannot write p.log\r\n")
                    << r.out;
            }
        } else {
            EXPECT_EQ(r.out, "");
        }
        // Nothing but the two outputs is changed, created or removed.
        EXPECT_EQ(snapshot(dir), before);
        // Once a run has started, its outputs are files of their own (or devices) that
        // hold nothing of an earlier run.
        if (r.status == 0 || !refusedOutput) {
            for (const char* name : {"p.bin", "p.log"}) {
                const struct stat st = lstatOf(dir.file(name));
                EXPECT_TRUE((S_ISREG(st.st_mode) && st.st_nlink == 1) || S_ISCHR(st.st_mode))
                    << name;
                if (S_ISREG(st.st_mode)) {
                    EXPECT_EQ(dir.read(name).find("EARLIER"), std::string::npos) << name;
                }
            }
        }
        // A successful image is the assembler's image of the program.
        if (r.status == 0 && S_ISREG(lstatOf(dir.file("p.bin")).st_mode)) {
            MemoryIncludes includes;
            includes.files["keep1"] = "KEEP ONE";
            EXPECT_EQ(dir.read("p.bin"), assembleText(program, includes).bin);
        }
    }
}

}  // namespace
}  // namespace korvane::test
