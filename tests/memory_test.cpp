// The tracked allocator's contracts, observed through its results, the block
// records and the bytes of the retail and develop files.
#include <gtest/gtest.h>

#include "support.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "failing_heap.h"
#include "memory.h"
#include "qbug.h"

namespace {

const char* const RETAIL_HEADER = "Release Debug\n\n";
const char* const DEVELOP_HEADER = "Development Debug\n\n";

// The lines of a debug file after its header. A line with a well-formed
// "[%8s,%5d] " prefix becomes "<short file name>: <text>"; any other line is
// kept whole, so a malformed prefix shows up in a failed comparison.
std::vector<std::string> debug_lines(const char* name, const char* header) {
    std::string text = read_text(name);
    std::vector<std::string> lines;
    if (text.compare(0, strlen(header), header) != 0) {
        lines.push_back("<no header> " + text);
        return lines;
    }
    size_t start = strlen(header);
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        bool prefixed = line.size() >= 17 && line[0] == '[' && line[9] == ',' && line[15] == ']' &&
                        line[16] == ' ' && line[14] >= '0' && line[14] <= '9';
        for (int column = 10; prefixed && column < 15; column++) {
            char c = line[column];
            bool digit = c >= '0' && c <= '9';
            prefixed = digit || (c == ' ' && !(line[column - 1] >= '0' && line[column - 1] <= '9'));
        }
        if (prefixed) {
            std::string file = line.substr(1, 8);
            file.erase(0, file.find_first_not_of(' '));
            line = file + ": " + line.substr(17);
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> retail_lines() { return debug_lines("retail.dbg", RETAIL_HEADER); }
std::vector<std::string> develop_lines() { return debug_lines("develop.dbg", DEVELOP_HEADER); }
using Lines = std::vector<std::string>;

MEMORY_RECORD* record_of(void* pointer) {
    return (MEMORY_RECORD*)((uint8_t*)pointer - sizeof(MEMORY_RECORD));
}

int32_t slot_of(void* pointer) { return (int32_t)record_of(pointer)->index; }

// Every case starts with fresh debug files, full diagnostics into the develop
// file, and an initialised allocator; it ends with the allocator shut down
// and checks that every library call left the call stack as it found it.
class Memory : public ::testing::Test {
protected:
    void SetUp() override {
        FAILING_HEAP_fail_after(-1);
        QBUG_set_retail_file("retail.dbg");
        QBUG_set_develop_file("develop.dbg");
        ASSERT_TRUE(QBUG_initialise(0, 64, 12,
                                    QBUG_FLAG_ASSERT | QBUG_FLAG_TRACE | QBUG_FLAG_CALLSTACK,
                                    QBUG_OUT_DEVELOP_FILE));
        ASSERT_TRUE(MEMORY_initialise());
        count = MEMORY_get_default_num_entries();
    }
    void TearDown() override {
        FAILING_HEAP_fail_after(-1);
        MEMORY_deinitialise();
        std::string develop = read_text("develop.dbg");
        EXPECT_EQ(develop.find("Callstack full"), std::string::npos);
        EXPECT_EQ(develop.find("Stack empty"), std::string::npos);
        QBUG_set_develop_file("develop.dbg");
        QBUG_dump_callstack();
        EXPECT_EQ(read_text("develop.dbg"),
                  std::string(DEVELOP_HEADER) +
                      "~~~~~~~~START OF CALLSTACK DUMP - most recent calls~~~~~~~\n"
                      "~~~~~~~~END OF CALLSTACK DUMP - older calls~~~~~~~\n")
            << "a library function returned without QBUG_LEAVE (or left twice)";
        QBUG_deinitialise();
        MEMORY_set_check_level(1);
    }
    // Empties both debug files.
    void clear_files() {
        QBUG_set_retail_file("retail.dbg");
        QBUG_set_develop_file("develop.dbg");
    }
    int32_t count = 0;
};

TEST_F(Memory, SlotsAreHandedOutFromTheTopAndReused) {
    void* first = MEMORY_allocate(NULL, 10, 0, "first", "a.c", 1);
    void* second = MEMORY_allocate(NULL, 10, 0, "second", "a.c", 2);
    void* third = MEMORY_allocate(NULL, 10, 0, "third", "a.c", 3);
    EXPECT_EQ(slot_of(first), count - 1);
    EXPECT_EQ(slot_of(second), count - 2);
    EXPECT_EQ(slot_of(third), count - 3);
    EXPECT_TRUE(MEMORY_deallocate(&second, "a.c", 4));
    void* again = MEMORY_allocate(NULL, 10, 0, "again", "a.c", 5);
    EXPECT_EQ(slot_of(again), count - 2);

    // The usage dump lists the live blocks in slot order.
    clear_files();
    MEMORY_usage();
    Lines lines = retail_lines();
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_NE(lines[3].find("name: third "), std::string::npos) << lines[3];
    EXPECT_NE(lines[4].find("name: again "), std::string::npos) << lines[4];
    EXPECT_NE(lines[5].find("name: first "), std::string::npos) << lines[5];
    EXPECT_TRUE(MEMORY_deallocate(&first, "a.c", 6));
    EXPECT_TRUE(MEMORY_deallocate(&third, "a.c", 7));
    EXPECT_TRUE(MEMORY_deallocate(&again, "a.c", 8));
}

TEST_F(Memory, TableGrowsByOneStepWhenEverySlotIsTaken) {
    int32_t step = MEMORY_get_module_realloc_step_size();
    EXPECT_EQ(step, 50);
    std::vector<void*> blocks;
    for (int32_t i = 0; i < count; i++) {
        blocks.push_back(MEMORY_allocate(NULL, 8, 0, "filler", "a.c", i));
        ASSERT_NE(blocks.back(), nullptr);
    }
    EXPECT_EQ(MEMORY_get_default_num_entries(), count);
    void* extra = MEMORY_allocate(NULL, 8, 0, "extra", "a.c", 99);
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(MEMORY_get_default_num_entries(), count + step);
    EXPECT_EQ(slot_of(extra), count + step - 1);
    EXPECT_TRUE(MEMORY_check_all());

    // The usage dump shows the grown table: the new block comes last.
    clear_files();
    MEMORY_usage();
    Lines lines = retail_lines();
    ASSERT_EQ(lines.size(), (size_t)(3 + count + 1));
    EXPECT_NE(lines.back().find("name: extra "), std::string::npos) << lines.back();

    for (void*& block : blocks) {
        EXPECT_TRUE(MEMORY_deallocate(&block, "a.c", 1));
    }
    EXPECT_TRUE(MEMORY_deallocate(&extra, "a.c", 1));

    // The count survives a restart, and the next block takes its top slot.
    EXPECT_TRUE(MEMORY_deinitialise());
    EXPECT_EQ(MEMORY_get_default_num_entries(), count + step);
    ASSERT_TRUE(MEMORY_initialise());
    void* fresh = MEMORY_allocate(NULL, 8, 0, "fresh", "a.c", 1);
    EXPECT_EQ(slot_of(fresh), count + step - 1);

    // Growth on request, and a smaller step.
    EXPECT_TRUE(MEMORY_set_module_realloc_step_size(7));
    EXPECT_FALSE(MEMORY_set_module_realloc_step_size(0));
    EXPECT_FALSE(MEMORY_set_module_realloc_step_size(-3));
    EXPECT_EQ(MEMORY_get_module_realloc_step_size(), 7);
    EXPECT_TRUE(MEMORY_set_default_num_entries());
    EXPECT_EQ(MEMORY_get_default_num_entries(), count + step + 7);
    void* next = MEMORY_allocate(NULL, 8, 0, "next", "a.c", 1);
    EXPECT_EQ(slot_of(next), count + step + 7 - 1);
    EXPECT_TRUE(MEMORY_set_module_realloc_step_size(50));
    EXPECT_TRUE(MEMORY_deallocate(&next, "a.c", 1));
    EXPECT_TRUE(MEMORY_deallocate(&fresh, "a.c", 1));
    EXPECT_TRUE(MEMORY_deinitialise());
    EXPECT_FALSE(MEMORY_set_default_num_entries());
    EXPECT_FALSE(memory_realloc_num_indices());
}

// A step so large that the table size would wrap is refused, not used.
TEST_F(Memory, GrowthThatWouldWrapIsRefused) {
    ASSERT_TRUE(MEMORY_set_module_realloc_step_size(0x7FFFFF00));
    EXPECT_FALSE(MEMORY_set_default_num_entries());
    ASSERT_TRUE(MEMORY_set_module_realloc_step_size(0x40000000));
    EXPECT_FALSE(MEMORY_set_default_num_entries());
    EXPECT_TRUE(MEMORY_set_module_realloc_step_size(50));
    EXPECT_EQ(MEMORY_get_default_num_entries(), count);
    EXPECT_EQ(develop_lines(), (Lines{"memory: memory_realloc_num_indices: realloc call failed",
                                      "memory: memory_realloc_num_indices: realloc call failed"}));
}

TEST_F(Memory, RecordHoldsMagicSizeSlotFileAndLine) {
    struct {
        const char* file;
        const char* recorded;
    } cases[] = {
        {"C:\\game\\src\\COPYFLST.c", "COPYFLST"},
        {"averylongname.cpp", "averylon"},
        {"a.b.c", "a.b"},
        {"abcdefg.h.cpp", "abcdefg."},
        {"noext", "noext"},
        {"dir\\sub\\", ""},
        {"/build/tree/qfile.cpp", "qfile"},
        {QBUG_FILE, "memory_t"},
    };
    for (const auto& c : cases) {
        void* block = MEMORY_allocate(NULL, 33, 0, "record", c.file, 1234);
        ASSERT_NE(block, nullptr);
        MEMORY_RECORD* record = record_of(block);
        EXPECT_EQ(memcmp(record, "MEM", 4), 0);
        EXPECT_EQ((uint32_t)record->size, 33u);
        EXPECT_EQ((uint32_t)record->line, 1234u);
        EXPECT_STREQ(record->file, c.recorded) << c.file;
        EXPECT_TRUE(MEMORY_deallocate(&block, c.file, 1));
    }
    void* block = MEMORY_ALLOCATE(NULL, 1, 0, NULL);
    EXPECT_STREQ(record_of(block)->description, "No Description");
    EXPECT_STREQ(record_of(block)->file, "memory_t");
    EXPECT_EQ((uint32_t)record_of(block)->line, (uint32_t)(__LINE__ - 3));
    EXPECT_TRUE(MEMORY_change_description(block, "abcdefghijklmnopqrstuvwxyz0123"));
    EXPECT_STREQ(record_of(block)->description, "abcdefghijklmnopqrstuvw");
    EXPECT_TRUE(MEMORY_DEALLOCATE(&block));
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(develop_lines(), Lines{});
}

TEST_F(Memory, FillModes) {
    const int32_t size = 300;
    char* zeros = (char*)MEMORY_allocate(NULL, size, MEMORY_FILL_ZERO, "zeros", "a.c", 1);
    char* ones = (char*)MEMORY_allocate(NULL, size, MEMORY_FILL_FF, "ones", "a.c", 2);
    ASSERT_NE(zeros, nullptr);
    ASSERT_NE(ones, nullptr);
    for (int32_t i = 0; i < size; i++) {
        ASSERT_EQ(zeros[i], 0) << i;
        ASSERT_EQ((uint8_t)ones[i], 0xFF) << i;
    }
    EXPECT_TRUE(MEMORY_deallocate((void**)&zeros, "a.c", 3));
    EXPECT_TRUE(MEMORY_deallocate((void**)&ones, "a.c", 4));
}

TEST_F(Memory, UsageDumpBytes) {
    void* tiles = MEMORY_allocate(NULL, 120, 0, "tiles", "C:\\src\\COPYFLST.c", 77);
    void* gone = MEMORY_allocate(NULL, 5, 0, "gone", "x.c", 1);
    void* named =
        MEMORY_allocate(NULL, 123456, 0, "100% %s %d wide description", "qfile.cpp", 31000);
    EXPECT_TRUE(MEMORY_deallocate(&gone, "x.c", 2));
    clear_files();
    MEMORY_usage();

    char expected[2048];
    snprintf(expected, sizeof(expected),
             "Release Debug\n\n"
             "----------------------------------------------------------------------\n"
             "            Memory usage:: currently allocated = 123576 bytes\n"
             "----------------------------------------------------------------------\n"
             "[   qfile, 31000] size:    123456; name: 100%% %%s %%d wide descrip ; addr: %p\n"
             "[COPYFLST,    77] size:       120; name: tiles                   ; addr: %p\n",
             (void*)record_of(named), (void*)record_of(tiles));
    EXPECT_EQ(read_text("retail.dbg"), expected);
    EXPECT_TRUE(MEMORY_deallocate(&tiles, "a.c", 1));
    EXPECT_TRUE(MEMORY_deallocate(&named, "a.c", 1));

    clear_files();
    MEMORY_usage();
    EXPECT_EQ(retail_lines(),
              (Lines{"----------------------------------------------------------------------",
                     "            Memory usage:: currently allocated = 0 bytes",
                     "----------------------------------------------------------------------"}));
}

TEST_F(Memory, AllocateFailuresAndWarnings) {
    // Refused sizes leave the free stack alone: the next block still takes
    // the top slot.
    EXPECT_EQ(MEMORY_allocate(NULL, 0, 0, "tiles", "C:\\src\\COPYFLST.c", 77), nullptr);
    EXPECT_EQ(MEMORY_allocate(NULL, -5, 0, NULL, "b.c", 8), nullptr);
    // A heap failure gives the slot back.
    EXPECT_EQ(MEMORY_allocate(NULL, 0x7FFFFF00, 0, "huge", "c.c", 9), nullptr);
    void* first = MEMORY_allocate(NULL, 4, 0, "first", "d.c", 10);
    EXPECT_EQ(slot_of(first), count - 1);
    // A variable that still holds a block: reported, and a new block anyway.
    void* kept = first;
    void* second = MEMORY_allocate(first, 4, 0, "second", "e.c", 11);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(slot_of(second), count - 2);
    EXPECT_TRUE(MEMORY_check_lead_and_tail(kept));

    EXPECT_EQ(
        retail_lines(),
        (Lines{"memory: MEMORY_allocate failed (C:\\src\\COPYFLST.c, 77): tiles size = 0",
               "memory: MEMORY_allocate failed (b.c, 8): No Description size = -5",
               "memory: MEMORY_allocate failed (c.c, 9): malloc failed, huge size = 2147483392",
               "memory: MEMORY_allocate (e.c, 11): previous data not freed second"}));

    // The earlier block stays live: listed in the usage dump and the leak check.
    clear_files();
    MEMORY_usage();
    Lines usage = retail_lines();
    ASSERT_EQ(usage.size(), 5u);
    EXPECT_NE(usage[3].find("name: second "), std::string::npos);
    EXPECT_NE(usage[4].find("name: first "), std::string::npos);
    EXPECT_TRUE(MEMORY_deallocate(&second, "e.c", 12));
    EXPECT_TRUE(MEMORY_deinitialise());
    EXPECT_EQ(develop_lines(), Lines{"memory: MEMORY_deinitialise error: memory leaks detected"});

    clear_files();
    EXPECT_EQ(MEMORY_allocate(NULL, 4, 0, "late", "f.c", 13), nullptr);
    EXPECT_EQ(retail_lines(),
              Lines{"memory: MEMORY_allocate failed (f.c, 13): data not initialised"});
}

TEST_F(Memory, DeallocateResults) {
    void* block = MEMORY_allocate(NULL, 16, 0, "block", "a.c", 1);
    void* null_variable = NULL;
    char plain[sizeof(MEMORY_RECORD) + 16] = {0};
    void* foreign = plain + sizeof(MEMORY_RECORD);
    void* foreign_before = foreign;

    EXPECT_TRUE(MEMORY_deallocate(&block, "a.c", 2));
    EXPECT_EQ(block, nullptr);
    EXPECT_FALSE(MEMORY_deallocate(&block, "a.c", 3));
    EXPECT_FALSE(MEMORY_deallocate(&null_variable, "a.c", 4));
    EXPECT_FALSE(MEMORY_deallocate(NULL, "a.c", 5));
    // Nothing is released for an invalid pointer, so the result is false.
    EXPECT_FALSE(MEMORY_deallocate(&foreign, "a.c", 6));
    EXPECT_EQ(foreign, foreign_before);

    EXPECT_EQ(retail_lines(),
              (Lines{"memory: MEMORY_deallocate failed (a.c, 3): mem block parameter NULL",
                     "memory: MEMORY_deallocate failed (a.c, 4): mem block parameter NULL",
                     "memory: MEMORY_deallocate failed (a.c, 5): mem block parameter NULL",
                     "memory: MEMORY_deallocate error (a.c, 6): not a valid memory pointer",
                     "memory: Or Corruption has occured."}));
    EXPECT_EQ(develop_lines(),
              Lines{"memory: MEMORY_check_entry: Not valid memory block or corruption"});

    EXPECT_TRUE(MEMORY_deinitialise());
    clear_files();
    void* late = foreign;
    EXPECT_FALSE(MEMORY_deallocate(&late, "a.c", 7));
    EXPECT_EQ(retail_lines(),
              Lines{"memory: MEMORY_deallocate failed (a.c, 7): data not initialised"});
}

// A copy of a live block's record (magic, slot and all) at another address
// names that block's slot; it must not release or grow the real block.
TEST_F(Memory, ForgedRecordIsNotTheBlockInItsSlot) {
    void* block = MEMORY_allocate(NULL, 16, MEMORY_FILL_ZERO, "real", "a.c", 1);
    uint8_t forged[sizeof(MEMORY_RECORD) + 16 + MEMORY_FOOT_SIZE];
    memcpy(forged, record_of(block), sizeof(forged));
    void* copy = forged + sizeof(MEMORY_RECORD);
    EXPECT_FALSE(MEMORY_check_lead_and_tail(copy));
    EXPECT_FALSE(MEMORY_deallocate(&copy, "a.c", 2));
    EXPECT_EQ(MEMORY_reallocate(copy, 64), nullptr);
    EXPECT_TRUE(MEMORY_check_lead_and_tail(block));
    EXPECT_EQ(develop_lines(), (Lines{"memory: MEMORY_check_entry: memory corruption",
                                      "memory: MEMORY_check_entry: memory corruption",
                                      "memory: MEMORY_check_entry: memory corruption"}));
    EXPECT_TRUE(MEMORY_deallocate(&block, "a.c", 3));
}

TEST_F(Memory, ReallocateRules) {
    char* block = (char*)MEMORY_allocate(NULL, 100, 0, "grow", "a.c", 1);
    memset(block, 'x', 100);
    // Smaller: same pointer, block unchanged.
    EXPECT_EQ(MEMORY_reallocate(block, 60), block);
    EXPECT_EQ((uint32_t)record_of(block)->size, 100u);
    // Equal and larger sizes reallocate; contents, description and slot stay.
    int32_t slot = slot_of(block);
    block = (char*)MEMORY_reallocate(block, 100);
    ASSERT_NE(block, nullptr);
    block = (char*)MEMORY_reallocate(block, 300);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ((uint32_t)record_of(block)->size, 300u);
    EXPECT_EQ(slot_of(block), slot);
    EXPECT_STREQ(record_of(block)->description, "grow");
    EXPECT_EQ(std::string(block, 100), std::string(100, 'x'));
    memset(block, 'y', 300);
    EXPECT_TRUE(MEMORY_check_all());

    // A failed realloc leaves the block where and as it was.
    EXPECT_EQ(MEMORY_reallocate(block, 0x7FFFFF00), nullptr);
    EXPECT_TRUE(MEMORY_check_lead_and_tail(block));
    EXPECT_EQ(std::string(block, 300), std::string(300, 'y'));

    EXPECT_EQ(MEMORY_reallocate(NULL, 10), nullptr);
    char plain[sizeof(MEMORY_RECORD) + 4] = {0};
    EXPECT_EQ(MEMORY_reallocate(plain + sizeof(MEMORY_RECORD), 10), nullptr);

    EXPECT_EQ(develop_lines(),
              (Lines{"memory: MEMORY_reallocate error: new size 60 is less than old size 100extra "
                     "memory not allocated",
                     "memory: MEMORY_reallocate error: realloc failed!",
                     "memory: MEMORY_reallocate failed: mem block parameter NULL",
                     "memory: MEMORY_check_entry: Not valid memory block or corruption"}));
    EXPECT_EQ(retail_lines(), (Lines{"memory: MEMORY_reallocate error: not a valid memory pointer",
                                     "memory: Or Corruption has occured."}));

    // Allocated bytes are back where they were once the grown block is gone.
    EXPECT_TRUE(MEMORY_deallocate((void**)&block, "a.c", 2));
    clear_files();
    MEMORY_usage();
    Lines usage = retail_lines();
    ASSERT_EQ(usage.size(), 3u);
    EXPECT_EQ(usage[1], "            Memory usage:: currently allocated = 0 bytes");

    EXPECT_TRUE(MEMORY_deinitialise());
    clear_files();
    char* late = plain + sizeof(MEMORY_RECORD);
    EXPECT_EQ(MEMORY_reallocate(late, 10), nullptr);
    EXPECT_EQ(develop_lines(), Lines{"memory: MEMORY_reallocate failed: data not initialised"});
}

// Guard words are written and checked at level 0 only.
TEST_F(Memory, GuardCorruptionByCheckLevel) {
    struct {
        uint8_t level;
        int32_t offset;  // of the byte overwritten, from the first user byte
        bool detected;
        const char* message;
    } cases[] = {
        {0, 40, true, "memory: MEMORY_check_entry: foot corruption"},
        {0, 40 + MEMORY_FOOT_SIZE - 1, true, "memory: MEMORY_check_entry: foot corruption"},
        {0, -1, true, "memory: MEMORY_check_entry: lead corruption"},
        {0, -MEMORY_GUARD_WORDS * 4, true, "memory: MEMORY_check_entry: lead corruption"},
        {0, 39, false, NULL},
        {1, 40, false, NULL},
        {1, -1, false, NULL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << (int)c.level << " offset " << c.offset);
        ASSERT_TRUE(MEMORY_deinitialise());
        MEMORY_set_check_level(c.level);
        ASSERT_EQ(MEMORY_get_check_level(), c.level);
        ASSERT_TRUE(MEMORY_initialise());
        clear_files();
        uint8_t* block = (uint8_t*)MEMORY_allocate(NULL, 40, 0, "guarded", "a.c", 1);
        uint8_t* other = (uint8_t*)MEMORY_allocate(NULL, 40, 0, "other", "a.c", 2);
        EXPECT_TRUE(MEMORY_check_lead_and_tail(block));
        block[c.offset] ^= 0x5A;
        EXPECT_EQ(MEMORY_check_lead_and_tail(block), !c.detected);
        EXPECT_EQ(MEMORY_check_all(), !c.detected);
        EXPECT_TRUE(MEMORY_check_lead_and_tail(other));
        if (c.detected) {
            EXPECT_EQ(develop_lines(), (Lines{c.message, c.message}));
            // A corrupt block is refused, not released.
            EXPECT_FALSE(MEMORY_deallocate((void**)&block, "a.c", 3));
            block[c.offset] ^= 0x5A;
        } else {
            EXPECT_EQ(develop_lines(), Lines{});
        }
        EXPECT_TRUE(MEMORY_deallocate((void**)&block, "a.c", 4));
        EXPECT_TRUE(MEMORY_deallocate((void**)&other, "a.c", 5));
    }
}

TEST_F(Memory, GrownBlockKeepsItsGuardsAtLevelZero) {
    ASSERT_TRUE(MEMORY_deinitialise());
    MEMORY_set_check_level(0);
    ASSERT_TRUE(MEMORY_initialise());
    uint8_t* block = (uint8_t*)MEMORY_allocate(NULL, 100, 0, "grown", "a.c", 1);
    block = (uint8_t*)MEMORY_reallocate(block, 300);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(MEMORY_check_lead_and_tail(block));
    block[300] = 0;
    EXPECT_FALSE(MEMORY_check_lead_and_tail(block));
    EXPECT_EQ(develop_lines(), Lines{"memory: MEMORY_check_entry: foot corruption"});
    memory_set_head_foot_check(block + 300);
    EXPECT_TRUE(MEMORY_deallocate((void**)&block, "a.c", 2));
}

TEST_F(Memory, CheckAllContinuesPastAFailure) {
    ASSERT_TRUE(MEMORY_deinitialise());
    MEMORY_set_check_level(0);
    ASSERT_TRUE(MEMORY_initialise());
    uint8_t* blocks[3];
    for (uint8_t*& block : blocks) {
        block = (uint8_t*)MEMORY_allocate(NULL, 8, 0, "block", "a.c", 1);
    }
    blocks[0][8] = 1;
    blocks[2][-1] = 1;
    EXPECT_FALSE(MEMORY_check_all());
    // Slot order: blocks[2] holds the lowest slot.
    EXPECT_EQ(develop_lines(), (Lines{"memory: MEMORY_check_entry: lead corruption",
                                      "memory: MEMORY_check_entry: foot corruption"}));
}

TEST_F(Memory, CheckLevelIsFixedOnceAnythingWasAllocated) {
    MEMORY_set_check_level(7);
    EXPECT_EQ(MEMORY_get_check_level(), 7);
    void* block = MEMORY_allocate(NULL, 8, 0, "block", "a.c", 1);
    EXPECT_TRUE(MEMORY_deallocate(&block, "a.c", 2));
    MEMORY_set_check_level(0);
    EXPECT_EQ(MEMORY_get_check_level(), 7);
    EXPECT_EQ(develop_lines(),
              Lines{"memory: MEMORY_set_check_level : Can't change after an allocate"});
    ASSERT_TRUE(MEMORY_deinitialise());
    MEMORY_set_check_level(1);
    EXPECT_EQ(MEMORY_get_check_level(), 1);
}

TEST_F(Memory, LeakCheckAndShutDown) {
    void* leaked = MEMORY_allocate(NULL, 64, 0, "leaked", "a.c", 1);
    ASSERT_NE(leaked, nullptr);
    void* released = MEMORY_allocate(NULL, 64, 0, "released", "a.c", 2);
    EXPECT_TRUE(MEMORY_deallocate(&released, "a.c", 3));
    EXPECT_FALSE(MEMORY_initialise());
    EXPECT_TRUE(MEMORY_deinitialise());
    EXPECT_FALSE(MEMORY_deinitialise());
    EXPECT_EQ(develop_lines(), (Lines{"memory: MEMORY_initialise failed: already initialised",
                                      "memory: MEMORY_deinitialise error: memory leaks detected",
                                      "memory: MEMORY_deinitialise failed: not initialised"}));
    // No leak, no message; no block list is ever written to the retail file.
    ASSERT_TRUE(MEMORY_initialise());
    clear_files();
    void* block = MEMORY_allocate(NULL, 64, 0, "block", "a.c", 4);
    EXPECT_TRUE(MEMORY_deallocate(&block, "a.c", 5));
    EXPECT_TRUE(MEMORY_deinitialise());
    EXPECT_EQ(develop_lines(), Lines{});
    EXPECT_EQ(retail_lines(), Lines{});
}

TEST_F(Memory, OperationsBeforeInitialise) {
    ASSERT_TRUE(MEMORY_deinitialise());
    clear_files();
    char plain[sizeof(MEMORY_RECORD) + 4] = {0};
    void* pointer = plain + sizeof(MEMORY_RECORD);
    MEMORY_usage();
    EXPECT_FALSE(MEMORY_check_lead_and_tail(pointer));
    EXPECT_FALSE(MEMORY_check_all());
    // No table yet, so no slot can hold the block.
    EXPECT_FALSE(MEMORY_change_description(pointer, "name"));
    EXPECT_FALSE(MEMORY_change_description(NULL, "name"));
    EXPECT_FALSE(MEMORY_change_description(pointer, NULL));
    EXPECT_EQ(develop_lines(),
              (Lines{"memory: MEMORY_usage failed: memory not initialised",
                     "memory: MEMORY_check_lead_and_tail failed: memory not initialised",
                     "memory: MEMORY_check failed: memory not initialised",
                     "memory: MEMORY_change_description failed: memory corrupt",
                     "memory: MEMORY_change_description failed: mem_block is NULL",
                     "memory: MEMORY_change_description failed: description is NULL"}));
    EXPECT_EQ(retail_lines(), Lines{});
}

// Make the Nth heap request of MEMORY_initialise fail, N = 0, 1, ... until
// none fails: each failure leaves the allocator uninitialised, holding
// nothing, and ready for a later attempt.
TEST_F(Memory, InitialiseSurvivesEveryHeapFailure) {
    ASSERT_TRUE(MEMORY_deinitialise());
    bool succeeded = false;
    for (int32_t n = 0; !succeeded && n < 10; n++) {
        SCOPED_TRACE(testing::Message() << "failing heap request " << n);
        clear_files();
        FAILING_HEAP_reset_count();
        FAILING_HEAP_fail_after(n);
        succeeded = MEMORY_initialise();
        bool failed = FAILING_HEAP_failed();
        FAILING_HEAP_fail_after(-1);
        EXPECT_EQ(succeeded, !failed);
        if (!succeeded) {
            EXPECT_EQ(FAILING_HEAP_outstanding(), 0);
            EXPECT_EQ(MEMORY_allocate(NULL, 4, 0, "x", "a.c", 1), nullptr);
            EXPECT_EQ(retail_lines(),
                      Lines{"memory: MEMORY_allocate failed (a.c, 1): data not initialised"});
            EXPECT_FALSE(MEMORY_deinitialise());
        }
    }
    ASSERT_TRUE(succeeded);
    void* block = MEMORY_allocate(NULL, 4, 0, "x", "a.c", 1);
    EXPECT_EQ(slot_of(block), count - 1);
    EXPECT_TRUE(MEMORY_deallocate(&block, "a.c", 2));
}

// The same for an allocation that has to grow the table: a failure leaves
// the table, its count and the free slots as they were.
TEST_F(Memory, AllocationThatGrowsTheTableSurvivesEveryHeapFailure) {
    std::vector<void*> blocks;
    for (int32_t i = 0; i < count; i++) {
        blocks.push_back(MEMORY_allocate(NULL, 8, 0, "filler", "a.c", i));
    }
    void* extra = NULL;
    const char* expected_trace[] = {
        "memory: memory_realloc_num_indices: realloc call failed",
        "memory: memory_realloc_num_indices: QSTACK realloc failed",
    };
    for (int32_t n = 0; extra == NULL && n < 10; n++) {
        SCOPED_TRACE(testing::Message() << "failing heap request " << n);
        clear_files();
        FAILING_HEAP_fail_after(n);
        extra = MEMORY_allocate(NULL, 8, 0, "extra", "g.c", 5);
        bool failed = FAILING_HEAP_failed();
        FAILING_HEAP_fail_after(-1);
        EXPECT_EQ(extra == NULL, failed);
        if (extra != NULL) {
            break;
        }
        // The table has grown once a block was what the heap refused.
        EXPECT_EQ(MEMORY_get_default_num_entries(), n < 2 ? count : count + 50);
        EXPECT_TRUE(MEMORY_check_all());
        if (n < 2) {
            EXPECT_EQ(
                retail_lines(),
                Lines{"memory: MEMORY_allocate failed (g.c, 5): stack empty, realloc failed"});
            Lines trace = develop_lines();
            ASSERT_GE(trace.size(), 1u);
            EXPECT_EQ(trace.back(), expected_trace[n]);
        } else {
            EXPECT_EQ(
                retail_lines(),
                Lines{"memory: MEMORY_allocate failed (g.c, 5): malloc failed, extra size = 8"});
        }
    }
    ASSERT_NE(extra, nullptr);
    EXPECT_EQ(MEMORY_get_default_num_entries(), count + 50);
    EXPECT_EQ(slot_of(extra), count + 50 - 1);
    EXPECT_TRUE(MEMORY_check_all());
    for (void*& block : blocks) {
        EXPECT_TRUE(MEMORY_deallocate(&block, "a.c", 1));
    }
    EXPECT_TRUE(MEMORY_deallocate(&extra, "a.c", 1));
    clear_files();
    EXPECT_TRUE(MEMORY_deinitialise());
    EXPECT_EQ(develop_lines(), Lines{});  // every slot was back on the free stack
}

// The installer's own state: diagnostics never initialised, flags 0. The
// allocator's errors still reach the retail log; no develop file appears.
TEST(MemoryWithoutDiagnostics, OnlyTheRetailLogIsWritten) {
    remove("develop.dbg");
    QBUG_set_retail_file("retail.dbg");
    ASSERT_FALSE(QBUG_is_initialised());
    ASSERT_TRUE(MEMORY_initialise());
    void* block = MEMORY_allocate(NULL, 0, 0, "empty", "a.c", 1);
    block = MEMORY_allocate(NULL, 10, 0, "block", "a.c", 2);
    EXPECT_EQ(MEMORY_reallocate(block, 5), block);
    EXPECT_TRUE(MEMORY_deinitialise());
    EXPECT_FALSE(MEMORY_deinitialise());
    EXPECT_EQ(read_text("develop.dbg"), "<missing>");
    EXPECT_EQ(retail_lines(), Lines{"memory: MEMORY_allocate failed (a.c, 1): empty size = 0"});
}

}  // namespace
