// Diagnostics: the lines, files and dumps a program gets, byte for byte.
#include <gtest/gtest.h>

#include "support.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "qbug.h"

static std::string S(size_t count, char c) { return std::string(count, c); }
static const std::string TRACE_START = "~~~~~~~~START OF TRACE BUFFER DUMP~~~~~~~\n",
                         TRACE_END = "~~~~~~~~END OF TRACE BUFFER DUMP~~~~~~~\n";

static int exit_code;

// What the develop file received since the last call, which empties it: as
// written, or as its debug_lines, each ended by a line feed.
static std::string written(bool as_lines = false) {
    std::string text = read_text("develop.dbg"), lines;
    for (auto& line : debug_lines("develop.dbg")) lines += line + "\n";
    QBUG_set_develop_file("develop.dbg");
    return as_lines ? lines : text.substr(std::min(text.size(), strlen("Development Debug\n\n")));
}

// One line per call: "[%8s,%5d] " (the name after the last backslash, cut to
// 8 characters, then at its last dot) and the message kept to 1023
// characters; an assertion line is cut at its end to 2047 characters, so a
// sink always gets the beginning of the whole line. Uninitialised, the
// develop file is reached all the same, and a failed assertion returns.
TEST(Qbug, ComposedLinesAndTheirCuts) {
    const std::string failure = "[       f,    1] (ASSERT FAILURE: ";
    const std::tuple<const char*, uint16_t, std::string, std::string, std::string> rows[] = {
        {"C:\\src\\WINUTILS.c", 42, "", "value 7", "[WINUTILS,   42] value 7"},
        {"a", 65535, "", "", "[       a,65535] "},
        {"d:\\x\\a.b.c", 1, "", "", "[     a.b,    1] "},
        {"verylongname.cpp", 1, "", "", "[verylong,    1] "},
        {"ab.cdefgh.ij", 1, "", "", "[      ab,    1] "},
        {"src/lib/qbug.cpp", 1, "", "", "[src/lib/,    1] "},
        {"f.c", 1, "", S(5000, 'm'), "[       f,    1] " + S(1023, 'm')},
        {"C:\\lib\\qstack.c", 77, "i >= 0", "", "[  qstack,   77] (ASSERT FAILURE: i >= 0) "},
        {"f.c", 1, S(900, 'c'), S(3000, 'm'), failure + S(900, 'c') + ") " + S(1023, 'm')},
        {"f.c", 1, S(1500, 'c'), S(3000, 'm'), failure + S(1500, 'c') + ") " + S(511, 'm')},
        {"f.c", 1, S(3000, 'c'), S(1000, 'm'), failure + S(2013, 'c')},
    };
    QBUG_set_output_mode(QBUG_OUT_DEVELOP_FILE);
    written();
    for (auto& [file, line, cond, text, expected] : rows) {
        if (!cond.empty()) QBUG_assert(false, cond.c_str(), file, line, "%s", text.c_str());
        if (cond.empty()) QBUG_trace(file, line, "%s", text.c_str());
        std::string got = written();
        EXPECT_TRUE(got == expected + "\n") << got.size() << ": " << got.substr(0, 60);
    }
    // A file name that does not fit its field is refused whole.
    QBUG_set_develop_file(S(1024, 'n').c_str());
    QBUG_trace("f.c", 1, "kept");
    EXPECT_EQ(written(), "[       f,    1] kept\n");
}

// The ring keeps the last 2^min(log2, 20) bytes of the lines it received and
// dumps them oldest first, without the filler never written; a dump leaves
// it unchanged.
TEST(Qbug, TraceRingKeepsTheLastBytes) {
    const std::tuple<int32_t, int, std::string> rows[] = {
        {3, 1, "abc"}, {4, 2, "abcdefghi"}, {5, 1, "wxyz"}, {0, 1, "abc"}, {25, 1040, S(1000, 'z')},
    };
    written();
    for (auto& [log2, count, line] : rows) {
        ASSERT_TRUE(QBUG_initialise(0, 4, log2, 0, QBUG_OUT_TRACE_BUFFER));
        std::string sent;
        for (int i = 0; i < count; i++) QBUG_trace("f.c", 1, "%s", line.c_str());
        for (int i = 0; i < count; i++) sent += "[       f,    1] " + line + "\n";
        size_t size = std::min(sent.size(), (size_t)1 << std::min(log2, 20));
        std::string dump = TRACE_START + sent.substr(sent.size() - size) + TRACE_END;
        for (int dumps = 0; dumps < 2; dumps++) QBUG_dump_trace_buffer();
        EXPECT_TRUE(written() == dump + dump) << log2 << ": " << size << " bytes kept";
        QBUG_deinitialise();
    }
}

// Watches take indices 0 .. count, descriptions under 1024 characters and
// strings of at most 1023. A full call stack is reported and tracking starts
// again at entry 0; a LEAVE too many is reported. A failed assertion with an
// exit function shuts down, writing the dumps the flags ask for (watches up
// to the first free entry, the call stack most recent first, the ring), then
// exits with 1. Without tables, what needs one writes its "You must call"
// text; a second QBUG_initialise fails and leaves the state uninitialised.
TEST(Qbug, TablesAndDumps) {
    written();
    ASSERT_TRUE(QBUG_initialise(3, 3, 10, QBUG_FLAG_WATCH | QBUG_FLAG_CALLSTACK | QBUG_FLAG_TRACE,
                                QBUG_OUT_TRACE_BUFFER));
    QBUG_set_exit_function([](int code) { exit_code = code; });
    std::string fits = S(1023, 'd'), too_long = S(1024, 'd');
    EXPECT_TRUE(QBUG_add_watch(0, "Level", 0) && QBUG_add_watch(3, "Hidden", QBUG_WATCH_INT));
    EXPECT_FALSE(QBUG_add_watch(4, "x", 0) || QBUG_add_watch(-1, "x", 0) ||
                 QBUG_add_watch(1, too_long.c_str(), 0) || QBUG_add_watch(1, "odd", 7));
    EXPECT_TRUE(QBUG_add_watch(1, fits.c_str(), QBUG_WATCH_INT));
    QBUG_set_watch_string(0, S(2000, 'w').c_str());
    QBUG_set_watch_int(0, 99);  // the integer of a string watch: not shown
    QBUG_set_watch_int(1, 42);
    QBUG_enter("a", "f.c", 1);
    for (int i = 0; i < 2; i++) QBUG_leave("a", "f.c", 1);
    for (const char* name : {"b", "c", "d", "full", "outer", "inner"}) QBUG_enter(name, "f.c", 2);
    QBUG_assert(false, "ok", "main.c", 9, "");
    EXPECT_TRUE(exit_code == 1 && !QBUG_is_initialised());
    QBUG_set_exit_function(NULL);
    ASSERT_TRUE(QBUG_initialise(0, 4, 4, 0, QBUG_OUT_DEVELOP_FILE));
    EXPECT_FALSE(QBUG_initialise(0, 4, 4, 0, QBUG_OUT_DEVELOP_FILE) || QBUG_is_initialised());
    QBUG_enter("f", "f.c", 1);
    QBUG_dump_trace_buffer();
    EXPECT_FALSE(QBUG_add_watch(0, "late", QBUG_WATCH_INT));
    QBUG_set_output_mode(QBUG_OUT_TRACE_BUFFER);
    QBUG_trace("f.c", 1, "lost");
    QBUG_deinitialise();
    ASSERT_TRUE(QBUG_initialise(0, 4, 4, 0, QBUG_OUT_DEVELOP_FILE));
    QBUG_dump_trace_buffer();  // the ring is not the sink: nothing at all
    std::string must_call = "You must call QBUG_initialise with a size to initialise the ",
                freed = "buffer, or QBUG_deinitialise was called which freed the buffer.\n",
                no_ring = must_call + "trace " + freed;
    EXPECT_EQ(written(true),
              "~~~~~~~ START OF WATCH DATA OUTPUT ~~~~~~~\nLevel = " + S(1023, 'w') + "\n" + fits +
                  " = 42\n~~~~~~~ END OF WATCH DATA OUTPUT ~~~~~~~\n"
                  "~~~~~~~~START OF CALLSTACK DUMP - most recent calls~~~~~~~\n"
                  "File: f.c,  Function: inner, Line: 2\nFile: f.c,  Function: outer, Line: 2\n"
                  "~~~~~~~~END OF CALLSTACK DUMP - older calls~~~~~~~\n" +
                  TRACE_START + "qbug: Unknown value type in when adding watch\n\n" +
                  "qbug: Stack empty. Too many LEAVE's. Resetting current_callstack_depth.\n\n"
                  "qbug: Callstack full. Unmatched ENTER/LEAVE or more than 3 (the initialised "
                  "size of the callstack). \nmain: (ASSERT FAILURE: ok) \n" +
                  TRACE_END + must_call + "callstack_data \n" + freed + no_ring + must_call +
                  "watch_data \n" + freed + no_ring);
}

// A program that could not be started, whose exit code cannot be read, does
// not run. (A started one is polled to its end by the install flow's cases.)
TEST(QbugProcess, UnstartedProgramDoesNotRun) {
    char missing[] = "no_such_program_here.exe";
    PROCESS_RECORD record;
    EXPECT_FALSE(PROCESS_start(missing, 0, &record) || PROCESS_is_running(&record));
}
