// The installer's resources, as the installer meets them: the panel dialog
// from its template (parsed byte by byte) and created for real, the two
// bitmaps, the icon, every string of the table, the manifest and the version.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <ctype.h>
#include <string.h>
#include <string>
#include <vector>

#include "WINSKIN.h"
#include "resource.h"

namespace {

// ---- the template, parsed -----------------------------------------------------

struct TemplateItem {
    uint32_t style;
    int16_t x, y, cx, cy;
    uint32_t id;
    std::string window_class;  // "#128" style for ordinals
    std::string title;
};

struct Template {
    uint32_t style;
    int16_t x, y, cx, cy;
    std::string title;
    uint16_t point_size;
    std::string typeface;
    std::vector<TemplateItem> items;
};

// Reads a sz_Or_Ord field; ordinals become "#n".
std::string read_sz_or_ord(const uint8_t*& p) {
    const WORD* w = (const WORD*)p;
    if (w[0] == 0xFFFF) {
        p += 4;
        return "#" + std::to_string(w[1]);
    }
    std::string text;
    while (*w) text += (char)*w++;
    p = (const uint8_t*)(w + 1);
    return text;
}

// A control class as the dialog manager reads it: the predefined ordinals
// and names are one, and names do not depend on case.
std::string class_name(std::string raw) {
    if (raw == "#128") return "button";
    if (raw == "#129") return "edit";
    for (char& ch : raw) ch = (char)tolower((unsigned char)ch);
    return raw;
}

void align4(const uint8_t*& p, const uint8_t* base) { p = base + ((p - base + 3) & ~3); }

bool parse_template(Template* t) {
    HRSRC found = FindResourceA(NULL, MAKEINTRESOURCEA(IDD_PANEL), (LPCSTR)RT_DIALOG);
    if (!found) return false;
    const uint8_t* base = (const uint8_t*)LockResource(LoadResource(NULL, found));
    if (!base) return false;
    const uint8_t* p = base;
    const WORD* w = (const WORD*)p;
    if (w[0] != 1 || w[1] != 0xFFFF) return false;  // DLGTEMPLATEEX only
    p += 4 + 4 + 4;                                 // version, signature, help ID, ex style
    memcpy(&t->style, p, 4);
    p += 4;
    uint16_t count;
    memcpy(&count, p, 2);
    p += 2;
    memcpy(&t->x, p, 2);
    memcpy(&t->y, p + 2, 2);
    memcpy(&t->cx, p + 4, 2);
    memcpy(&t->cy, p + 6, 2);
    p += 8;
    read_sz_or_ord(p);  // menu
    read_sz_or_ord(p);  // class
    t->title = read_sz_or_ord(p);
    memcpy(&t->point_size, p, 2);
    p += 2 + 2 + 1 + 1;  // size, weight, italic, charset
    t->typeface = read_sz_or_ord(p);
    for (int i = 0; i < count; i++) {
        align4(p, base);
        TemplateItem item;
        p += 4 + 4;  // help ID, ex style
        memcpy(&item.style, p, 4);
        p += 4;
        memcpy(&item.x, p, 2);
        memcpy(&item.y, p + 2, 2);
        memcpy(&item.cx, p + 4, 2);
        memcpy(&item.cy, p + 6, 2);
        p += 8;
        memcpy(&item.id, p, 4);
        p += 4;
        item.window_class = class_name(read_sz_or_ord(p));
        item.title = read_sz_or_ord(p);
        uint16_t extra;
        memcpy(&extra, p, 2);
        p += 2 + extra;
        t->items.push_back(item);
    }
    return true;
}

// ---- the panel's controls ------------------------------------------------------

enum Kind { OWNER_BUTTON, EDIT, PROGRESS };

struct Control {
    uint32_t id;
    Kind kind;
    int16_t x, y, cx, cy;
    bool visible;
    const char* text;
};

const Control CONTROLS[] = {
    {1000, OWNER_BUTTON, 7, 131, 148, 12, true, ""},
    {1002, OWNER_BUTTON, 7, 147, 148, 12, true, ""},
    {1001, OWNER_BUTTON, 7, 163, 148, 12, true, ""},
    {1004, OWNER_BUTTON, 7, 179, 148, 12, true, ""},
    {1003, OWNER_BUTTON, 7, 196, 148, 12, true, ""},
    {1010, OWNER_BUTTON, 7, 138, 148, 11, true, ""},
    {1009, OWNER_BUTTON, 9, 137, 146, 12, true, ""},
    {1011, EDIT, 7, 161, 148, 12, true, ""},
    {1012, OWNER_BUTTON, 7, 163, 148, 11, true, ""},
    {1, OWNER_BUTTON, 8, 193, 55, 14, false, "Ok"},
    {1014, OWNER_BUTTON, 99, 194, 55, 14, false, "Cancel"},
    {1005, PROGRESS, 14, 163, 136, 13, true, ""},
};
const size_t CONTROL_COUNT = sizeof CONTROLS / sizeof CONTROLS[0];

// The names the installer's code uses for them.
static_assert(IDC_PLAY == 1000 && IDC_INSTALL_REMOVE == 1002 && IDC_DIRECTX == 1001 &&
                  IDC_README == 1004 && IDC_EXIT == 1003 && IDC_WORKING_TEXT == 1010 &&
                  IDC_PATH_PROMPT == 1009 && IDC_INSTALL_DIR == 1011 && IDC_STATUS == 1012 &&
                  IDC_OK == IDOK && IDC_CANCEL == 1014 && IDC_PROGRESS == 1005,
              "control IDs");
static_assert(IDD_PANEL == 1102 && IDB_BACKGROUND == 3000 && IDB_BUTTON_SKIN == 156 &&
                  IDI_APP == 1104,
              "resource IDs");

TEST(PanelTemplate, DialogHeader) {
    Template t;
    ASSERT_TRUE(parse_template(&t));
    EXPECT_EQ(t.title, "Install");
    EXPECT_EQ(t.typeface, "Verdana");
    EXPECT_EQ(t.point_size, 8);
    EXPECT_EQ(t.cx, 163);
    EXPECT_EQ(t.cy, 215);
    const uint32_t wanted = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER;
    EXPECT_EQ(t.style & wanted, wanted);
    EXPECT_EQ(t.style & WS_VISIBLE, 0u) << "the panel is shown by start-up, not at creation";
}

TEST(PanelTemplate, EveryControlAsTheLayoutGivesIt) {
    Template t;
    ASSERT_TRUE(parse_template(&t));
    ASSERT_EQ(t.items.size(), CONTROL_COUNT);
    for (size_t i = 0; i < CONTROL_COUNT; i++) {
        const Control& c = CONTROLS[i];
        SCOPED_TRACE("control " + std::to_string(c.id));
        const TemplateItem* item = NULL;
        for (const TemplateItem& candidate : t.items)
            if (candidate.id == c.id) item = &candidate;
        ASSERT_TRUE(item != NULL);
        EXPECT_EQ(item->x, c.x);
        EXPECT_EQ(item->y, c.y);
        EXPECT_EQ(item->cx, c.cx);
        EXPECT_EQ(item->cy, c.cy);
        EXPECT_EQ((item->style & WS_VISIBLE) != 0, c.visible);
        EXPECT_NE(item->style & WS_CHILD, 0u);
        EXPECT_EQ(item->title, c.text);
        switch (c.kind) {
        case OWNER_BUTTON:
            EXPECT_EQ(item->window_class, "button");
            EXPECT_EQ(item->style & BS_TYPEMASK, (uint32_t)BS_OWNERDRAW);
            break;
        case EDIT:
            EXPECT_EQ(item->window_class, "edit");
            EXPECT_NE(item->style & WS_BORDER, 0u);
            EXPECT_NE(item->style & ES_AUTOHSCROLL, 0u);
            break;
        case PROGRESS: EXPECT_EQ(item->window_class, "msctls_progress32"); break;
        }
    }
}

// ---- the panel, created -------------------------------------------------------

INT_PTR CALLBACK quiet_procedure(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

TEST(Panel, LoadsWithEveryControlInPlace) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
    HWND panel = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_PANEL),
                                    GetDesktopWindow(), quiet_procedure, 0);
    ASSERT_TRUE(panel != NULL) << "error " << GetLastError();
    EXPECT_FALSE(IsWindowVisible(panel));
    char title[64] = "";
    GetWindowTextA(panel, title, sizeof title);
    EXPECT_STREQ(title, "Install");

    // The panel's client area has room for the background picture.
    RECT size = {0, 0, 163, 215};
    ASSERT_TRUE(MapDialogRect(panel, &size));
    RECT client;
    GetClientRect(panel, &client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    for (size_t i = 0; i < CONTROL_COUNT; i++) {
        const Control& c = CONTROLS[i];
        SCOPED_TRACE("control " + std::to_string(c.id));
        HWND control = GetDlgItem(panel, c.id);
        ASSERT_TRUE(control != NULL);
        // The dialog manager maps position and size separately.
        RECT wanted = {c.x, c.y, c.cx, c.cy};
        MapDialogRect(panel, &wanted);
        wanted.right += wanted.left;
        wanted.bottom += wanted.top;
        RECT got;
        GetWindowRect(control, &got);
        MapWindowPoints(NULL, panel, (POINT*)&got, 2);
        EXPECT_EQ(got.left, wanted.left);
        EXPECT_EQ(got.top, wanted.top);
        EXPECT_EQ(got.right, wanted.right);
        EXPECT_EQ(got.bottom, wanted.bottom);
        EXPECT_EQ((GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0, c.visible);
        char class_name[64] = "";
        GetClassNameA(control, class_name, sizeof class_name);
        const char* wanted_class = c.kind == EDIT       ? "Edit"
                                   : c.kind == PROGRESS ? PROGRESS_CLASSA
                                                        : "Button";
        EXPECT_STRCASEEQ(class_name, wanted_class);
    }

    // Every control uses the dialog's font.
    HFONT font = (HFONT)SendMessageA(panel, WM_GETFONT, 0, 0);
    ASSERT_TRUE(font != NULL);
    LOGFONTA face;
    ASSERT_TRUE(GetObjectA(font, sizeof face, &face));
    EXPECT_STREQ(face.lfFaceName, "Verdana");
    EXPECT_EQ((HFONT)SendMessageA(GetDlgItem(panel, IDC_EXIT), WM_GETFONT, 0, 0), font);
    DestroyWindow(panel);
}

// ---- art --------------------------------------------------------------------

// The stored header of a bitmap resource: its size and depth as compiled.
const BITMAPINFOHEADER* bitmap_header(int id) {
    HRSRC found = FindResourceA(NULL, MAKEINTRESOURCEA(id), (LPCSTR)RT_BITMAP);
    if (!found) return NULL;
    return (const BITMAPINFOHEADER*)LockResource(LoadResource(NULL, found));
}

TEST(Art, BitmapsHaveTheirSizeAndDepth) {
    struct {
        int id;
        LONG width, height;
    } cases[] = {
        {IDB_BACKGROUND, 285, 349},
        {IDB_BUTTON_SKIN, 12, 36},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.id);
        const BITMAPINFOHEADER* header = bitmap_header(c.id);
        ASSERT_TRUE(header != NULL);
        EXPECT_EQ(header->biWidth, c.width);
        EXPECT_EQ(header->biHeight, c.height);
        EXPECT_EQ(header->biBitCount, 8);
        // Loaded the way the panel loads them: plainly, and as a DIB section.
        HBITMAP plain = (HBITMAP)LoadImageA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(c.id),
                                            IMAGE_BITMAP, 0, 0, 0);
        ASSERT_TRUE(plain != NULL);
        BITMAP info;
        GetObjectA(plain, sizeof info, &info);
        EXPECT_EQ(info.bmWidth, c.width);
        EXPECT_EQ(info.bmHeight, c.height);
        DeleteObject(plain);
        HBITMAP section = (HBITMAP)LoadImageA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(c.id),
                                              IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
        ASSERT_TRUE(section != NULL);
        DIBSECTION dib;
        ASSERT_EQ(GetObjectA(section, sizeof dib, &dib), (int)sizeof dib);
        EXPECT_EQ(dib.dsBmih.biBitCount, 8);
        DeleteObject(section);
    }
}

// The colour at (x, y) of an 8-bit bitmap resource, read from its palette.
COLORREF resource_pixel(const BITMAPINFOHEADER* header, int x, int y) {
    const RGBQUAD* palette = (const RGBQUAD*)((const uint8_t*)header + header->biSize);
    int colours = header->biClrUsed ? header->biClrUsed : 256;
    const uint8_t* bits = (const uint8_t*)(palette + colours);
    int stride = (header->biWidth + 3) & ~3;
    uint8_t index = bits[(header->biHeight - 1 - y) * stride + x];
    return RGB(palette[index].rgbRed, palette[index].rgbGreen, palette[index].rgbBlue);
}

int brightness(COLORREF c) { return GetRValue(c) + GetGValue(c) + GetBValue(c); }

TEST(Art, SkinStatesDifferAndCaptionsStayLegible) {
    const BITMAPINFOHEADER* skin = bitmap_header(IDB_BUTTON_SKIN);
    ASSERT_TRUE(skin != NULL);
    // Frames 0, 1, 2: normal, focused, pressed. Each pair differs clearly.
    for (int a = 0; a < 3; a++) {
        for (int b = a + 1; b < 3; b++) {
            int differing = 0;
            for (int y = 0; y < 12; y++)
                for (int x = 0; x < 12; x++)
                    differing +=
                        resource_pixel(skin, x, a * 12 + y) != resource_pixel(skin, x, b * 12 + y);
            EXPECT_GE(differing, 24) << "frames " << a << " and " << b;
        }
    }
    // The face under the caption: white text on normal and focused, text of
    // RGB(10,10,10) on pressed.
    EXPECT_LT(brightness(resource_pixel(skin, 6, 6)), 3 * 80);
    EXPECT_LT(brightness(resource_pixel(skin, 6, 18)), 3 * 80);
    EXPECT_GT(brightness(resource_pixel(skin, 6, 30)), 3 * 160);
}

// The panel's real skin, loaded as the panel loads it and drawn by the skin
// code onto a panel-sized button: each state shows its own frame.
TEST(Art, SkinDrawsThePanelButtonFaces) {
    const BITMAPINFOHEADER* stored = bitmap_header(IDB_BUTTON_SKIN);
    ASSERT_TRUE(stored != NULL);
    HBITMAP skin = (HBITMAP)LoadImageA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDB_BUTTON_SKIN),
                                       IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
    ASSERT_TRUE(skin != NULL);
    HWND parent =
        CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 100, NULL, NULL, NULL, NULL);
    HWND button = CreateWindowExA(0, "BUTTON", "", WS_CHILD | BS_OWNERDRAW, 0, 0, 150, 21, parent,
                                  (HMENU)(INT_PTR)IDC_EXIT, NULL, NULL);
    ASSERT_TRUE(button != NULL);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, 160, -32, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    uint32_t* bits = NULL;
    HBITMAP canvas = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, (void**)&bits, NULL, 0);
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ old = SelectObject(dc, canvas);
    // DIB pixels are 0x00RRGGBB; the resource's palette gives COLORREFs.
    auto at = [&](int x, int y) {
        uint32_t p = bits[y * 160 + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    };
    struct {
        UINT state;
        int slice;
    } cases[] = {
        {0, 0},
        {ODS_FOCUS, 1},
        {ODS_SELECTED, 2},
        {ODS_SELECTED | ODS_FOCUS, 2},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.state);
        DRAWITEMSTRUCT item = {ODT_BUTTON, IDC_EXIT,        0, ODA_DRAWENTIRE, c.state, button,
                               dc,         {0, 0, 150, 21}, 0};
        EXPECT_TRUE(WINSKIN_draw_windows_button(parent, &item, 4, skin));
        GdiFlush();
        int top = c.slice * 12;
        EXPECT_EQ(at(0, 0), resource_pixel(stored, 0, top));
        EXPECT_EQ(at(149, 20), resource_pixel(stored, 11, top + 11));
        EXPECT_EQ(at(2, 10), resource_pixel(stored, 2, top + 4 + (10 - 4) % 4));
        EXPECT_EQ(at(75, 10), resource_pixel(stored, 4 + (75 - 4) % 4, top + 4 + (10 - 4) % 4));
        EXPECT_EQ(at(75, 1), resource_pixel(stored, 4 + (75 - 4) % 4, top + 1));
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(canvas);
    DestroyWindow(parent);
    DeleteObject(skin);
}

TEST(Art, BackgroundIsDarkUnderTheButtonColumn) {
    const BITMAPINFOHEADER* background = bitmap_header(IDB_BACKGROUND);
    ASSERT_TRUE(background != NULL);
    long total = 0, count = 0;
    for (int y = 215; y < 349; y += 3)
        for (int x = 0; x < 285; x += 3) {
            total += brightness(resource_pixel(background, x, y));
            count++;
        }
    EXPECT_LT(total / count, 3 * 40);
}

TEST(Art, IconLoads) {
    HICON icon = LoadIconA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_APP));
    ASSERT_TRUE(icon != NULL);
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colour;
    GetObjectA(info.hbmColor, sizeof colour, &colour);
    EXPECT_EQ(colour.bmWidth, GetSystemMetrics(SM_CXICON));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
}

// ---- strings ------------------------------------------------------------------

TEST(Strings, EveryIdGivesItsText) {
    struct {
        UINT id;
        const char* text;
    } table[] = {
        {1, "Play Tarnholm"},
        {2, "Install Tarnholm"},
        {3, "Remove Tarnholm"},
        {4, "Read Help file"},
        {5, "Exit Setup"},
        {10, "Install Direct X"},
        {11, "Installing, please wait..."},
        {12, "Removing, please wait ..."},
        {14, "Please type in your Install Directory"},
        {20, "Question!"},
        {22, "Tarnholm"},
        {25, "Warning!"},
        {26, "Error!"},
        {27, "Sorry this is not a Valid directory, please select another."},
        {28, "Error opening key, please try again."},
        {29, "Error opening file :"},
        {30, "Failed to create file Link."},
        {31, "Failed to create Webpage link."},
        {32, "Information"},
        {35, "Unable to write to file:"},
        {36, "Do you want to delete this dir"},
        {38, "Uninstall complete"},
        {39, "Are you sure?"},
        {46, "Tarnholm Vesk"},
    };
    for (auto& entry : table) {
        char text[512];
        memset(text, 'x', sizeof text);
        int length = LoadStringA(GetModuleHandleA(NULL), entry.id, text, sizeof text);
        EXPECT_EQ(length, (int)strlen(entry.text)) << "string " << entry.id;
        EXPECT_STREQ(text, entry.text) << "string " << entry.id;
    }
    // The names the code uses.
    static_assert(IDS_PLAY == 1 && IDS_INSTALL == 2 && IDS_REMOVE == 3 && IDS_READ_HELP == 4 &&
                      IDS_EXIT_SETUP == 5 && IDS_INSTALL_DIRECTX == 10 && IDS_INSTALLING == 11 &&
                      IDS_REMOVING == 12 && IDS_TYPE_INSTALL_DIR == 14 && IDS_QUESTION == 20 &&
                      IDS_DIRECTORY_NAME == 22 && IDS_WARNING == 25 && IDS_ERROR == 26 &&
                      IDS_NOT_VALID_DIRECTORY == 27 && IDS_ERROR_OPENING_KEY == 28 &&
                      IDS_ERROR_OPENING_FILE == 29 && IDS_LINK_FAILED == 30 &&
                      IDS_WEBPAGE_LINK_FAILED == 31 && IDS_INFORMATION == 32 &&
                      IDS_UNABLE_TO_WRITE == 35 && IDS_DELETE_DIRECTORY == 36 &&
                      IDS_UNINSTALL_COMPLETE == 38 && IDS_ARE_YOU_SURE == 39 &&
                      IDS_PRODUCT_NAME == 46,
                  "string IDs");
}

// ---- manifest and version -------------------------------------------------------

TEST(Manifest, RequestsAdministratorRights) {
    HRSRC found = FindResourceA(NULL, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));  // RT_MANIFEST
    ASSERT_TRUE(found != NULL);
    const char* text = (const char*)LockResource(LoadResource(NULL, found));
    std::string manifest(text, SizeofResource(NULL, found));
    EXPECT_NE(manifest.find("level=\"requireAdministrator\""), std::string::npos);
}

TEST(Version, NamesTheProductAndVersion) {
    char path[MAX_PATH];
    ASSERT_GT(GetModuleFileNameA(NULL, path, sizeof path), 0u);
    DWORD ignored;
    DWORD size = GetFileVersionInfoSizeA(path, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, block.data()));
    VS_FIXEDFILEINFO* fixed;
    UINT length;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", (void**)&fixed, &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
    char* product;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\StringFileInfo\\040904E4\\ProductName",
                               (void**)&product, &length));
    EXPECT_STREQ(product, "Tarnholm Vesk");
}

}  // namespace
