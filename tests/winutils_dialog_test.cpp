// The dialog utilities of WINUTILS: command-line splitting, the requestors'
// refusals, the message pump and the text-input dialog.
#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>
#include <vector>

#include "WINUTILS.h"
#include "qbug.h"

// ---- WINUTILS_parse_command_line -------------------------------------------

struct ParseCase {
    const char* text;
    std::vector<std::string> words;  // empty: no list expected
};

TEST(ParseCommandLine, SplitsWordsAsUsersQuoteThem) {
    const ParseCase cases[] = {
        {"", {}},
        {"   \t ", {}},
        {"remove", {"remove"}},
        {"a \"b c\" d", {"a", "b c", "d"}},
        {"a    b", {"a", "b"}},
        {"  a b", {"a", "b"}},
        {"a b   ", {"a", "b"}},
        {"a\tb\r\nc", {"a", "b", "c"}},
        {"\"C:\\Program Files\\x.exe\" remove", {"C:\\Program Files\\x.exe", "remove"}},
        // A quote inside a word: the word keeps it and ends at the closing one.
        {"a\"b c\"d e", {"a\"b c", "e"}},
        {"\"\" x", {"", "x"}},
        {"a \"b", {"a", "b"}},
        {"\" lead\"", {"lead"}},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.text);
        std::vector<char> text(c.text, c.text + strlen(c.text) + 1);
        const char* begin = text.data();
        const char* end = text.data() + text.size();
        int32_t count = -7;
        char** words = WINUTILS_parse_command_line(text.data(), &count);
        if (c.words.empty()) {
            EXPECT_EQ(words, nullptr);
            EXPECT_EQ(count, -7) << "the count stays untouched without words";
            continue;
        }
        ASSERT_NE(words, nullptr);
        ASSERT_EQ(count, (int32_t)c.words.size());
        for (int32_t i = 0; i < count; i++) {
            EXPECT_GE(words[i], begin);
            EXPECT_LT(words[i], end) << "word " << i << " must point into the text";
            EXPECT_EQ(std::string(words[i]), c.words[i]) << "word " << i;
        }
        free(words);
    }
}

TEST(ParseCommandLine, OneWordIsTheTextItself) {
    char text[] = "remove";
    int32_t count = 0;
    char** words = WINUTILS_parse_command_line(text, &count);
    ASSERT_NE(words, nullptr);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(words[0], text);
    free(words);
}

// ---- The requestors' refusals -----------------------------------------------

TEST(FileRequestor, ModeZeroShowsNoDialogAndKeepsTheCurrentDirectory) {
    char before[MAX_PATH];
    GetCurrentDirectoryA(sizeof before, before);
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof windows);
    char name[256] = "start.txt";
    // A dialog would block this call; returning at all shows none was shown.
    EXPECT_FALSE(WINUTILS_file_requestor("Open", name, "txt", "Text files", "*.txt", windows, 0));
    char after[MAX_PATH];
    GetCurrentDirectoryA(sizeof after, after);
    EXPECT_STREQ(after, before);
    EXPECT_STREQ(name, "start.txt");
}

TEST(FolderRequestor, NullBufferIsRefusedWithATraceLine) {
    const char* develop = "folder_requestor.develop.dbg";
    QBUG_set_develop_file(develop);
    ASSERT_TRUE(QBUG_initialise(0, 0, 4, QBUG_FLAG_TRACE, QBUG_OUT_DEVELOP_FILE));
    bool chosen = WINUTILS_folder_requestor("Pick", NULL);
    QBUG_deinitialise();
    EXPECT_FALSE(chosen);
    std::string written;
    if (FILE* file = fopen(develop, "rb")) {
        char chunk[512];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) written.append(chunk, got);
        fclose(file);
    }
    EXPECT_NE(written.find("[WINUTILS,"), std::string::npos) << written;
    EXPECT_NE(written.find("] Passed NULL folder path buffer"), std::string::npos) << written;
}

// ---- WINUTILS_process_messages ----------------------------------------------

static int g_received;
static LRESULT CALLBACK counting_procedure(HWND window, UINT message, WPARAM wparam,
                                           LPARAM lparam) {
    if (message == WM_APP) {
        g_received += (int)wparam;
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

static HWND make_counting_window() {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = counting_procedure;
    window_class.hInstance = GetModuleHandleA(NULL);
    window_class.lpszClassName = "winutils_counting";
    RegisterClassA(&window_class);
    return CreateWindowA("winutils_counting", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL,
                         GetModuleHandleA(NULL), NULL);
}

static void drain_queue() {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
    }
}

TEST(ProcessMessages, ReturnsAtOnceOnAnEmptyQueue) {
    drain_queue();
    WINUTILS_process_messages();  // would block in GetMessage if it waited
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, NULL, 0, 0, PM_NOREMOVE));
}

TEST(ProcessMessages, DispatchesWhatWaitsAndStopsAtQuit) {
    HWND window = make_counting_window();
    ASSERT_NE(window, nullptr);
    drain_queue();
    g_received = 0;
    PostMessageA(window, WM_APP, 1, 0);
    PostMessageA(window, WM_APP, 10, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 0, 0);
    PostMessageA(window, WM_APP, 100, 0);
    WINUTILS_process_messages();
    EXPECT_EQ(g_received, 11) << "both messages before the quit are dispatched";
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) << "the one after the quit waits";
    EXPECT_EQ(message.message, (UINT)WM_APP);
    EXPECT_FALSE(PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_NOREMOVE))
        << "the quit was taken from the queue";
    DestroyWindow(window);
}

// ---- WINUTILS_get_text_string -----------------------------------------------

struct DialogScript {
    const char* title;
    const char* answer;
    char prompt_seen[128];
    char default_seen[128];
    bool found;
};

// Plays the user: waits for the dialog, reads it, types the answer, clicks OK.
static DWORD WINAPI answer_dialog(void* parameter) {
    DialogScript* script = (DialogScript*)parameter;
    HWND dialog = NULL;
    for (int i = 0; i < 200 && dialog == NULL; i++) {
        dialog = FindWindowA("#32770", script->title);
        if (dialog == NULL) Sleep(25);
    }
    if (dialog == NULL) return 1;
    script->found = true;
    GetDlgItemTextA(dialog, WINUTILS_TEXT_PROMPT, script->prompt_seen, sizeof script->prompt_seen);
    GetDlgItemTextA(dialog, WINUTILS_TEXT_ANSWER, script->default_seen,
                    sizeof script->default_seen);
    SetDlgItemTextA(dialog, WINUTILS_TEXT_ANSWER, script->answer);
    SendMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    return 0;
}

TEST(GetTextString, ShowsPromptAndDefaultAndReturnsTheAnswerWithinTheBuffer) {
    DialogScript script = {"Player name", "Aldric of the Northern Keep", "", "", false};
    char buffer[12];
    memset(buffer, 'x', sizeof buffer);
    strcpy(buffer, "Nobody");
    char guard[8];
    memset(guard, 0x5A, sizeof guard);
    HANDLE user = CreateThread(NULL, 0, answer_dialog, &script, 0, NULL);
    EXPECT_EQ(WINUTILS_get_text_string(script.title, "Your name?", buffer, 8), 0);
    WaitForSingleObject(user, 10000);
    CloseHandle(user);
    ASSERT_TRUE(script.found) << "the dialog did not appear";
    EXPECT_STREQ(script.prompt_seen, "Your name?");
    EXPECT_STREQ(script.default_seen, "Nobody");
    EXPECT_STREQ(buffer, "Aldric ") << "the answer is cut to the stated size";
    EXPECT_EQ(buffer[8], 'x') << "nothing is written past the stated size";
}
