// The start-up helpers in-process: the text lookup, and update_status with
// the real panel. (The search for an installation is met end to end by the
// remove flow's cases.)
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include "installer.h"
#include "panel.h"
#include "paths.h"
#include "resource.h"

namespace {

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

// A path fits with its terminator or is refused with the buffer emptied,
// never left cut (a cut path names another file).
TEST(Paths, APathThatDoesNotFitIsRefusedAndNotKept) {
    char buffer[8];
    EXPECT_TRUE(format_path(buffer, sizeof buffer, "%s\\%s", "C:", "abcd"));
    EXPECT_STREQ(buffer, "C:\\abcd");
    EXPECT_FALSE(format_path(buffer, sizeof buffer, "%s\\%s", "C:", "abcde"));
    EXPECT_STREQ(buffer, "");
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
