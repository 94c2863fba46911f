// Message files: files built byte by byte, loaded, edited, written and read back.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include "message.h"
#include "qbug.h"
#include "qfile.h"

typedef std::vector<uint16_t> Units;
typedef std::vector<std::pair<std::string, Units>> Table;

static const int SLOTS = 4;

// Units of an 8-bit text, each byte widened as a signed value, as files hold ids.
static Units U(const std::string& text) {
    Units units;
    for (char c : text) units.push_back((uint16_t)(int16_t)(signed char)c);
    return units;
}
static Units cat(std::initializer_list<Units> parts) {
    Units all;
    for (const Units& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}
static Units complement(Units units) {
    for (uint16_t& unit : units) unit = (uint16_t)~unit;
    return units;
}
static std::string bytes_of(const Units& units) {
    std::string bytes;
    for (uint16_t unit : units) {
        bytes.push_back((char)(unit & 0xFF));
        bytes.push_back((char)(unit >> 8));
    }
    return bytes;
}
static void write_bytes(const char* name, const std::string& bytes) {
    FILE* file = fopen(name, "wb");
    ASSERT_NE(file, nullptr);
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
}
static void write_units(const char* name, const Units& units) {
    write_bytes(name, bytes_of(units));
}
static std::string read_bytes(const char* name, const char* mode = "rb") {
    std::string bytes;
    FILE* file = fopen(name, mode);
    if (file == NULL) return "<missing>";
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, count);
    fclose(file);
    return bytes;
}
static Units text_of(const uint16_t* text) {
    Units units;
    for (; text != NULL && *text != 0; text++) units.push_back(*text);
    return units;
}
static Units terminated(Units units) {
    units.push_back(0);
    return units;
}

// The table as the walk sees it: ids in table order with their texts.
static Table walk(int32_t handle) {
    Table table;
    for (const char* id = MESSAGE_get_first_message_id(handle); id != NULL;
         id = MESSAGE_get_next_message_id(handle, id)) {
        table.push_back({id, text_of(MESSAGE_get_message(handle, id))});
        if (table.size() > 1000000) break;
    }
    return table;
}

static const Units BOM = {0xFEFF};
static const Units END = U("[END_OF_FILE]");
static const Units LF = {0x000A};
// The one-message file: id A, text Hi with a CR LF line end.
static const Units ONE_MESSAGE = cat({BOM, U("[A]\n"), U("Hi\r\n"), END});

class Message : public ::testing::Test {
protected:
    void SetUp() override {
        message_failing_allocation = -1;
        ASSERT_TRUE(MESSAGE_initialise(SLOTS));
    }
    void TearDown() override {
        message_failing_allocation = -1;
        for (int32_t handle = 0; handle < SLOTS; handle++) MESSAGE_deallocate_message_file(handle);
        MESSAGE_deinitialise();
    }
    int32_t load(const Units& units, uint8_t mode, MESSAGE_ERROR* error = NULL) {
        write_units("load.msg", units);
        return MESSAGE_allocate_message_file("load.msg", mode, error);
    }
};

// ---------------------------------------------------------------------------
// Loading

TEST_F(Message, OneMessageFilePlainAndEncipheredInBothModes) {
    for (bool enciphered : {false, true}) {
        for (uint8_t mode : {0, 1}) {
            SCOPED_TRACE(testing::Message()
                         << "enciphered " << enciphered << " mode " << (int)mode);
            int32_t handle = load(enciphered ? complement(ONE_MESSAGE) : ONE_MESSAGE, mode);
            ASSERT_EQ(handle, 0);
            EXPECT_EQ(walk(handle), (Table{{"A", {0x48, 0x69, 0x0D}}}));
            EXPECT_EQ(MESSAGE_count_messages(handle), 1);
            EXPECT_EQ(message_get_list_object(handle, "A")->magic, 65);
            MESSAGE_deallocate_message_file(handle);
        }
    }
}

TEST_F(Message, FilesWithoutMessagesLoadAsEmptyTables) {
    struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"one byte", "\xFF"},
        {"byte-order mark only", bytes_of(BOM)},
        {"enciphered mark only", bytes_of(complement(BOM))},
        {"text without header", bytes_of(cat({BOM, U("Hello\r\nworld\r\n")}))},
        {"end marker only", bytes_of(cat({BOM, END}))},
        {"a message without the last header", bytes_of(cat({BOM, U("[A]\nHi\n")}))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write_bytes("empty.msg", c.bytes);
        int32_t handle = MESSAGE_allocate_message_file("empty.msg", 1, NULL);
        ASSERT_EQ(handle, 0);
        EXPECT_EQ(MESSAGE_count_messages(handle), 0);
        EXPECT_EQ(MESSAGE_get_first_message_id(handle), nullptr);
        MESSAGE_deallocate_message_file(handle);
    }
    remove("missing.msg");
    int32_t handle = MESSAGE_allocate_message_file("missing.msg", 0, NULL);
    EXPECT_EQ(handle, 0);  // an unreadable file counts as empty
    EXPECT_EQ(MESSAGE_count_messages(handle), 0);
}

TEST_F(Message, SyntaxErrorsReportTextLineAndPosition) {
    struct {
        Units units;
        const char* text;
        int32_t line;
        size_t position;  // unit index in the file
    } cases[] = {
        {cat({BOM, U("[A\n[B]\nx\n"), END}), MESSAGE_ERROR_NESTED_OPEN, 2, 4},
        {cat({BOM, U("[A]\nx]\n"), END}), MESSAGE_ERROR_STRAY_CLOSE, 2, 6},
        {cat({BOM, U("[A]\nHi\n]"), END}), MESSAGE_ERROR_STRAY_CLOSE, 3, 8},
        {cat({BOM, U("[A]\nHi["), END}), MESSAGE_ERROR_NEWLINE_BEFORE, 2, 7},
        {cat({BOM, U("[A]\nHi\n[B]Yo\n"), END}), MESSAGE_ERROR_NEWLINE_AFTER, 3, 11},
        {cat({BOM, U("\r\n\r\n[A]x\r\n"), END}), MESSAGE_ERROR_NEWLINE_AFTER, 3, 8},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.text);
        MESSAGE_ERROR error = {0, NULL, NULL, NULL, 0};
        EXPECT_EQ(load(c.units, 1, &error), -2);
        EXPECT_EQ(error.error, 1);
        EXPECT_STREQ(error.error_text, c.text);
        EXPECT_EQ(error.line, c.line);
        EXPECT_STREQ(error.file_name, "load.msg");
        EXPECT_EQ(error.position, nullptr);  // the text it pointed into is gone
        free(error.file_name);
        EXPECT_FALSE(message_valid_handle(0));  // the slot stays free

        // The position, seen where the text still exists: a slot filled by hand.
        MESSAGE_FILE* slot = message_get_slot(SLOTS - 1);
        Units data = terminated(c.units);
        slot->data = data.data();
        slot->units = (int32_t)c.units.size();
        EXPECT_EQ(message_count(SLOTS - 1, slot->units, &error), -2);
        EXPECT_EQ(error.position, data.data() + c.position);
        EXPECT_EQ(message_count(SLOTS - 1, slot->units, NULL), -2);
        slot->data = NULL;
        slot->units = 0;
    }
    // Enciphered files are checked after deciphering.
    MESSAGE_ERROR error;
    EXPECT_EQ(load(complement(cases[0].units), 0, &error), -2);
    EXPECT_EQ(error.line, 2);
    free(error.file_name);
}

// The layouts the format leaves open: each header except the last becomes a
// message, and no text reaches past the loaded units.
TEST_F(Message, UnusualLayoutsSplitOneMessagePerHeader) {
    struct {
        const char* what;
        Units units;
        Table table;
    } cases[] = {
        {"header after header", cat({BOM, U("[A]\n[B]\nYo\n"), END}), {{"A", {}}, {"B", U("Yo")}}},
        {"two headers on one line",
         cat({BOM, U("[A] [B]\nYo\n"), END}),
         {{"A", {}}, {"B", U("Yo")}}},
        {"empty text line", cat({BOM, U("[A]\n\n[B]\nYo\n"), END}), {{"A", {}}, {"B", U("Yo")}}},
        {"rest of header line ignored",
         cat({BOM, U("[A] note\r\nHi\r\n"), END}),
         {{"A", U("Hi\r")}}},
        {"inner line feeds kept", cat({BOM, U("[A]\nx\ny\n\n"), END}), {{"A", U("x\ny\n")}}},
        {"empty id", cat({BOM, U("[]\nHi\n"), END}), {{"", U("Hi")}}},
        {"no end marker", cat({BOM, U("[A]\nHi\n[B]\nYo")}), {{"A", U("Hi")}}},
        {"open last header", cat({BOM, U("[A]\nHi\n[B")}), {{"A", U("Hi")}}},
        {"last header on its own", cat({BOM, U("[A]\nHi\n[")}), {{"A", U("Hi")}}},
        {"text to the end of the file", cat({BOM, U("[A]\nHi\n[B]\n")}), {{"A", U("Hi")}}},
        {"signed id byte", cat({BOM, U("[\xE9t\xE9]\nHi\n"), END}), {{"\xE9t\xE9", U("Hi")}}},
        {"zero unit in the text", cat({BOM, U("[A]\nH"), {0}, U("i\n"), END}), {{"A", U("H")}}},
    };
    for (auto& c : cases) {
        for (uint8_t mode : {0, 1}) {
            SCOPED_TRACE(testing::Message() << c.what << " mode " << (int)mode);
            int32_t handle = load(c.units, mode);
            ASSERT_EQ(handle, 0);
            EXPECT_EQ(walk(handle), c.table);
            MESSAGE_deallocate_message_file(handle);
            // An odd trailing byte is dropped.
            write_bytes("odd.msg", bytes_of(c.units) + "\x5B");
            handle = MESSAGE_allocate_message_file("odd.msg", mode, NULL);
            ASSERT_EQ(handle, 0);
            EXPECT_EQ(walk(handle), c.table);
            MESSAGE_deallocate_message_file(handle);
        }
    }
}

TEST_F(Message, DuplicateIdsKeepTheFirst) {
    Units file = cat({BOM, U("[A]\none\n[B]\ntwo\n[A]\nthree\n[C]\nfour\n"), END});
    for (uint8_t mode : {0, 1}) {
        int32_t handle = load(file, mode);
        EXPECT_EQ(walk(handle), (Table{{"A", U("one")}, {"B", U("two")}, {"C", U("four")}}));
        EXPECT_EQ(MESSAGE_count_messages(handle), 3);
        MESSAGE_deallocate_message_file(handle);
    }
}

TEST_F(Message, SlotsFillUpAndComeBack) {
    for (int32_t i = 0; i < SLOTS; i++) EXPECT_EQ(load(ONE_MESSAGE, 0), i);
    EXPECT_EQ(load(ONE_MESSAGE, 0), -1);
    MESSAGE_deallocate_message_file(2);
    EXPECT_FALSE(message_valid_handle(2));
    EXPECT_EQ(load(ONE_MESSAGE, 1), 2);  // the last free slot
    EXPECT_EQ(load(ONE_MESSAGE, 1), -1);
    MESSAGE_deallocate_message_file(-1);  // invalid handles do nothing
    MESSAGE_deallocate_message_file(SLOTS);
    EXPECT_EQ(MESSAGE_count_messages(SLOTS), -1);
    EXPECT_EQ(MESSAGE_count_messages(-1), -1);
}

TEST(MessageModule, UninitialisedOrReinitialised) {
    message_failing_allocation = -1;
    EXPECT_EQ(MESSAGE_allocate_message_file("load.msg", 0, NULL), -1);
    EXPECT_FALSE(message_valid_handle(0));
    EXPECT_EQ(MESSAGE_get_message(0, "A"), nullptr);
    ASSERT_TRUE(MESSAGE_initialise(0));
    EXPECT_EQ(MESSAGE_allocate_message_file("load.msg", 0, NULL), -1);
    EXPECT_FALSE(MESSAGE_initialise(3));  // the table in place is kept
    MESSAGE_deinitialise();
    EXPECT_FALSE(MESSAGE_initialise(-1));
    message_failing_allocation = 0;
    EXPECT_FALSE(MESSAGE_initialise(3));
    message_failing_allocation = -1;
    EXPECT_TRUE(MESSAGE_initialise(1));
    MESSAGE_deinitialise();
}

TEST(MessageMagic, SignedByteSums) {
    EXPECT_EQ(message_calc_message_id_magic_number("AB"), 131);
    EXPECT_EQ(message_calc_message_id_magic_number("\xE9"), -23);
    EXPECT_EQ(message_calc_message_id_magic_number(""), 0);
    EXPECT_EQ(message_calc_message_id_magic_number(NULL), 0);
}

// ---------------------------------------------------------------------------
// Table operations

TEST_F(Message, EditsInModeOne) {
    int32_t handle = load(cat({BOM, END}), MESSAGE_MODE_EDITABLE);
    ASSERT_EQ(handle, 0);
    Units hi = terminated(U("Hi"));
    EXPECT_TRUE(MESSAGE_insert_message(handle, "one", hi.data()));
    EXPECT_TRUE(MESSAGE_insert_message(handle, "two", NULL));  // a lone CR
    EXPECT_TRUE(MESSAGE_insert_message(handle, "three", hi.data()));
    EXPECT_FALSE(MESSAGE_insert_message(handle, "two", hi.data()));
    EXPECT_FALSE(MESSAGE_insert_message(handle, NULL, hi.data()));
    EXPECT_FALSE(MESSAGE_insert_message(SLOTS - 1, "x", hi.data()));
    hi[0] = 'h';  // the table holds copies
    EXPECT_EQ(walk(handle), (Table{{"one", U("Hi")}, {"two", {0x0D}}, {"three", U("Hi")}}));

    Units yo = terminated(U("Yo!"));
    MESSAGE_set_message(handle, "two", yo.data());
    MESSAGE_set_message(handle, "four", yo.data());  // not created
    MESSAGE_set_message(handle, "one", NULL);        // refused, the old text stays
    EXPECT_EQ(walk(handle), (Table{{"one", U("Hi")}, {"two", U("Yo!")}, {"three", U("Hi")}}));

    EXPECT_TRUE(MESSAGE_remove_message(handle, "two"));  // the middle one
    EXPECT_EQ(walk(handle), (Table{{"one", U("Hi")}, {"three", U("Hi")}}));
    EXPECT_EQ(MESSAGE_get_message(handle, "two"), nullptr);
    EXPECT_FALSE(MESSAGE_remove_message(handle, "two"));
    EXPECT_TRUE(MESSAGE_insert_message(handle, "two", yo.data()));  // again, at the end
    EXPECT_EQ(walk(handle), (Table{{"one", U("Hi")}, {"three", U("Hi")}, {"two", U("Yo!")}}));
    EXPECT_TRUE(MESSAGE_remove_message(handle, "two"));  // the last one
    EXPECT_TRUE(MESSAGE_remove_message(handle, "one"));  // the first one
    EXPECT_EQ(walk(handle), (Table{{"three", U("Hi")}}));
    EXPECT_EQ(MESSAGE_get_next_message_id(handle, "three"), nullptr);
    EXPECT_EQ(MESSAGE_get_next_message_id(handle, "one"), nullptr);
    EXPECT_TRUE(MESSAGE_remove_message(handle, "three"));
    EXPECT_EQ(MESSAGE_count_messages(handle), 0);
    EXPECT_FALSE(MESSAGE_remove_message(handle, "three"));
    EXPECT_EQ(MESSAGE_get_first_message_id(handle), nullptr);
}

TEST_F(Message, ModeZeroIsReadOnly) {
    int32_t handle = load(ONE_MESSAGE, MESSAGE_MODE_IN_PLACE);
    Units yo = terminated(U("Yo"));
    MESSAGE_set_message(handle, "A", yo.data());
    EXPECT_FALSE(MESSAGE_remove_message(handle, "A"));
    EXPECT_EQ(walk(handle), (Table{{"A", {0x48, 0x69, 0x0D}}}));
    remove("readonly.msg");
    MESSAGE_write_message_file(handle, "readonly.msg");
    EXPECT_EQ(read_bytes("readonly.msg"), "<missing>");
    // Insertion stores the caller's pointers.
    EXPECT_TRUE(MESSAGE_insert_message(handle, "B", yo.data()));
    EXPECT_EQ(MESSAGE_get_message(handle, "B"), yo.data());
}

TEST_F(Message, LookupsAtScaleFollowTableOrder) {
    int32_t handle = load(cat({BOM, END}), MESSAGE_MODE_EDITABLE);
    // Ids with equal byte sums (anagrams) must still be told apart.
    std::vector<std::string> ids;
    for (int i = 0; i < 3000; i++) {
        std::string id = "ID" + std::to_string(i);
        ids.push_back(id);
        std::string anagram(id.rbegin(), id.rend());
        if (anagram != id) ids.push_back(anagram + "#");
    }
    for (const std::string& id : ids) {
        Units text = terminated(U(id));
        ASSERT_TRUE(MESSAGE_insert_message(handle, id.c_str(), text.data()));
    }
    for (size_t i = 0; i < ids.size(); i += 3)
        ASSERT_TRUE(MESSAGE_remove_message(handle, ids[i].c_str()));
    Table expected;
    for (size_t i = 0; i < ids.size(); i++) {
        if (i % 3 != 0) expected.push_back({ids[i], U(ids[i])});
    }
    EXPECT_EQ(walk(handle), expected);
    for (size_t i = 0; i < ids.size(); i++) {
        EXPECT_EQ(MESSAGE_get_message(handle, ids[i].c_str()) != NULL, i % 3 != 0) << ids[i];
    }
}

// ---------------------------------------------------------------------------
// Writing

TEST_F(Message, WriterBytesForEmptyAndOneMessageTables) {
    int32_t handle = load(cat({BOM, END}), MESSAGE_MODE_EDITABLE);
    Units empty_file = cat({BOM, END});
    Units hi = {0x48, 0x69, 0x0D, 0};
    Units one_file = cat({BOM, U("[A]\n"), {0x48, 0x69, 0x0D}, LF, END});
    EXPECT_EQ(MESSAGE_set_output_encrypt_state(0), 1);
    EXPECT_EQ(MESSAGE_set_output_encrypt_state(0), 0);
    MESSAGE_write_message_file(handle, "empty.msg");
    EXPECT_EQ(read_bytes("empty.msg").size(), 28u);
    EXPECT_EQ(read_bytes("empty.msg"), bytes_of(empty_file));
    MESSAGE_set_output_encrypt_state(1);
    MESSAGE_write_message_file(handle, "empty.msg");
    EXPECT_EQ(read_bytes("empty.msg"), bytes_of(complement(empty_file)));

    ASSERT_TRUE(MESSAGE_insert_message(handle, "A", hi.data()));
    MESSAGE_write_message_file(handle, "one.msg");
    EXPECT_EQ(read_bytes("one.msg").substr(0, 2), std::string("\x00\x01", 2));
    EXPECT_EQ(read_bytes("one.msg"), bytes_of(complement(one_file)));
    MESSAGE_set_output_encrypt_state(2);  // only exactly 1 enciphers
    MESSAGE_write_message_file(handle, "one.msg");
    EXPECT_EQ(read_bytes("one.msg"), bytes_of(one_file));
    EXPECT_EQ(one_file, ONE_MESSAGE);  // the CR LF file comes back unchanged
    MESSAGE_write_message_file(handle, NULL);
    MESSAGE_write_message_file(SLOTS - 1, "one.msg");
}

TEST_F(Message, WriterTextsThatMeasureZeroStayInTheirRoom) {
    int32_t handle = load(cat({BOM, END}), MESSAGE_MODE_EDITABLE);
    Units x = terminated(U("x"));
    ASSERT_TRUE(MESSAGE_insert_message(handle, "A", x.data()));
    ASSERT_TRUE(MESSAGE_insert_message(handle, "B", x.data()));
    ASSERT_TRUE(MESSAGE_insert_message(handle, "C", x.data()));
    Units huge(MESSAGE_MAX_UNICODE_LENGTH + 2, 'y');
    huge.back() = 0;
    EXPECT_FALSE(MESSAGE_insert_message(handle, "D", huge.data()));  // no copy can be sized
    // Texts that no operation stores, placed by hand: written as empty texts.
    MESSAGE_ENTRY* a = message_get_list_object(handle, "A");
    MESSAGE_ENTRY* b = message_get_list_object(handle, "B");
    free(a->text);
    a->text = NULL;
    uint16_t* b_text = b->text;
    b->text = huge.data();
    MESSAGE_set_output_encrypt_state(0);
    MESSAGE_write_message_file(handle, "zero.msg");
    b->text = b_text;
    EXPECT_EQ(read_bytes("zero.msg"), bytes_of(cat({BOM, U("[A]\n\n[B]\n\n[C]\nx\n"), END})));
}

// What a file cannot carry is refused when it would enter a table, in either
// mode and with a trace line, so that every table written reads back the same.
TEST_F(Message, EditsAFileCannotCarryAreRefused) {
    std::string longest_id(MESSAGE_MAX_UNICODE_LENGTH, 'i');
    struct {
        const char* what;
        std::string id;
        Units text;
        bool id_fits, text_fits;
    } cases[] = {
        {"open bracket in an id", "a[b", U("x"), false, true},
        {"close bracket in an id", "a]", U("x"), false, true},
        {"overlong id", longest_id + "i", U("x"), false, true},
        {"open bracket in a text", "t1", U("x[y"), true, false},
        {"close bracket in a text", "t2", U("x]"), true, false},
        {"header in a text", "t3", U("x\n[B]\ny"), true, false},
        {"inner line feeds in a text", "t4", U("\nx\n\ny\n"), true, true},
        {"lone line feed", "t5", LF, true, true},
        {"line feed in an id", "a\nb", U("x"), false, true},
        {"carriage return in an id", "a\rb", U("x"), true, true},
        {"blanks and a signed byte in an id", " \t\r\xE9", U("x\r"), true, true},
        {"empty id and text", "", {}, true, true},
        {"longest id", longest_id, U("x"), true, true},
    };
    ASSERT_TRUE(QBUG_initialise(0, 8, 4, QBUG_FLAG_TRACE, QBUG_OUT_DEVELOP_FILE));
    QBUG_set_develop_file("message_refusals.dbg");
    int32_t in_place = load(ONE_MESSAGE, MESSAGE_MODE_IN_PLACE);
    int32_t handle = load(ONE_MESSAGE, MESSAGE_MODE_EDITABLE);
    Table table = {{"A", {0x48, 0x69, 0x0D}}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.what);
        bool fits = c.id_fits && c.text_fits;
        Units text = terminated(c.text);
        size_t traced = read_bytes("message_refusals.dbg").size();
        EXPECT_EQ(MESSAGE_insert_message(in_place, c.id.c_str(), text.data()), fits);
        EXPECT_EQ(MESSAGE_insert_message(handle, c.id.c_str(), text.data()), fits);
        if (fits) table.push_back({c.id, c.text});
        EXPECT_EQ(read_bytes("message_refusals.dbg").size() > traced, !fits);
        traced = read_bytes("message_refusals.dbg").size();
        MESSAGE_set_message(handle, "A", text.data());
        if (c.text_fits) table[0].second = c.text;
        EXPECT_EQ(read_bytes("message_refusals.dbg").size() > traced, !c.text_fits);
        EXPECT_EQ(walk(handle), table);
    }
    QBUG_deinitialise();
    for (uint8_t enciphered : {0, 1}) {
        MESSAGE_set_output_encrypt_state(enciphered);
        MESSAGE_write_message_file(handle, "refusals.msg");
        for (uint8_t mode : {0, 1}) {
            SCOPED_TRACE(testing::Message()
                         << "enciphered " << (int)enciphered << " mode " << (int)mode);
            int32_t read = MESSAGE_allocate_message_file("refusals.msg", mode, NULL);
            ASSERT_GE(read, 0);
            EXPECT_EQ(walk(read), table);
            MESSAGE_deallocate_message_file(read);
        }
    }
}

TEST_F(Message, RoundTripsOfRandomTables) {
    uint32_t seed = 12345;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    for (int round = 0; round < 40; round++) {
        int32_t handle = load(cat({BOM, END}), MESSAGE_MODE_EDITABLE);
        Table table;
        int count = (int)next(20);
        for (int i = 0; i < count; i++) {
            std::string id = "m" + std::to_string(i);
            id.push_back((char)(0x80 + next(0x7F)));  // bytes that widen to 0xFF80..
            Units text;
            int length = (int)next(30);
            for (int k = 0; k < length; k++) {
                uint16_t unit = (uint16_t)(1 + next(0xFFFE));
                if (unit == '[' || unit == ']') unit = 0x20AC;
                text.push_back(unit);
            }
            if (next(2)) text.push_back(0x0D);
            table.push_back({id, text});
            ASSERT_TRUE(MESSAGE_insert_message(handle, id.c_str(), terminated(text).data()));
        }
        MESSAGE_set_output_encrypt_state((uint8_t)(round % 2));
        MESSAGE_write_message_file(handle, "round.msg");
        MESSAGE_deallocate_message_file(handle);
        for (uint8_t mode : {0, 1}) {
            handle = MESSAGE_allocate_message_file("round.msg", mode, NULL);
            ASSERT_EQ(handle, 0);
            ASSERT_EQ(walk(handle), table) << "round " << round;
            MESSAGE_deallocate_message_file(handle);
        }
    }
}

// Written for the host's iconv (the CTest test message_iconv reads it back).
TEST_F(Message, WriterMakesUtf16TextForIconv) {
    int32_t handle = load(cat({BOM, END}), MESSAGE_MODE_EDITABLE);
    Units greeting = {'H', 0xE9, 'l', 'l', 'o', ' ', 0x20AC, 0x0D, 0};
    Units empty = {0};
    ASSERT_TRUE(MESSAGE_insert_message(handle, "GREETING", greeting.data()));
    ASSERT_TRUE(MESSAGE_insert_message(handle, "EMPTY", empty.data()));
    MESSAGE_set_output_encrypt_state(0);
    remove("iconv_plain.msg");
    MESSAGE_write_message_file(handle, "iconv_plain.msg");
    EXPECT_EQ(read_bytes("iconv_plain.msg").substr(0, 2), "\xFF\xFE");
}

// ---------------------------------------------------------------------------
// Enciphering and 16-bit strings

class MessageRetail : public ::testing::Test {
protected:
    void SetUp() override { remove("c:\\retail.dbg"); }
    void TearDown() override { remove("c:\\retail.dbg"); }
    // The fixed-path lines written so far, their line numbers replaced by N.
    std::string lines() {
        std::string text = read_bytes("c:\\retail.dbg", "r"), out;
        if (text == "<missing>") return "";
        for (size_t i = 0; i < text.size(); i++) {
            if (isdigit((unsigned char)text[i])) {
                while (i + 1 < text.size() && isdigit((unsigned char)text[i + 1])) i++;
                out += 'N';
            } else {
                out += text[i];
            }
        }
        return out;
    }
};

TEST_F(MessageRetail, EncipheringOnlyPlainText) {
    Units plain = {0xFEFF, 0x5B, 0x41};
    Units units = plain;
    message_encrypt_xor(0, units.data(), 3);
    EXPECT_EQ(units, complement(plain));
    message_encrypt_xor(0, units.data(), 3);
    EXPECT_EQ(units, complement(plain));
    Units other = {0x1234, 0x41};
    message_encrypt_xor(0, other.data(), 2);
    EXPECT_EQ(other, (Units{0x1234, 0x41}));
    EXPECT_EQ(lines(), "message N: Data is already encrypted\nmessage N: Invalid unicode header\n");
    message_decrypt_xor(0, units.data(), 3);
    EXPECT_EQ(units, plain);
    message_decrypt_xor(0, units.data(), 3);  // a plain text is left alone
    EXPECT_EQ(units, plain);
}

TEST_F(MessageRetail, StringLengthsAndLimits) {
    Units s200(200, 'a'), s201(201, 'a'), s200k(MESSAGE_MAX_UNICODE_LENGTH, 'b'),
        s200k1(MESSAGE_MAX_UNICODE_LENGTH + 1, 'b');
    for (Units* s : {&s200, &s201, &s200k, &s200k1}) s->push_back(0);
    Units empty = {0};
    EXPECT_EQ(unicodelen(NULL), 0);
    EXPECT_EQ(unicodelen(empty.data()), 1);
    EXPECT_EQ(unicodelen(s200.data()), 201);
    EXPECT_EQ(unicodelen(s200k.data()), MESSAGE_MAX_UNICODE_LENGTH + 1);
    EXPECT_EQ(lines(), "");
    EXPECT_EQ(unicodelen(s200k1.data()), 0);
    EXPECT_EQ(lines(), "message N: Length is too big\n");
    EXPECT_EQ(MESSAGE_unicode_to_ascii(s200k1.data()), nullptr);

    EXPECT_EQ(myunicodelen(NULL), 0);
    EXPECT_EQ(myunicodelen(empty.data()), 0);
    EXPECT_EQ(myunicodelen(s200.data()), 200);
    EXPECT_EQ(myunicodelen(s201.data()), 0);

    Units abc = terminated(U("abc"));
    Units destination = s200;
    destination.resize(300, 0xEEEE);
    MESSAGE_append(destination.data(), abc.data());
    EXPECT_EQ(text_of(destination.data()), cat({Units(200, 'a'), U("abc")}));
    destination = s201;
    destination.resize(300, 0xEEEE);
    MESSAGE_append(destination.data(), abc.data());
    EXPECT_EQ(text_of(destination.data()), U("abc"));
    MESSAGE_append(destination.data(), s201.data());  // an overlong source does nothing
    MESSAGE_append(destination.data(), NULL);
    MESSAGE_append(NULL, abc.data());
    EXPECT_EQ(text_of(destination.data()), U("abc"));
}

TEST(MessageStrings, CompareCopyAndConvert) {
    Units abc = terminated(U("abc")), ab = terminated(U("ab")), abd = terminated(U("abd"));
    EXPECT_TRUE(unicodecmp(abc.data(), terminated(U("abc")).data()));
    EXPECT_FALSE(unicodecmp(abc.data(), ab.data()));
    EXPECT_FALSE(unicodecmp(ab.data(), abc.data()));
    EXPECT_FALSE(unicodecmp(abc.data(), abd.data()));
    EXPECT_FALSE(unicodecmp(abc.data(), NULL));
    EXPECT_FALSE(unicodecmp(NULL, NULL));

    Units copy(5, 0xEEEE);
    unicodecpy(copy.data(), ab.data());
    EXPECT_EQ(copy, (Units{'a', 'b', 0, 0xEEEE, 0xEEEE}));

    uint16_t* wide = MESSAGE_ascii_to_unicode("AB");
    EXPECT_EQ(Units(wide, wide + 4), (Units{0x41, 0x42, 0x0D, 0}));
    free(wide);
    wide = MESSAGE_ascii_to_unicode("\xE9");
    EXPECT_EQ(Units(wide, wide + 3), (Units{0xFFE9, 0x0D, 0}));
    free(wide);
    EXPECT_EQ(MESSAGE_ascii_to_unicode(NULL), nullptr);

    Units mixed = {0x0141, 0xFFE9, 'z', 0};
    char* ascii = MESSAGE_unicode_to_ascii(mixed.data());
    EXPECT_STREQ(ascii, "A\xE9z");
    free(ascii);
    EXPECT_EQ(MESSAGE_unicode_to_ascii(NULL), nullptr);
}

// ---------------------------------------------------------------------------
// Running out of memory: the Nth heap request fails, for N = 0, 1, 2, ...
// until none does. Every outcome is a clean one.

TEST_F(Message, EveryAllocationFailureIsClean) {
    Units file = cat({BOM, U("[A]\none\n[B]\ntwo\n[A]\ndup\n[C]\nthree\n"), END});
    Table full = {{"A", U("one")}, {"B", U("two")}, {"C", U("three")}};
    write_units("oom.msg", file);
    Units yo = terminated(U("Yo"));
    for (uint8_t mode : {0, 1}) {
        for (int32_t n = 0;; n++) {
            SCOPED_TRACE(testing::Message() << "mode " << (int)mode << " failing request " << n);
            message_failing_allocation = n;
            int32_t handle = MESSAGE_allocate_message_file("oom.msg", mode, NULL);
            bool failed = message_failing_allocation < 0;
            message_failing_allocation = -1;
            if (handle < 0) {
                EXPECT_EQ(handle, -1);
                EXPECT_TRUE(failed);
                EXPECT_FALSE(message_valid_handle(0));
                EXPECT_EQ(message_get_slot(0)->data, nullptr);
                continue;
            }
            ASSERT_EQ(handle, 0);
            Table table = walk(handle);
            if (n == 0) {  // the text itself: an unreadable file, an empty table
                EXPECT_EQ(table, Table());
            } else {
                EXPECT_EQ(table, full);  // nothing lost
            }
            if (mode == 1) {  // edits: each either happens whole or not at all
                message_failing_allocation = n;
                bool inserted = MESSAGE_insert_message(handle, "D", yo.data());
                message_failing_allocation = n;
                MESSAGE_set_message(handle, "B", yo.data());
                message_failing_allocation = n;
                remove("oom_out.msg");
                MESSAGE_write_message_file(handle, "oom_out.msg");
                message_failing_allocation = -1;
                Table edited = walk(handle);
                EXPECT_EQ(edited.size(), table.size() + (inserted ? 1 : 0));
                int32_t written = MESSAGE_allocate_message_file("oom_out.msg", 1, NULL);
                if (read_bytes("oom_out.msg") != "<missing>") {  // written whole or not at all
                    EXPECT_EQ(walk(written), edited);
                }
                MESSAGE_deallocate_message_file(written);
            }
            MESSAGE_deallocate_message_file(handle);
            if (!failed) break;
        }
    }
}

// ---------------------------------------------------------------------------
// Damaged files: thousands of copies of valid files, damaged with fixed seeds.
// Each must load without a crash, to the same table in both modes, with every
// in-place id and text inside the loaded text.

static bool inside(const void* p, const uint16_t* data, int32_t units) {
    return (const char*)p >= (const char*)data && (const char*)p <= (const char*)(data + units);
}

TEST_F(Message, DamagedFilesLoadSafely) {
    std::vector<Units> originals = {
        ONE_MESSAGE,
        cat({BOM, U("[A]\none\r\n[B]\ntwo\r\nlines\r\n[C] x\n\n"), END}),
        cat({BOM, U("[\xE9]\n"), {0x20AC, 0xD800, 0xDC00}, LF, U("[Z]\n[Y]\ny\n"), END}),
    };
    size_t plain = originals.size();
    for (size_t i = 0; i < plain; i++) originals.push_back(complement(originals[i]));
    const uint8_t specials[] = {0x5B, 0x5D, 0x0A, 0x0D, 0x00, 0xFF, 0xA4, 0xA2, 0xF5, 0x01, 0xFE};

    uint32_t seed = 20240601;
    auto next = [&seed](uint32_t range) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % range;
    };
    int loaded = 0, refused = 0;
    for (int copy = 0; copy < 3000; copy++) {
        std::string bytes = bytes_of(originals[copy % originals.size()]);
        int damages = 1 + (int)next(4);
        for (int d = 0; d < damages && !bytes.empty(); d++) {
            size_t at = next((uint32_t)bytes.size());
            switch (next(5)) {
            case 0: bytes[at] = (char)next(256); break;
            case 1: bytes[at] = (char)specials[next(sizeof specials)]; break;
            case 2: bytes.erase(at, 1 + next(3)); break;
            case 3: bytes.insert(at, 1, (char)specials[next(sizeof specials)]); break;
            default: bytes.resize(at); break;
            }
        }
        write_bytes("damaged.msg", bytes);
        Table tables[2];
        for (uint8_t mode : {0, 1}) {
            MESSAGE_ERROR error;
            int32_t handle = MESSAGE_allocate_message_file("damaged.msg", mode, &error);
            ASSERT_TRUE(handle == 0 || handle == -2) << "copy " << copy << ": " << handle;
            if (handle == -2) {
                ASSERT_NE(error.error_text, nullptr);
                ASSERT_GE(error.line, 1);
                free(error.file_name);
                refused++;
                continue;
            }
            loaded++;
            MESSAGE_FILE* slot = message_get_slot(handle);
            for (int32_t i = 0; i < slot->count && mode == 0; i++) {
                const MESSAGE_ENTRY& entry = slot->entries[i];
                ASSERT_TRUE(inside(entry.id, slot->data, slot->units)) << "copy " << copy;
                ASSERT_TRUE(inside(entry.text, slot->data, slot->units)) << "copy " << copy;
                ASSERT_TRUE(
                    inside(entry.text + unicodelen(entry.text) - 1, slot->data, slot->units));
                ASSERT_TRUE(inside(entry.id + strlen(entry.id), slot->data, slot->units));
            }
            tables[mode] = walk(handle);
            ASSERT_EQ((int32_t)tables[mode].size(), slot->count);
            for (const auto& message : tables[mode]) {
                ASSERT_EQ(text_of(MESSAGE_get_message(handle, message.first.c_str())),
                          message.second);
            }
            MESSAGE_deallocate_message_file(handle);
        }
        ASSERT_EQ(tables[0], tables[1]) << "copy " << copy;
    }
    // The run must exercise both outcomes.
    printf("damaged copies: %d loads, %d refused\n", loaded, refused);
    EXPECT_GT(loaded, 1000);
    EXPECT_GT(refused, 500);
}

// ---------------------------------------------------------------------------
// The calling convention: every path in and out is traced, so after any mix
// of calls, early returns included, the call stack is empty again.

TEST_F(Message, EveryReturnPathLeavesTheCallStack) {
    ASSERT_TRUE(QBUG_initialise(0, 64, 12, QBUG_FLAG_CALLSTACK | QBUG_FLAG_TRACE | QBUG_FLAG_ASSERT,
                                QBUG_OUT_DEVELOP_FILE));
    QBUG_set_develop_file("message_convention.dbg");
    Units hi = terminated(U("Hi")), huge(MESSAGE_MAX_UNICODE_LENGTH + 2, 'y');
    huge.back() = 0;
    MESSAGE_ERROR error;
    load(cat({BOM, U("[A]x\n"), END}), 0, &error);
    free(error.file_name);
    remove("missing.msg");
    MESSAGE_deallocate_message_file(MESSAGE_allocate_message_file("missing.msg", 0, NULL));
    int32_t handle = load(cat({BOM, U("[A]\nHi\n[B]\n[C] [D]\nx\n"), END}), 1);
    load(ONE_MESSAGE, 0);
    load(ONE_MESSAGE, 0);
    load(ONE_MESSAGE, 0);  // no free slot
    MESSAGE_insert_message(handle, "A", hi.data());
    MESSAGE_insert_message(handle, "E", huge.data());
    MESSAGE_insert_message(handle, "F", NULL);
    MESSAGE_insert_message(-1, "F", NULL);
    MESSAGE_insert_message(handle, "G]", NULL);
    MESSAGE_set_message(handle, "A", terminated(U("[")).data());
    MESSAGE_set_message(handle, "A", hi.data());
    MESSAGE_set_message(handle, "Q", hi.data());
    MESSAGE_set_message(1, "A", hi.data());
    MESSAGE_remove_message(handle, "B");
    MESSAGE_remove_message(handle, "Q");
    MESSAGE_remove_message(1, "A");
    MESSAGE_get_next_message_id(handle, "A");
    MESSAGE_get_next_message_id(handle, "F");
    MESSAGE_write_message_file(handle, "convention.msg");
    MESSAGE_write_message_file(handle, "no\\such\\dir\\x.msg");
    MESSAGE_write_message_file(1, "convention.msg");
    uint16_t* wide = MESSAGE_ascii_to_unicode("x");
    free(MESSAGE_unicode_to_ascii(wide));
    free(wide);
    unicodelen(huge.data());
    unicodelen(NULL);
    myunicodelen(huge.data());
    Units enciphered = {0x0100};
    message_encrypt_xor(handle, enciphered.data(), 1);
    MESSAGE_deallocate_message_file(3);
    for (int32_t failing : {1, 2, 3}) {
        message_failing_allocation = failing;
        MESSAGE_deallocate_message_file(load(ONE_MESSAGE, 1));
    }
    message_failing_allocation = -1;
    MESSAGE_deallocate_message_file(handle);
    QBUG_dump_callstack();
    QBUG_deinitialise();
    std::string develop = read_bytes("message_convention.dbg", "r");
    EXPECT_EQ(develop.find("File:"), std::string::npos) << develop;
    EXPECT_EQ(develop.find("Stack empty"), std::string::npos) << develop;
    EXPECT_EQ(develop.find("Callstack full"), std::string::npos) << develop;
    EXPECT_EQ(develop.find("ASSERT"), std::string::npos) << develop;
    EXPECT_NE(develop.find("Cannot open file or access missing.msg"), std::string::npos) << develop;
    EXPECT_NE(develop.find("FAILED to read file: missing.msg"), std::string::npos) << develop;
    EXPECT_NE(develop.find("START OF CALLSTACK DUMP"), std::string::npos) << develop;
}
