// What korvane-dis and korvane-run share as commands: --help and --version on standard
// output with status 0; a command line they cannot read gives one message on standard
// error, starting with the command's name, the usage after it and status 2; an option
// that does not repeat may be given once.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "unit/support.h"

namespace korvane::test {
namespace {

struct Streams {
    int status;
    std::string out, err;
};

Streams runApart(const std::string& exe, const std::vector<std::string>& args, const std::string& dir) {
    std::string line = exe;
    for (const std::string& a : args) line += " '" + a + "'";
    const CommandResult out = runCommand({"/bin/sh", "-c", line + " 2>/dev/null"}, dir);
    const CommandResult err = runCommand({"/bin/sh", "-c", line + " 2>&1 >/dev/null"}, dir);
    EXPECT_EQ(out.status, err.status) << line;
    return {out.status, out.out, err.out};
}

TEST(Commands, SameConventionsInBothCommands) {
    TempDir dir;
    dir.write("x.bin", std::string("\x00\x09\x00\x0B\x00\x09\x00\x09", 8));
    struct Command {
        std::string exe, name;
        std::vector<std::string> valid;  // a command line that runs, to which options are added
        std::string once;                // an option that does not repeat, with its value
        std::string flag;                // an option that takes no value
    };
    const Command commands[] = {
        {KORVANE_DIS_EXE, "korvane-dis", {"x.bin", "-o", "-"}, "--format=flat", "--flat"},
        {KORVANE_RUN_EXE, "korvane-run", {"x.bin", "--base", "0", "--call", "0"}, "--max-steps=9", "--trace"},
    };
    for (const Command& c : commands) {
        SCOPED_TRACE(c.name);
        for (const char* help : {"-h", "--help"}) {
            const Streams r = runApart(c.exe, {help}, dir.path());
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.out.rfind("usage: " + c.name, 0), 0u) << r.out;
            EXPECT_NE(r.out.find("--version"), std::string::npos) << r.out;
        }
        for (const char* version : {"-V", "--version"}) {
            const Streams r = runApart(c.exe, {version}, dir.path());
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(r.out, c.name + " 0.93\n");
        }
        const Streams ok = runApart(c.exe, c.valid, dir.path());
        EXPECT_EQ(ok.status, 0) << ok.err;
        struct Bad {
            std::vector<std::string> more;
            std::string says;
        };
        const Bad bad[] = {
            {{"--bogus"}, "unknown option --bogus"},
            {{c.once, c.once}, c.once.substr(0, c.once.find('=')) + " was given twice"},
            {{c.flag + "=1"}, c.flag + " takes no value"},
        };
        for (const Bad& b : bad) {
            std::vector<std::string> args = c.valid;
            args.insert(args.end(), b.more.begin(), b.more.end());
            const Streams r = runApart(c.exe, args, dir.path());
            EXPECT_EQ(r.status, 2) << r.err;
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err.rfind(c.name + ": " + b.says, 0), 0u) << r.err;
            EXPECT_NE(r.err.find("\nusage: " + c.name), std::string::npos) << r.err;
        }
        // A missing value: the option last on the line.
        std::vector<std::string> args = c.valid;
        args.push_back("--base");
        const Streams r = runApart(c.exe, args, dir.path());
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind(c.name + ": --base needs", 0), 0u) << r.err;
    }
}

}  // namespace
}  // namespace korvane::test
