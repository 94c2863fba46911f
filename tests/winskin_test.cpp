// Skinned buttons drawn into a DIB section and compared pixel for pixel with
// a reference model: every pixel of a tiled piece repeats its source modulo
// the tile size, over whole tiles, pieces painted in table order.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "WINSKIN.h"
#include "qbug.h"

namespace {

const uint32_t SENTINEL = 0x00FF00FF;  // never a skin colour (skin blue is 0x55)
const int CONTROL_ID = 1234;

// A 32-bit top-down DIB section with its pixels at hand.
struct Dib {
    HBITMAP bitmap = NULL;
    uint32_t* bits = NULL;
    int width = 0, height = 0;
};

Dib make_dib(int width, int height) {
    Dib dib;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    dib.bitmap = CreateDIBSection(NULL, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    dib.bits = (uint32_t*)bits;
    dib.width = width;
    dib.height = height;
    return dib;
}

// Every skin pixel has its own colour: red x + 1, green y + 1.
uint32_t skin_colour(int x, int y) { return (uint32_t)((x + 1) << 16 | (y + 1) << 8 | 0x55); }

Dib make_skin(int width, int height) {
    Dib skin = make_dib(width, height);
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) skin.bits[y * width + x] = skin_colour(x, y);
    return skin;
}

// ---- the reference model ------------------------------------------------------------

struct Image {
    int width, height;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[y * width + x]; }
};

Image blank(int width, int height) {
    return Image{width, height, std::vector<uint32_t>(width * height, SENTINEL)};
}

// One piece: target x, y, w, h; source x1, y1, x2, y2. Tiles are min(w, sw)
// by min(h, sh) and whole, so the covered area is rounded up to full tiles.
void model_piece(Image* image, const int p[8], bool stretch) {
    int x = p[0], y = p[1], w = p[2], h = p[3], x1 = p[4], y1 = p[5];
    int sw = p[6] - p[4], sh = p[7] - p[5];
    if (w <= 0 || h <= 0 || sw <= 0 || sh <= 0) return;
    int tw = w < sw ? w : sw, th = h < sh ? h : sh;
    int covered_w = stretch ? w : (w + tw - 1) / tw * tw;
    int covered_h = stretch ? h : (h + th - 1) / th * th;
    for (int dy = 0; dy < covered_h; dy++) {
        for (int dx = 0; dx < covered_w; dx++) {
            int tx = x + dx, ty = y + dy;
            if (tx < 0 || ty < 0 || tx >= image->width || ty >= image->height) continue;
            int sx = stretch ? x1 + dx * sw / w : x1 + dx % tw;
            int sy = stretch ? y1 + dy * sh / h : y1 + dy % th;
            image->pixels[ty * image->width + tx] = skin_colour(sx, sy);
        }
    }
}

void model_face(Image* image, int L, int T, int R, int B, int sy, int b, int iw, int ih,
                bool stretch) {
    const int pieces[9][8] = {
        {L, T, b, b, 0, sy, b, sy + b},
        {R - b, T, b, b, b + iw, sy, 2 * b + iw, sy + b},
        {L, B - b, b, b, 0, sy + b + ih, b, sy + 2 * b + ih},
        {R - b, B - b, b, b, b + iw, sy + b + ih, 2 * b + iw, sy + 2 * b + ih},
        {L + b, T, R - L - 2 * b, b, b, sy, b + iw, sy + b},
        {L + b, B - b, R - L - 2 * b, b, b, sy + b + ih, b + iw, sy + 2 * b + ih},
        {L, T + b, b, B - T - 2 * b, 0, sy + b, b, sy + b + ih},
        {R - b, T + b, b, B - T - 2 * b, b + iw, sy + b, 2 * b + iw, sy + b + ih},
        {L + b, T + b, R - L - 2 * b, B - T - 2 * b, b, sy + b, b + iw, sy + b + ih},
    };
    for (auto& piece : pieces) model_piece(image, piece, stretch);
}

// ---- drawing a real owner-drawn button ----------------------------------------------

class Skin : public ::testing::Test {
protected:
    void SetUp() override {
        parent = CreateWindowExA(0, "STATIC", "panel", WS_POPUP, 0, 0, 400, 200, NULL, NULL,
                                 GetModuleHandleA(NULL), NULL);
        ASSERT_TRUE(parent != NULL);
    }
    void TearDown() override { DestroyWindow(parent); }

    // Draws the face of a button_width x button_height button with the given
    // state onto a canvas with room for the overhang, and returns the canvas.
    Image draw(const Dib& skin, int border, int button_width, int button_height, UINT state) {
        HWND button = CreateWindowExA(0, "BUTTON", "", WS_CHILD | BS_OWNERDRAW, 0, 0, button_width,
                                      button_height, parent, (HMENU)(INT_PTR)CONTROL_ID,
                                      GetModuleHandleA(NULL), NULL);
        EXPECT_TRUE(button != NULL);
        Dib canvas = make_dib(button_width + skin.width + 8, button_height + skin.height + 8);
        for (int i = 0; i < canvas.width * canvas.height; i++) canvas.bits[i] = SENTINEL;
        HDC dc = CreateCompatibleDC(NULL);
        HGDIOBJ old = SelectObject(dc, canvas.bitmap);
        DRAWITEMSTRUCT item = {
            ODT_BUTTON, (UINT)CONTROL_ID, 0,  ODA_DRAWENTIRE,
            state,      button,           dc, {0, 0, button_width, button_height},
            0};
        EXPECT_TRUE(WINSKIN_draw_windows_button(parent, &item, border, skin.bitmap));
        GdiFlush();
        Image image{canvas.width, canvas.height,
                    std::vector<uint32_t>(canvas.bits, canvas.bits + canvas.width * canvas.height)};
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(canvas.bitmap);
        DestroyWindow(button);
        return image;
    }

    // The model of the same drawing.
    static Image expected(const Dib& skin, int border, int button_width, int button_height,
                          UINT state) {
        Image image = blank(button_width + skin.width + 8, button_height + skin.height + 8);
        int h = skin.height / 3;
        int sy = (state & ODS_SELECTED) ? 2 * h : (state & ODS_FOCUS) ? h : 0;
        model_face(&image, 0, 0, button_width, button_height, sy, border, skin.width - 2 * border,
                   h - 2 * border, false);
        return image;
    }

    HWND parent = NULL;
};

// The first differing pixel, or "" when the images are equal.
std::string difference(const Image& got, const Image& wanted) {
    for (int y = 0; y < wanted.height; y++)
        for (int x = 0; x < wanted.width; x++)
            if (got.at(x, y) != wanted.at(x, y)) {
                char text[96];
                snprintf(text, sizeof text, "at %d,%d: got %06X, wanted %06X", x, y,
                         got.at(x, y) & 0xFFFFFF, wanted.at(x, y) & 0xFFFFFF);
                return text;
            }
    return "";
}

TEST_F(Skin, ButtonsOfManySizesMatchTheModel) {
    struct {
        int skin_width, skin_height, border, width, height;
    } cases[] = {
        {30, 60, 4, 30, 20},   // exactly one slice
        {30, 60, 4, 60, 20},   // twice as wide: edges and centre in several tiles
        {30, 60, 4, 30, 47},   // taller: left, right edges and centre repeat down
        {30, 60, 4, 101, 53},  // both ways, with overhang past the face
        {30, 61, 4, 45, 25},   // height not divisible by 3
        {12, 36, 4, 150, 20},  // the panel's skin on a panel-sized button
        {12, 36, 4, 259, 21}, {12, 36, 4, 8, 8},  // no edges, no centre
        {12, 36, 4, 6, 5},                        // smaller than two borders: corners overlap
        {12, 36, 7, 40, 20},                      // border over half the slice: no inner part
        {8, 36, 4, 40, 20},                       // no inner width
        {12, 36, 0, 30, 20},                      // no border: all centre
    };
    const UINT states[] = {0, ODS_FOCUS, ODS_SELECTED, ODS_SELECTED | ODS_FOCUS, ODS_DISABLED};
    for (auto& c : cases) {
        Dib skin = make_skin(c.skin_width, c.skin_height);
        for (UINT state : states) {
            SCOPED_TRACE(std::to_string(c.skin_width) + "x" + std::to_string(c.skin_height) + " b" +
                         std::to_string(c.border) + " button " + std::to_string(c.width) + "x" +
                         std::to_string(c.height) + " state " + std::to_string(state));
            Image got = draw(skin, c.border, c.width, c.height, state);
            EXPECT_EQ(difference(got, expected(skin, c.border, c.width, c.height, state)), "");
        }
        DeleteObject(skin.bitmap);
    }
}

// A button the size of a slice shows the slice itself; pressed wins over
// focused, and a 60-pixel skin's pressed face is rows 40 to 59.
TEST_F(Skin, SliceSizedButtonShowsItsSlice) {
    Dib skin = make_skin(30, 60);
    struct {
        UINT state;
        int first_row;
    } cases[] = {
        {0, 0},
        {ODS_FOCUS, 20},
        {ODS_SELECTED, 40},
        {ODS_SELECTED | ODS_FOCUS, 40},
        {ODS_DISABLED, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.state);
        Image got = draw(skin, 4, 30, 20, c.state);
        for (int y = 0; y < 20; y++)
            for (int x = 0; x < 30; x++)
                ASSERT_EQ(got.at(x, y), skin_colour(x, c.first_row + y)) << x << "," << y;
        EXPECT_EQ(got.at(30, 0), SENTINEL);
        EXPECT_EQ(got.at(0, 20), SENTINEL);
    }
    DeleteObject(skin.bitmap);
}

TEST_F(Skin, RowsPastTheThirdSliceAreNeverUsed) {
    Dib skin = make_skin(30, 61);
    for (UINT state : {0u, (UINT)ODS_FOCUS, (UINT)ODS_SELECTED}) {
        Image got = draw(skin, 4, 77, 41, state);
        for (uint32_t pixel : got.pixels) ASSERT_NE((pixel >> 8) & 0xFF, 61u) << "row 60 drawn";
    }
    DeleteObject(skin.bitmap);
}

// The panel's case: 4 x 4 pieces; a 150-pixel top edge of 142 pixels is 36
// tiles, the last one covering the top-right corner's two leftmost columns.
TEST_F(Skin, PanelSkinTopEdgeOverhangsIntoTheCorner) {
    Dib skin = make_skin(12, 36);
    Image got = draw(skin, 4, 150, 20, 0);
    for (int y = 0; y < 4; y++) {
        for (int x = 4; x < 148; x++)
            EXPECT_EQ(got.at(x, y), skin_colour(4 + x % 4, y)) << x << "," << y;
        EXPECT_EQ(got.at(148, y), skin_colour(10, y));
        EXPECT_EQ(got.at(149, y), skin_colour(11, y));
        EXPECT_EQ(got.at(0, y), skin_colour(0, y));
        EXPECT_EQ(got.at(3, y), skin_colour(3, y));
    }
    DeleteObject(skin.bitmap);
}

// ---- the stretch variant, through the drawing step itself ----------------------------

TEST(SkinStretch, PiecesAreStretchedOverTheirTargets) {
    struct {
        int skin_width, skin_height, border, left, top, right, bottom, slice;
    } cases[] = {
        {12, 36, 4, 0, 0, 24, 28, 0},   // edges and centre scaled by whole factors
        {12, 36, 4, 5, 3, 37, 31, 24},  // offset target, pressed slice
        {12, 36, 2, 0, 0, 12, 12, 12},  // slice size: a plain copy
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.right) + "x" + std::to_string(c.bottom));
        Dib skin = make_skin(c.skin_width, c.skin_height);
        Dib canvas = make_dib(64, 64);
        for (int i = 0; i < 64 * 64; i++) canvas.bits[i] = SENTINEL;
        HDC target = CreateCompatibleDC(NULL);
        HDC source = CreateCompatibleDC(NULL);
        HGDIOBJ old_target = SelectObject(target, canvas.bitmap);
        HGDIOBJ old_source = SelectObject(source, skin.bitmap);
        int h = c.skin_height / 3;
        winskin_draw_rectangle(target, source, skin.bitmap, c.left, c.top, c.right, c.bottom,
                               c.slice, c.border, c.skin_width - 2 * c.border, h - 2 * c.border, 1);
        GdiFlush();
        Image got{64, 64, std::vector<uint32_t>(canvas.bits, canvas.bits + 64 * 64)};
        Image wanted = blank(64, 64);
        model_face(&wanted, c.left, c.top, c.right, c.bottom, c.slice, c.border,
                   c.skin_width - 2 * c.border, h - 2 * c.border, true);
        EXPECT_EQ(difference(got, wanted), "");
        SelectObject(target, old_target);
        SelectObject(source, old_source);
        DeleteDC(target);
        DeleteDC(source);
        DeleteObject(canvas.bitmap);
        DeleteObject(skin.bitmap);
    }
}

// ---- trace lines and the calling convention ---------------------------------------------

std::string read_file(const char* name) {
    std::string text;
    FILE* file = fopen(name, "r");
    if (file == NULL) return "<missing>";
    char line[512];
    while (fgets(line, sizeof line, file)) text += line;
    fclose(file);
    return text;
}

TEST_F(Skin, FailuresGoToTheTraceAndTheCallStackStaysBalanced) {
    const char* develop = "winskin.develop.dbg";
    QBUG_deinitialise();
    QBUG_set_develop_file(develop);
    ASSERT_TRUE(
        QBUG_initialise(0, 32, 4, QBUG_FLAG_TRACE | QBUG_FLAG_CALLSTACK, QBUG_OUT_DEVELOP_FILE));
    QBUG_enter("outer", "winskin_test.cpp", 1);

    // No device context to be compatible with.
    Dib skin = make_skin(12, 36);
    HWND button = CreateWindowExA(0, "BUTTON", "", WS_CHILD | BS_OWNERDRAW, 0, 0, 40, 20, parent,
                                  (HMENU)(INT_PTR)CONTROL_ID, GetModuleHandleA(NULL), NULL);
    DRAWITEMSTRUCT item = {ODT_BUTTON,
                           (UINT)CONTROL_ID,
                           0,
                           ODA_DRAWENTIRE,
                           0,
                           button,
                           (HDC)(INT_PTR)0x7DC0DE,
                           {0, 0, 40, 20},
                           0};
    EXPECT_TRUE(WINSKIN_draw_windows_button(parent, &item, 4, skin.bitmap));
    // A stretch from no source: all nine pieces fail.
    Dib canvas = make_dib(40, 20);
    HDC target = CreateCompatibleDC(NULL);
    HGDIOBJ old = SelectObject(target, canvas.bitmap);
    winskin_draw_rectangle(target, (HDC)(INT_PTR)0x7DC0DE, skin.bitmap, 0, 0, 40, 20, 0, 4, 4, 4,
                           1);
    // A face drawn without failures writes nothing.
    item.hDC = target;
    EXPECT_TRUE(WINSKIN_draw_windows_button(parent, &item, 4, skin.bitmap));
    SelectObject(target, old);
    DeleteDC(target);
    DeleteObject(canvas.bitmap);
    DeleteObject(skin.bitmap);
    DestroyWindow(button);

    QBUG_dump_callstack();
    QBUG_deinitialise();
    std::string text = read_file(develop);
    size_t first = text.find("] CreateCompatibleDC FAILED\n");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.substr(first - 15, 10), "[ WINSKIN,");
    size_t count = 0;
    for (size_t at = text.find("] BitBlt FAILED\n"); at != std::string::npos;
         at = text.find("] BitBlt FAILED\n", at + 1))
        count++;
    EXPECT_EQ(count, 9u) << text;
    EXPECT_NE(text.find("Function: outer"), std::string::npos) << text;
    EXPECT_EQ(text.find("Function: WINSKIN"), std::string::npos) << text;
    EXPECT_EQ(text.find("Function: winskin"), std::string::npos) << text;
}

}  // namespace
