// The panel of the real installer, driven through its window: the path
// screen and the way back, the readme, the commands that quit or do
// nothing, and what the screen shows of the art, the skinned buttons and
// the labels.
#include "support_e2e.h"

namespace {

class Panel : public InstallerCase {
protected:
    // The control's rectangle in the panel's client area.
    RECT area(int id) {
        RECT rect = {};
        GetWindowRect(GetDlgItem(panel, id), &rect);
        MapWindowPoints(NULL, panel, (POINT*)&rect, 2);
        return rect;
    }
    // What the screen shows at (x, y) of the panel's client area.
    COLORREF pixel(int x, int y) {
        static HDC screen = GetDC(NULL);
        POINT point = {x, y};
        ClientToScreen(panel, &point);
        return GetPixel(screen, point.x, point.y);
    }
    int count(RECT rect, COLORREF colour) {
        int found = 0;
        for (int y = rect.top; y < rect.bottom; y++)
            for (int x = rect.left; x < rect.right; x++) found += pixel(x, y) == colour;
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
    EXPECT_TRUE(DRIVER_settle(panel));
    EXPECT_EQ(screen(), "x----EEEE---");
}

// The readme opens in the editor from the directory the installer started
// in; without one there the user is told, and the panel stays.
TEST_F(Panel, ReadmeOpensInTheEditorOrIsReportedMissing) {
    for (const char* directory : {DRIVER_PATCH_FOLDER, "C:\\"}) {
        SCOPED_TRACE(directory);
        const bool there = strcmp(directory, DRIVER_PATCH_FOLDER) == 0;
        start("", directory);
        DRIVER_click(panel, IDC_README);
        HWND editor = DRIVER_wait_window(0, NULL, "Notepad", there ? DRIVER_TIMEOUT_MS : 500);
        EXPECT_EQ(
            DRIVER_settle(editor) && DRIVER_text(editor, 0).find("readme") != std::string::npos,
            there);
        if (!there) answer("Error opening file : readme.txt", "Error!");
        EXPECT_TRUE(DRIVER_settle(panel) && DRIVER_count_boxes(installer.dwProcessId) == 0);
    }
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
        EXPECT_EQ(DRIVER_count_boxes(installer.dwProcessId), 0);
        if (row.quits) start();
    }
}

// On screen: the background art above the buttons, the disabled Play button
// as a black bar, the Install button drawn from the skin (its normal face,
// or the focused one) with a white caption, and the path prompt white on its
// own dark grey.
TEST_F(Panel, ArtSkinnedButtonsAndLabelsAreOnScreen) {
    HMODULE module = LoadLibraryExA(DRIVER_INSTALLER, NULL, LOAD_LIBRARY_AS_DATAFILE);
    HDC art = CreateCompatibleDC(NULL), skin = CreateCompatibleDC(NULL);
    for (HDC context : {art, skin})
        SelectObject(
            context,
            LoadImageA(module, MAKEINTRESOURCEA(context == art ? IDB_BACKGROUND : IDB_BUTTON_SKIN),
                       IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    start();
    const RECT play = area(IDC_PLAY), install = area(IDC_INSTALL_REMOVE);
    int equal = 0, total = 0;
    for (int tries = 0; tries < 40 && equal < total * 99 / 100 + 1; tries++, Sleep(100)) {
        equal = total = 0;
        for (int y = 2; y < play.top - 2; y += 7)
            for (int x = 2; x < 280; x += 7, total++) equal += pixel(x, y) == GetPixel(art, x, y);
    }
    EXPECT_GE(equal, total * 99 / 100) << "the background art is not where it belongs";
    EXPECT_EQ(count(play, RGB(0, 0, 0)), (play.right - play.left) * (play.bottom - play.top));
    int normal = 0, focused = 0;
    for (int y = 0; y < 4; y++) {
        for (int x = 0; x < 4; x++) {
            normal += pixel(install.left + x, install.top + y) == GetPixel(skin, x, y);
            focused += pixel(install.left + x, install.top + y) == GetPixel(skin, x, 12 + y);
        }
    }
    EXPECT_TRUE(normal == 16 || focused == 16) << "the Install button is not drawn from the skin";
    EXPECT_GT(count(install, RGB(255, 255, 255)), 20) << "no caption on the Install button";
    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    Sleep(500);
    EXPECT_GT(count(area(IDC_PATH_PROMPT), RGB(255, 255, 255)), 20);
    EXPECT_GT(count(area(IDC_PATH_PROMPT), RGB(10, 10, 10)), 20);
    DeleteDC(art);
    DeleteDC(skin);
    FreeLibrary(module);
}

}  // namespace
