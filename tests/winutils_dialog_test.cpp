// The dialog utilities of WINUTILS: command-line splitting, the requestors'
// refusals, the message pump and the text-input dialog. Every library call
// of a case must leave the call stack as it found it.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <string>
#include <vector>

#include "WINUTILS.h"
#include "driver.h"
#include "qbug.h"
#include "support.h"

using namespace std::string_literals;

struct Dialogs : ::testing::Test {
    void SetUp() override { callstack_begin("dialogs.develop.dbg", QBUG_FLAG_TRACE); }
    void TearDown() override { EXPECT_EQ(callstack_end(), ""); }
};

// The words as references into the text; no list, count untouched, without words.
TEST_F(Dialogs, CommandLinesSplitAsUsersQuoteThem) {
    // clang-format off
    const struct { const char* text; std::vector<std::string> words; } rows[] = {
        {"", {}}, {"   \t ", {}}, {"remove", {"remove"}}, {"a \"b c\" d", {"a", "b c", "d"}},
        {"a    b", {"a", "b"}}, {"  a b   ", {"a", "b"}}, {"a\tb\r\nc", {"a", "b", "c"}},
        {"\"C:\\Program Files\\x.exe\" remove", {"C:\\Program Files\\x.exe", "remove"}},
        // A quote inside a word stays, and ends the word where it closes.
        {"a\"b c\"d e", {"a\"b c", "e"}}, {"\"\" x", {"", "x"}}, {"a \"b", {"a", "b"}},
        {"\" lead\"", {"lead"}},
    };
    // clang-format on
    for (auto& row : rows) {
        SCOPED_TRACE(row.text);
        std::string text(row.text, strlen(row.text) + 1);
        int32_t count = -7;
        char** words = WINUTILS_parse_command_line(&text[0], &count);
        ASSERT_EQ(words == NULL, row.words.empty());
        ASSERT_EQ(count, words != NULL ? (int32_t)row.words.size() : -7);
        for (int32_t i = 0; i < count; i++) {
            EXPECT_TRUE(words[i] >= &text[0] && words[i] < &text[0] + text.size()) << i;
            EXPECT_EQ(words[i], row.words[i]) << i;
        }
        free(words);
    }
}

TEST_F(Dialogs, RequestorsRefuseWithoutADialog) {
    char name[256] = "start.txt";
    const std::string before = full_path(".");
    // Mode 0: no dialog (one would block here), the current directory kept.
    EXPECT_FALSE(WINUTILS_file_requestor("Open", name, "txt", "Text", "*.txt", "C:\\windows", 0));
    EXPECT_EQ(full_path(".") + "|" + name, before + "|start.txt");
    EXPECT_FALSE(WINUTILS_folder_requestor("Pick", NULL));
    EXPECT_EQ(debug_lines("dialogs.develop.dbg"),
              Lines{"WINUTILS: Passed NULL folder path buffer"});
}

// What waits before a quit message is dispatched; the quit is taken and ends
// the pumping. The edit control keeps the last text limit it was sent.
TEST_F(Dialogs, PumpDispatchesWhatWaitsUpToTheQuit) {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) continue;
    WINUTILS_process_messages();  // an empty queue: returns at once
    HWND edit = CreateWindowA("EDIT", "", 0, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    for (WPARAM limit : {5, 11}) PostMessageA(edit, EM_LIMITTEXT, limit, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
    PostMessageA(edit, EM_LIMITTEXT, 100, 0);
    WINUTILS_process_messages();
    EXPECT_EQ(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0), 11);
    ASSERT_TRUE(PeekMessageA(&message, NULL, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.wParam, 100u);
    EXPECT_FALSE(PeekMessageA(&message, NULL, 0, 0, PM_REMOVE));
}

// Plays the user: reads prompt and default, types an answer longer than the
// buffer and clicks OK.
static DWORD WINAPI answer(void* seen) {
    HWND dialog = DRIVER_wait_window(0, "Player name", NULL, DRIVER_TIMEOUT_MS);
    GetDlgItemTextA(dialog, WINUTILS_TEXT_PROMPT, (char*)seen, 64);
    GetDlgItemTextA(dialog, WINUTILS_TEXT_ANSWER, (char*)seen + 64, 64);
    SetDlgItemTextA(dialog, WINUTILS_TEXT_ANSWER, "Aldric of the Northern Keep");
    SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    return 0;
}

TEST_F(Dialogs, TextInputShowsPromptAndDefaultAndKeepsTheAnswerInItsSize) {
    char seen[128] = "", buffer[12] = "Nobody\0xxxx";
    HANDLE user = CreateThread(NULL, 0, answer, seen, 0, NULL);
    EXPECT_EQ(WINUTILS_get_text_string("Player name", "Your name?", buffer, 8), 0);
    WaitForSingleObject(user, 20000);
    CloseHandle(user);
    EXPECT_EQ(seen + "|"s + (seen + 64), "Your name?|Nobody");
    EXPECT_EQ(std::string(buffer, 12), "Aldric \0xxx\0"s);
}
