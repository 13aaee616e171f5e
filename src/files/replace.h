// Files that korvane-dis writes in place of others, safely (POSIX): every file of a run
// is written under a temporary name beside its final one, and renamed into place only
// when all are complete; a file is replaced only while it is what korvane-dis last wrote
// there, and that is checked again immediately before the rename; temporaries are known
// to the signal handlers of the command, which remove them.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <functional>
#include <span>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "korvane/dis_sources.h"

namespace korvane::files {

// Temporary names marked with this, the process's id and six random characters.
inline constexpr std::string_view kTempMark = ".korvane-dis-";

// The temporary files of a process, where a signal handler can remove them: a fixed
// table of names owned elsewhere (the command keeps one, for its handlers).
class TempList {
  public:
    static constexpr std::size_t kMost = 8192;
    // Adds a name (which must outlive its place here); false when the table is full.
    // Call with the cleanup signals held (SignalsHeld).
    bool add(const char* name);
    // Takes a name off (after it was renamed or removed), likewise.
    void forget(const char* name);
    // Removes every file named; safe in a signal handler.
    void removeAll();

  private:
    const char* names_[kMost] = {};
    volatile std::sig_atomic_t count_ = 0;
};

// SIGTERM, SIGINT and SIGHUP held off for the object's life.
class SignalsHeld {
  public:
    SignalsHeld();
    ~SignalsHeld();
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

  private:
    sigset_t old_;
};

// What a name was when it was judged: absent, or this file as it stood then.
struct Seen {
    bool exists = false;
    std::uint64_t dev = 0, ino = 0, size = 0;
    std::int64_t mtime = 0, ctime = 0;  // nanoseconds
    std::uint32_t mode = 0, uid = 0, gid = 0;
    bool operator==(const Seen&) const = default;
};
// The name as it is now (not followed if it is a link).
Seen look(const std::string& path);

// Whether a name may be replaced by a file of this kind: why is "" when it is absent, or
// a regular file that korvane-dis wrote and nobody changed since, with a write permission
// bit; otherwise a message that ends with `way` (what the user may do instead).
struct Judgement {
    std::string why;
    Seen seen;                   // the name as it was judged
    std::uint64_t recorded = 0;  // the fingerprint the file records (0 for none)
    bool changed = false;        // korvane-dis wrote it, and it was changed since
};
Judgement judge(const std::string& path, Written kind, const std::string& way);

// Writes all of text to a descriptor, going on after interruptions; false on failure.
bool writeAll(int fd, std::string_view text);

// The mode a new file gets: 0666 less the process's umask.
mode_t newFileMode();

// Reads a whole file: a regular file, or a pipe or FIFO where pipes is set (an info file
// given as <(command)). why says what went wrong. st is the file as read.
bool readAll(const std::string& path, std::vector<std::uint8_t>& bytes, std::uint64_t largest, bool pipes,
             Seen& st, std::string& why);

// Reads a file (as readAll takes it) a block at a time, each given to each as it comes:
// a file of any length in bounded memory. why says what went wrong.
bool readEach(const std::string& path, bool pipes, const std::function<void(std::span<const std::uint8_t>)>& each,
              std::string& why);

// Removes what runs killed outright left beside a final name: FINAL + kTempMark + PID +
// "-XXXXXX", a regular file that is empty or begins with a header of korvane-dis's, of
// a process that no longer exists.
void removeLeftovers(const std::string& directory, const std::string& name);

// Whether two names are one file: the same file when both exist, else the same
// directory and last name.
bool sameName(const std::string& a, const std::string& b);

// The files of one run. Each is written under a temporary name (open/write/patch/close,
// or put for a whole text); commit() renames them into place in the order they were
// opened, each only while its final name is still as seen when it was judged, then
// removes the names given to removeAfter (under the same rule). Until commit, and when
// it fails, the temporaries are removed.
class FileSet : public SourceOutput {
  public:
    FileSet(std::string directory, TempList& temps);
    ~FileSet() override;
    FileSet(const FileSet&) = delete;
    FileSet& operator=(const FileSet&) = delete;

    // What the final name (directory + name) must still be at the rename; a name not
    // expected must still be absent.
    void expect(const std::string& name, const Seen& seen, Written kind);
    // A name to remove once the others are in place (an earlier run's part that this
    // run no longer writes), while it is still as seen.
    void removeAfter(const std::string& name, const Seen& seen, Written kind);

    bool open(const std::string& name) override;
    bool write(std::string_view text) override;
    bool patch(std::uint64_t position, std::string_view text) override;
    bool close() override;
    // A whole file at once, with this mode, owner and group (the file it replaces keeps
    // them); false when it cannot be written so.
    bool put(const std::string& name, std::string_view text, mode_t mode, uid_t uid, gid_t gid);
    // A file of the set made now and written through the output returned, which another
    // thread may use (its open takes this name only). It is renamed with the others, in
    // the order the files were made; null when it cannot be made.
    std::unique_ptr<SourceOutput> openApart(const std::string& name);

    // "" when every file is in place, else why not (nothing more was renamed).
    std::string commit();
    // The name being written, or that could not be renamed.
    const std::string& current() const { return current_; }

  private:
    struct File;
    std::string directory_;
    TempList& temps_;
    std::vector<std::unique_ptr<File>> files_;
    std::vector<std::unique_ptr<File>> removals_;
    std::vector<std::unique_ptr<File>> expected_;
    std::string current_;
    int fd_ = -1;
};

}  // namespace korvane::files
