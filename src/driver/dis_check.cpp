// --check: an edited source (or a set of parts) read, checked against what the
// disassembler wrote, and with --write the rewritten numbers put in place, each file
// replaced only while it is as read; --unknowns lists the marks of what stays unknown.
#include "driver/dis_run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace korvane::dis_run {

namespace {

// A checked source put among files, replacing the file seen there (keeping its mode and
// owner, and only while it is still as read) or as a new file: 0, or the error's status.
int putChecked(files::FileSet& files, const std::string& name, std::string_view text,
               const files::Seen& seen, bool replaces) {
    files.expect(name, replaces ? seen : files::Seen{}, Written::Source);
    const mode_t mode = replaces ? static_cast<mode_t>(seen.mode) : files::newFileMode();
    const uid_t uid = replaces ? static_cast<uid_t>(seen.uid) : ::geteuid();
    const gid_t gid = replaces ? static_cast<gid_t>(seen.gid) : ::getegid();
    if (!files.put(name, text, mode, uid, gid))
        return error(uid != ::geteuid() ? Say::CheckedOtherUser : Say::CannotWrite, {.name = name});
    // The source read must still be there as read: an edit saved meanwhile is kept.
    if (replaces && files::look(name) != seen) return error(Say::CheckedChanged, {.name = name});
    return 0;
}

// --check TOP [--write] for the top source of a set of parts: the parts checked as one
// program, and with --write every part that changed replaced (each only while as read).
int checkParts(const std::string& directory, const std::string& top, const std::vector<RecordedPart>& recorded,
               bool writeBack, bool inPlace, files::TempList& temps) {
    if (writeBack && !inPlace) return error(Say::CheckedPartsElsewhere, {.name = top});
    std::vector<PartText> parts;
    std::vector<files::Seen> seen(recorded.size());
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        std::vector<std::uint8_t> bytes;
        std::string why;
        const std::string name = directory + recorded[i].name;
        if (!readAll(name, bytes, why, kLargestSource, false, &seen[i])) return error(why);
        if (writeBack && (seen[i].mode & 0222) == 0) return error(Say::CheckedReadOnly, {.name = name});
        parts.push_back({name, std::string(bytes.begin(), bytes.end())});
    }
    FileIncludes includes;
    const PartsReport report = checkParts(parts, includes, writeBack);
    for (const std::string& m : report.messages) say(m + "\n");
    if (writeBack && !report.changed.empty()) {
        files::FileSet files("", temps);
        for (const PartText& p : report.changed) {
            const std::size_t i = static_cast<std::size_t>(
                std::find_if(parts.begin(), parts.end(), [&](const PartText& x) { return x.name == p.name; }) - parts.begin());
            if (const int status = putChecked(files, p.name, p.text, seen[i], true)) return status;
        }
        if (const std::string bad = files.commit(); !bad.empty()) return error(bad);
    }
    return report.holds ? 0 : 1;
}

}  // namespace

// --check SOURCE --unknowns: every mark of what stays unknown, on standard output.
int unknowns(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    std::string why;
    if (!readAll(path, bytes, why, kLargestSource, false, nullptr)) return error(why);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    std::string out;
    for (const std::string& line : listUnknowns(text, path)) out += line + "\n";
    return files::writeAll(STDOUT_FILENO, out) ? 0 : error(Say::CannotWriteStandardOutput);
}

// --check SOURCE [--write [-o OUT]]: the report on standard error; the rewritten numbers
// put in place (the file replaced through a temporary beside it, with its mode and
// owner), or the checked source written as OUT.
int check(const std::string& path, bool writeBack, const std::string& output, files::TempList& temps) {
    std::vector<std::uint8_t> bytes;
    std::string why;
    struct stat link {};
    const bool inPlace = output.empty() || files::sameName(output, path);
    if (writeBack && inPlace && ::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))
        return error(Say::CheckedLink, {.name = path});
    files::Seen seen;
    if (!readAll(path, bytes, why, kLargestSource, false, &seen)) return error(why);
    if (writeBack && inPlace && (seen.mode & 0222) == 0)
        return error(Say::CheckedReadOnly, {.name = path});
    if (writeBack && !inPlace && files::look(output).exists)
        return error(Say::CheckedOutputExists, {.name = output});
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::size_t slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    bool holds = true;
    std::map<std::string, Judgement> judged;
    for (const RecordedPart& p : recordedParts(text))
        judged[p.name] = files::judge(directory + p.name, Written::Source, "");
    for (const std::string& part : mixedParts(text, judged, directory)) {
        say(command::text(Say::CheckedMixedSet, {.name = path, .other = part}) + "\n");
        holds = false;
    }
    FileIncludes includes;
    if (const std::vector<RecordedPart> recorded = recordedParts(text); !recorded.empty())
        return holds ? checkParts(directory, path, recorded, writeBack, inPlace, temps) : 1;
    const CheckReport report = checkSource(text, path, includes, writeBack);
    for (const std::string& m : report.messages) say(m + "\n");
    if (writeBack && (report.rewritten || !inPlace)) {
        files::FileSet files("", temps);
        const std::string_view out = report.rewritten ? std::string_view(report.text) : text;
        if (const int status = putChecked(files, inPlace ? path : output, out, seen, inPlace)) return status;
        if (const std::string bad = files.commit(); !bad.empty()) return error(bad);
    }
    return holds && report.holds ? 0 : 1;
}

}  // namespace korvane::dis_run
