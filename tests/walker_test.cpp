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
// After abort_after entries the callback ends the walk.
static std::vector<std::string> entries;
static std::string reports;
static size_t abort_after, depth;
static bool deeper;

static void record(const char* path, int32_t kind) {
    reports += kind == WALK_TICK ? "." : "e";
    if (kind == WALK_TICK) return;
    entries.push_back(std::string(path) + ":" + std::to_string(kind));
    deeper = deeper && (size_t)std::count(path, path + strlen(path), '\\') >= depth;
    depth = std::count(path, path + strlen(path), '\\');
    if (entries.size() == abort_after) abort_walk();
}

struct Walker : ::testing::Test {
    void SetUp() override {
        TearDown();
        for (const char* file : {"w\\a", "w\\b", "w\\s\\c", "w\\s\\t\\d", "behind\\c"})
            ASSERT_TRUE(write_file(full_path(file), "x"));
        ASSERT_TRUE(FOOTPRINT_make_link(full_path("behind").c_str(), full_path("w\\l").c_str()));
        entries.clear();
        reports = "";
        abort_after = depth = 0;
        deeper = true;
    }
    void TearDown() override {
        FOOTPRINT_remove_link(full_path("w\\l").c_str());
        EXPECT_TRUE(delete_tree("w") && delete_tree("behind"));
    }
};

TEST_F(Walker, MatchingEntriesFirstThenEachSubdirectoryLinksNeverEntered) {
    // pattern, directory, flags, entries after which a callback ends the walk
    // (0 never), the entries reported, sorted.
    const std::tuple<const char*, std::string, uint32_t, size_t, const char*> rows[] = {
        {"*.*", "w", WALK_DESCEND, 0,
         "w\\a:0 w\\b:0 w\\l:3 w\\s:1 w\\s\\c:0 w\\s\\t:1 w\\s\\t\\d:0"},
        {"*.*", "w", 0, 0, "w\\a:0 w\\b:0 w\\l:3 w\\s:1"},
        {"c", "w", WALK_DESCEND, 0, "w\\s\\c:0"},
        {"*.*", "w", WALK_DESCEND, 4, "w\\a:0 w\\b:0 w\\l:3 w\\s:1"},
        {"*.*", "missing", WALK_DESCEND, 0, ""},  // the end before is forgotten
        {"*.*", std::string(1100, 'd'), WALK_DESCEND, 0, ""},
        {"a", "w\\", 0, 0, "w\\\\a:0"},
    };
    for (auto& [pattern, directory, flags, abort, expected] : rows) {
        SetUp();
        abort_after = abort;
        EXPECT_EQ(walk_tree(pattern, directory.c_str(), record, flags), abort == 0);
        std::sort(entries.begin(), entries.end());
        std::string walked;
        for (const std::string& entry : entries) walked += (walked.empty() ? "" : " ") + entry;
        // A tick before every listing step: never two entries without one
        // between, one for each listing of a directory that gives nothing.
        EXPECT_EQ(walked + (deeper ? "" : " shallower") +
                      (reports.find("ee") != std::string::npos ? " ee" : ""),
                  expected)
            << directory.substr(0, 9) << pattern;
        EXPECT_TRUE(*expected != '\0' || reports == "..") << reports;
    }
}

// On the first directory, walks it itself and ends that walk on its first entry.
static void walk_nested(const char* path, int32_t kind) {
    record(path, kind);
    if (kind == WALK_DIRECTORY && abort_after == 0) {
        abort_after = entries.size() + 1;
        walk_tree("*.*", path, record, 0);
    }
}

TEST_F(Walker, AnEndInsideANestedWalkEndsTheEnclosingWalk) {
    EXPECT_FALSE(walk_tree("*.*", "w", walk_nested, WALK_DESCEND));
    EXPECT_EQ(entries.back().substr(0, 4), "w\\s\\");
    EXPECT_EQ(std::count(entries.begin(), entries.end(), entries.back()), 1);
}

TEST_F(Walker, ListsWhatTheAnsiCallsReachAndTheCdRoms) {
    // "directory\*.*" must fit the ANSI calls: 259 characters on Windows,
    // 260 under Wine; the walker's own paths hold 1023.
    for (auto [length, listed] :
         {std::pair(1, true), std::pair(255, true), std::pair(257, false), std::pair(1020, false)})
        EXPECT_EQ(walk_can_list(std::string(length, 'd').c_str()), listed) << length;
    ASSERT_TRUE(write_file("D:\\walkprobe\\probe.mark", ""));
    EXPECT_TRUE(walk_drives("probe.mark", DRIVE_CLASS_CDROM, record));
    EXPECT_TRUE(DeleteFileA("D:\\walkprobe\\probe.mark") && RemoveDirectoryA("D:\\walkprobe"));
    EXPECT_EQ(entries, std::vector<std::string>{"D:\\walkprobe\\probe.mark:0"});
}
