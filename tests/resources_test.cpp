// The installer's resources as the program meets them: the panel dialog
// created for real, the pictures loaded, every text it shows, its manifest.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string.h>
#include <string>
#include <tuple>

static const HMODULE SELF = GetModuleHandleA(NULL);

static INT_PTR CALLBACK quiet(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// Dialog 1102 (whose title start-up replaces): Verdana 8 points for every
// control, 163 by 215 dialog units, hidden until start-up shows it; its
// controls where the layout puts them, all buttons owner-drawn.
TEST(Resources, PanelDialogAsCreated) {
    INITCOMMONCONTROLSEX common = {sizeof common, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&common));
    HWND panel = CreateDialogParamA(SELF, MAKEINTRESOURCEA(1102), GetDesktopWindow(), quiet, 0);
    ASSERT_TRUE(panel != NULL);
    char text[64];
    const uint32_t frame = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | WS_VISIBLE;
    EXPECT_EQ(GetWindowLongA(panel, GWL_STYLE) & frame, frame & ~WS_VISIBLE);
    HFONT font = (HFONT)SendMessageA(panel, WM_GETFONT, 0, 0);
    LOGFONTA face;
    ASSERT_TRUE(GetObjectA(font, sizeof face, &face));
    EXPECT_STREQ(face.lfFaceName, "Verdana");
    HDC screen = GetDC(NULL);
    EXPECT_EQ(face.lfHeight, -MulDiv(8, GetDeviceCaps(screen, LOGPIXELSY), 72));
    ReleaseDC(NULL, screen);
    RECT size = {0, 0, 163, 215}, client;
    MapDialogRect(panel, &size);
    GetClientRect(panel, &client);
    EXPECT_TRUE(EqualRect(&client, &size)) << client.right << " by " << client.bottom;
    const uint32_t DRAWN = BS_OWNERDRAW | WS_VISIBLE;
    // clang-format off
    const struct { int id; const char* kind; int x, y, width, height; uint32_t style;
                   const char* text; } controls[] = {
        {1000, "Button", 7, 131, 148, 12, DRAWN, ""}, {1002, "Button", 7, 147, 148, 12, DRAWN, ""},
        {1001, "Button", 7, 163, 148, 12, DRAWN, ""}, {1004, "Button", 7, 179, 148, 12, DRAWN, ""},
        {1003, "Button", 7, 196, 148, 12, DRAWN, ""}, {1010, "Button", 7, 138, 148, 11, DRAWN, ""},
        {1009, "Button", 9, 137, 146, 12, DRAWN, ""}, {1012, "Button", 7, 163, 148, 11, DRAWN, ""},
        {1011, "Edit", 7, 161, 148, 12, ES_AUTOHSCROLL | WS_VISIBLE, ""},
        {1, "Button", 8, 193, 55, 14, BS_OWNERDRAW, "Ok"},
        {1014, "Button", 99, 194, 55, 14, BS_OWNERDRAW, "Cancel"},
        {1005, "msctls_progress32", 14, 163, 136, 13, WS_VISIBLE, ""},
    };
    // clang-format on
    for (auto& row : controls) {
        SCOPED_TRACE(row.id);
        HWND control = GetDlgItem(panel, row.id);
        ASSERT_TRUE(control != NULL);
        RECT wanted = {row.x, row.y, row.width, row.height}, got;
        MapDialogRect(panel, &wanted);
        GetWindowRect(control, &got);
        MapWindowPoints(NULL, panel, (POINT*)&got, 2);
        EXPECT_EQ(std::make_tuple(got.left, got.top, got.right - got.left, got.bottom - got.top),
                  std::make_tuple(wanted.left, wanted.top, wanted.right, wanted.bottom));
        uint32_t mask = WS_VISIBLE | (strcmp(row.kind, "Button") == 0 ? BS_TYPEMASK : row.style);
        EXPECT_EQ(GetWindowLongA(control, GWL_STYLE) & mask, row.style);
        GetClassNameA(control, text, sizeof text);
        EXPECT_STRCASEEQ(text, row.kind);
        GetWindowTextA(control, text, sizeof text);
        EXPECT_STREQ(text, row.text);
        EXPECT_EQ((HFONT)SendMessageA(control, WM_GETFONT, 0, 0), font);
    }
    DestroyWindow(panel);
}

// Background 3000 and skin 156 with their sizes and 8 bits per pixel, the
// icon 1104 (how they look on the panel is the panel's test), and the
// manifest, which asks for administrator rights.
TEST(Resources, PicturesIconAndManifest) {
    const struct { int id, width, height; } bitmaps[] = {{3000, 285, 349}, {156, 12, 36}};
    for (auto& row : bitmaps) {
        HANDLE bitmap =
            LoadImageA(SELF, MAKEINTRESOURCEA(row.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
        DIBSECTION dib = {};
        ASSERT_EQ(GetObjectA(bitmap, sizeof dib, &dib), (int)sizeof dib) << row.id;
        EXPECT_EQ(std::make_tuple(dib.dsBm.bmWidth, dib.dsBm.bmHeight, dib.dsBmih.biBitCount),
                  std::make_tuple((LONG)row.width, (LONG)row.height, (WORD)8));
        DeleteObject(bitmap);
    }
    EXPECT_TRUE(LoadIconA(SELF, MAKEINTRESOURCEA(1104)) != NULL);
    // The manifest: installing writes below HKLM and into the Windows directory.
    HRSRC found = FindResourceA(SELF, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_TRUE(found != NULL);
    std::string manifest((const char*)LockResource(LoadResource(SELF, found)),
                         SizeofResource(SELF, found));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
}

// The texts by their string-table IDs that no window or box of the
// installer's end-to-end cases shows, which check the others as users see them.
TEST(Resources, TextsAsTheProgramShowsThem) {
    // clang-format off
    const struct { int id; const char* text; } texts[] = {
        {11, "Installing, please wait..."}, {22, "Tarnholm"}, {29, "Error opening file :"},
        {30, "Failed to create file Link."}, {31, "Failed to create Webpage link."},
        {35, "Unable to write to file:"}, {46, "Tarnholm Vesk"},
    };
    // clang-format on
    for (auto& row : texts) {
        char text[512] = "";
        LoadStringA(SELF, row.id, text, sizeof text);
        EXPECT_STREQ(text, row.text) << row.id;
    }
}
