// File access against real files below the test's working directory: name
// resolution through directories and name trees, the trees, traced I/O,
// chunked and whole-file reads and the checksum.
#include <gtest/gtest.h>

#include <string.h>
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "failing_heap.h"
#include "footprint.h"
#include "memory.h"
#include "qbug.h"
#include "qfile.h"
#include "support.h"

using namespace std::literals;

static std::string or_null(const char* text) { return text != NULL ? text : "<NULL>"; }
static std::string resolve(const char* name) { return or_null(QFILE_make_full_path(name)); }

// Each case starts with the allocator up, trace lines and the call stack on,
// the module inactive and a workspace "ws" holding a small game-data tree. It
// ends with nothing left allocated and every call balanced on the call stack.
struct Qfile : ::testing::Test {
    void SetUp() override {
        callstack_begin("qfile.dbg", QBUG_FLAG_TRACE);
        ASSERT_TRUE(MEMORY_initialise() && delete_tree("ws"));
        for (const char* name :
             {"data\\intro.dat", "data\\intro.txt", "data\\ab.dat", "data\\averylongfilename.dat",
              "data\\sub\\deep.dat", "dataintro.dat", "database\\y.dat"})
            ASSERT_TRUE(write_file(std::string("ws\\") + name, name));
    }
    void TearDown() override {
        QFILE_deinitialise();
        MEMORY_deinitialise();
        EXPECT_EQ(read_text("qfile.dbg").find("memory leaks detected"), std::string::npos);
        EXPECT_EQ(callstack_end(), "");
        delete_tree("ws");
    }
};

// Slot, second slot, use tree, extension, name, what it resolves to ("@": the
// workspace's full path; NULL: nothing). D is the first slot's directory.
#define D "ws\\data"
// clang-format off
static const char* const RESOLVE[][6] = {
    // On disk: slot path and name joined as they are; the extension for names without a dot.
    {D "\\", NULL, "0", ".dat", "intro", D "\\intro.dat"},
    {D "\\", NULL, "0", ".dat", "intro.txt", D "\\intro.txt"},
    {D, NULL, "0", ".dat", "intro", D "intro.dat"},
    // Explicit names are tried on disk first; "ab" is not explicit.
    {D, NULL, "1", ".dat", "@\\data\\intro", "@\\data\\intro.dat"},
    {D, NULL, "1", ".dat", ".\\" D "\\intro.txt", ".\\" D "\\intro.txt"},
    {D, NULL, "1", ".dat", "ab", D "\\ab.dat"},
    // Through the tree: a separator put in, names matched regardless of case
    // and by their first 12 characters, spelt as the tree has them.
    {D, NULL, "1", ".dat", "INTRO", D "\\intro.dat"},
    {D, NULL, "1", ".dat", "\\Sub\\Deep", D "\\sub\\deep.dat"},
    {D, NULL, "1", "", "sub\\", D "\\sub"}, {D, NULL, "1", ".dat", "deep", NULL},
    {D, NULL, "1", ".dat", "averylongfilXYZ", D "\\averylongfil"},
    {D, NULL, "1", ".dat", "", NULL},
    // A link is a name in the tree; nothing behind it is.
    {D, NULL, "1", "", "link", D "\\link"}, {D, NULL, "1", "", "link\\inside", NULL},
    // The first slot holding the name answers; a slot whose path begins with
    // another slot's path keeps its own entries.
    {D, D "\\sub\\", "1", ".dat", "deep", D "\\sub\\deep.dat"},
    {D, D "base", "1", ".dat", "y", D "base\\y.dat"}, {D, D "base", "1", ".dat", "base\\y", NULL},
};
// clang-format on

TEST_F(Qfile, ResolvesThroughDirectoriesAndTrees) {
    // The link's target lies outside the workspace, which goes link first.
    ASSERT_TRUE(write_file("far\\inside", "behind the link") && write_file("ab.dat", "cwd"));
    ASSERT_TRUE(FOOTPRINT_make_link(full_path("far").c_str(), full_path("ws\\data\\link").c_str()));
    const std::string ws = full_path("ws");
    auto at = [&ws](const char* p) { return p[0] == '@' ? ws + (p + 1) : std::string(p); };
    for (const auto& [slot, second_slot, tree, extension, name, expected] : RESOLVE) {
        SCOPED_TRACE(std::string(slot) + ", " + name);
        ASSERT_TRUE(QFILE_initialise(NULL) && QFILE_set_extension(extension));
        EXPECT_EQ(QFILE_set_search_paths(2, slot, second_slot), second_slot ? 2 : 1);
        ASSERT_TRUE(QFILE_set_use_tree_to_find_files(tree[0] - '0'));
        EXPECT_EQ(resolve(at(name).c_str()), expected ? at(expected) : "<NULL>");
        ASSERT_TRUE(QFILE_deinitialise());
    }
    DeleteFileA("ab.dat");
}

// Paths that would not fit the module's 256-character buffers are refused,
// never cut: walked, joined to a slot's path, or found in a tree.
TEST_F(Qfile, PathsThatWouldNotFitAreRefused) {
    ASSERT_TRUE(QFILE_initialise(NULL));
    EXPECT_EQ(QFILE_add_search_path(std::string(256, 'p').c_str()), -1);
    const std::string slot = "q:\\" + std::string(240, 'l');  // 243 characters
    for (auto path : {slot, slot.substr(1), "q:\\short"s}) QFILE_add_search_path(path.c_str());
    ASSERT_TRUE(QFILE_build_file_tree(-1));
    qfile_file_tree_callback_function((slot + "\\" + std::string(20, 'x')).c_str(), 0);
    EXPECT_EQ(local_qfile_details.search_paths[0].count, 0u);
    for (int i = 0; i < 3; i++)
        qfile_add_entry_to_file_tree(&local_qfile_details.search_paths[i], "Abcdefghijklm");
    // 256 characters from slot 0, 255 from slot 1.
    EXPECT_EQ(resolve("abcdefghijkl."), slot.substr(1) + "\\abcdefghijkl");
    // 19 names of 12 and their separators fit a buffer, 20 do not.
    QFILE_TREE_NODE* tree = local_qfile_details.search_paths[2].file_tree;
    tree[0].child = 0;  // a node that is its own child
    std::string deep, out(QFILE_PATH_SIZE + 16, '\0');
    for (int i = 0; i < 20; i++) deep += "\\abcdefghijkl";
    EXPECT_TRUE(qfile_find_full_path(deep.substr(0, 13 * 19).c_str(), &out[0], tree, 0));
    EXPECT_EQ(strlen(out.c_str()), 13u * 19 - 1);
    EXPECT_FALSE(qfile_find_full_path(deep.c_str(), &out[0], tree, 0));
    tree[0].child = QFILE_NO_NODE;
}

// A directory of 20,000 files and a subdirectory (made by qfile_test.cmake),
// and a sibling chain of 200,000 entries: look-up and dump must take no stack
// in proportion to a chain's length.
TEST_F(Qfile, LongSiblingChains) {
    ASSERT_TRUE(QFILE_initialise(NULL) && QFILE_set_extension(".dat"));
    ASSERT_EQ(QFILE_set_search_paths(1, "big20000\\"), 1);
    QFILE_SEARCH_PATH* slot = &local_qfile_details.search_paths[0];
    EXPECT_EQ(resolve("F00000") + resolve("f19999") + resolve("zz\\inner") + resolve("f20000"),
              "big20000\\f00000.datbig20000\\f19999.datbig20000\\zz\\inner.dat<NULL>");
    slot->count = 0;
    char name[16];
    for (uint32_t i = 0; i < 200000; i++) {
        snprintf(name, sizeof name, "n%06u", i);
        ASSERT_EQ(qfile_add_entry_to_file_tree(slot, name), (int32_t)i);
        if (i > 0) slot->file_tree[i - 1].next = i;
    }
    slot->file_tree[199999].child = qfile_add_entry_to_file_tree(slot, "leaf.dat");
    EXPECT_EQ(resolve("n199999\\leaf") + resolve("n200000"), "big20000\\n199999\\leaf.dat<NULL>");
    FILE* stream = fopen("dump.txt", "w");
    qfile_dump_structured_directory(stream, slot->file_tree, 0, 0);
    fclose(stream);
    std::string listing = read_text("dump.txt");
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 200001);
    EXPECT_EQ(listing.substr(listing.size() - 18), "n199999\n\tleaf.dat\n");
}

// Every heap call of initialising and building failing in turn: each failure
// is refused cleanly (nothing leaks, no half tree passes for whole), and a
// run without a failure finds the file.
TEST_F(Qfile, EachAllocationFailingInTurnIsRefusedCleanly) {
    const QFILE_SETTINGS growing = {4, 2, "", 2, 200000};  // the tree grows three times
    for (int32_t n = 0, failed = 1; failed; n++) {
        FAILING_HEAP_fail_after(n);
        bool built = QFILE_initialise(&growing) && QFILE_add_search_path("ws\\data") == 0 &&
                     QFILE_build_file_tree(0);
        const char* found = built ? QFILE_make_full_path("sub\\deep.dat") : NULL;
        failed = FAILING_HEAP_failed();
        FAILING_HEAP_fail_after(-1);
        EXPECT_EQ(or_null(found), failed ? "<NULL>" : "ws\\data\\sub\\deep.dat") << n;
        QFILE_deinitialise();
        EXPECT_TRUE(MEMORY_check_all()) << n;
    }
}

static int progress_calls;
static void count_progress(void) { progress_calls++; }

// Reads of a 450,000-byte file: from a stream in chunks ('c'; 'e' once the
// stream is at its end), whole into the caller's buffer ('r') or into a new
// block ('a'). Each delivers what the file has up to what was asked (size
// times count), calls back once per chunk, and with the checksum state 1
// (only 1) the whole-file readers add the checksum of what they delivered.
// They take the size of the file found, not of the last one looked at on disk.
static const uint32_t READS[][8] = {
    // how, size, count, chunk, progress, checksum state, bytes delivered, calls
    {'c', 1, 450000, 200000, 0, 1, 450000, 3}, {'c', 1, 600000, 200000, 0, 1, 450000, 3},
    {'c', 2, 225000, 200000, 0, 1, 450000, 3}, {'c', 1, 400000, 200000, 0, 1, 400000, 2},
    {'c', 1, 450000, 150000, 0, 1, 450000, 3}, {'c', 1, 450000, 1000000, 0, 1, 450000, 3},
    {'e', 1, 10, 200000, 0, 1, 0, 0},          {'r', 1, 0, 0, 0, 1, 450000, 0},
    {'r', 1, 0, 0, 1, 1, 450000, 3},           {'r', 1, 600000, 0, 1, 1, 450000, 3},
    {'r', 1, 1000, 0, 1, 2, 1000, 1},          {'a', 1, 0, 0, 1, 1, 450000, 3},
};

TEST_F(Qfile, ReadsDeliverWhatTheFileHasChunkByChunk) {
    EXPECT_EQ(qfile_buffer_crc("abc", 3), 0x514AFA1Au);
    EXPECT_EQ(qfile_buffer_crc("123456789", 9), 0x29B115E3u);
    std::string bytes(450000, '\0');
    for (size_t i = 0; i < bytes.size(); i++) bytes[i] = (char)(i % 251);  // chunks differ
    ASSERT_TRUE(write_file("ws\\big.bin", bytes));
    std::vector<char> buffer(700000);
    for (const auto& [how, size, count, chunk, progress, crc, delivered, calls] : READS) {
        SCOPED_TRACE(testing::Message() << (char)how << " " << count << " by " << chunk);
        QFILE_SETTINGS read = {4, 5000, "", 1000, 200000, progress ? count_progress : NULL};
        read.crc_state = (uint8_t)crc;
        ASSERT_TRUE(QFILE_initialise(&read) && QFILE_set_search_paths(1, "ws") == 1);
        ASSERT_TRUE(QFILE_make_full_path(".\\ws\\data\\ab.dat"));  // an explicit name: on disk
        QFILE_set_crc_total(0xFFFFFFFFu);                          // sums wrap
        FILE* stream = fopen("ws\\big.bin", "rb");
        if (how == 'e') fread(buffer.data(), 1, buffer.size(), stream);
        std::fill(buffer.begin(), buffer.end(), 'z');
        progress_calls = 0;
        uint32_t got = delivered;
        if (how == 'c' || how == 'e')
            got = qfile_chunk_fread(buffer.data(), size, count, stream, chunk, count_progress);
        if (how == 'r') EXPECT_TRUE(QFILE_read_file("big.bin", buffer.data(), count));
        void* block = how == 'a' ? QFILE_allocate_and_read_file("big.bin", NULL, &got) : NULL;
        if (block != NULL) memcpy(buffer.data(), block, got);
        MEMORY_deallocate(&block, __FILE__, __LINE__);
        fclose(stream);
        EXPECT_EQ(got, delivered);
        EXPECT_EQ(std::string(buffer.data(), delivered + 1), bytes.substr(0, delivered) + "z");
        EXPECT_EQ(progress_calls, (int)calls);
        bool sums = crc == 1 && (how == 'r' || how == 'a');
        EXPECT_EQ(QFILE_get_crc_total(),
                  0xFFFFFFFFu + (sums ? qfile_buffer_crc(bytes.data(), delivered) : 0));
        ASSERT_TRUE(QFILE_deinitialise());
    }
}
