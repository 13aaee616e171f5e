// The safe replacement of korvane-dis's files, driven directly: a file is replaced only
// while its name is still what was judged (an edit saved while a run is under way is
// kept); temporaries are known to the signal handlers' table until they are renamed or
// removed; an earlier run's extra file goes only while unchanged.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "files/replace.h"
#include "unit/support.h"

namespace korvane::test {
namespace {

using korvane::files::FileSet;
using korvane::files::Seen;
using korvane::files::TempList;

std::size_t temporaries(const TempDir& dir) {
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        n += e.path().filename().string().find(".korvane-dis-") != std::string::npos;
    return n;
}

TEST(Files, ReplacedOnlyWhileStillAsJudged) {
    // What happens to the final name between the judgement and the commit.
    enum class Meanwhile { Nothing, Edited, Created, Removed };
    const struct {
        Meanwhile meanwhile;
        bool existed, replaced;
    } cases[] = {
        {Meanwhile::Nothing, true, true},  {Meanwhile::Nothing, false, true}, {Meanwhile::Edited, true, false},
        {Meanwhile::Created, false, false}, {Meanwhile::Removed, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.meanwhile));
        TempDir dir;
        const std::string path = dir.file("a.s");
        if (c.existed) dir.write("a.s", "earlier\n");
        const Seen seen = korvane::files::judge(path, Written::Source, "").seen;
        TempList temps;
        {
            FileSet set(dir.path() + "/", temps);
            set.expect("a.s", seen, Written::Source);
            ASSERT_TRUE(set.put("a.s", "new\n", 0644, ::geteuid(), ::getegid()));
            EXPECT_EQ(temporaries(dir), 1u);
            if (c.meanwhile == Meanwhile::Edited) dir.write("a.s", "earlier, and the user's edit\n");
            if (c.meanwhile == Meanwhile::Created) dir.write("a.s", "the user's own\n");
            if (c.meanwhile == Meanwhile::Removed) std::filesystem::remove(path);
            const std::string why = set.commit();
            EXPECT_EQ(why.empty(), c.replaced) << why;
        }
        EXPECT_EQ(temporaries(dir), 0u);
        if (c.replaced) {
            EXPECT_EQ(dir.read("a.s"), "new\n");
        }
        if (c.meanwhile == Meanwhile::Edited) {
            EXPECT_EQ(dir.read("a.s"), "earlier, and the user's edit\n");
        }
        if (c.meanwhile == Meanwhile::Created) {
            EXPECT_EQ(dir.read("a.s"), "the user's own\n");
        }
    }
}

TEST(Files, TemporariesAreTheSignalHandlersUntilRenamed) {
    TempDir dir;
    TempList temps;
    FileSet set(dir.path() + "/", temps);
    set.expect("b.s", Seen{}, Written::Source);
    ASSERT_TRUE(set.open("b.s"));
    ASSERT_TRUE(set.write("text"));
    ASSERT_TRUE(set.close());
    EXPECT_EQ(temporaries(dir), 1u);
    temps.removeAll();  // what the handler of SIGTERM does
    EXPECT_EQ(temporaries(dir), 0u);

    // An extra file of an earlier run goes after the commit, only while unchanged.
    dir.write("keep.s", "one\n");
    dir.write("drop.s", "two\n");
    TempList more;
    FileSet other(dir.path() + "/", more);
    other.removeAfter("keep.s", korvane::files::look(dir.file("keep.s")), Written::Source);
    other.removeAfter("drop.s", korvane::files::look(dir.file("drop.s")), Written::Source);
    dir.write("keep.s", "one, edited\n");
    EXPECT_EQ(other.commit(), "");
    EXPECT_TRUE(dir.exists("keep.s"));
    EXPECT_FALSE(dir.exists("drop.s"));
}

}  // namespace
}  // namespace korvane::test
