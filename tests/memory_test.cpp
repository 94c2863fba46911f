// The tracked allocator's contracts, seen through its results, the block
// records and the lines of the retail and develop files.
#include <gtest/gtest.h>

#include "support.h"

#include <stdio.h>
#include <string.h>

#include <string>
#include <tuple>
#include <vector>

#include "failing_heap.h"
#include "memory.h"
#include "qbug.h"

static MEMORY_RECORD* record_of(void* user) { return (MEMORY_RECORD*)user - 1; }

// The retail lines, then the develop lines, written since the last call;
// both files then start afresh.
static Lines logged() {
    Lines lines = debug_lines("retail.dbg"), develop = debug_lines("develop.dbg");
    lines.insert(lines.end(), develop.begin(), develop.end());
    QBUG_set_retail_file("retail.dbg");
    QBUG_set_develop_file("develop.dbg");
    return lines;
}

// One row of a table of calls: the results are as expected, and the calls
// logged these lines.
#define ROW(as_expected, ...)                      \
    do {                                           \
        EXPECT_TRUE(as_expected);                  \
        FAILING_HEAP_fail_after(-1);               \
        EXPECT_EQ(logged(), (Lines{__VA_ARGS__})); \
    } while (0)

// Every case starts with assertions and traces on and the allocator
// initialised; every library call must leave the call stack as it found it.
struct Memory : ::testing::Test {
    void SetUp() override {
        callstack_begin("develop.dbg", QBUG_FLAG_ASSERT | QBUG_FLAG_TRACE);
        QBUG_set_retail_file("retail.dbg");
        ASSERT_TRUE(MEMORY_initialise());
    }
    void TearDown() override {
        MEMORY_deinitialise();
        EXPECT_EQ(callstack_end(), "");
    }
};

// The usage dump: the bytes in use, then one line per live block in slot
// order (a released slot is handed out next) with the caller's file name
// (after either separator, cut at its last dot, at most 8 characters), its
// line, the block's size and its description (at most 23 characters, taken
// as plain text).
TEST_F(Memory, UsageDump) {
    void* tiles = MEMORY_allocate(NULL, 100, MEMORY_FILL_ZERO, NULL, "C:\\src\\abcdefg.h.cpp", 77);
    void* gone = MEMORY_allocate(NULL, 5, 0, "gone", "x.c", 1);
    void* named = MEMORY_allocate(NULL, 123456, MEMORY_FILL_FF, "100% %s %d wide description",
                                  "/build/averylongname.cpp", 31000);
    EXPECT_TRUE(MEMORY_DEALLOCATE(&gone));
    void* again = MEMORY_allocate(NULL, 5, 0, "again", "x.c", 2);
    tiles = MEMORY_reallocate(tiles, 120);
    EXPECT_TRUE(std::string((char*)tiles, 100) == std::string(100, '\0') &&
                std::string((char*)named, 123456) == std::string(123456, '\xFF'));
    MEMORY_usage();
    std::string dashes(70, '-');
    char expected[1024];
    snprintf(
        expected, sizeof expected,
        "Release Debug\n\n%s\n            Memory usage:: currently allocated = 123581 bytes\n%s\n"
        "[averylon, 31000] size:    123456; name: 100%% %%s %%d wide descrip ; addr: %p\n"
        "[       x,     2] size:         5; name: again                   ; addr: %p\n"
        "[abcdefg.,    77] size:       120; name: No Description          ; addr: %p\n",
        dashes.c_str(), dashes.c_str(), (void*)record_of(named), (void*)record_of(again),
        (void*)record_of(tiles));
    EXPECT_EQ(read_text("retail.dbg"), expected);
    for (void** block : {&tiles, &named, &again}) EXPECT_TRUE(MEMORY_DEALLOCATE(block));
}

// Make the Nth heap request fail, N = 0, 1, 2, ... until none fails. A
// failed MEMORY_initialise holds nothing and leaves the allocator off. An
// allocation that must grow the full table leaves table, count and free
// slots usable, and at last takes the top slot of the table grown by one
// step; the count survives a restart. A step whose table would wrap is
// refused.
TEST_F(Memory, EveryHeapFailureIsSurvived) {
    ASSERT_TRUE(MEMORY_deinitialise());
    bool initialised = false;
    for (int32_t n = 0; !initialised && n < 10; n++) {
        FAILING_HEAP_fail_after(n);
        initialised = MEMORY_initialise();
        FAILING_HEAP_fail_after(-1);
        EXPECT_TRUE(initialised || (FAILING_HEAP_outstanding() == 0 && !MEMORY_deinitialise()));
    }
    ASSERT_TRUE(initialised);
    int32_t count = MEMORY_get_default_num_entries();
    std::vector<void*> blocks(count);
    for (void*& block : blocks) block = MEMORY_allocate(NULL, 8, 0, "filler", "a.c", 1);
    logged();
    const char* empty = "memory: MEMORY_allocate failed (g.c, 5): stack empty, realloc failed";
    const Lines failures[] = {
        {empty, "memory: memory_realloc_num_indices: realloc call failed"},
        {empty, "qstack: QSTACK_reallocate failed to reallocate memory forstack", "",
         "memory: memory_realloc_num_indices: QSTACK realloc failed"},
        {"memory: MEMORY_allocate failed (g.c, 5): malloc failed, extra size = 8"},
        {}};
    void* extra = NULL;
    for (int32_t n = 0; extra == NULL && n < 4; n++) {
        FAILING_HEAP_fail_after(n);
        extra = MEMORY_allocate(NULL, 8, 0, "extra", "g.c", 5);
        ROW((extra == NULL) == FAILING_HEAP_failed() && MEMORY_check_all(), failures[n]);
    }
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(record_of(extra)->index, (uint32_t)count + 49);
    blocks.push_back(extra);
    for (void*& block : blocks) EXPECT_TRUE(MEMORY_deallocate(&block, "a.c", 1));
    EXPECT_TRUE(MEMORY_deinitialise() && MEMORY_initialise());
    void* fresh = MEMORY_allocate(NULL, 8, 0, "fresh", "a.c", 1);
    EXPECT_EQ(record_of(fresh)->index, (uint32_t)count + 49);
    for (int32_t step : {7, 0x7FFFFF00, 0x40000000})
        EXPECT_EQ(MEMORY_set_module_realloc_step_size(step) && MEMORY_set_default_num_entries(),
                  step == 7);
    EXPECT_FALSE(MEMORY_set_module_realloc_step_size(0) || MEMORY_set_module_realloc_step_size(-3));
    EXPECT_TRUE(MEMORY_set_module_realloc_step_size(50) && MEMORY_DEALLOCATE(&fresh));
    EXPECT_EQ(MEMORY_get_default_num_entries(), count + 57);
    ROW(MEMORY_deinitialise(), "memory: memory_realloc_num_indices: realloc call failed",
        "memory: memory_realloc_num_indices: realloc call failed");
}

// Refusals and warnings: the results, the blocks left as they were, and the
// lines (retail, then develop).
TEST_F(Memory, RefusalsAndWarnings) {
    char* block = (char*)MEMORY_allocate(NULL, 100, 0, "grow", "a.c", 1);
    memset(block, 'x', 100);
    void* released = MEMORY_allocate(NULL, 8, 0, "r", "a.c", 1);
    char plain[sizeof(MEMORY_RECORD) + 16] = {0};
    void *foreign = plain + sizeof(MEMORY_RECORD), *still = foreign;
    uint8_t forged[sizeof(MEMORY_RECORD) + 100 + MEMORY_FOOT_SIZE];
    memcpy(forged, record_of(block), sizeof forged);
    void* copy = forged + sizeof(MEMORY_RECORD);
    const std::string again = "memory: Or Corruption has occured.",
                      not_valid = "memory: MEMORY_reallocate error: not a valid memory pointer",
                      corrupt = "memory: MEMORY_check_entry: memory corruption";
    logged();
    ROW(!MEMORY_allocate(NULL, 0, 0, "tiles", "C:\\src\\COPYFLST.c", 77),
        "memory: MEMORY_allocate failed (C:\\src\\COPYFLST.c, 77): tiles size = 0");
    void* second = MEMORY_allocate(block, 4, 0, "second", "e.c", 11);  // block stays live
    ROW(second && MEMORY_check_lead_and_tail(block),
        "memory: MEMORY_allocate (e.c, 11): previous data not freed second");
    ROW(MEMORY_deallocate(&released, "a.c", 2) && !released &&
            !MEMORY_deallocate(&released, "a.c", 3) && !MEMORY_deallocate(NULL, "a.c", 4) &&
            !MEMORY_reallocate(NULL, 9),
        "memory: MEMORY_deallocate failed (a.c, 3): mem block parameter NULL",
        "memory: MEMORY_deallocate failed (a.c, 4): mem block parameter NULL",
        "memory: MEMORY_reallocate failed: mem block parameter NULL");
    ROW(!MEMORY_deallocate(&foreign, "a.c", 6) && foreign == still,
        "memory: MEMORY_deallocate error (a.c, 6): not a valid memory pointer", again,
        "memory: MEMORY_check_entry: Not valid memory block or corruption");
    // A copy of a live block's record names that block's slot, but is not the block.
    ROW(!MEMORY_check_lead_and_tail(copy) && !MEMORY_deallocate(&copy, "a.c", 7) &&
            !MEMORY_reallocate(copy, 200) && MEMORY_check_lead_and_tail(block),
        "memory: MEMORY_deallocate error (a.c, 7): not a valid memory pointer", again, not_valid,
        again, corrupt, corrupt, corrupt);
    ROW(MEMORY_reallocate(block, 60) == block && record_of(block)->size == 100,
        "memory: MEMORY_reallocate error: new size 60 is less than old size 100extra memory not "
        "allocated");
    FAILING_HEAP_fail_after(0);
    ROW(!MEMORY_reallocate(block, 400) && MEMORY_check_lead_and_tail(block),
        "memory: MEMORY_reallocate error: realloc failed!");
    MEMORY_set_check_level(0);
    ROW(MEMORY_get_check_level() == 1 && !MEMORY_initialise(),
        "memory: MEMORY_set_check_level : Can't change after an allocate",
        "memory: MEMORY_initialise failed: already initialised");
    ROW(MEMORY_deinitialise() && !MEMORY_deinitialise(),
        "memory: MEMORY_deinitialise error: memory leaks detected",
        "memory: MEMORY_deinitialise failed: not initialised");
    ROW(!MEMORY_allocate(NULL, 4, 0, "late", "f.c", 13) && !MEMORY_deallocate(&foreign, "a.c", 14),
        "memory: MEMORY_allocate failed (f.c, 13): data not initialised",
        "memory: MEMORY_deallocate failed (a.c, 14): data not initialised");
}

// Guard words are written and checked at check level 0 only, also at the new
// end of a grown block; a damaged block is refused, not released.
TEST_F(Memory, GuardsByCheckLevel) {
    const std::tuple<uint8_t, int32_t, int32_t, std::string> rows[] = {
        {0, 40, 40, "foot"},   {0, 40, 167, "foot"}, {0, 40, -1, "lead"}, {0, 40, -128, "lead"},
        {0, 300, 300, "foot"}, {0, 40, 39, ""},      {1, 40, 40, ""},     {1, 40, -1, ""}};
    for (auto& [level, size, offset, found] : rows) {
        SCOPED_TRACE(testing::Message() << (int)level << " " << size << " " << offset);
        ASSERT_TRUE(MEMORY_deinitialise());
        MEMORY_set_check_level(level);
        ASSERT_TRUE(MEMORY_initialise());
        void* block = MEMORY_reallocate(MEMORY_allocate(NULL, 40, 0, "", "a.c", 1), size);
        ASSERT_TRUE(MEMORY_check_lead_and_tail(block));
        ((uint8_t*)block)[offset] ^= 0x5A;
        std::string report = "memory: MEMORY_check_entry: " + found + " corruption";
        const char* bad = "memory: MEMORY_deallocate error (a.c, 2): not a valid memory pointer";
        ROW(MEMORY_check_all() == found.empty() &&
                MEMORY_deallocate(&block, "a.c", 2) == found.empty(),
            found.empty() ? Lines{}
                          : Lines{bad, "memory: Or Corruption has occured.", report, report});
        if (block != NULL) ((uint8_t*)block)[offset] ^= 0x5A;
        EXPECT_TRUE(block == NULL || MEMORY_deallocate(&block, "a.c", 3));
    }
}

// The installer's own state: diagnostics never initialised, flags 0. The
// allocator's errors still reach the retail log; no develop file appears.
TEST(MemoryWithoutDiagnostics, OnlyTheRetailLogIsWritten) {
    remove("develop.dbg");
    QBUG_set_retail_file("retail.dbg");
    ASSERT_TRUE(MEMORY_initialise());
    EXPECT_EQ(MEMORY_allocate(NULL, 0, 0, "empty", "a.c", 1), nullptr);
    void* block = MEMORY_allocate(NULL, 10, 0, "block", "a.c", 2);
    EXPECT_TRUE(MEMORY_reallocate(block, 5) == block && MEMORY_deinitialise());
    EXPECT_FALSE(exists("develop.dbg"));
    EXPECT_EQ(debug_lines("retail.dbg"),
              Lines{"memory: MEMORY_allocate failed (a.c, 1): empty size = 0"});
}
