// File access: resolution through directories and name trees, the trees
// themselves, traced I/O, chunked reads and the checksum, against real files
// below the test's working directory.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include <windows.h>

#include "failing_heap.h"
#include "footprint.h"
#include "memory.h"
#include "qbug.h"
#include "qfile.h"

// --- Files --------------------------------------------------------------

static void write_file(const std::string& path, const std::string& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, (FILE*)NULL) << path;
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}

static std::string read_text(const std::string& path) {
    std::string text;
    FILE* file = fopen(path.c_str(), "r");
    if (file == NULL) return "<missing>";
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, count);
    fclose(file);
    return text;
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

static std::string current_directory() {
    char buffer[MAX_PATH];
    GetCurrentDirectoryA(sizeof buffer, buffer);
    return buffer;
}

// Bytes 0, 1, 2, ... 250, 0, 1, ... (a prime period, so chunks differ).
static std::string pattern_bytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; i++) bytes[i] = (char)(i % 251);
    return bytes;
}

static QFILE_SETTINGS default_settings() {
    QFILE_SETTINGS settings;
    memset(&settings, 0, sizeof settings);
    settings.search_path_count = 4;
    settings.initial_tree_capacity = 5000;
    settings.tree_growth_step = 1000;
    settings.chunk_size = 200000;
    return settings;
}

static std::string text_or_null(const char* text) { return text != NULL ? text : "<NULL>"; }

// --- Fixture --------------------------------------------------------------

// Each test starts with the allocator up, trace lines going to its own develop
// file, the file-access module inactive and an empty workspace "ws". At the
// end the module is shut down and the allocator must find nothing left over.
class Qfile : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        develop = std::string(info->name()) + ".develop.dbg";
        QBUG_set_output_mode(QBUG_OUT_DEVELOP_FILE);
        QBUG_set_develop_file(develop.c_str());
        QBUG_enable_trace();
        ASSERT_TRUE(MEMORY_initialise());
        remove_tree("ws");
        ASSERT_TRUE(CreateDirectoryA("ws", NULL));
    }
    void TearDown() override {
        QFILE_deinitialise();
        MEMORY_deinitialise();
        EXPECT_FALSE(traced("MEMORY_deinitialise error: memory leaks detected"));
        QBUG_disable_trace();
        QBUG_set_output_mode(QBUG_OUT_NONE);
        remove_tree("ws");
    }
    // True when a trace line carries exactly this message.
    bool traced(const std::string& message) {
        return read_text(develop).find("] " + message + "\n") != std::string::npos;
    }
    std::string develop;
};

// The game-data layout most resolution cases use.
static void make_data_directory() {
    ASSERT_TRUE(CreateDirectoryA("ws\\data", NULL));
    ASSERT_TRUE(CreateDirectoryA("ws\\data\\sub", NULL));
    write_file("ws\\data\\intro.dat", "intro.dat");
    write_file("ws\\data\\intro.txt", "intro.txt");
    write_file("ws\\data\\intro", "intro");
    write_file("ws\\data\\ab.dat", "ab");
    write_file("ws\\data\\Mixed.DAT", "mixed");
    write_file("ws\\data\\averylongfilename.dat", "long");
    write_file("ws\\data\\sub\\deep.dat", "deep");
    write_file("ws\\dataintro.dat", "joined");  // slot "ws\data" + "intro.dat", no separator
}

// --- Life cycle and switches ------------------------------------------------

TEST_F(Qfile, InactiveModuleRefusesAndSecondInitialiseIsRefused) {
    EXPECT_EQ(QFILE_make_full_path("intro"), (char*)NULL);
    EXPECT_TRUE(traced("QFILE_make_full_path: QFILE not initialised"));
    EXPECT_FALSE(QFILE_read_file("intro", NULL, 0));
    EXPECT_EQ(QFILE_allocate_and_read_file("intro", NULL, NULL), (void*)NULL);
    EXPECT_TRUE(traced("QFILE_allocate_and_read_file: QFILE not active"));
    EXPECT_FALSE(QFILE_deinitialise());

    ASSERT_TRUE(QFILE_initialise(NULL));
    EXPECT_FALSE(QFILE_initialise(NULL));
    EXPECT_EQ(QFILE_get_use_tree_to_find_files(), 1);
    EXPECT_STREQ(QFILE_get_extension(), "");
    EXPECT_EQ(QFILE_set_crc_state(1), 0);
    EXPECT_EQ(QFILE_get_crc_total(), 0u);
    EXPECT_TRUE(QFILE_deinitialise());
    EXPECT_FALSE(QFILE_deinitialise());
    EXPECT_EQ(QFILE_make_full_path("intro"), (char*)NULL);

    EXPECT_EQ(QFILE_make_full_path(""), (char*)NULL);  // still inactive: not the size message
    ASSERT_TRUE(QFILE_initialise(NULL));
    EXPECT_EQ(QFILE_make_full_path(""), (char*)NULL);
    EXPECT_TRUE(traced("QFILE_make_full_path: String size of zero"));
}

TEST_F(Qfile, InitialiseWithoutItsBlocksLeavesModuleInactive) {
    QFILE_SETTINGS no_slots = default_settings();
    no_slots.search_path_count = 0;
    EXPECT_FALSE(QFILE_initialise(&no_slots));
    EXPECT_TRUE(traced("QFILE_initialise: Failed to allocate memory size:"));
    EXPECT_EQ(QFILE_get_use_tree_to_find_files(), 0);
    EXPECT_EQ(QFILE_add_search_path("ws"), -1);

    // No chunk buffer: refused too, and the slot array is given back
    // (the leak check in TearDown).
    QFILE_SETTINGS no_chunks = default_settings();
    no_chunks.chunk_size = 0;
    EXPECT_FALSE(QFILE_initialise(&no_chunks));
    EXPECT_EQ(QFILE_make_full_path("intro"), (char*)NULL);
    EXPECT_TRUE(traced("QFILE_make_full_path: QFILE not initialised"));

    QFILE_SETTINGS settings = default_settings();
    strcpy(settings.extension, ".Dat");
    settings.crc_state = 1;
    ASSERT_TRUE(QFILE_initialise(&settings));
    EXPECT_STREQ(QFILE_get_extension(), ".Dat");
    EXPECT_EQ(QFILE_set_crc_state(0), 1);
}

TEST_F(Qfile, SwitchesRefuseWhatTheyCannotHold) {
    ASSERT_TRUE(QFILE_initialise(NULL));
    EXPECT_FALSE(QFILE_set_use_tree_to_find_files(2));
    EXPECT_FALSE(QFILE_set_use_tree_to_find_files(256));
    EXPECT_EQ(QFILE_get_use_tree_to_find_files(), 1);
    EXPECT_TRUE(QFILE_set_use_tree_to_find_files(0));
    EXPECT_EQ(QFILE_get_use_tree_to_find_files(), 0);

    EXPECT_TRUE(QFILE_set_extension(".DAT"));
    EXPECT_STREQ(QFILE_get_extension(), ".dat");
    EXPECT_FALSE(QFILE_set_extension(NULL));
    EXPECT_FALSE(QFILE_set_extension(std::string(256, 'x').c_str()));
    EXPECT_STREQ(QFILE_get_extension(), ".dat");
}

TEST_F(Qfile, SlotsFillAndClear) {
    ASSERT_TRUE(QFILE_initialise(NULL));
    const char* paths[] = {"C:\\Game\\Data\\", "b", "c", "d"};
    for (int32_t i = 0; i < 4; i++) EXPECT_EQ(QFILE_add_search_path(paths[i]), i);
    EXPECT_STREQ(QFILE_get_search_path(0), "c:\\game\\data\\");  // lower case, separator kept
    EXPECT_EQ(QFILE_add_search_path("e"), -1);

    qfile_clear_search_path(1);
    EXPECT_STREQ(QFILE_get_search_path(1), "");
    EXPECT_EQ(QFILE_add_search_path("E"), 1);
    EXPECT_STREQ(QFILE_get_search_path(1), "e");

    qfile_clear_search_path(4);  // outside: nothing happens
    qfile_clear_search_path(-2);
    for (int32_t i = 0; i < 4; i++) EXPECT_STRNE(QFILE_get_search_path(i), "");
    EXPECT_EQ(QFILE_get_search_path(4), (const char*)NULL);
    EXPECT_EQ(QFILE_get_search_path(-1), (const char*)NULL);

    qfile_clear_search_path(-1);
    for (int32_t i = 0; i < 4; i++) EXPECT_STREQ(QFILE_get_search_path(i), "");

    // Paths that could not be kept whole are refused, never cut.
    EXPECT_EQ(QFILE_add_search_path(std::string(256, 'p').c_str()), -1);
    EXPECT_EQ(QFILE_add_search_path(std::string(255, 'p').c_str()), 0);
    EXPECT_EQ(QFILE_add_search_path(NULL), -1);
    EXPECT_EQ(QFILE_add_search_path(""), -1);

    // Setting the paths replaces all slots; a NULL argument is reported and skipped.
    EXPECT_EQ(QFILE_set_search_paths(3, "ws\\one", (const char*)NULL, "ws\\two"), 2);
    EXPECT_TRUE(traced("string is NULL"));
    EXPECT_STREQ(QFILE_get_search_path(0), "ws\\one");
    EXPECT_STREQ(QFILE_get_search_path(1), "ws\\two");
    EXPECT_STREQ(QFILE_get_search_path(2), "");
    EXPECT_EQ(QFILE_set_search_paths(5, "a", "b", "c", "d", "e"), 4);
}

// --- Resolution -------------------------------------------------------------

struct ResolveCase {
    const char* slot;
    int32_t use_tree;
    const char* extension;
    const char* name;
    const char* expected;  // NULL: not found
};

TEST_F(Qfile, ResolvesThroughDirectoriesAndTrees) {
    make_data_directory();
    // "ws\data\linked" leads to a directory outside the workspace.
    char behind[MAX_PATH], link[MAX_PATH];
    ASSERT_NE(GetFullPathNameA("ws_behind", MAX_PATH, behind, NULL), 0u);
    ASSERT_NE(GetFullPathNameA("ws\\data\\linked", MAX_PATH, link, NULL), 0u);
    remove_tree(behind);
    ASSERT_TRUE(CreateDirectoryA(behind, NULL));
    write_file(std::string(behind) + "\\inside", "inside");
    ASSERT_TRUE(FOOTPRINT_make_link(behind, link));
    QBUG_enable_asserts();
    const ResolveCase cases[] = {
        // On disk: slot path and name are joined as they are.
        {"ws\\data\\", 0, ".dat", "intro", "ws\\data\\intro.dat"},
        {"ws\\data\\", 0, ".dat", "intro.txt", "ws\\data\\intro.txt"},
        {"ws\\data\\", 0, ".dat", "sub\\deep", "ws\\data\\sub\\deep.dat"},
        {"ws\\data\\", 0, ".dat", "ab", "ws\\data\\ab.dat"},
        {"ws\\data\\", 0, ".dat", "missing", NULL},
        {"ws\\data\\", 0, "", "intro", "ws\\data\\intro"},
        {"ws\\data", 0, ".dat", "intro", "ws\\dataintro.dat"},
        // An explicit name with a dot is used without the extension.
        {"ws\\data\\", 0, ".dat", ".\\intro", "ws\\data\\.\\intro"},
        // Through the tree: a separator is put in, names are matched without
        // regard to case and come back as the tree spells them.
        {"ws\\data", 1, ".dat", "intro", "ws\\data\\intro.dat"},
        {"ws\\data\\", 1, ".dat", "intro", "ws\\data\\intro.dat"},
        {"ws\\data", 1, ".dat", "INTRO.DAT", "ws\\data\\intro.dat"},
        {"ws\\data", 1, ".dat", "Mixed", "ws\\data\\mixed.dat"},
        {"ws\\data", 1, ".dat", "Sub\\Deep", "ws\\data\\sub\\deep.dat"},
        {"ws\\data", 1, ".dat", "\\sub\\deep.dat", "ws\\data\\sub\\deep.dat"},
        {"ws\\data", 1, "", "sub\\", "ws\\data\\sub"},
        {"ws\\data", 1, "", "sub", "ws\\data\\sub"},
        // Names longer than 12 characters are stored and compared by their first 12.
        {"ws\\data", 1, ".dat", "averylongfilename", "ws\\data\\averylongfil"},
        {"ws\\data", 1, ".dat", "averylongfilXYZ", "ws\\data\\averylongfil"},
        {"ws\\data", 1, ".dat", "averylongfi", NULL},
        {"ws\\data", 1, ".dat", "missing", NULL},
        {"ws\\data", 1, ".dat", "sub\\missing", NULL},
        {"ws\\data", 1, ".dat", "deep", NULL},  // only below sub
        {"ws\\data", 1, ".dat", ".\\intro", NULL},
        // A link is a name in the tree; nothing behind it is.
        {"ws\\data", 1, "", "linked", "ws\\data\\linked"},
        {"ws\\data", 1, "", "linked\\inside", NULL},
    };
    for (const ResolveCase& c : cases) {
        ASSERT_TRUE(QFILE_initialise(NULL));
        ASSERT_TRUE(QFILE_set_extension(c.extension));
        ASSERT_EQ(QFILE_set_search_paths(1, c.slot), 1);
        ASSERT_TRUE(QFILE_set_use_tree_to_find_files(c.use_tree));
        EXPECT_EQ(text_or_null(QFILE_make_full_path(c.name)), text_or_null(c.expected))
            << "slot " << c.slot << ", tree " << c.use_tree << ", extension '" << c.extension
            << "', name " << c.name;
        ASSERT_TRUE(QFILE_deinitialise());
    }
    QBUG_disable_asserts();
    EXPECT_EQ(read_text(develop).find("ASSERT FAILURE"), std::string::npos);
    EXPECT_TRUE(FOOTPRINT_remove_link(link));
    remove_tree(behind);
}

TEST_F(Qfile, ExplicitNamesAreTriedOnDiskFirst) {
    make_data_directory();
    write_file("ab.dat", "working directory");  // must not be taken for "ab"
    std::string absolute = current_directory() + "\\ws\\data\\intro";
    ASSERT_TRUE(QFILE_initialise(NULL));
    ASSERT_TRUE(QFILE_set_extension(".dat"));
    ASSERT_EQ(QFILE_set_search_paths(2, "ws\\data", "ws\\data\\sub\\"), 2);

    // Found by no tree (the trees know no "c:"), so only the disk finds it.
    EXPECT_EQ(text_or_null(QFILE_make_full_path(absolute.c_str())), absolute + ".dat");
    EXPECT_EQ(text_or_null(QFILE_make_full_path(".\\ws\\data\\intro.txt")),
              ".\\ws\\data\\intro.txt");
    // Not explicit: the slots, not the working directory.
    EXPECT_EQ(text_or_null(QFILE_make_full_path("ab")), "ws\\data\\ab.dat");
    // Not in the first slot: the second answers.
    EXPECT_EQ(text_or_null(QFILE_make_full_path("deep")), "ws\\data\\sub\\deep.dat");
    EXPECT_EQ(QFILE_make_full_path((current_directory() + "\\nothing").c_str()), (char*)NULL);
    remove("ab.dat");
}

TEST_F(Qfile, PathsThatWouldNotFitAreRefused) {
    ASSERT_TRUE(QFILE_initialise(NULL));
    ASSERT_TRUE(QFILE_set_extension(".dat"));
    EXPECT_EQ(QFILE_make_full_path(std::string(300, 'n').c_str()), (char*)NULL);
    EXPECT_EQ(QFILE_make_full_path(std::string(252, 'n').c_str()), (char*)NULL);  // 256 with ".dat"

    // A slot of 250 characters: its hit would be 263 characters, so it is
    // passed over and the next slot that holds the name answers.
    std::string long_slot = "q:\\" + std::string(247, 'l');
    ASSERT_EQ(QFILE_add_search_path(long_slot.c_str()), 0);
    ASSERT_EQ(QFILE_add_search_path("q:\\short"), 1);
    ASSERT_TRUE(QFILE_build_file_tree(-1));  // absent directories: empty trees
    for (int slot = 0; slot < 2; slot++) {
        ASSERT_EQ(
            qfile_add_entry_to_file_tree(&local_qfile_details.search_paths[slot], "ABCDEFGHIJKLMN"),
            0);
    }
    // The dot keeps the extension off; the component is compared by its first 12.
    EXPECT_EQ(text_or_null(QFILE_make_full_path("abcdefghijkl.")), "q:\\short\\abcdefghijkl");
    qfile_clear_search_path(1);
    EXPECT_EQ(QFILE_make_full_path("abcdefghijkl."), (char*)NULL);

    // The look-up itself never writes more than a path buffer.
    QFILE_TREE_NODE* tree = local_qfile_details.search_paths[0].file_tree;
    char out[QFILE_PATH_SIZE];
    std::string deep;
    for (int i = 0; i < 30; i++) deep += "abcdefghijkl\\";  // 390 characters
    tree[0].child = 0;                                      // a node that is its own child
    EXPECT_FALSE(qfile_find_full_path(deep.c_str(), out, tree, 0));
    EXPECT_TRUE(qfile_find_full_path(deep.substr(0, 13 * 19).c_str(), out, tree, 0));
    EXPECT_EQ(strlen(out), 13u * 19 - 1);
    tree[0].child = QFILE_NO_NODE;
}

// --- Trees --------------------------------------------------------------

// Slot 0 holds a tree made from paths exactly as the walker reports them below
// the directory "q:\game" (which does not exist, so building finds nothing).
static void feed_tree(const std::vector<std::pair<std::string, int32_t>>& entries) {
    ASSERT_EQ(QFILE_add_search_path("q:\\game"), 0);
    ASSERT_TRUE(QFILE_build_file_tree(0));
    for (auto& entry : entries) {
        qfile_file_tree_callback_function(NULL, 2);
        qfile_file_tree_callback_function(("q:\\game\\" + entry.first).c_str(), entry.second);
    }
}

static std::string dump_of(const QFILE_TREE_NODE* tree, uint32_t node, int32_t depth) {
    FILE* stream = fopen("dump.txt", "w");
    qfile_dump_structured_directory(stream, tree, node, depth);
    fclose(stream);
    std::string text = read_text("dump.txt");
    remove("dump.txt");
    return text;
}

TEST_F(Qfile, TreeHoldsEachEntryOnceAtItsLevelAndDumpsIndented) {
    ASSERT_TRUE(QFILE_initialise(NULL));
    feed_tree({{"Readme.TXT", 0},
               {"data", 1},
               {"Music", 1},
               {"data\\levels", 1},
               {"data\\a_very_long_name.bin", 0},
               {"data\\a_very_long_name.bak", 0},  // same first 12: the same node
               {"data\\levels\\one.lvl", 0},
               {"music\\theme.mid", 0},
               {"data\\levels\\two.lvl", 0},
               {"data\\levels\\one.lvl", 0}});  // reported again: nothing added
    const QFILE_SEARCH_PATH& slot = local_qfile_details.search_paths[0];
    EXPECT_EQ(slot.count, 8u);
    EXPECT_EQ(dump_of(slot.file_tree, 0, 0),
              "readme.txt\n"
              "data\n"
              "\tlevels\n"
              "\t\tone.lvl\n"
              "\t\ttwo.lvl\n"
              "\ta_very_long_\n"
              "music\n"
              "\ttheme.mid\n");
    EXPECT_EQ(dump_of(slot.file_tree, slot.file_tree[1].child, 2),
              "\t\tlevels\n\t\t\tone.lvl\n\t\t\ttwo.lvl\n\t\ta_very_long_\n");
    EXPECT_EQ(dump_of(NULL, 0, 0), "");

    // Paths outside every slot, and ticks, add nothing.
    qfile_file_tree_callback_function("q:\\other\\x.dat", 0);
    qfile_file_tree_callback_function("q:\\game", 1);
    EXPECT_EQ(slot.count, 8u);

    char out[QFILE_PATH_SIZE];
    EXPECT_TRUE(qfile_find_full_path("data\\levels\\two.lvl", out, slot.file_tree, 0));
    EXPECT_STREQ(out, "data\\levels\\two.lvl");
    EXPECT_TRUE(
        qfile_find_full_path("levels\\one.lvl", out, slot.file_tree, slot.file_tree[1].child));
    EXPECT_STREQ(out, "levels\\one.lvl");
    EXPECT_FALSE(qfile_find_full_path("data\\theme.mid", out, slot.file_tree, 0));
    EXPECT_FALSE(qfile_find_full_path("", out, slot.file_tree, 0));
    EXPECT_FALSE(qfile_find_full_path("\\", out, slot.file_tree, 0));
}

TEST_F(Qfile, TreeGrowsByItsStepAndRefusesWhenItCannot) {
    QFILE_SETTINGS settings = default_settings();
    settings.initial_tree_capacity = 2;
    settings.tree_growth_step = 3;
    ASSERT_TRUE(QFILE_initialise(&settings));
    std::vector<std::pair<std::string, int32_t>> entries;
    for (int i = 0; i < 10; i++) entries.push_back({"file" + std::to_string(i), 0});
    feed_tree(entries);
    const QFILE_SEARCH_PATH& slot = local_qfile_details.search_paths[0];
    EXPECT_EQ(slot.count, 10u);
    EXPECT_EQ(slot.capacity, 11u);  // 2, 5, 8, 11
    for (int i = 0; i < 10; i++) {
        std::string name = "file" + std::to_string(i);
        EXPECT_EQ(text_or_null(QFILE_make_full_path(name.c_str())),
                  "q:\\game\\file" + std::to_string(i));
    }
    ASSERT_TRUE(QFILE_deinitialise());

    // A growth step of 0 cannot make room: the entry is refused, the tree intact.
    settings.tree_growth_step = 0;
    ASSERT_TRUE(QFILE_initialise(&settings));
    feed_tree({{"one", 0}, {"two", 0}});
    QFILE_SEARCH_PATH* full = &local_qfile_details.search_paths[0];
    EXPECT_EQ(qfile_add_entry_to_file_tree(full, "three"), -1);
    EXPECT_EQ(full->count, 2u);
    EXPECT_EQ(dump_of(full->file_tree, 0, 0), "one\ntwo\n");
    ASSERT_TRUE(QFILE_deinitialise());

    // A capacity whose array cannot be had leaves the slot without a tree.
    settings.initial_tree_capacity = 200000000;
    ASSERT_TRUE(QFILE_initialise(&settings));
    EXPECT_EQ(QFILE_set_search_paths(1, "ws"), 1);
    EXPECT_TRUE(traced("QFILE_allocate_file_tree: Failed to allocate memorysize: 4200000000"));
    EXPECT_EQ(local_qfile_details.search_paths[0].file_tree, (QFILE_TREE_NODE*)NULL);
    EXPECT_FALSE(QFILE_build_file_tree(0));
}

TEST_F(Qfile, TreeBuildingIndexRulesAndSlotsAddedAlone) {
    make_data_directory();
    ASSERT_TRUE(QFILE_initialise(NULL));
    EXPECT_FALSE(QFILE_build_file_tree(0));  // empty slot
    EXPECT_FALSE(QFILE_build_file_tree(4));
    EXPECT_FALSE(QFILE_build_file_tree(-2));
    EXPECT_TRUE(QFILE_build_file_tree(-1));  // nothing to build

    // A slot filled alone gets the initial capacity when its tree is built.
    ASSERT_EQ(QFILE_add_search_path("ws\\data"), 0);
    EXPECT_EQ(QFILE_make_full_path("intro.dat"), (char*)NULL);  // no tree yet
    EXPECT_TRUE(QFILE_build_file_tree(0));
    EXPECT_EQ(local_qfile_details.search_paths[0].capacity, 5000u);
    EXPECT_EQ(text_or_null(QFILE_make_full_path("intro.dat")), "ws\\data\\intro.dat");

    // Trees do not follow the disk until they are rebuilt.
    write_file("ws\\data\\later.dat", "later");
    EXPECT_EQ(QFILE_make_full_path("later.dat"), (char*)NULL);
    EXPECT_TRUE(QFILE_set_use_tree_to_find_files(0));
    EXPECT_EQ(text_or_null(QFILE_make_full_path("\\later.dat")), "ws\\data\\later.dat");
    EXPECT_TRUE(QFILE_set_use_tree_to_find_files(1));
    EXPECT_TRUE(QFILE_build_file_tree(-1));
    EXPECT_EQ(text_or_null(QFILE_make_full_path("later.dat")), "ws\\data\\later.dat");
}

TEST_F(Qfile, SlotInsideAnotherSlotsPathGetsItsOwnEntries) {
    ASSERT_TRUE(CreateDirectoryA("ws\\data", NULL));
    ASSERT_TRUE(CreateDirectoryA("ws\\database", NULL));
    write_file("ws\\data\\x.dat", "x");
    write_file("ws\\database\\y.dat", "y");
    ASSERT_TRUE(QFILE_initialise(NULL));
    ASSERT_EQ(QFILE_set_search_paths(2, "ws\\data", "ws\\database"), 2);
    EXPECT_EQ(text_or_null(QFILE_make_full_path("x.dat")), "ws\\data\\x.dat");
    EXPECT_EQ(text_or_null(QFILE_make_full_path("y.dat")), "ws\\database\\y.dat");
    EXPECT_EQ(QFILE_make_full_path("base\\y.dat"), (char*)NULL);
    EXPECT_EQ(local_qfile_details.search_paths[0].count, 1u);
    EXPECT_EQ(local_qfile_details.search_paths[1].count, 1u);
}

// A directory of 20,000 files and a subdirectory, made by the build
// (tests/qfile_test.cmake) below the working directory.
TEST_F(Qfile, TwentyThousandFileDirectoryResolvesThroughItsTree) {
    const int FILES = 20000;
    char name[64], expected[64];
    ASSERT_TRUE(QFILE_initialise(NULL));
    ASSERT_TRUE(QFILE_set_extension(".dat"));
    ASSERT_EQ(QFILE_set_search_paths(1, "big20000\\"), 1);
    const QFILE_SEARCH_PATH& slot = local_qfile_details.search_paths[0];
    EXPECT_EQ(slot.count, (uint32_t)FILES + 2);
    EXPECT_EQ(slot.capacity, 21000u);  // 5000 and steps of 1000

    // Whichever order the listing gave, every name is found.
    for (int i = 0; i < FILES; i += 997) {
        snprintf(name, sizeof name, "F%05d", i);
        snprintf(expected, sizeof expected, "big20000\\f%05d.dat", i);
        EXPECT_EQ(text_or_null(QFILE_make_full_path(name)), expected);
    }
    EXPECT_EQ(text_or_null(QFILE_make_full_path("f19999")), "big20000\\f19999.dat");
    EXPECT_EQ(text_or_null(QFILE_make_full_path("zz\\inner")), "big20000\\zz\\inner.dat");
    EXPECT_EQ(QFILE_make_full_path("f20000"), (char*)NULL);  // the whole chain, no hit

    std::string dump = dump_of(slot.file_tree, 0, 0);
    EXPECT_EQ((int)std::count(dump.begin(), dump.end(), '\n'), FILES + 2);
    EXPECT_NE(dump.find("zz\n\tinner.dat\n"), std::string::npos);
}

// Every heap call of initialising and building failing in turn: each failure
// is refused cleanly (nothing leaks, no half tree passes for whole), and a
// run without a failure finds the file.
TEST_F(Qfile, EachAllocationFailingInTurnIsRefusedCleanly) {
    make_data_directory();
    QFILE_SETTINGS settings = default_settings();
    settings.initial_tree_capacity = 2;  // the build grows the tree four times
    settings.tree_growth_step = 2;
    for (int32_t n = 0; n < 100; n++) {
        FAILING_HEAP_fail_after(n);
        bool initialised = QFILE_initialise(&settings);
        bool built =
            initialised && QFILE_add_search_path("ws\\data") == 0 && QFILE_build_file_tree(0);
        const char* found = built ? QFILE_make_full_path("sub\\deep.dat") : NULL;
        bool failed = FAILING_HEAP_failed();
        FAILING_HEAP_fail_after(-1);
        EXPECT_EQ(built, !failed) << "failure after " << n << " heap calls";
        if (built) {
            EXPECT_EQ(text_or_null(found), "ws\\data\\sub\\deep.dat") << n;
        }
        QFILE_deinitialise();
        EXPECT_TRUE(MEMORY_check_all()) << n;
        if (!failed) break;
    }
    EXPECT_FALSE(FAILING_HEAP_failed());
}

// Far longer sibling chains than any directory listing here: look-up and
// dump must not use stack in proportion to a chain's length.
TEST_F(Qfile, SiblingChainOfTwoHundredThousandEntries) {
    const uint32_t ENTRIES = 200000;
    ASSERT_TRUE(QFILE_initialise(NULL));
    feed_tree({});
    QFILE_SEARCH_PATH* slot = &local_qfile_details.search_paths[0];
    char name[16];
    for (uint32_t i = 0; i < ENTRIES; i++) {
        snprintf(name, sizeof name, "n%06u", i);
        ASSERT_EQ(qfile_add_entry_to_file_tree(slot, name), (int32_t)i);
        if (i > 0) slot->file_tree[i - 1].next = i;
    }
    slot->file_tree[ENTRIES - 1].child = qfile_add_entry_to_file_tree(slot, "leaf");
    EXPECT_EQ(text_or_null(QFILE_make_full_path("n199999\\leaf")), "q:\\game\\n199999\\leaf");
    EXPECT_EQ(QFILE_make_full_path("n200000"), (char*)NULL);
    std::string dump = dump_of(slot->file_tree, 0, 0);
    EXPECT_EQ((uint32_t)std::count(dump.begin(), dump.end(), '\n'), ENTRIES + 1);
    EXPECT_EQ(dump.substr(dump.size() - 14), "n199999\n\tleaf\n");
}

// --- File I/O -------------------------------------------------------------

TEST_F(Qfile, OpenUsesResolutionOnlyWhenAskedAndActive) {
    make_data_directory();
    write_file("intro.dat", "working directory");
    char text[32] = {0};

    // Inactive: the name as passed, whatever search says.
    FILE* stream = qfile_fopen("intro.dat", "rb", 1, "caller.cpp", 7);
    ASSERT_NE(stream, (FILE*)NULL);
    EXPECT_EQ(QFILE_fread(text, 1, sizeof text - 1, stream), 17u);
    EXPECT_STREQ(text, "working directory");
    EXPECT_EQ(qfile_fclose(stream, "caller.cpp", 8), 0);

    ASSERT_TRUE(QFILE_initialise(NULL));
    ASSERT_EQ(QFILE_set_search_paths(1, "ws\\data"), 1);
    stream = qfile_fopen("intro.dat", "rb", 0, "caller.cpp", 9);
    ASSERT_NE(stream, (FILE*)NULL);
    memset(text, 0, sizeof text);
    QFILE_fread(text, 1, sizeof text - 1, stream);
    EXPECT_STREQ(text, "working directory");
    qfile_fclose(stream, "caller.cpp", 10);

    stream = qfile_fopen("INTRO.DAT", "rb", 1, "caller.cpp", 11);
    ASSERT_NE(stream, (FILE*)NULL);
    memset(text, 0, sizeof text);
    QFILE_fread(text, 1, sizeof text - 1, stream);
    EXPECT_STREQ(text, "intro.dat");
    qfile_fclose(stream, "caller.cpp", 12);

    // Unresolved: the bare name is still tried, and the message names it twice.
    EXPECT_EQ(qfile_fopen("nothere.dat", "rb", 1, "caller.cpp", 42), (FILE*)NULL);
    EXPECT_TRUE(traced("Failed to open 'nothere.dat' ('nothere.dat') in caller.cpp at line 42"));
    // Resolved to something that cannot be opened as a file.
    EXPECT_EQ(qfile_fopen("SUB\\", "rb", 1, "caller.cpp", 43), (FILE*)NULL);
    EXPECT_TRUE(traced("Failed to open 'ws\\data\\sub' ('SUB\\') in caller.cpp at line 43"));

    EXPECT_EQ(qfile_fclose(NULL, "caller.cpp", 44), (uint8_t)EOF);
    EXPECT_TRUE(traced("Failed to close file in caller.cpp at line 44"));
    remove("intro.dat");
}

// --- Whole-file and chunked reads ---------------------------------------------

static int progress_calls;
static void count_progress(void) { progress_calls++; }

TEST_F(Qfile, ChunkedReadsCallBackOncePerChunk) {
    const std::string bytes = pattern_bytes(450000);
    write_file("ws\\big.bin", bytes);
    ASSERT_TRUE(QFILE_initialise(NULL));
    std::vector<char> buffer(700000, 'z');

    struct {
        uint32_t size, count, chunk, expected_bytes;
        int expected_calls;
    } cases[] = {
        {1, 450000, 200000, 450000, 3},  // 200000, 200000, 50000
        {1, 600000, 200000, 450000, 3},  // past the end: what is there
        {2, 225000, 200000, 450000, 3},  // size times count
        {1, 400000, 200000, 400000, 2},
        {1, 450000, 1000000, 450000, 3},  // never more than the chunk buffer
        {1, 450000, 150000, 450000, 3},
        {1, 100, 200000, 100, 1},
    };
    for (auto& c : cases) {
        FILE* stream = fopen("ws\\big.bin", "rb");
        ASSERT_NE(stream, (FILE*)NULL);
        progress_calls = 0;
        std::fill(buffer.begin(), buffer.end(), 'z');
        EXPECT_EQ(
            qfile_chunk_fread(buffer.data(), c.size, c.count, stream, c.chunk, count_progress),
            c.expected_bytes)
            << c.size << " x " << c.count << " in chunks of " << c.chunk;
        EXPECT_EQ(progress_calls, c.expected_calls)
            << c.size << " x " << c.count << " in chunks of " << c.chunk;
        EXPECT_EQ(std::string(buffer.data(), c.expected_bytes), bytes.substr(0, c.expected_bytes));
        EXPECT_EQ(buffer[c.expected_bytes], 'z');
        fclose(stream);
    }

    // At end of file: nothing read, no callback.
    FILE* stream = fopen("ws\\big.bin", "rb");
    ASSERT_NE(stream, (FILE*)NULL);
    EXPECT_EQ(qfile_chunk_fread(buffer.data(), 1, 600000, stream, 200000, NULL), 450000u);
    progress_calls = 0;
    EXPECT_EQ(qfile_chunk_fread(buffer.data(), 1, 10, stream, 200000, count_progress), 0u);
    EXPECT_EQ(progress_calls, 0);
    fclose(stream);
}

TEST_F(Qfile, WholeFileReadsUseTheProgressFunctionOnlyWhenConfigured) {
    const std::string bytes = pattern_bytes(450000);
    write_file("ws\\big.bin", bytes);
    std::vector<char> buffer(700000, 'z');

    // No progress function, size 0: the whole file, no callbacks at all.
    ASSERT_TRUE(QFILE_initialise(NULL));
    ASSERT_EQ(QFILE_set_search_paths(1, "ws\\"), 1);
    EXPECT_TRUE(QFILE_read_file("big.bin", buffer.data(), 0));
    EXPECT_EQ(std::string(buffer.data(), 450000), bytes);
    EXPECT_EQ(buffer[450000], 'z');
    EXPECT_FALSE(QFILE_read_file("missing.bin", buffer.data(), 0));
    ASSERT_TRUE(QFILE_deinitialise());

    QFILE_SETTINGS settings = default_settings();
    settings.progress = count_progress;
    ASSERT_TRUE(QFILE_initialise(&settings));
    ASSERT_EQ(QFILE_set_search_paths(1, "ws\\"), 1);
    struct {
        uint32_t size, expected_bytes;
        int expected_calls;
    } cases[] = {{0, 450000, 3}, {450000, 450000, 3}, {600000, 450000, 3}, {1000, 1000, 1}};
    for (auto& c : cases) {
        progress_calls = 0;
        std::fill(buffer.begin(), buffer.end(), 'z');
        EXPECT_TRUE(QFILE_read_file("big.bin", buffer.data(), c.size)) << c.size;
        EXPECT_EQ(progress_calls, c.expected_calls) << c.size;
        EXPECT_EQ(std::string(buffer.data(), c.expected_bytes), bytes.substr(0, c.expected_bytes));
        EXPECT_EQ(buffer[c.expected_bytes], 'z') << c.size;
    }
}

TEST_F(Qfile, WholeFileReadAfterTreeHitTakesTheSizeOfTheFileFound) {
    write_file("ws\\short.bin", "12");
    write_file("ws\\long.bin", "long enough");
    ASSERT_TRUE(QFILE_initialise(NULL));
    ASSERT_EQ(QFILE_set_search_paths(1, "ws"), 1);
    // The kept status is that of short.bin; the tree hit for long.bin reads nothing.
    ASSERT_TRUE(QFILE_set_use_tree_to_find_files(0));
    ASSERT_NE(QFILE_make_full_path("\\short.bin"), (char*)NULL);
    ASSERT_TRUE(QFILE_set_use_tree_to_find_files(1));
    char buffer[32];
    memset(buffer, 'z', sizeof buffer);
    EXPECT_TRUE(QFILE_read_file("long.bin", buffer, 0));
    EXPECT_EQ(std::string(buffer, 12), "long enoughz");

    uint32_t size = 0;
    char* block = (char*)QFILE_allocate_and_read_file("LONG.BIN", NULL, &size);
    ASSERT_NE(block, (char*)NULL);
    EXPECT_EQ(size, 11u);
    EXPECT_EQ(std::string(block, size), "long enough");
    MEMORY_deallocate((void**)&block, __FILE__, __LINE__);
}

TEST_F(Qfile, AllocateAndReadRefusesWhatItCannotDeliver) {
    write_file("ws\\empty.bin", "");
    write_file("ws\\data.bin", pattern_bytes(450000));
    ASSERT_TRUE(QFILE_initialise(NULL));
    ASSERT_EQ(QFILE_set_search_paths(1, "ws"), 1);
    uint32_t size = 12345;

    EXPECT_EQ(QFILE_allocate_and_read_file("empty.bin", NULL, &size), (void*)NULL);
    EXPECT_TRUE(traced("QFILE_allocate_and_read_file: Failed to allocate memory"));
    EXPECT_EQ(QFILE_allocate_and_read_file("missing.bin", NULL, &size), (void*)NULL);
    EXPECT_EQ(size, 12345u);

    void* block = QFILE_allocate_and_read_file("data.bin", NULL, &size);
    ASSERT_NE(block, (void*)NULL);
    EXPECT_EQ(size, 450000u);
    EXPECT_EQ(std::string((char*)block, size), pattern_bytes(450000));
    MEMORY_deallocate(&block, __FILE__, __LINE__);

    // Found but not to be opened (held without sharing): the block is given
    // back, not passed off as the file (the leak check in TearDown).
    HANDLE held = CreateFileA("ws\\data.bin", GENERIC_READ, 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    size = 12345;
    EXPECT_EQ(QFILE_allocate_and_read_file("data.bin", NULL, &size), (void*)NULL);
    EXPECT_EQ(size, 12345u);
    CloseHandle(held);

    // Found in the tree but gone from disk: no status, no block.
    DeleteFileA("ws\\data.bin");
    EXPECT_EQ(QFILE_allocate_and_read_file("data.bin", NULL, &size), (void*)NULL);
    EXPECT_TRUE(traced("QFILE_allocate_and_read_file: Coudlnt get file stat data"));
}

// --- Checksum -------------------------------------------------------------

// Bit by bit, as the polynomial defines it.
static uint16_t reference_crc16(uint16_t crc, const uint8_t* bytes, size_t length, bool backward) {
    for (size_t k = 0; k < length; k++) {
        uint8_t byte = bytes[backward ? length - 1 - k : k];
        crc ^= (uint16_t)(byte << 8);
        for (int bit = 0; bit < 8; bit++)
            crc = (crc & 0x8000) ? (uint16_t)((crc << 1) ^ 0x1021) : (uint16_t)(crc << 1);
    }
    return crc;
}

TEST(QfileCrc, KnownValuesAndReferenceModel) {
    EXPECT_EQ(qfile_buffer_crc("abc", 3), 0x514AFA1Au);
    EXPECT_EQ(qfile_buffer_crc("123456789", 9), 0x29B115E3u);
    EXPECT_EQ(qfile_buffer_crc("abc", 0), 0u);

    uint8_t bytes[1000];
    uint32_t seed = 12345;
    for (size_t length : {1u, 2u, 255u, 256u, 1000u}) {
        for (size_t i = 0; i < length; i++)
            bytes[i] = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16);
        uint32_t expected = ((uint32_t)reference_crc16(0xFFFF, bytes, length, false) << 16) |
                            reference_crc16(0x4110, bytes, length, true);
        EXPECT_EQ(qfile_buffer_crc(bytes, (uint32_t)length), expected) << length;
    }
}

TEST_F(Qfile, WholeFileReadsAddTheirChecksumWhenSwitchedOn) {
    write_file("ws\\abc.txt", "abc");
    ASSERT_TRUE(QFILE_initialise(NULL));
    ASSERT_EQ(QFILE_set_search_paths(1, "ws"), 1);
    char buffer[8];

    EXPECT_TRUE(QFILE_read_file("abc.txt", buffer, 0));
    EXPECT_EQ(QFILE_get_crc_total(), 0u);  // off
    EXPECT_EQ(QFILE_set_crc_state(2), 0);
    EXPECT_TRUE(QFILE_read_file("abc.txt", buffer, 0));
    EXPECT_EQ(QFILE_get_crc_total(), 0u);  // only 1 switches it on

    EXPECT_EQ(QFILE_set_crc_state(1), 2);
    EXPECT_TRUE(QFILE_read_file("abc.txt", buffer, 0));
    EXPECT_EQ(QFILE_get_crc_total(), 0x514AFA1Au);
    EXPECT_TRUE(QFILE_read_file("abc.txt", buffer, 0));
    EXPECT_EQ(QFILE_get_crc_total(), 0xA295F434u);  // twice, modulo 2^32

    QFILE_set_crc_total(0xFFFFFFFFu);
    void* block = QFILE_allocate_and_read_file("abc.txt", NULL, NULL);
    ASSERT_NE(block, (void*)NULL);
    EXPECT_EQ(QFILE_get_crc_total(), 0x514AFA19u);
    MEMORY_deallocate(&block, __FILE__, __LINE__);

    // Only what was read counts: two bytes of "abc".
    QFILE_set_crc_total(0);
    EXPECT_TRUE(QFILE_read_file("abc.txt", buffer, 2));
    EXPECT_EQ(QFILE_get_crc_total(), qfile_buffer_crc("ab", 2));

    // The stream wrappers add nothing.
    QFILE_set_crc_total(0);
    FILE* stream = qfile_fopen("ws\\abc.txt", "rb", 0, "caller.cpp", 1);
    ASSERT_NE(stream, (FILE*)NULL);
    EXPECT_EQ(QFILE_fread(buffer, 1, 3, stream), 3u);
    qfile_fclose(stream, "caller.cpp", 2);
    EXPECT_EQ(QFILE_get_crc_total(), 0u);
}
