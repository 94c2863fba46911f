// The install-script interpreter with a stand-in for every command: record
// dispatch and handler results, the progress bar, path tokens and the
// special-folder paths.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <sstream>

#include <windows.h>
#include <shlobj.h>

#include "COPYFLST.h"
#include "fake_host.h"
#include "footprint.h"
#include "memory.h"
#include "qbug.h"
#include "support.h"

// What the stand-in saw: "<record index>@<progress steps before it>" for
// each record it ran, and the expansion of its argument 2.
static const SCRIPT_RECORD* first_record;
static std::string ran, expanded, boxes;  // boxes: "caption:text|" of each

// Gives the result that argument 1 asks for.
static uint16_t stand_in(const SCRIPT_RECORD* record) {
    ran += std::to_string(record - first_record) + "@" + std::to_string(fake_progress_steps) + " ";
    char* path = expand_path(record->argument2);
    expanded = path != NULL ? path : "<none>";
    free(path);
    return (uint16_t)atoi(record->argument1 != NULL ? record->argument1 : "0");
}

// What ran, "=" and the steps made in all, " stopped" when it stopped, and
// " held" when the tracked allocator's usage dump does not show it empty
// after the run (the run's special-folder paths live for it alone, also when
// it stops; without the allocator there is no dump).
static std::string run(const SCRIPT_RECORD* script, uint8_t quiet = 0,
                       const char* source = "D:\\src") {
    for (SCRIPT_HANDLER& handler : script_handlers) handler = stand_in;
    script_message_box = [](const char* text, const char* caption, uint32_t) -> int32_t {
        boxes += std::string(caption) + ":" + text + "|";
        return IDOK;
    };
    fake_host_reset();
    ran = "", first_record = script;
    bool complete = run_script(script, source, "C:\\dst", "C:\\menu", 0, quiet);
    DeleteFileA("retail.dbg");
    QBUG_set_retail_file("retail.dbg");
    MEMORY_usage();
    bool held = read_file("retail.dbg").find("allocated = 0 ") == std::string::npos;
    return ran + "=" + std::to_string(fake_progress_steps) + (complete ? "" : " stopped") +
           (held ? " held" : "");
}

static std::string expand(const char* text, const char* source = "D:\\src") {
    const SCRIPT_RECORD script[] = {{CMD_MAKE_DIR, "0", text}, {CMD_END, NULL, NULL}};
    EXPECT_EQ(run(script, 0, source), "0@0 =1") << text;
    return expanded;
}

static const bool started = MEMORY_initialise();

TEST(Interpreter, HandlerResultsRecordCodesAndProgress) {
    ASSERT_TRUE(started);
    // Records "code/result" (the end record is added); a leading "q" sets the
    // quiet flag.
    const std::pair<const char*, const char*> rows[] = {
        {"0/0 12/0 5/0", "0@0 1@1 2@2 =3"},
        {"0/0 1/1 2/0", "0@0 1@1 =1 stopped"},
        {"0/2 1/0 2/0", "0@0 2@1 =2"},
        {"0/2 1/2 2/0 3/0", "0@0 2@1 3@2 =3"},
        {"0/0 1/2", "0@0 1@1 =2"},              // the end record is never skipped
        {"0/3 1/7 2/65535", "0@0 1@1 2@2 =3"},  // other results go on
        {"0/0 14/0 1/0", "0@0 =1 stopped"},
        {"0/2 14/0 1/0", "0@0 2@1 =2"},  // a skipped code is not looked at
        {"0/0 13/0 1/0", "0@0 =1"},
        {"", "=0"},
        // The 19 records that stay off the bar count the skipped one.
        {"q0/0 0/0 0/0 0/0 0/0 0/2 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 "
         "0/0",
         "0@0 1@0 2@0 3@0 4@0 5@0 7@0 8@0 9@0 10@0 11@0 12@0 13@0 14@0 15@0 16@0 17@0 18@0 19@0 "
         "20@1 =2"},
    };
    for (auto [records, expected] : rows) {
        std::string words = records;
        std::vector<SCRIPT_RECORD> script;
        for (char* word = strtok(&words[0], " "); word != NULL; word = strtok(NULL, " "))
            script.push_back({(uint16_t)atoi(word + (*word == 'q')), strchr(word, '/') + 1, NULL});
        script.push_back({CMD_END, NULL, NULL});
        EXPECT_EQ(run(script.data(), records[0] == 'q'), expected) << records;
    }
}

TEST(Interpreter, ExpandsPathTokensAndNeverCutsAPath) {
    ASSERT_TRUE(started);
    const std::string system = FOOTPRINT_folder(CSIDL_SYSTEM),
                      desktop = FOOTPRINT_folder(CSIDL_DESKTOP),
                      program_files = FOOTPRINT_folder(CSIDL_PROGRAM_FILES),
                      appdata = FOOTPRINT_folder(CSIDL_COMMON_APPDATA);
    ASSERT_FALSE(system.empty() || desktop.empty() || program_files.empty() || appdata.empty());
    // Over 511 characters with a token that its shorter value brings to 511.
    const std::string lead(511 - appdata.size(), 'w'), x(511, 'x'), y(505, 'y'), z(506, 'z');
    ASSERT_LT(appdata.size(), strlen("<CSIDL_COMMON_APPDATA>"));
    const std::pair<std::string, std::string> rows[] = {
        {"<DST>|<SRC>|<STARTMENU>|<WINSYSTEM>|<CSIDL_DESKTOP>|<CSIDL_PROGRAM_FILES>\\VKQ",
         std::string("C:\\dst|D:\\src|C:\\menu|") + system + "|" + desktop + "|" + program_files +
             "\\VKQ"},
        {"a<DST>b <dst> <OTHER> < <DST", "aC:\\dstb <dst> <OTHER> < <DST"},
        {"<DST><SRC>|<SRC><DST>|<DST><DST>", "C:\\dstD:\\src|D:\\src<DST>|C:\\dst<DST>"},
        {x, x},
        {x + "x", "<none>"},
        {"<DST>" + y, "C:\\dst" + y},  // 6 + 505 characters
        {"<DST>" + y + "y", "<none>"},
        {z + "<DST>", "<none>"},  // 506 + 6
        {lead + "<CSIDL_COMMON_APPDATA>", lead + appdata},
    };
    for (auto [text, path] : rows) EXPECT_EQ(expand(text.c_str()), path) << text;
    // A token without a value gives no path; outside a run none has one.
    EXPECT_EQ(expand("<SRC>\\data", NULL), "<none>");
    EXPECT_EQ(expand_path("<DST>"), (char*)NULL);
    // Without the tracked allocator no folder path can be had: each of the
    // six is shown and its token has no value.
    ASSERT_TRUE(MEMORY_deinitialise());
    const SCRIPT_RECORD script[] = {{CMD_MAKE_DIR, "0", "<CSIDL_DESKTOP>"}, {CMD_END, NULL, NULL}};
    const std::string box = "Error:Failed to allcoate memory for path|";
    EXPECT_EQ(run(script) + expanded + boxes,
              "0@0 =1 held<none>" + box + box + box + box + box + box);
}
