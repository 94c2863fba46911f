// The start-up helpers in-process: the existing-installation search, the
// text lookup, and update_status with the real panel.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include <string>

#include "footprint.h"
#include "installer.h"
#include "panel.h"
#include "resource.h"
#include "startup.h"
#include "support.h"

namespace {

#define BASE "C:\\e2e\\search"

// The first candidate whose three files all open wins: the registered
// directory (one trailing backslash cut), then the setup default directory
// below the Program Files folder, which is also the fallback.
TEST(Search, FirstCompleteCandidateWinsAndTheSetupDirectoryIsTheFallback) {
    const std::string registered = BASE "\\Games\\Tarn";
    const std::string setup = BASE "\\Program Files\\VKQ\\Tarnholm Vesk";
    const std::string overlong = "C:\\" + std::string(502, 'd');  // no room for "\Tarn II.exe"
    const char* const probes[] = {"Tarn II.exe", "tnh2main.exe", "mss32.dll"};
    struct {
        const char* value;  // "InstallDir"; NULL: none
        int registered_files, setup_files;
        std::string expected;
    } rows[] = {
        {BASE "\\Games\\Tarn\\", 3, 3, registered},
        {registered.c_str(), 3, 0, registered},
        {registered.c_str(), 2, 3, setup},
        {registered.c_str(), 2, 2, setup},
        {NULL, 3, 0, setup},
        {overlong.c_str(), 3, 0, setup},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.value ? row.value : "no value");
        ASSERT_TRUE(FOOTPRINT_reset() && delete_tree(BASE));
        for (int i = 0; i < row.registered_files; i++)
            ASSERT_TRUE(write_file(registered + "\\" + probes[i], "x"));
        for (int i = 0; i < row.setup_files; i++)
            ASSERT_TRUE(write_file(setup + "\\" + probes[i], "x"));
        ASSERT_TRUE(!row.value || FOOTPRINT_set_value(PRODUCT_KEY, PRODUCT_INSTALL_DIR, row.value));
        memset(&installer_state, 0, sizeof installer_state);
        strcpy(installer_state.program_files_folder, BASE "\\Program Files");
        find_existing_installation();
        EXPECT_EQ(std::string(installer_state.install_dir), row.expected);
    }
    EXPECT_TRUE(FOOTPRINT_reset() && delete_tree(BASE));
}

TEST(Text, LoadTextIsBoundedAndReportsMissingIds) {
    memset(&installer_state, 0, sizeof installer_state);
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    EXPECT_TRUE(load_text(IDS_PRODUCT_NAME, buffer, 5));
    EXPECT_STREQ(buffer, "Tarn");
    EXPECT_EQ(buffer[5], '#');
    EXPECT_FALSE(load_text(IDS_PRODUCT_NAME, buffer, 0));
    EXPECT_FALSE(load_text(7, buffer, sizeof buffer));  // not in the table
    installer_state.language_offset = IDS_PRODUCT_NAME - IDS_PLAY;
    EXPECT_TRUE(load_text(IDS_PLAY, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "Tarnhol");
}

// A step moves the bar by its default step of ten, one fifth of 0..50; a
// text goes to the status line; a quit message taken meanwhile is swallowed.
TEST(Status, StepsTextAndASwallowedQuitMessage) {
    memset(&installer_state, 0, sizeof installer_state);
    InitCommonControls();
    installer_state.instance = GetModuleHandleA(NULL);
    load_skin_bitmaps();
    HWND panel = CreateDialogParamA(installer_state.instance, MAKEINTRESOURCEA(IDD_PANEL), NULL,
                                    panel_procedure, 0);
    ASSERT_NE(panel, (HWND)NULL);
    installer_state.main_dialog = panel;
    SendDlgItemMessageA(panel, IDC_PROGRESS, PBM_SETRANGE32, 0, 50);
    update_status(NULL);
    EXPECT_EQ(SendDlgItemMessageA(panel, IDC_PROGRESS, PBM_GETPOS, 0, 0), 10);
    PostQuitMessage(0);
    update_status("Copying data");
    EXPECT_EQ(SendDlgItemMessageA(panel, IDC_PROGRESS, PBM_GETPOS, 0, 0), 10);
    char text[64] = "";
    GetDlgItemTextA(panel, IDC_STATUS, text, sizeof text);
    EXPECT_STREQ(text, "Copying data");
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "the quit message reached the caller's loop";
    DestroyWindow(panel);
}

}  // namespace
