// Diagnostics: the lines, files and dumps a program gets, byte for byte.
#include <gtest/gtest.h>

#include "support.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "qbug.h"

static const std::string DEVELOP_HEADER = "Development Debug\n\n";
static const char NO_CALLSTACK[] =
    "You must call QBUG_initialise with a size to initialise the callstack_data \nbuffer, or "
    "QBUG_deinitialise was called which freed the buffer.\n";
static const char NO_TRACE_BUFFER[] =
    "You must call QBUG_initialise with a size to initialise the trace buffer, or "
    "QBUG_deinitialise "
    "was called which freed the buffer.\n";
static const char NO_WATCHES[] =
    "You must call QBUG_initialise with a size to initialise the watch_data \nbuffer, or "
    "QBUG_deinitialise was called which freed the buffer.\n";

static const char TRACE_START[] = "~~~~~~~~START OF TRACE BUFFER DUMP~~~~~~~\n";
static const char TRACE_END[] = "~~~~~~~~END OF TRACE BUFFER DUMP~~~~~~~\n";
static const char STACK_START[] = "~~~~~~~~START OF CALLSTACK DUMP - most recent calls~~~~~~~\n";
static const char STACK_END[] = "~~~~~~~~END OF CALLSTACK DUMP - older calls~~~~~~~\n";
static const char WATCH_START[] = "~~~~~~~ START OF WATCH DATA OUTPUT ~~~~~~~\n";
static const char WATCH_END[] = "~~~~~~~ END OF WATCH DATA OUTPUT ~~~~~~~\n";

static int exit_calls;
static int exit_code;
static void record_exit(int code) {
    exit_calls++;
    exit_code = code;
}

class Qbug : public ::testing::Test {
protected:
    void SetUp() override {
        QBUG_deinitialise();
        QBUG_set_exit_function(NULL);
        QBUG_set_output_mode(QBUG_OUT_NONE);
        exit_calls = 0;
        exit_code = 0;
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        develop = std::string(info->name()) + ".develop.dbg";
        retail = std::string(info->name()) + ".retail.dbg";
        QBUG_set_develop_file(develop.c_str());
        QBUG_set_retail_file(retail.c_str());
    }
    void TearDown() override {
        QBUG_set_exit_function(NULL);
        QBUG_deinitialise();
    }
    std::string written() { return read_text(develop.c_str()).substr(DEVELOP_HEADER.size()); }
    std::string develop, retail;
};

TEST(QbugShortName, CutsDirectoryExtensionAndLength) {
    struct {
        const char* path;
        const char* name;
    } cases[] = {
        {"C:\\src\\foundation\\WINUTILS.c", "WINUTILS"},
        {"message.c", "message"},
        {"COPYFLST.c", "COPYFLST"},
        {"a.b.c", "a.b"},
        {"d:\\x\\verylongname.cpp", "verylong"},
        {"src/lib/qbug.cpp", "src/lib/"},  // no backslash: the whole path, cut to 8
        {"dir\\", ""},
        {"abc.defghijk", "abc"},
    };
    for (auto& c : cases) {
        char name[9];
        memset(name, 'x', sizeof name);
        qbug_short_file_name(c.path, name);
        EXPECT_STREQ(name, c.name) << c.path;
    }
}

TEST_F(Qbug, TraceLinesCarryAlignedPrefix) {
    QBUG_set_output_mode(QBUG_OUT_DEVELOP_FILE);
    QBUG_trace("C:\\src\\WINUTILS.c", 42, "value %d", 7);
    QBUG_trace("qbug.cpp", 1499, "x");
    QBUG_trace("a", 65535, "%s", "");
    EXPECT_EQ(written(), "[WINUTILS,   42] value 7\n[    qbug, 1499] x\n[       a,65535] \n");
}

TEST_F(Qbug, FlagsZeroWriteNoDevelopFile) {
    remove(develop.c_str());
    QBUG_set_output_mode(QBUG_OUT_DEVELOP_FILE);
    QBUG_TRACE("not written %d", 1);
    QBUG_ENTER("function");
    QBUG_LEAVE("function");
    QBUG_ASSERT(1 == 2);
    EXPECT_EQ(read_text(develop.c_str()), "<missing>");
}

// A line longer than its room is cut at its end: what is written is the
// beginning of the whole line, as one line of at most 2047 characters.
TEST_F(Qbug, OverlongLinesAreCutAtTheirEnd) {
    struct {
        bool assertion;
        size_t condition;
        size_t message;
    } cases[] = {
        {false, 0, 5000},   // a trace: the message keeps 1023 characters
        {true, 900, 3000},  // fits: the message keeps 1023 characters
        {true, 1500, 3000},
        {true, 3000, 0},  // the condition alone overflows
    };
    QBUG_set_output_mode(QBUG_OUT_DEVELOP_FILE);
    size_t before = 0;
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.condition << " " << c.message);
        std::string condition(c.condition, 'c'), message(c.message, 'm');
        std::string whole = "[       f,    1] ";
        if (c.assertion) {
            whole += "(ASSERT FAILURE: " + condition + ") ";
            QBUG_assert(false, condition.c_str(), "f.c", 1, "%s", message.c_str());
        } else {
            QBUG_trace("f.c", 1, "%s", message.c_str());
        }
        whole += message.substr(0, 1023);
        std::string line = written().substr(before);
        before += line.size();
        std::string expected = whole.substr(0, 2047) + "\n";
        size_t differ = 0;
        while (differ < line.size() && differ < expected.size() && line[differ] == expected[differ])
            differ++;
        EXPECT_TRUE(line == expected)
            << line.size() << " characters written, the first wrong at " << differ;
    }
}

TEST_F(Qbug, OverlongFileNameIsRefused) {
    std::string name(1100, 'n');
    QBUG_set_output_mode(QBUG_OUT_DEVELOP_FILE);
    QBUG_set_develop_file(name.c_str());
    QBUG_trace("f.c", 1, "kept");
    EXPECT_EQ(written(), "[       f,    1] kept\n");
}

TEST_F(Qbug, InitialiseTwiceFailsAndLeavesUninitialised) {
    ASSERT_TRUE(QBUG_initialise(2, 8, 4, 0, QBUG_OUT_DEVELOP_FILE));
    EXPECT_TRUE(QBUG_is_initialised());
    EXPECT_FALSE(QBUG_initialise(5, 8, 4, 0, QBUG_OUT_DEVELOP_FILE));
    EXPECT_FALSE(QBUG_is_initialised());
    QBUG_deinitialise();
    EXPECT_TRUE(QBUG_initialise(2, 8, 4, 0, QBUG_OUT_DEVELOP_FILE));
}

TEST_F(Qbug, RingSizeIsCutAtTwoToTheTwentieth) {
    ASSERT_TRUE(QBUG_initialise(0, 4, 25, QBUG_FLAG_TRACE, QBUG_OUT_TRACE_BUFFER));
    // 2^20 bytes: one more byte than that pushes the first one out.
    std::string chunk(1000, 'a');
    for (int i = 0; i < 1048; i++) {
        char line[1100];
        strcpy(line, chunk.c_str());
        qbug_output_trace_buffer(line);
    }
    char last[8] = "ZZZZ";
    qbug_output_trace_buffer(last);
    QBUG_dump_trace_buffer();
    std::string dump = written();
    size_t body = dump.size() - strlen(TRACE_START) - strlen(TRACE_END);
    EXPECT_EQ(body, 1048576u);
    EXPECT_EQ(dump.substr(dump.size() - strlen(TRACE_END) - 5, 5), "ZZZZ\n");
}

TEST_F(Qbug, RingOfOneByteKeepsTheLastByte) {
    ASSERT_TRUE(QBUG_initialise(0, 4, 0, 0, QBUG_OUT_TRACE_BUFFER));
    char line[8] = "abc";
    qbug_output_trace_buffer(line);
    QBUG_dump_trace_buffer();
    EXPECT_EQ(written(), std::string(TRACE_START) + "\n" + TRACE_END);
}

TEST_F(Qbug, TraceRingWrapsAndDumpsOldestFirst) {
    struct {
        int log2;
        std::string input;
        std::string dumped;
    } cases[] = {
        // 20 characters and their newline into 8 bytes: the last 7 and the newline.
        {3, "abcdefghijklmnopqrst", "nopqrst\n"},
        // 40 bytes into 16 (two lines of 19 and a newline each): the last 16 in order.
        {4, "0123456789ABCDEFGHI|0123456789abcdefghi", "456789abcdefghi\n"},
        // 5 bytes into 16: those 5 and no filler.
        {4, "wxyz", "wxyz\n"},
    };
    for (auto& c : cases) {
        QBUG_deinitialise();
        QBUG_set_develop_file(develop.c_str());
        ASSERT_TRUE(QBUG_initialise(0, 4, c.log2, 0, QBUG_OUT_TRACE_BUFFER));
        size_t start = 0;
        while (start < c.input.size()) {
            size_t end = c.input.find('|', start);
            if (end == std::string::npos) end = c.input.size();
            char line[64];
            snprintf(line, sizeof line, "%s", c.input.substr(start, end - start).c_str());
            qbug_output_trace_buffer(line);
            start = end + 1;
        }
        QBUG_dump_trace_buffer();
        QBUG_dump_trace_buffer();  // the ring is unchanged by a dump
        std::string one = std::string(TRACE_START) + c.dumped + TRACE_END;
        EXPECT_EQ(written(), one + one) << c.input;
    }
}

TEST_F(Qbug, TraceBufferDumpOnlyInTraceBufferMode) {
    ASSERT_TRUE(QBUG_initialise(0, 4, 4, 0, QBUG_OUT_DEVELOP_FILE));
    QBUG_dump_trace_buffer();
    EXPECT_EQ(written(), "");
}

TEST_F(Qbug, UninitialisedOperationsWriteTheirYouMustCallText) {
    QBUG_enter("f", "f.c", 1);
    QBUG_leave("f", "f.c", 1);
    QBUG_dump_callstack();
    QBUG_dump_trace_buffer();
    QBUG_dump_watches();
    QBUG_set_output_mode(QBUG_OUT_TRACE_BUFFER);
    QBUG_trace("f.c", 1, "lost");
    EXPECT_EQ(written(), std::string(NO_CALLSTACK) + NO_CALLSTACK + NO_CALLSTACK + NO_TRACE_BUFFER +
                             NO_WATCHES + NO_TRACE_BUFFER);
}

TEST_F(Qbug, UninitialisedTraceStillReachesTheDevelopFile) {
    QBUG_set_output_mode(QBUG_OUT_DEVELOP_FILE);
    QBUG_trace("f.c", 3, "early");
    EXPECT_EQ(written(), "[       f,    3] early\n");
}

TEST_F(Qbug, CallstackDumpsMostRecentFirst) {
    ASSERT_TRUE(QBUG_initialise(0, 8, 4, QBUG_FLAG_CALLSTACK, QBUG_OUT_DEVELOP_FILE));
    QBUG_enter("outer", "outer.c", 10);
    QBUG_enter("inner", "inner.c", 20);
    QBUG_dump_callstack();
    QBUG_leave("inner", "inner.c", 21);
    QBUG_leave("outer", "outer.c", 11);
    QBUG_dump_callstack();
    EXPECT_EQ(written(), std::string(STACK_START) + "File: inner.c,  Function: inner, Line: 20\n" +
                             "File: outer.c,  Function: outer, Line: 10\n" + STACK_END +
                             STACK_START + STACK_END);
}

TEST_F(Qbug, CallstackOverflowAndUnderflowResetTheDepth) {
    ASSERT_TRUE(
        QBUG_initialise(0, 3, 4, QBUG_FLAG_CALLSTACK | QBUG_FLAG_TRACE, QBUG_OUT_DEVELOP_FILE));
    QBUG_enter("a", "a.c", 1);
    QBUG_enter("b", "b.c", 2);
    QBUG_enter("c", "c.c", 3);
    QBUG_enter("d", "d.c", 4);  // full: reported, tracking starts again
    QBUG_enter("e", "e.c", 5);  // stored into entry 0
    QBUG_dump_callstack();
    QBUG_leave("e", "e.c", 5);
    QBUG_leave("x", "x.c", 6);  // too many
    QBUG_dump_callstack();
    std::string text = written();
    std::string full =
        "Callstack full. Unmatched ENTER/LEAVE or more than 3 (the initialised size of the "
        "callstack). \n";
    std::string empty = "Stack empty. Too many LEAVE's. Resetting current_callstack_depth.\n\n";
    ASSERT_NE(text.find(full), std::string::npos) << text;
    EXPECT_NE(
        text.find(std::string(STACK_START) + "File: e.c,  Function: e, Line: 5\n" + STACK_END),
        std::string::npos)
        << text;
    size_t empty_at = text.find(empty);
    ASSERT_NE(empty_at, std::string::npos) << text;
    EXPECT_EQ(text.substr(empty_at + empty.size()), std::string(STACK_START) + STACK_END);
}

TEST_F(Qbug, FailedAssertionWithoutExitFunctionReportsAndReturns) {
    ASSERT_TRUE(QBUG_initialise(0, 4, 4, QBUG_FLAG_ASSERT, QBUG_OUT_DEVELOP_FILE));
    QBUG_assert(true, "never", "q.c", 1, "");
    QBUG_assert(false, "index >= 0", "C:\\lib\\qstack.c", 77, "");
    QBUG_assert(false, "x", "q.c", 2, "got %d", 5);
    EXPECT_EQ(written(),
              "[  qstack,   77] (ASSERT FAILURE: index >= 0) \n[       q,    2] (ASSERT FAILURE: "
              "x) got 5\n");
    EXPECT_TRUE(QBUG_is_initialised());
}

TEST_F(Qbug, FailedAssertionWithExitFunctionDumpsThenExits) {
    ASSERT_TRUE(QBUG_initialise(1, 4, 6, QBUG_FLAG_ASSERT | QBUG_FLAG_WATCH | QBUG_FLAG_CALLSTACK,
                                QBUG_OUT_DEVELOP_FILE));
    QBUG_set_exit_function(record_exit);
    QBUG_add_watch(0, "Level", QBUG_WATCH_STRING);
    QBUG_set_watch_string(0, "forest");
    QBUG_enter("main", "main.c", 3);
    QBUG_assert(false, "ok", "main.c", 9, "");
    EXPECT_EQ(exit_calls, 1);
    EXPECT_EQ(exit_code, 1);
    EXPECT_FALSE(QBUG_is_initialised());
    EXPECT_EQ(written(), std::string("[    main,    9] (ASSERT FAILURE: ok) \n") + WATCH_START +
                             "Level = forest\n" + WATCH_END + STACK_START +
                             "File: main.c,  Function: main, Line: 3\n" + STACK_END);
}

TEST_F(Qbug, WatchesDumpInIndexOrderUpToTheFirstFree) {
    ASSERT_TRUE(QBUG_initialise(2, 4, 4, QBUG_FLAG_WATCH, QBUG_OUT_DEVELOP_FILE));
    EXPECT_TRUE(QBUG_add_watch(0, "Level", QBUG_WATCH_STRING));
    EXPECT_TRUE(QBUG_add_watch(1, "Score", QBUG_WATCH_INT));
    QBUG_set_watch_string(0, "forest");
    QBUG_set_watch_int(1, 42);
    QBUG_set_watch_int(0, 99);  // only the integer of a string watch: not shown
    QBUG_dump_watches();
    EXPECT_EQ(written(), std::string(WATCH_START) + "Level = forest\nScore = 42\n" + WATCH_END);
}

TEST_F(Qbug, WatchAfterAFreeEntryIsNotDumped) {
    ASSERT_TRUE(QBUG_initialise(2, 4, 4, 0, QBUG_OUT_DEVELOP_FILE));
    EXPECT_TRUE(QBUG_add_watch(0, "A", QBUG_WATCH_INT));
    EXPECT_TRUE(QBUG_add_watch(2, "C", QBUG_WATCH_INT));
    QBUG_dump_watches();
    EXPECT_EQ(written(), std::string(WATCH_START) + "A = 0\n" + WATCH_END);
}

TEST_F(Qbug, WatchRefusals) {
    ASSERT_TRUE(QBUG_initialise(2, 4, 4, QBUG_FLAG_TRACE, QBUG_OUT_DEVELOP_FILE));
    std::string long_description(1024, 'd');
    std::string ok_description(1023, 'd');
    EXPECT_TRUE(QBUG_add_watch(2, "last", QBUG_WATCH_INT));  // watch_size is count + 1
    EXPECT_FALSE(QBUG_add_watch(3, "beyond", QBUG_WATCH_INT));
    EXPECT_FALSE(QBUG_add_watch(-1, "before", QBUG_WATCH_INT));
    EXPECT_FALSE(QBUG_add_watch(0, long_description.c_str(), QBUG_WATCH_INT));
    EXPECT_FALSE(QBUG_add_watch(0, NULL, QBUG_WATCH_INT));
    EXPECT_TRUE(QBUG_add_watch(0, ok_description.c_str(), QBUG_WATCH_INT));
    EXPECT_FALSE(QBUG_add_watch(1, "odd", 7));
    std::string text = written();
    EXPECT_EQ(text.substr(0, 10), "[    qbug,");
    EXPECT_EQ(text.substr(17), "Unknown value type in when adding watch\n\n");
    QBUG_set_watch_int(3, 5);  // out of range: no effect, no crash
    QBUG_set_watch_string(-1, "x");
}

TEST_F(Qbug, WatchStringKeepsAtMost1023Characters) {
    ASSERT_TRUE(QBUG_initialise(0, 4, 4, QBUG_FLAG_WATCH, QBUG_OUT_DEVELOP_FILE));
    ASSERT_TRUE(QBUG_add_watch(0, "S", QBUG_WATCH_STRING));
    std::string text(2000, 'w');
    QBUG_set_watch_string(0, text.c_str());
    QBUG_dump_watches();
    EXPECT_EQ(written(),
              std::string(WATCH_START) + "S = " + std::string(1023, 'w') + "\n" + WATCH_END);
}

TEST_F(Qbug, WatchesBeforeInitialiseAreRefused) {
    ASSERT_TRUE(QBUG_initialise(2, 4, 4, 0, QBUG_OUT_DEVELOP_FILE));
    QBUG_deinitialise();
    EXPECT_FALSE(QBUG_add_watch(0, "late", QBUG_WATCH_INT));
    QBUG_set_watch_int(0, 1);
    EXPECT_EQ(written(), std::string(NO_WATCHES) + NO_WATCHES);
}

TEST_F(Qbug, FlagSwitchesSetAndClearOneBitEach) {
    EXPECT_EQ(QBUG_enable_asserts(), 1u);
    EXPECT_EQ(QBUG_enable_trace(), 3u);
    EXPECT_EQ(QBUG_enable_watches(), 7u);
    EXPECT_EQ(QBUG_enable_callstack(), 15u);
    EXPECT_EQ(QBUG_disable_trace(), 13u);
    EXPECT_EQ(QBUG_disable_asserts(), 12u);
    EXPECT_EQ(QBUG_disable_callstack(), 4u);
    EXPECT_EQ(QBUG_disable_watches(), 0u);
}

TEST_F(Qbug, RetailLogAndHeaders) {
    QBUG_retail_trace("C:\\x\\memory.c", 310,
                      "MEMORY_allocate failed (%s, %d): data not initialised", "f.c", 9);
    QBUG_retail_printf("plain %s", "100%");
    EXPECT_EQ(read_text(retail.c_str()),
              "Release Debug\n\n[  memory,  310] MEMORY_allocate failed (f.c, 9): data not "
              "initialised\nplain 100%");
    EXPECT_EQ(read_text(develop.c_str()), DEVELOP_HEADER);
}

TEST_F(Qbug, DeinitialiseDumpsWhatTheFlagsAsk) {
    ASSERT_TRUE(
        QBUG_initialise(1, 4, 5, QBUG_FLAG_TRACE | QBUG_FLAG_CALLSTACK, QBUG_OUT_TRACE_BUFFER));
    QBUG_add_watch(0, "hidden", QBUG_WATCH_INT);
    QBUG_enter("f", "f.c", 1);
    QBUG_trace("f.c", 2, "ring");
    QBUG_deinitialise();
    EXPECT_EQ(written(), std::string(STACK_START) + "File: f.c,  Function: f, Line: 1\n" +
                             STACK_END + TRACE_START + "[       f,    2] ring\n" + TRACE_END);
    EXPECT_EQ(qbug_flags, 0u);
}

TEST(QbugProcess, ChildIsPolledToItsEnd) {
    PROCESS_RECORD record;
    char command[] = "cmd.exe /c exit 7";
    ASSERT_TRUE(PROCESS_start(command, 0, &record));
    EXPECT_EQ(record.startup.cb, 68u);
    int polls = 0;
    while (PROCESS_is_running(&record) && polls < 1000) {
        Sleep(10);
        polls++;
    }
    EXPECT_FALSE(PROCESS_is_running(&record));
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(record.information.hProcess, &code));
    EXPECT_EQ(code, 7u);
    CloseHandle(record.information.hProcess);
    CloseHandle(record.information.hThread);
}

// Not a test of its own: the child the next test starts.
TEST(QbugProcess, DISABLED_SleepingChild) { Sleep(3000); }

TEST(QbugProcess, ChildStillRunningAndMissingProgram) {
    PROCESS_RECORD record;
    char command[MAX_PATH + 100];
    char self[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(NULL, self, sizeof self), 0u);
    snprintf(
        command, sizeof command,
        "\"%s\" --gtest_also_run_disabled_tests --gtest_filter=QbugProcess.DISABLED_SleepingChild",
        self);
    ASSERT_TRUE(PROCESS_start(command, 0, &record));
    Sleep(100);
    EXPECT_TRUE(PROCESS_is_running(&record));
    TerminateProcess(record.information.hProcess, 0);
    WaitForSingleObject(record.information.hProcess, 5000);
    EXPECT_FALSE(PROCESS_is_running(&record));
    CloseHandle(record.information.hProcess);
    CloseHandle(record.information.hThread);

    char missing[] = "no_such_program_here.exe";
    EXPECT_FALSE(PROCESS_start(missing, 0, &record));
    EXPECT_FALSE(PROCESS_is_running(&record));  // no handle: the code cannot be read
}
