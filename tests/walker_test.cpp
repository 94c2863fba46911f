// The tree walker against real directories of the test machine: w holds the
// files a and b, the link l to a directory that holds a file c, and the
// directory s with the file c and the directory t with the file d.
#include <gtest/gtest.h>

#include <algorithm>

#include <windows.h>

#include "footprint.h"
#include "support.h"
#include "walker.h"

// The entries reported ("path:kind"), the reports in order ("." a tick, "e"
// an entry), and whether each entry lay at least as deep as the one before.
// After abort_after entries the callback ends the walk; with nest it walks
// the first directory itself instead and ends that walk on its first entry.
static std::vector<std::string> entries;
static std::string reports;
static size_t abort_after, depth;
static bool deeper, nest;

static void record(const char* path, int32_t kind) {
    reports += kind == WALK_TICK ? "." : "e";
    if (kind == WALK_TICK) return;
    entries.push_back(std::string(path) + ":" + std::to_string(kind));
    size_t level = std::count(path, path + strlen(path), '\\');
    deeper = deeper && level >= depth;
    depth = level;
    if (entries.size() == abort_after) abort_walk();
    if (kind == WALK_DIRECTORY && nest && abort_after == 0) {
        abort_after = entries.size() + 1;
        walk_tree("*.*", path, record, 0);
    }
}

TEST(Walker, MatchingEntriesFirstThenEachSubdirectoryLinksNeverEntered) {
    // pattern, directory, flags, entries after which a callback ends the walk
    // (0 never, 9 a nested walk), the entries reported, sorted.
    const std::tuple<const char*, std::string, uint32_t, size_t, const char*> rows[] = {
        {"*.*", "w", WALK_DESCEND, 0,
         "w\\a:0 w\\b:0 w\\l:3 w\\s:1 w\\s\\c:0 w\\s\\t:1 w\\s\\t\\d:0"},
        {"*.*", "w", 0, 0, "w\\a:0 w\\b:0 w\\l:3 w\\s:1"},
        {"c", "w", WALK_DESCEND, 0, "w\\s\\c:0"},
        {"*.*", "w", WALK_DESCEND, 4, "w\\a:0 w\\b:0 w\\l:3 w\\s:1"},
        {"*.*", "missing", WALK_DESCEND, 0, ""},  // the end before is forgotten
        {"*.*", std::string(1100, 'd'), WALK_DESCEND, 0, ""},
        {"a", "w\\", 0, 0, "w\\\\a:0"},
        // An end inside a walk that a callback started ends the enclosing one.
        {"t", "w\\s", WALK_DESCEND, 9, "w\\s\\t:1 w\\s\\t\\d:0"},
    };
    for (auto& [pattern, directory, flags, abort, expected] : rows) {
        SCOPED_TRACE(directory.substr(0, 9) + pattern);
        ASSERT_TRUE(delete_tree("w") && delete_tree("behind"));
        for (const char* file : {"w\\a", "w\\b", "w\\s\\c", "w\\s\\t\\d", "behind\\c"})
            ASSERT_TRUE(write_file(full_path(file), "x"));
        ASSERT_TRUE(FOOTPRINT_make_link(full_path("behind").c_str(), full_path("w\\l").c_str()));
        entries.clear(), reports = "", depth = 0, deeper = true;
        abort_after = (nest = abort == 9) ? 0 : abort;
        EXPECT_EQ(walk_tree(pattern, directory.c_str(), record, flags), abort == 0);
        std::sort(entries.begin(), entries.end());
        std::string walked;
        for (const std::string& entry : entries) walked += (walked.empty() ? "" : " ") + entry;
        // A tick before every listing step: never two entries without one
        // between, one for each listing of a directory that gives nothing.
        EXPECT_EQ(walked + (deeper ? "" : " shallower") +
                      (reports.find("ee") != std::string::npos ? " ee" : ""),
                  expected);
        EXPECT_TRUE(*expected != '\0' || reports == "..") << reports;
    }
}
