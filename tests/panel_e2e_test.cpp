// The panel of the real installer, driven through its window: the path
// screen and the way back, the commands that quit or do
// nothing, and what the screen shows of a disabled button and a label.
#include "support_e2e.h"

namespace {

class Panel : public InstallerCase {
protected:
    // How many pixels of control id's rectangle the screen shows in colour.
    int count(int id, COLORREF colour) {
        static HDC screen = GetDC(NULL);
        RECT rect = {};
        GetWindowRect(GetDlgItem(panel, id), &rect);
        int found = 0;
        for (int y = rect.top; y < rect.bottom; y++)
            for (int x = rect.left; x < rect.right; x++) found += GetPixel(screen, x, y) == colour;
        return found;
    }
};

// The path screen always starts from the suggestion, even after Cancel; its
// edit control takes 511 characters from the keyboard, and a longer text
// that another program puts there is refused on Ok.
TEST_F(Panel, PathScreenCancelAndOverlongDirectory) {
    start();
    for (int round = 0; round < 2; round++) {
        DRIVER_click(panel, IDC_INSTALL_REMOVE);
        EXPECT_EQ(screen(), "x----EEEE---");
        EXPECT_EQ(
            text(IDC_PATH_PROMPT) + "|" + text(IDC_INSTALL_DIR),
            "Please type in your Install Directory|" + folder(CSIDL_PROGRAM_FILES) + "\\Tarnholm");
        ASSERT_TRUE(DRIVER_set_text(panel, IDC_INSTALL_DIR, "C:\\Games\\Somewhere else"));
        if (round == 0) DRIVER_click(panel, IDC_CANCEL);
    }
    EXPECT_EQ(SendDlgItemMessageA(panel, IDC_INSTALL_DIR, EM_GETLIMITTEXT, 0, 0), 511);
    ASSERT_TRUE(DRIVER_set_text(panel, IDC_INSTALL_DIR, ("C:\\" + std::string(600, 'a')).c_str()));
    DRIVER_click(panel, IDC_OK);
    answer("Sorry this is not a Valid directory, please select another.", "Warning!");
    EXPECT_TRUE(DRIVER_settle(panel) && screen() == "x----EEEE---");
}

// Exit, closing the window and a click on any label end the program through
// the main loop; Ok off the path screen, Play and Install Direct X, which no
// screen offers, do nothing.
TEST_F(Panel, CommandsThatQuitOrDoNothing) {
    struct {
        int id;  // 0: the window is closed
        bool path_screen, quits;
    } rows[] = {
        {IDC_OK, false, false},          {IDC_PLAY, false, false},  {IDC_DIRECTX, false, false},
        {IDC_EXIT, false, true},         {0, false, true},          {IDC_PATH_PROMPT, true, true},
        {IDC_WORKING_TEXT, false, true}, {IDC_STATUS, false, true},
    };
    start();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id);
        if (row.path_screen) DRIVER_click(panel, IDC_INSTALL_REMOVE);
        if (row.id == 0) PostMessageA(panel, WM_CLOSE, 0, 0);
        if (row.id != 0) DRIVER_click(panel, row.id);
        EXPECT_EQ(exit_status(row.quits ? DRIVER_TIMEOUT_MS : 500), row.quits ? 0 : -1);
        EXPECT_EQ(boxes(), 0);
        if (row.quits) start();
    }
}

// On screen: the disabled Play button as a black bar, and the path prompt
// white on its own dark grey.
TEST_F(Panel, DisabledButtonsAndLabelsAreOnScreen) {
    start();
    RECT play = {};
    GetWindowRect(GetDlgItem(panel, IDC_PLAY), &play);
    for (int tries = 0; tries < 40 && count(IDC_PLAY, RGB(0, 0, 0)) == 0; tries++) Sleep(100);
    EXPECT_EQ(count(IDC_PLAY, RGB(0, 0, 0)), (play.right - play.left) * (play.bottom - play.top));
    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    Sleep(500);
    EXPECT_GT(count(IDC_PATH_PROMPT, RGB(255, 255, 255)), 20);
    EXPECT_GT(count(IDC_PATH_PROMPT, RGB(10, 10, 10)), 20);
}

}  // namespace
