// Message files written unit by unit, loaded, edited, written and read back.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "failing_heap.h"
#include "message.h"
#include "qbug.h"
#include "support.h"

using namespace std::literals;
typedef std::u16string Units;
typedef std::vector<std::pair<std::string, Units>> Table;

static const uint16_t* W(const Units& units) { return (const uint16_t*)units.c_str(); }
static Units text_of(const uint16_t* text) { return text ? Units((const char16_t*)text) : u""; }
// A file's bytes: the byte-order mark and text, every unit complemented when enciphered.
static std::string file(Units text, bool enciphered = false) {
    for (char16_t& unit : text.insert(0, 1, u'\xFEFF')) unit = enciphered ? ~unit : unit;
    return std::string((const char*)text.data(), text.size() * 2);  // low byte first
}
// The table as a walk sees it: ids in table order, each with its text.
static Table walk(int32_t h) {
    Table table;
    for (auto id = MESSAGE_get_first_message_id(h); id; id = MESSAGE_get_next_message_id(h, id))
        table.push_back({id, text_of(MESSAGE_get_message(h, id))});
    return table;
}
// Loads a file, walks it and gives it back; in mode 0 every id and text must
// lie inside the loaded text.
static Table loaded(const char* name, uint8_t mode, MESSAGE_ERROR* error = NULL) {
    int32_t handle = MESSAGE_allocate_message_file(name, mode, error);
    const MESSAGE_FILE* slot = message_get_slot(handle);
    auto in = [slot](const void* p) { return p >= slot->data && p <= slot->data + slot->units; };
    for (int32_t i = 0; handle >= 0 && mode == 0 && i < slot->count; i++) {
        const MESSAGE_ENTRY& entry = slot->entries[i];
        EXPECT_TRUE(in(entry.id) && in(entry.id + strlen(entry.id)) && in(entry.text) &&
                    in(entry.text + unicodelen(entry.text) - 1));
    }
    Table table = walk(handle);
    MESSAGE_deallocate_message_file(handle);
    return table;
}

// Each case runs with the call stack and trace lines on and must leave the
// stack as it found it; every slot is released at its end.
struct Message : ::testing::Test {
    void SetUp() override {
        callstack_begin("message.dbg", QBUG_FLAG_TRACE);
        ASSERT_TRUE(MESSAGE_initialise(4));
    }
    void TearDown() override {
        for (int32_t handle = 0; handle < 4; handle++) MESSAGE_deallocate_message_file(handle);
        MESSAGE_deinitialise();
        EXPECT_EQ(callstack_end(), "");
    }
};

// Files (after their byte-order mark) and the tables they load to, or their
// syntax error and its line.
// clang-format off
static const std::tuple<Units, Table, const char*, int32_t> LOADS[] = {
    {u"[A]\nHi\r\n[END_OF_FILE]", {{"A", u"Hi\r"}}, NULL, -1},
    {u"[\xFFE9]\nHi\r\n[B]\n\n[END_OF_FILE]", {{"\xE9", u"Hi\r"}, {"B", u""}}, NULL, -1},
    {u"[END_OF_FILE]", {}, NULL, -1}, {u"", {}, NULL, -1},
    {u"[A]\n1\n[B]\n2\n[A]\n3\n[C]\n\n[END]", {{"A", u"1"}, {"B", u"2"}, {"C", u""}}, NULL, -1},
    {u"[A]\n[B]\nYo\n[END]", {{"A", u""}, {"B", u"Yo"}}, NULL, -1},
    {u"[A] [B]\nYo\n[END]", {{"A", u""}, {"B", u"Yo"}}, NULL, -1},
    {u"[A] note\r\nx\ny\r\n\n[END]", {{"A", u"x\ny\r\n"}}, NULL, -1},
    {u"[]\nHi\n[B", {{"", u"Hi"}}, NULL, -1},  // the last header is never a message
    {u"[\xFFE9t\x00E9]\nH\0i\n[END]"s, {{"\xE9t\xE9", u"H"}}, NULL, -1},
    {u"[A\n[B]\nx\n[END]", {}, MESSAGE_ERROR_NESTED_OPEN, 2},
    {u"[A]\nx]\n[END]", {}, MESSAGE_ERROR_STRAY_CLOSE, 2},
    {u"[A]\nHi[END]", {}, MESSAGE_ERROR_NEWLINE_BEFORE, 2},
    {u"\r\n\r\n[A]x\r\n[END]", {}, MESSAGE_ERROR_NEWLINE_AFTER, 3},
};
// clang-format on

static uint32_t seed;
static size_t next(size_t range) { return ((seed = seed * 1103515245u + 12345u) >> 8) % range; }

// Each file plain and enciphered, with an odd byte at its end or not, loads
// in both modes to its table or its syntax error; thousands of damaged copies
// (fixed seed) load in both modes to the same table, or are refused. The
// tables of the whole files read back unchanged from the files they are
// written to (plain, or enciphered by state 1 and only 1) in either mode, and
// a file in the writer's own form (ids widened as signed bytes, a line feed
// after each text) is written byte for byte.
TEST_F(Message, FilesLoadToTheirTablesAndDamagedOnesSafely) {
    const char specials[] = "[]\n\r\0\xFF\xA4\xA2\xF5\x01\xFE";  // bytes of units that matter
    size_t refused = 0, rows = std::size(LOADS);
    for (size_t copy = (seed = 20240601, 0); copy < 3000; copy++) {
        const auto& [text, table, error_text, line] = LOADS[copy % rows];
        bool whole = copy < 4 * rows, enciphered = copy / rows % 2;
        std::string bytes = file(text, enciphered) + (copy / rows % 4 > 1 ? "[" : "");
        for (size_t damages = whole ? 0 : 1 + next(4), at; damages > 0; damages--) {
            at = next(bytes.size() + 1);
            char unit_byte = next(2) ? specials[next(sizeof specials)] : (char)next(256);
            switch (next(4)) {
            case 0: bytes.insert(at, 1, unit_byte); break;
            case 1: bytes.erase(at, 1 + next(3)); break;
            case 2: bytes.resize(at); break;
            default: bytes.replace(at, 1, 1, unit_byte);
            }
        }
        write_file("load.msg", bytes);
        MESSAGE_ERROR error;
        Table in_place = loaded("load.msg", 0, &error);
        if (error.error) free(error.file_name);
        refused += error.error;
        ASSERT_FALSE(message_valid_handle(0));
        ASSERT_EQ(loaded("load.msg", 1), in_place) << "copy " << copy;
        if (!whole) continue;
        EXPECT_EQ(in_place, table) << copy;
        EXPECT_STREQ(error.error_text, error_text) << copy;
        EXPECT_EQ(error.line, line) << copy;
        int32_t handle = MESSAGE_allocate_message_file("load.msg", 1, NULL);
        MESSAGE_set_output_encrypt_state(enciphered ? 1 : 2);
        remove("written.msg");
        MESSAGE_write_message_file(handle, "written.msg");
        MESSAGE_deallocate_message_file(handle);
        EXPECT_EQ(loaded("written.msg", copy / rows / 2), in_place) << copy;
        if (text.find(u"[END_OF_FILE]") != Units::npos && copy / rows < 2)
            EXPECT_EQ(read_file("written.msg"), bytes) << copy;
    }
    EXPECT_TRUE(refused > 500 && refused < 2000) << refused;
    EXPECT_EQ(loaded("missing.msg", 0), Table());  // unreadable: empty
}

TEST_F(Message, SlotsAndLimits) {
    write_file("load.msg", file(u"[END_OF_FILE]"));
    for (int32_t i = 0; i <= 4; i++)
        EXPECT_EQ(MESSAGE_allocate_message_file("load.msg", 0, NULL), i < 4 ? i : -1);
    EXPECT_FALSE(MESSAGE_initialise(4));  // a new table would lose the files loaded
    MESSAGE_deallocate_message_file(2);
    EXPECT_EQ(MESSAGE_allocate_message_file("load.msg", 1, NULL), 2);  // the last free slot
    EXPECT_EQ(unicodelen(W(Units(200000, u'a'))), 200001);
    EXPECT_EQ(unicodelen(W(Units(200001, u'a'))), 0);
}

// Random edits of a mode-1 table against a plain model. Ids share byte sums
// (anagrams); ids and texts include what a file cannot carry, which is refused.
// Each table reads back unchanged from its file, plain or enciphered, in
// either mode.
TEST_F(Message, EditsFollowAModelAndReadBackUnchanged) {
    seed = 12345;
    write_file("load.msg", file(u"[END_OF_FILE]"));
    for (int round = 0; round < 8; round++) {
        int32_t handle = MESSAGE_allocate_message_file("load.msg", 1, NULL);
        Table model;
        for (int step = 0; step < 300; step++) {
            std::string id = std::to_string(next(100));
            if (next(2)) std::reverse(id.begin(), id.end());
            if (next(8) == 0) id.insert(next(id.size() + 1), 1, "[]\n\r \t\xE9\x80"[next(8)]);
            Units text;
            for (size_t k = next(8); k > 0; k--)
                text += (char16_t)(next(9) ? 1 + next(0xFFFE) : u"[]\n\r"[next(4)]);
            const uint16_t* given = next(10) ? W(text) : NULL;
            bool fits = id.find_first_of("[]\n") == id.npos &&
                        (!given || text.find_first_of(u"[]") == text.npos);
            auto at =
                std::find_if(model.begin(), model.end(), [&](auto& m) { return m.first == id; });
            bool present = at != model.end();
            int operation = next(3);
            if (operation == 0)
                EXPECT_EQ(MESSAGE_insert_message(handle, id.c_str(), given), fits && !present);
            if (operation == 0 && fits && !present) model.push_back({id, given ? text : u"\r"});
            if (operation == 1) MESSAGE_set_message(handle, id.c_str(), given);
            if (operation == 1 && fits && given && present) at->second = text;
            if (operation == 2) EXPECT_EQ(MESSAGE_remove_message(handle, id.c_str()), present);
            if (operation == 2 && present) model.erase(at);
            ASSERT_EQ(walk(handle), model) << "round " << round << ", step " << step;
        }
        MESSAGE_set_output_encrypt_state((uint8_t)(round % 2));
        MESSAGE_write_message_file(handle, "round.msg");
        EXPECT_EQ(loaded("round.msg", round / 2 % 2), model) << "round " << round;
        MESSAGE_deallocate_message_file(handle);
    }
}

// The Nth heap request failing, N = 0, 1, 2, ... until none does, while a
// file loads and is edited and written: every outcome is whole or nothing,
// and nothing leaks.
TEST_F(Message, EachAllocationFailingInTurnIsClean) {
    const Units yo = u"Yo";
    write_file("oom.msg", file(u"[A]\none\n[B]\ntwo\n[A]\ndup\n[C]\nthree\n[END_OF_FILE]"));
    for (uint8_t mode : {0, 1}) {
        for (int32_t n = 0, failed = 1; failed; n++) {
            remove("oom_out.msg");
            FAILING_HEAP_fail_after(n);
            int32_t handle = MESSAGE_allocate_message_file("oom.msg", mode, NULL);
            bool inserted = MESSAGE_insert_message(handle, "D", W(yo));
            MESSAGE_set_message(handle, "B", W(yo));
            MESSAGE_write_message_file(handle, "oom_out.msg");
            failed = FAILING_HEAP_failed();
            FAILING_HEAP_fail_after(-1);
            {
                Table table = {{"A", u"one"}, {"B", u"two"}, {"C", u"three"}};
                if (n == 0) table.clear();  // the text itself: read as an empty file
                if (n > 0 && mode == 1 && text_of(MESSAGE_get_message(handle, "B")) == u"Yo")
                    table[1].second = u"Yo";
                if (inserted) table.push_back({"D", u"Yo"});
                EXPECT_TRUE(handle == 0 || (handle == -1 && !message_valid_handle(0))) << n;
                if (handle == 0) EXPECT_EQ(walk(handle), table) << n;
                if (exists("oom_out.msg")) EXPECT_EQ(loaded("oom_out.msg", 1), table) << n;
            }
            MESSAGE_deallocate_message_file(handle);
            EXPECT_EQ(FAILING_HEAP_outstanding(), 0) << "mode " << (int)mode << ", failure " << n;
        }
    }
}
