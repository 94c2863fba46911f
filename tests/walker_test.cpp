// The tree walker against real directories in the test machine.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>

#include "footprint.h"
#include "walker.h"

struct Report {
    std::string path;
    int32_t kind;
};

static std::vector<Report> reports;
static std::string abort_on;  // abort after reporting this path ("" never)
static int nested_walks;

static void record(const char* path, int32_t kind) {
    reports.push_back({path != NULL ? path : "", kind});
    if (kind != WALK_TICK && !abort_on.empty() && abort_on == path) abort_walk();
}

static void make_file(const std::string& path) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, (FILE*)NULL) << path;
    fputs("x", file);
    fclose(file);
}

static void remove_tree(const std::string& path) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                FOOTPRINT_remove_link(child.c_str());
            else if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                remove_tree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// The entries reported, ticks left out.
static std::vector<Report> entries() {
    std::vector<Report> result;
    for (auto& r : reports)
        if (r.kind != WALK_TICK) result.push_back(r);
    return result;
}

static std::vector<std::string> sorted_paths(std::vector<Report> list, size_t from, size_t to) {
    std::vector<std::string> paths;
    for (size_t i = from; i < to && i < list.size(); i++)
        paths.push_back(list[i].path + ":" + std::to_string(list[i].kind));
    std::sort(paths.begin(), paths.end());
    return paths;
}

class Walker : public ::testing::Test {
protected:
    void SetUp() override {
        reports.clear();
        abort_on.clear();
        nested_walks = 0;
        root = "walk";
        remove_tree(root);
        CreateDirectoryA(root.c_str(), NULL);
        make_file(root + "\\a");
        make_file(root + "\\b");
        CreateDirectoryA((root + "\\s").c_str(), NULL);
        make_file(root + "\\s\\c");
    }
    void TearDown() override { remove_tree(root); }
    std::string root;
};

TEST_F(Walker, MatchingEntriesFirstThenSubdirectories) {
    EXPECT_TRUE(walk_tree("*.*", root.c_str(), record, WALK_DESCEND));
    std::vector<Report> list = entries();
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(sorted_paths(list, 0, 3),
              (std::vector<std::string>{"walk\\a:0", "walk\\b:0", "walk\\s:1"}));
    EXPECT_EQ(list[3].path, "walk\\s\\c");
    EXPECT_EQ(list[3].kind, WALK_FILE);
    // A tick before every listing step: the walk starts with one, and no two
    // entries are reported without a tick between them.
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.front().kind, WALK_TICK);
    for (size_t i = 1; i < reports.size(); i++)
        EXPECT_FALSE(reports[i].kind != WALK_TICK && reports[i - 1].kind != WALK_TICK) << i;
    EXPECT_EQ(reports.back().kind, WALK_TICK);
}

TEST_F(Walker, WithoutDescentSubdirectoriesAreNotEntered) {
    EXPECT_TRUE(walk_tree("*.*", root.c_str(), record, 0));
    std::vector<Report> list = entries();
    EXPECT_EQ(sorted_paths(list, 0, list.size()),
              (std::vector<std::string>{"walk\\a:0", "walk\\b:0", "walk\\s:1"}));
}

TEST_F(Walker, PartialPatternStillEntersEverySubdirectory) {
    make_file(root + "\\x.txt");
    make_file(root + "\\s\\z.txt");
    CreateDirectoryA((root + "\\s\\t").c_str(), NULL);
    make_file(root + "\\s\\t\\w.txt");
    make_file(root + "\\s\\t\\w.dat");
    EXPECT_TRUE(walk_tree("*.txt", root.c_str(), record, WALK_DESCEND));
    std::vector<Report> list = entries();
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].path, "walk\\x.txt");
    EXPECT_EQ(list[1].path, "walk\\s\\z.txt");
    EXPECT_EQ(list[2].path, "walk\\s\\t\\w.txt");
}

TEST_F(Walker, AbortOnTheFirstFileEndsTheWalk) {
    // Whichever file is listed first ends the walk; nothing follows it.
    walk_tree("*.*", root.c_str(), record, 0);
    std::string first_file;
    for (auto& r : entries())
        if (r.kind == WALK_FILE) {
            first_file = r.path;
            break;
        }
    reports.clear();
    abort_on = first_file;
    EXPECT_FALSE(walk_tree("*.*", root.c_str(), record, WALK_DESCEND));
    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back().path, first_file);
    for (auto& r : entries()) EXPECT_NE(r.path, "walk\\s\\c");
    // The next walk starts afresh.
    abort_on.clear();
    EXPECT_TRUE(walk_tree("*.*", root.c_str(), record, 0));
}

static void start_nested_walk(const char* path, int32_t kind) {
    record(path, kind);
    if (kind == WALK_DIRECTORY && nested_walks++ == 0) {
        abort_on = std::string(path) + "\\c";
        walk_tree("*.*", path, record, 0);  // aborts inside
    }
}

TEST_F(Walker, AbortInsideANestedWalkEndsTheEnclosingWalk) {
    EXPECT_FALSE(walk_tree("*.*", root.c_str(), start_nested_walk, WALK_DESCEND));
    EXPECT_EQ(entries().back().path, "walk\\s\\c");
    size_t c_reports = 0;
    for (auto& r : entries()) c_reports += r.path == "walk\\s\\c";
    EXPECT_EQ(c_reports, 1u);  // the enclosing walk never descended into s
}

TEST_F(Walker, MissingOrOverlongDirectoryGivesTicksOnly) {
    EXPECT_TRUE(walk_tree("*.*", "no_such_directory", record, WALK_DESCEND));
    EXPECT_TRUE(entries().empty());
    EXPECT_EQ(reports.size(), 2u);  // one tick for each listing
    std::string overlong(1100, 'd');
    EXPECT_TRUE(walk_tree("*.*", overlong.c_str(), record, WALK_DESCEND));
    EXPECT_TRUE(entries().empty());
}

static std::string full_path(const std::string& relative) {
    char buffer[MAX_PATH];
    DWORD length = GetFullPathNameA(relative.c_str(), sizeof buffer, buffer, NULL);
    return length > 0 && length < sizeof buffer ? std::string(buffer) : std::string();
}

TEST_F(Walker, LinksAreReportedAndNeverEntered) {
    // "walk\link" leads to a directory outside the walk holding one file.
    std::string behind = full_path("walk_behind");
    remove_tree(behind);
    CreateDirectoryA(behind.c_str(), NULL);
    make_file(behind + "\\secret");
    ASSERT_TRUE(FOOTPRINT_make_link(behind.c_str(), full_path(root + "\\link").c_str()));
    struct Case {
        const char* pattern;
        uint32_t flags;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"*.*",
         WALK_DESCEND,
         {"walk\\a:0", "walk\\b:0", "walk\\link:3", "walk\\s:1", "walk\\s\\c:0"}},
        {"*.*", 0, {"walk\\a:0", "walk\\b:0", "walk\\link:3", "walk\\s:1"}},
        {"secret", WALK_DESCEND, {}},  // the second listing does not enter it either
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        reports.clear();
        EXPECT_TRUE(walk_tree(c.pattern, root.c_str(), record, c.flags));
        std::vector<Report> list = entries();
        EXPECT_EQ(sorted_paths(list, 0, list.size()), c.expected);
    }
    EXPECT_TRUE(FOOTPRINT_remove_link(full_path(root + "\\link").c_str()));
    remove_tree(behind);
}

TEST(WalkerLimits, CanListWhatTheAnsiCallsReach) {
    // The search path "directory\*.*" must fit the ANSI calls: 259 characters
    // on Windows (Wine takes 260).
    struct Case {
        size_t length;
        bool listed;
    };
    for (const Case c : {Case{1, true}, Case{255, true}, Case{257, false}, Case{1100, false}}) {
        EXPECT_EQ(walk_can_list(std::string(c.length, 'd').c_str()), c.listed) << c.length;
    }
}

TEST_F(Walker, TrailingBackslashDoublesTheSeparator) {
    walk_tree("a", (root + "\\").c_str(), record, 0);
    ASSERT_EQ(entries().size(), 1u);
    EXPECT_EQ(entries()[0].path, "walk\\\\a");
}

TEST(WalkerDrives, ClassesOfTheMachinesDrives) {
    EXPECT_EQ(drive_class('D'), DRIVE_CLASS_CDROM);
    EXPECT_EQ(drive_class('E'), DRIVE_CLASS_CDROM);
    EXPECT_EQ(drive_class('C'), DRIVE_CLASS_FIXED);
    EXPECT_EQ(drive_class('Q'), 0);  // no drive
}

TEST(WalkerDrives, WalkDrivesVisitsTheCdRoms) {
    CreateDirectoryA("D:\\walkprobe", NULL);
    make_file("D:\\walkprobe\\probe.mark");
    reports.clear();
    abort_on.clear();
    EXPECT_TRUE(walk_drives("probe.mark", DRIVE_CLASS_CDROM, record));
    DeleteFileA("D:\\walkprobe\\probe.mark");
    RemoveDirectoryA("D:\\walkprobe");
    std::vector<Report> list = entries();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].path, "D:\\walkprobe\\probe.mark");
}
