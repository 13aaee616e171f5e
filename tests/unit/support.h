// Helpers shared by the tests: assemble text in memory, format words, run commands.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "korvane/disassemble.h"
#include "korvane/korvane.h"

namespace korvane::test {

// Include files served from memory; a name that is not in the map does not exist.
class MemoryIncludes : public IncludeOpener {
  public:
    std::map<std::string, std::string> files;
    Included open(std::string_view name) override;
};

struct Assembled {
    Result result;
    std::string bin;
    std::string log;
    // The console line of a failed run (the diagnostic text), "" on success.
    std::string message() const { return result.ok ? std::string() : result.diagnostic.text; }
};

// Sources kept in memory, by name.
struct MemoryOutput : SourceOutput {
    std::map<std::string, std::string> files;
    std::string* current = nullptr;
    int opened = 0;
    bool open(const std::string& name) override {
        ++opened;
        current = &files[name];
        current->clear();
        return true;
    }
    bool write(std::string_view text) override {
        current->append(text);
        return true;
    }
    bool patch(std::uint64_t position, std::string_view text) override {
        if (position + text.size() > current->size()) return false;
        current->replace(static_cast<std::size_t>(position), text.size(), text);
        return true;
    }
    bool close() override { return true; }
};

Assembled assembleText(std::string_view source);
Assembled assembleText(std::string_view source, IncludeOpener& includes);

// One source and what it must give: the image as hex bytes ("00 09 FF"), and the
// console message ("" for success).
struct SourceCase {
    std::string source;
    std::string bin;
    std::string message;
};
// Assembles every case and checks image and message, naming the source on failure.
void checkCases(const std::vector<SourceCase>& cases, IncludeOpener& includes);
void checkCases(const std::vector<SourceCase>& cases);

// Root may write anything: a test of permissions prefixes argv so that the command
// runs as an ordinary user. False when that is needed but setpriv is missing.
bool asOrdinaryUser(std::vector<std::string>& argv);

// s written n times over.
std::string repeat(const std::string& s, int n);
// n copies of a hex byte group, blank-separated: hexRun("00 09", 2) is "00 09 00 09".
std::string hexRun(const std::string& group, int n);

// "0009 5542" for the bytes 00 09 55 42 (big-endian 16-bit words, blank-separated).
std::string words(std::string_view bytes);
std::string hexBytes(std::string_view bytes);

// The listing lines of a log, without their CR LF (the final empty piece dropped).
std::vector<std::string> logLines(const std::string& log);

// A fresh directory below the system temporary directory, removed by the destructor.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
    void write(std::string_view name, std::string_view bytes) const;
    std::string read(std::string_view name) const;
    bool exists(std::string_view name) const;

  private:
    std::string path_;
};

struct CommandResult {
    int status = -1;  // the exit status, or 128 + the signal that ended it
    std::string out;
    long maxRssKb = 0;      // the child's peak resident set
    bool timedOut = false;  // killed after the time allowed
};

// A command started in the background: argv (no shell), its working directory set to
// dir, stdout and stderr captured together, stdin /dev/null.
class Child {
  public:
    Child(const std::vector<std::string>& argv, const std::string& dir);
    ~Child();
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    void signal(int sig) const;
    // Waits for the end, at most timeoutSeconds (0: no limit); then SIGKILL.
    CommandResult finish(int timeoutSeconds = 0);

  private:
    int pid_ = -1;
    int out_ = -1;
};

// Runs argv to its end (see Child).
CommandResult runCommand(const std::vector<std::string>& argv, const std::string& dir,
                         int timeoutSeconds = 0);

// Whether an executable of this name is on PATH.
bool haveTool(const std::string& name);

// A big-endian number of width bytes at a position of bytes.
std::uint32_t bigEndian(const std::string& bytes, std::uint32_t at, unsigned width);

// A whole file's bytes ("" when it cannot be read).
std::string readFile(const std::string& path);

// Options for an image read from $06000000 with no guessing.
DisassemblyOptions unguessedAt06000000(const char* imageName);

// A program assembled here and disassembled with options: the image, the analysis and
// every source it writes (the top one is source()).
struct Disassembled {
    std::vector<std::uint8_t> image;
    std::unique_ptr<Disassembly> dis;
    std::map<std::string, std::string> files;
    const Model& model() const { return dis->model(); }
    const std::string& source() const { return files.at(dis->files().back()); }
};
Disassembled assembleAndDisassemble(const std::string& program, const DisassemblyOptions& options);

// The top source korvane-dis writes for a program assembled here, unguessed at $06000000.
std::string disassembled(const std::string& program);

}  // namespace korvane::test
