// The install-script interpreter: record dispatch and handler results, the
// progress rule, path tokens and the special-folder paths.
#include "script_fixture.h"
#include "memory.h"
#include "qbug.h"

#include <string.h>

// A stand-in command: argument 1 is the result it gives, argument 2 its
// name. Records which commands ran and how far the bar had moved before.
struct Ran {
    std::string name;
    int32_t steps_before;
};
static std::vector<Ran> ran;

static uint16_t probe_command(const SCRIPT_RECORD* record) {
    ran.push_back({record->argument2 != NULL ? record->argument2 : "", fake_progress_steps});
    return (uint16_t)strtoul(record->argument1, NULL, 10);
}

// A stand-in command that records the expansion of its argument 1.
static std::vector<std::string> expansions;
static uint16_t expand_command(const SCRIPT_RECORD* record) {
    char* path = expand_path(record->argument1);
    expansions.push_back(path != NULL ? path : "<none>");
    free(path);
    return 0;
}

static std::string names(void) {
    std::string text;
    for (const Ran& entry : ran) {
        text += (text.empty() ? "" : " ") + entry.name;
    }
    return text;
}

class Interpreter : public ::testing::Test {
protected:
    SCRIPT_HANDLER saved[CMD_END];
    void SetUp() override {
        reset_script_fakes();
        memcpy(saved, script_handlers, sizeof saved);
        ran.clear();
        expansions.clear();
        for (int code = 0; code < CMD_END; code++) {
            script_handlers[code] = probe_command;
        }
        ASSERT_TRUE(MEMORY_initialise());
    }
    void TearDown() override {
        memcpy(script_handlers, saved, sizeof saved);
        MEMORY_deinitialise();
    }

    std::string expand(const char* text, const char* source = "D:\\src") {
        script_handlers[CMD_MAKE_DIR] = expand_command;
        SCRIPT_RECORD script[] = {{CMD_MAKE_DIR, text, NULL}, {CMD_END, NULL, NULL}};
        expansions.clear();
        EXPECT_TRUE(run_script(script, source, "C:\\dst", "C:\\menu", 0, 0));
        return expansions.size() == 1 ? expansions[0] : "<not run>";
    }
};

TEST_F(Interpreter, CountsRecordsBeforeTheEndRecord) {
    EXPECT_EQ(count_script_records(remove_script), 5);
    EXPECT_EQ(count_script_records(install_script), 41);
    EXPECT_EQ(count_script_records(empty_script_one), 0);
    EXPECT_EQ(count_script_records(empty_script_two), 0);
}

TEST_F(Interpreter, HandlerResultsAndRecordCodes) {
    struct Case {
        const char* title;
        std::vector<SCRIPT_RECORD> records;  // the end record is added
        bool complete;
        const char* ran;
        int32_t steps;
    };
    const Case cases[] = {
        {"all go on", {{0, "0", "a"}, {12, "0", "b"}, {5, "0", "c"}}, true, "a b c", 3},
        {"1 stops", {{0, "0", "a"}, {1, "1", "b"}, {2, "0", "c"}}, false, "a b", 1},
        {"2 skips the next", {{0, "2", "a"}, {1, "0", "b"}, {2, "0", "c"}}, true, "a c", 2},
        {"2 skips one only",
         {{0, "2", "a"}, {1, "2", "b"}, {2, "0", "c"}, {3, "0", "d"}},
         true,
         "a c d",
         3},
        {"2 before the end", {{0, "0", "a"}, {1, "2", "b"}}, true, "a b", 2},
        {"other results go on",
         {{0, "3", "a"}, {1, "7", "b"}, {2, "65535", "c"}},
         true,
         "a b c",
         3},
        {"code 14 stops", {{0, "0", "a"}, {14, "0", "x"}, {1, "0", "b"}}, false, "a", 1},
        {"code 32768 stops", {{0, "0", "a"}, {32768, "0", "x"}}, false, "a", 1},
        {"code 65535 stops", {{65535, "0", "x"}, {0, "0", "a"}}, false, "", 0},
        {"a skipped record is not checked",
         {{0, "2", "a"}, {14, "0", "x"}, {1, "0", "b"}},
         true,
         "a b",
         2},
        {"13 ends early", {{0, "0", "a"}, {13, NULL, NULL}, {1, "0", "b"}}, true, "a", 1},
        {"only the end", {}, true, "", 0},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.title);
        std::vector<SCRIPT_RECORD> script = test.records;
        script.push_back({CMD_END, NULL, NULL});
        ran.clear();
        fake_host_reset();
        EXPECT_EQ(run_script(script.data(), NULL, "C:\\dst", "C:\\menu", 0, 0), test.complete);
        EXPECT_EQ(names(), test.ran);
        EXPECT_EQ(fake_progress_steps, test.steps);
    }
}

TEST_F(Interpreter, EachRecordAdvancesTheBarAfterItRan) {
    SCRIPT_RECORD script[] = {
        {0, "0", "a"}, {1, "2", "b"}, {2, "0", "skipped"}, {3, "0", "c"}, {CMD_END, NULL, NULL}};
    EXPECT_TRUE(run_script(script, NULL, "C:\\dst", "C:\\menu", 0, 0));
    ASSERT_EQ(ran.size(), 3u);
    EXPECT_EQ(ran[0].steps_before, 0);
    EXPECT_EQ(ran[1].steps_before, 1);
    EXPECT_EQ(ran[2].steps_before, 2);  // the skipped record gave no step
    EXPECT_EQ(fake_progress_steps, 3);
}

TEST_F(Interpreter, QuietStartOnTheInstallScript) {
    // With the flag the 19 directory records stay off the bar: 22 steps.
    EXPECT_TRUE(run_script(install_script, "D:\\src", "C:\\dst", "C:\\menu", 0, 1));
    ASSERT_EQ(ran.size(), 41u);
    EXPECT_EQ(fake_progress_steps, 22);
    EXPECT_EQ(ran[19].steps_before, 0);
    EXPECT_EQ(ran[40].steps_before, 21);

    ran.clear();
    fake_host_reset();
    EXPECT_TRUE(run_script(install_script, "D:\\src", "C:\\dst", "C:\\menu", 0, 0));
    EXPECT_EQ(fake_progress_steps, 41);
}

TEST_F(Interpreter, QuietStartCountsASkippedRecord) {
    // 21 records, record 5 skips record 6: the skipped record counts towards
    // the 19 quiet records, so records 19 and 20 each still give a step.
    std::vector<SCRIPT_RECORD> script;
    static const char* labels[21] = {"0",  "1",  "2",  "3",  "4",  "5",  "6",
                                     "7",  "8",  "9",  "10", "11", "12", "13",
                                     "14", "15", "16", "17", "18", "19", "20"};
    for (int index = 0; index < 21; index++) {
        script.push_back({CMD_MAKE_DIR, index == 5 ? "2" : "0", labels[index]});
    }
    script.push_back({CMD_END, NULL, NULL});
    EXPECT_TRUE(run_script(script.data(), NULL, "C:\\dst", "C:\\menu", 0, 1));
    EXPECT_EQ(ran.size(), 20u);
    EXPECT_EQ(fake_progress_steps, 2);
}

TEST_F(Interpreter, ExpandsPathTokens) {
    char system_directory[256];
    GetSystemDirectoryA(system_directory, sizeof system_directory);
    char desktop[MAX_PATH] = "";
    char program_files[MAX_PATH] = "";
    ASSERT_EQ(SHGetFolderPathA(NULL, CSIDL_DESKTOP, NULL, 0, desktop), S_OK);
    ASSERT_EQ(SHGetFolderPathA(NULL, CSIDL_PROGRAM_FILES, NULL, 0, program_files), S_OK);

    struct Case {
        const char* text;
        std::string expected;
    };
    const Case cases[] = {
        {"<DST>\\data", "C:\\dst\\data"},
        {"<SRC>\\data\\Anims", "D:\\src\\data\\Anims"},
        {"<STARTMENU>\\Tarnholm Demo.lnk", "C:\\menu\\Tarnholm Demo.lnk"},
        {"<WINSYSTEM>\\x.dll", std::string(system_directory) + "\\x.dll"},
        {"<CSIDL_DESKTOP>", desktop},
        {"<CSIDL_PROGRAM_FILES>\\VKQ", std::string(program_files) + "\\VKQ"},
        {"no tokens here", "no tokens here"},
        {"", ""},
        {NULL, "<none>"},
        {"a<DST>b", "aC:\\dstb"},
        {"ends in <DST>", "ends in C:\\dst"},
        {"<DST><SRC>", "C:\\dstD:\\src"},
        {"<SRC><DST>", "D:\\src<DST>"},  // "<DST>" stands earlier in the table
        {"<DST><DST>", "C:\\dst<DST>"},
        {"<dst>\\data", "<dst>\\data"},
        {"<OTHER>", "<OTHER>"},
        {"<", "<"},
        {"<DST", "<DST"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.text != NULL ? test.text : "NULL");
        EXPECT_EQ(expand(test.text), test.expected);
    }
}

TEST_F(Interpreter, NeverCutsAnExpandedPath) {
    const std::string fits(511, 'x');
    const std::string too_long(512, 'x');
    EXPECT_EQ(expand(fits.c_str()), fits);
    EXPECT_EQ(expand(too_long.c_str()), "<none>");

    // "C:\dst" is 6 characters: 6 + 505 fit, 6 + 506 do not.
    const std::string fits_after("<DST>" + std::string(505, 'y'));
    const std::string too_long_after("<DST>" + std::string(506, 'y'));
    EXPECT_EQ(expand(fits_after.c_str()), "C:\\dst" + std::string(505, 'y'));
    EXPECT_EQ(expand(too_long_after.c_str()), "<none>");

    // A token near the end that would carry the result over the limit.
    const std::string token_over(std::string(508, 'z') + "<DST>");
    EXPECT_EQ(expand(token_over.c_str()), "<none>");

    // Input over the limit that its token shrinks to exactly 511 characters.
    char appdata[MAX_PATH] = "";
    ASSERT_EQ(SHGetFolderPathA(NULL, CSIDL_COMMON_APPDATA, NULL, 0, appdata), S_OK);
    ASSERT_LT(strlen(appdata), strlen("<CSIDL_COMMON_APPDATA>"));
    const std::string lead(511 - strlen(appdata), 'w');
    const std::string shrinks(lead + "<CSIDL_COMMON_APPDATA>");
    ASSERT_GT(shrinks.size(), 511u);
    EXPECT_EQ(expand(shrinks.c_str()), lead + appdata);
}

TEST_F(Interpreter, TokenWithoutValueGivesNoPath) {
    EXPECT_EQ(expand("<SRC>\\data", NULL), "<none>");
    EXPECT_EQ(expand("<DST>\\data", NULL), "C:\\dst\\data");
    // Outside a run no token has a value.
    char* outside = expand_path("<DST>");
    EXPECT_EQ(outside, (char*)NULL);
    free(outside);
    char* plain = expand_path("plain");
    ASSERT_NE(plain, (char*)NULL);
    EXPECT_STREQ(plain, "plain");
    free(plain);
}

// The usage dump of the tracked allocator: its block lines.
static std::vector<std::string> live_blocks(void) {
    QBUG_set_retail_file("retail.dbg");
    MEMORY_usage();
    std::vector<std::string> blocks;
    std::string content = read_file("retail.dbg");
    size_t start = 0;
    while (start < content.size()) {
        size_t end = content.find('\n', start);
        std::string line =
            content.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!line.empty() && line[0] == '[') {
            blocks.push_back(line.substr(0, line.find("; addr:")));
        }
        start = end == std::string::npos ? content.size() : end + 1;
    }
    return blocks;
}

static std::vector<std::string> blocks_during_run;
static uint16_t dump_command(const SCRIPT_RECORD* record) {
    blocks_during_run = live_blocks();
    return (uint16_t)strtoul(record->argument1, NULL, 10);
}

TEST_F(Interpreter, FolderPathsComeFromTheTrackedAllocatorForOneRun) {
    script_handlers[CMD_MAKE_DIR] = dump_command;
    SCRIPT_RECORD stops[] = {{CMD_MAKE_DIR, "1", NULL}, {CMD_END, NULL, NULL}};
    SCRIPT_RECORD goes[] = {{CMD_MAKE_DIR, "0", NULL}, {CMD_END, NULL, NULL}};
    const SCRIPT_RECORD* scripts[] = {stops, goes, stops, goes};
    for (const SCRIPT_RECORD* script : scripts) {
        blocks_during_run.clear();
        QBUG_set_retail_file("retail.dbg");
        run_script(script, NULL, "C:\\dst", "C:\\menu", 0, 0);
        std::string retail = read_file("retail.dbg");
        // Six special-folder paths live during the run ...
        ASSERT_EQ(blocks_during_run.size(), 6u);
        for (const std::string& block : blocks_during_run) {
            EXPECT_EQ(block.substr(0, 10), "[COPYFLST,") << block;
            EXPECT_NE(block.find("size:       260; name: csidl_data[f].csidl_pat "),
                      std::string::npos)
                << block;
        }
        // ... and none after it, also after a stopped run, so that no run
        // hands the allocator a block it still holds.
        EXPECT_EQ(retail.find("previous data not freed"), std::string::npos) << retail;
        EXPECT_TRUE(live_blocks().empty());
    }
}

TEST_F(Interpreter, FailedFolderAllocationIsShownAndLeavesItsTokenEmpty) {
    // Without the allocator every allocation fails.
    ASSERT_TRUE(MEMORY_deinitialise());
    script_handlers[CMD_MAKE_DIR] = expand_command;
    SCRIPT_RECORD script[] = {{CMD_MAKE_DIR, "<CSIDL_PERSONAL>", NULL},
                              {CMD_MAKE_DIR, "<CSIDL_DESKTOP>\\x.lnk", NULL},
                              {CMD_MAKE_DIR, "<DST>\\x", NULL},
                              {CMD_END, NULL, NULL}};
    EXPECT_TRUE(run_script(script, NULL, "C:\\dst", "C:\\menu", 0, 0));
    ASSERT_EQ(shown_boxes.size(), 6u);
    for (const ShownBox& box : shown_boxes) {
        EXPECT_EQ(box.text, "Failed to allcoate memory for path");
        EXPECT_EQ(box.caption, "Error");
        EXPECT_EQ(box.type, (uint32_t)MB_OK);
    }
    EXPECT_EQ(expansions, (std::vector<std::string>{"<none>", "<none>", "C:\\dst\\x"}));
}
