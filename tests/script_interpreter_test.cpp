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
static std::string ran, expanded;

// Gives the result that argument 1 asks for.
static uint16_t stand_in(const SCRIPT_RECORD* record) {
    ran += std::to_string(record - first_record) + "@" + std::to_string(fake_progress_steps) + " ";
    char* path = expand_path(record->argument2);
    expanded = path != NULL ? path : "<none>";
    free(path);
    return (uint16_t)atoi(record->argument1 != NULL ? record->argument1 : "0");
}

// The bytes the tracked allocator holds, from its usage dump.
static std::string held_bytes(void) {
    DeleteFileA("retail.dbg");
    MEMORY_usage();
    std::string dump = read_file("retail.dbg");
    size_t from = dump.find("allocated = ") + 12;
    return from < 12 ? "no dump" : dump.substr(from, dump.find(' ', from) - from);
}

struct Interpreter : ::testing::Test {
    void SetUp() override {
        for (SCRIPT_HANDLER& handler : script_handlers) handler = stand_in;
        ASSERT_TRUE(MEMORY_initialise());
        QBUG_set_retail_file("retail.dbg");
    }
    void TearDown() override { MEMORY_deinitialise(); }
    // What ran, "=" and the steps made in all, " stopped" when it stopped,
    // and what the run left allocated (its special-folder paths live for it
    // alone, also when it stops).
    std::string run(const SCRIPT_RECORD* script, uint8_t quiet = 0,
                    const char* source = "D:\\src") {
        fake_host_reset();
        ran = "";
        first_record = script;
        bool complete = run_script(script, source, "C:\\dst", "C:\\menu", 0, quiet);
        return ran + "=" + std::to_string(fake_progress_steps) + (complete ? "" : " stopped") +
               (held_bytes() == "0" ? "" : " left " + held_bytes());
    }
    std::string expand(const char* text, const char* source = "D:\\src") {
        const SCRIPT_RECORD script[] = {{CMD_MAKE_DIR, "0", text}, {CMD_END, NULL, NULL}};
        EXPECT_EQ(run(script, 0, source), "0@0 =1");
        return expanded;
    }
};

TEST_F(Interpreter, HandlerResultsRecordCodesAndProgress) {
    // Records "code/result" (the end record is added); "quiet" sets the flag.
    const std::pair<const char*, const char*> rows[] = {
        {"0/0 12/0 5/0", "0@0 1@1 2@2 =3"},
        {"0/0 1/1 2/0", "0@0 1@1 =1 stopped"},
        {"0/2 1/0 2/0", "0@0 2@1 =2"},
        {"0/2 1/2 2/0 3/0", "0@0 2@1 3@2 =3"},
        {"0/0 1/2", "0@0 1@1 =2"},              // the end record is never skipped
        {"0/3 1/7 2/65535", "0@0 1@1 2@2 =3"},  // other results go on
        {"0/0 14/0 1/0", "0@0 =1 stopped"},
        {"0/0 32768/0", "0@0 =1 stopped"},
        {"65535/0 0/0", "=0 stopped"},
        {"0/2 14/0 1/0", "0@0 2@1 =2"},  // a skipped code is not looked at
        {"0/0 13/0 1/0", "0@0 =1"},
        {"", "=0"},
        // The skipped record counts towards the 19 that stay off the bar.
        {"quiet 0/0 0/0 0/0 0/0 0/0 0/2 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 0/0 "
         "0/0",
         "0@0 1@0 2@0 3@0 4@0 5@0 7@0 8@0 9@0 10@0 11@0 12@0 13@0 14@0 15@0 16@0 17@0 18@0 19@0 "
         "20@1 =2"},
    };
    for (auto [records, expected] : rows) {
        std::istringstream words(records);
        std::vector<std::string> fields(std::istream_iterator<std::string>(words), {});
        std::vector<SCRIPT_RECORD> script;
        for (const std::string& field : fields)
            if (field != "quiet")
                script.push_back({(uint16_t)atoi(&field[0]), &field[field.find('/') + 1], NULL});
        script.push_back({CMD_END, NULL, NULL});
        EXPECT_EQ(run(script.data(), fields.size() > 0 && fields[0] == "quiet"), expected)
            << records;
    }
    // The install script's 19 directory records stay off the bar, its 22
    // others give a step each.
    EXPECT_EQ(run(install_script, 1).substr(ran.size()), "=22");
    EXPECT_EQ(count_script_records(remove_script), 5);
}

TEST_F(Interpreter, ExpandsPathTokensAndNeverCutsAPath) {
    char system[MAX_PATH], desktop[MAX_PATH], program_files[MAX_PATH], appdata[MAX_PATH];
    GetSystemDirectoryA(system, sizeof system);
    ASSERT_TRUE(FOOTPRINT_folder(CSIDL_DESKTOP, desktop) &&
                FOOTPRINT_folder(CSIDL_PROGRAM_FILES, program_files) &&
                FOOTPRINT_folder(CSIDL_COMMON_APPDATA, appdata));
    // Over 511 characters with a token that its shorter value brings to 511.
    const std::string lead(511 - strlen(appdata), 'w'), x(511, 'x'), y(505, 'y'), z(506, 'z');
    ASSERT_LT(strlen(appdata), strlen("<CSIDL_COMMON_APPDATA>"));
    const std::pair<std::string, std::string> rows[] = {
        {"<DST>\\data", "C:\\dst\\data"},
        {"<SRC>|<STARTMENU>|<WINSYSTEM>|<CSIDL_DESKTOP>|<CSIDL_PROGRAM_FILES>\\VKQ",
         std::string("D:\\src|C:\\menu|") + system + "|" + desktop + "|" + program_files + "\\VKQ"},
        {"no tokens here", "no tokens here"},
        {"", ""},
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
    EXPECT_EQ(expand(NULL), "<none>");
    // A token without a value gives no path; outside a run none has one.
    EXPECT_EQ(expand("<SRC>\\data", NULL), "<none>");
    EXPECT_EQ(expand_path("<DST>"), (char*)NULL);
    // Without the tracked allocator no folder path can be had: each is shown
    // and its token has no value.
    ASSERT_TRUE(MEMORY_deinitialise());
    static std::string boxes;
    script_message_box = [](const char* text, const char* caption, uint32_t type) -> int32_t {
        boxes += std::string(caption) + ":" + text + ":" + std::to_string(type) + " ";
        return IDOK;
    };
    const SCRIPT_RECORD script[] = {{CMD_MAKE_DIR, "0", "<CSIDL_DESKTOP>"}, {CMD_END, NULL, NULL}};
    EXPECT_EQ(run(script) + expanded, "0@0 =1 left no dump<none>");
    std::string box = "Error:Failed to allcoate memory for path:0 ";
    EXPECT_EQ(boxes, box + box + box + box + box + box);
}
