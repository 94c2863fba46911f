// The panel of the real installer, driven through its window: every start
// screen's and the path screen's controls, the suggestion after Cancel, the
// edit control's limit, the readme, the commands that quit, and the pixels
// of the art and the skinned buttons.
#include "support_e2e.h"

#include <shlobj.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

const int kKeep = -1;  // a state the screen does not set

struct Cell {
    int id;
    const char* text;  // NULL: not checked
    int shown;
    int enabled;  // kKeep: not checked
};

class Panel : public InstallerCase {
protected:
    void expect_screen(const std::vector<Cell>& cells) {
        for (const Cell& cell : cells) {
            SCOPED_TRACE("control " + std::to_string(cell.id));
            if (cell.text != NULL) {
                EXPECT_EQ(text_of(cell.id), cell.text);
            }
            EXPECT_EQ(DRIVER_is_shown(panel, cell.id), cell.shown == 1);
            if (cell.enabled != kKeep) {
                EXPECT_EQ(DRIVER_is_enabled(panel, cell.id), cell.enabled == 1);
            }
        }
    }

    void open_path_screen() {
        wait_for_text(IDC_INSTALL_REMOVE, "Install Tarnholm");
        DRIVER_click(panel, IDC_INSTALL_REMOVE);
        wait_for_text(IDC_PATH_PROMPT, "Please type in your Install Directory");
    }

    std::string suggestion() {
        char base[MAX_PATH];
        EXPECT_TRUE(FOOTPRINT_folder(CSIDL_PROGRAM_FILES, base));
        return std::string(base) + "\\Tarnholm";
    }
};

// The labels, the edit control, Ok, Cancel and the bar on the start screens.
const std::vector<Cell> kStartScreenRest = {
    {IDC_PATH_PROMPT, NULL, 0, kKeep}, {IDC_INSTALL_DIR, NULL, 0, kKeep},
    {IDC_OK, NULL, 0, kKeep},          {IDC_WORKING_TEXT, NULL, 0, kKeep},
    {IDC_STATUS, NULL, 0, kKeep},      {IDC_PROGRESS, NULL, 0, kKeep},
};

std::vector<Cell> with_rest(std::vector<Cell> cells, std::vector<Cell> extra) {
    cells.insert(cells.end(), kStartScreenRest.begin(), kStartScreenRest.end());
    cells.insert(cells.end(), extra.begin(), extra.end());
    return cells;
}

TEST_F(Panel, StartScreensShowTheirControls) {
    struct {
        const char* name;
        const char* arguments;
        bool registered;
        std::vector<Cell> cells;
    } screens[] = {
        {"not installed", NULL, false,
         with_rest({{IDC_PLAY, "Play Tarnholm", 1, 0},
                    {IDC_INSTALL_REMOVE, "Install Tarnholm", 1, 1},
                    {IDC_DIRECTX, "Install Direct X", 0, 1},
                    {IDC_README, "Read Help file", 1, 1},
                    {IDC_EXIT, "Exit Setup", 1, 1}},
                   {{IDC_CANCEL, NULL, 0, kKeep}})},
        {"installed", NULL, true,
         with_rest({{IDC_PLAY, "Play Tarnholm", 0, 1},
                    {IDC_INSTALL_REMOVE, "Remove Tarnholm", 1, kKeep},
                    {IDC_DIRECTX, "Install Direct X", 0, 1},
                    {IDC_README, "Read Help file", 1, kKeep},
                    {IDC_EXIT, "Exit Setup", 1, kKeep}},
                   {{IDC_CANCEL, NULL, 0, kKeep}})},
        // Cancel keeps the dialog's own state: hidden.
        {"remove", "remove", true,
         with_rest({{IDC_PLAY, "Play Tarnholm", 1, 0},
                    {IDC_INSTALL_REMOVE, "Remove Tarnholm", 1, kKeep},
                    {IDC_DIRECTX, "Install Direct X", 1, 0},
                    {IDC_README, "Read Help file", 1, 0},
                    {IDC_EXIT, "Exit Setup", 1, kKeep}},
                   {{IDC_CANCEL, "Cancel", 0, kKeep}})},
    };
    for (const auto& screen : screens) {
        SCOPED_TRACE(screen.name);
        ASSERT_TRUE(FOOTPRINT_reset());
        if (screen.registered) {
            ASSERT_TRUE(FOOTPRINT_set_value(PRODUCT_KEY, "InstallDir", "C:\\Games\\Tarn"));
        }
        start(screen.arguments);
        wait_for_text(IDC_EXIT, "Exit Setup");
        expect_screen(screen.cells);
        DRIVER_command(panel, IDC_EXIT);
        EXPECT_EQ(exit_status(), 0);
        DRIVER_stop(&installer);
    }
}

TEST_F(Panel, PathScreenStartsFromTheSuggestionEvenAfterCancel) {
    start();
    open_path_screen();
    expect_screen({
        {IDC_PLAY, NULL, 0, kKeep},
        {IDC_INSTALL_REMOVE, NULL, 0, kKeep},
        {IDC_DIRECTX, NULL, 0, 1},
        {IDC_README, NULL, 0, kKeep},
        {IDC_EXIT, NULL, 0, kKeep},
        {IDC_PATH_PROMPT, "Please type in your Install Directory", 1, kKeep},
        {IDC_INSTALL_DIR, suggestion().c_str(), 1, kKeep},
        {IDC_OK, "Ok", 1, kKeep},
        {IDC_CANCEL, "Cancel", 1, kKeep},
        {IDC_WORKING_TEXT, NULL, 0, kKeep},
        {IDC_STATUS, NULL, 0, kKeep},
        {IDC_PROGRESS, NULL, 0, kKeep},  // left as the start screen had it
    });

    ASSERT_TRUE(DRIVER_set_text(panel, IDC_INSTALL_DIR, "C:\\Games\\Somewhere else"));
    DRIVER_click(panel, IDC_CANCEL);
    wait_for_text(IDC_INSTALL_REMOVE, "Install Tarnholm");
    EXPECT_TRUE(DRIVER_is_shown(panel, IDC_INSTALL_REMOVE));
    EXPECT_FALSE(DRIVER_is_shown(panel, IDC_INSTALL_DIR));
    EXPECT_FALSE(DRIVER_is_shown(panel, IDC_CANCEL));

    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    wait_for_text(IDC_INSTALL_DIR, suggestion().c_str());
    EXPECT_TRUE(DRIVER_is_shown(panel, IDC_INSTALL_DIR));
}

TEST_F(Panel, OverlongDirectoryFromAnotherProgramIsRefusedOnOk) {
    start();
    open_path_screen();
    HWND edit = GetDlgItem(panel, IDC_INSTALL_DIR);
    EXPECT_EQ(SendMessageA(edit, EM_GETLIMITTEXT, 0, 0), 511);

    // WM_SETTEXT is not held to the keyboard's limit.
    std::string long_path = "C:\\" + std::string(600, 'a');
    ASSERT_TRUE(DRIVER_set_text(panel, IDC_INSTALL_DIR, long_path.c_str()));
    ASSERT_EQ(text_of(IDC_INSTALL_DIR).size(), long_path.size());
    DRIVER_click(panel, IDC_OK);
    std::string text, caption;
    HWND box = message_box(&text, &caption);
    ASSERT_NE(box, (HWND)NULL);
    EXPECT_EQ(text, "Sorry this is not a Valid directory, please select another.");
    EXPECT_EQ(caption, "Warning!");
    DRIVER_answer(box, IDOK);
    EXPECT_TRUE(DRIVER_settle(panel));
    EXPECT_TRUE(DRIVER_is_shown(panel, IDC_INSTALL_DIR));
    EXPECT_TRUE(DRIVER_is_shown(panel, IDC_OK));
    EXPECT_TRUE(DRIVER_is_running(&installer));
}

TEST_F(Panel, ReadmeOpensInTheEditorFromThePatchFolder) {
    start();
    wait_for_text(IDC_README, "Read Help file");
    DRIVER_click(panel, IDC_README);
    HWND editor = DRIVER_wait_window_of_class("Notepad", DRIVER_TIMEOUT_MS);
    ASSERT_NE(editor, (HWND)NULL);
    char title[256] = "";
    DRIVER_window_title(editor, title, sizeof title);
    EXPECT_NE(strstr(title, "readme"), (char*)NULL) << title;
    EXPECT_TRUE(DRIVER_no_message_box(installer.information.dwProcessId));
}

TEST_F(Panel, MissingReadmeIsReportedAndThePanelStays) {
    char here[MAX_PATH];
    ASSERT_TRUE(GetCurrentDirectoryA(sizeof here, here));
    DeleteFileA("readme.txt");
    start(NULL, here);
    wait_for_text(IDC_README, "Read Help file");
    DRIVER_click(panel, IDC_README);
    std::string text, caption;
    HWND box = message_box(&text, &caption);
    ASSERT_NE(box, (HWND)NULL);
    EXPECT_EQ(text, "Error opening file : readme.txt");
    EXPECT_EQ(caption, "Error!");
    DRIVER_answer(box, IDOK);
    EXPECT_TRUE(DRIVER_settle(panel));
    EXPECT_TRUE(DRIVER_is_running(&installer));
    EXPECT_EQ(DRIVER_wait_window_of_class("Notepad", 0), (HWND)NULL);
}

TEST_F(Panel, ExitCloseAndLabelClicksEndTheProgram) {
    struct {
        const char* name;
        bool path_screen;
        int id;        // clicked; 0: the window is closed
        bool clicked;  // a visible control, clicked; otherwise its command is sent
    } cases[] = {
        {"Exit Setup", false, IDC_EXIT, true},
        {"closing the window", false, 0, false},
        {"path prompt label", true, IDC_PATH_PROMPT, true},
        {"working label", true, IDC_WORKING_TEXT, false},
        {"status label", false, IDC_STATUS, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        start();
        if (c.path_screen)
            open_path_screen();
        else
            wait_for_text(IDC_INSTALL_REMOVE, "Install Tarnholm");
        if (c.id == 0)
            PostMessageA(panel, WM_CLOSE, 0, 0);
        else if (c.clicked)
            DRIVER_click(panel, c.id);
        else
            DRIVER_command(panel, c.id);
        EXPECT_EQ(exit_status(), 0);
        DRIVER_stop(&installer);
    }
}

// ---- Pixels ----------------------------------------------------------------

struct Art {
    HMODULE module = NULL;
    HDC context = NULL;
    HBITMAP bitmap = NULL;
    HGDIOBJ previous = NULL;

    bool load(int id) {
        module = LoadLibraryExA(DRIVER_INSTALLER, NULL, LOAD_LIBRARY_AS_DATAFILE);
        if (module == NULL) return false;
        bitmap = (HBITMAP)LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0,
                                     LR_CREATEDIBSECTION);
        context = CreateCompatibleDC(NULL);
        if (bitmap == NULL || context == NULL) return false;
        previous = SelectObject(context, bitmap);
        return true;
    }
    uint32_t pixel(int x, int y) const {
        COLORREF colour = GetPixel(context, x, y);
        return (GetRValue(colour) << 16) | (GetGValue(colour) << 8) | GetBValue(colour);
    }
    ~Art() {
        if (context != NULL) {
            SelectObject(context, previous);
            DeleteDC(context);
        }
        if (bitmap != NULL) DeleteObject(bitmap);
        if (module != NULL) FreeLibrary(module);
    }
};

// Share of a grid of sample points above the buttons where the panel shows
// exactly the background art.
double background_match(const DRIVER_IMAGE& image, const Art& art, int bottom) {
    int total = 0, equal = 0;
    for (int y = 2; y < bottom; y += 7) {
        for (int x = 2; x < image.width - 2; x += 7) {
            total++;
            if (DRIVER_pixel(&image, x, y) == art.pixel(x, y)) equal++;
        }
    }
    return total ? (double)equal / total : 0.0;
}

TEST_F(Panel, BackgroundArtAndSkinnedButtonsAreOnScreen) {
    Art background, skin;
    ASSERT_TRUE(background.load(IDB_BACKGROUND));
    ASSERT_TRUE(skin.load(IDB_BUTTON_SKIN));
    start();
    wait_for_text(IDC_INSTALL_REMOVE, "Install Tarnholm");
    RECT play, install;
    ASSERT_TRUE(DRIVER_control_rect(panel, IDC_PLAY, &play));
    ASSERT_TRUE(DRIVER_control_rect(panel, IDC_INSTALL_REMOVE, &install));

    DRIVER_IMAGE image = {};
    double match = 0.0;
    for (int tries = 0; tries < 40 && match < 0.99; tries++) {
        Sleep(100);
        DRIVER_free_image(&image);
        ASSERT_TRUE(DRIVER_capture(panel, false, &image));
        match = background_match(image, background, play.top - 2);
    }
    EXPECT_GE(match, 0.99) << "the background art is not where it belongs";

    // The disabled Play button is a plain black bar.
    int coloured = 0;
    for (int y = play.top; y < play.bottom; y++)
        for (int x = play.left; x < play.right; x++)
            if (DRIVER_pixel(&image, x, y) != 0) coloured++;
    EXPECT_EQ(coloured, 0) << "the disabled Play button is not a black bar";

    // The Install button's top-left corner is the skin's, unscaled: the normal
    // face or, if the button holds the focus, the focused one.
    bool corner_is_skin = false;
    for (int slice_top : {0, 12}) {
        bool same = true;
        for (int y = 0; y < 4; y++)
            for (int x = 0; x < 4; x++)
                same = same && DRIVER_pixel(&image, install.left + x, install.top + y) ==
                                   skin.pixel(x, slice_top + y);
        corner_is_skin = corner_is_skin || same;
    }
    EXPECT_TRUE(corner_is_skin) << "the Install button is not drawn from the skin";

    // Its caption is drawn in white on the face.
    int white = 0;
    for (int y = install.top; y < install.bottom; y++)
        for (int x = install.left; x < install.right; x++)
            if (DRIVER_pixel(&image, x, y) == 0xFFFFFF) white++;
    EXPECT_GT(white, 20) << "no caption on the Install button";
    DRIVER_free_image(&image);
}

TEST_F(Panel, PathPromptLabelIsWhiteOnItsOwnDarkGrey) {
    start();
    open_path_screen();
    RECT prompt;
    ASSERT_TRUE(DRIVER_control_rect(panel, IDC_PATH_PROMPT, &prompt));
    int white = 0, grey = 0;
    for (int tries = 0; tries < 40 && (white == 0 || grey == 0); tries++) {
        Sleep(100);
        DRIVER_IMAGE image = {};
        ASSERT_TRUE(DRIVER_capture(panel, false, &image));
        white = grey = 0;
        for (int y = prompt.top; y < prompt.bottom; y++) {
            for (int x = prompt.left; x < prompt.right; x++) {
                uint32_t pixel = DRIVER_pixel(&image, x, y);
                if (pixel == 0xFFFFFF) white++;
                if (pixel == 0x0A0A0A) grey++;
            }
        }
        DRIVER_free_image(&image);
    }
    EXPECT_GT(white, 20);
    EXPECT_GT(grey, 20);
}

}  // namespace
