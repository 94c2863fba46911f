// Skinned button faces, drawn by the library into a DIB section and compared
// pixel for pixel with a model built from the geometry alone. Every library
// call of a case must leave the call stack as it found it.
#include <gtest/gtest.h>
#include <windows.h>
#include <algorithm>
#include <string>

#include "WINSKIN.h"
#include "qbug.h"
#include "support.h"

static const uint32_t SENTINEL = 0x00FF00FF;  // never a skin colour, whose blue is 0x55

// A 32-bit top-down DIB section.
static HBITMAP dib(int width, int height, uint32_t** bits) {
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0}};
    return CreateDIBSection(NULL, &info, DIB_RGB_COLORS, (void**)bits, NULL, 0);
}

// Every skin pixel has a colour of its own.
static uint32_t colour(int x, int y) { return (uint32_t)((x + 1) << 16 | (y + 1) << 8 | 0x55); }

// The model, one axis at a time: where position p of a face n long takes its
// pixel from in the slice, or -1. The border of b pixels at each end is
// copied as it is, the far one over the near one; the inner part repeats
// from b on in whole tiles of its size (or of the room, when that is
// smaller), the last one overhanging whatever lies beyond, and covers both.
static int source(int p, int n, int b, int inner) {
    int room = n - 2 * b, tile = std::min(room, inner);
    if (room > 0 && inner > 0 && p >= b && p < b + (room + tile - 1) / tile * tile)
        return b + (p - b) % tile;
    if (p >= n - b && p < n) return p - (n - b) + b + inner;
    return p >= 0 && p < b ? p : -1;
}

// A button (control 77) on a panel, and a canvas with room around it for any
// overhang, in a memory context.
static const int WIDTH = 200, HEIGHT = 130;

struct Skin : ::testing::Test {
    void SetUp() override {
        parent = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 400, 200, NULL, NULL, NULL, NULL);
        button = CreateWindowA("BUTTON", "", WS_CHILD | BS_OWNERDRAW, 0, 0, 40, 20, parent,
                               (HMENU)77, NULL, NULL);
        SelectObject(dc, dib(WIDTH, HEIGHT, &bits));
        callstack_begin("winskin.develop.dbg", QBUG_FLAG_TRACE);
    }
    void TearDown() override { EXPECT_EQ(callstack_end(), ""); }
    bool draw(UINT state, int border, HBITMAP skin, HDC on = NULL) {
        DRAWITEMSTRUCT item = {ODT_BUTTON, 77, 0, ODA_DRAWENTIRE, state, button, dc, {}, 0};
        if (on != NULL) item.hDC = on;
        return WINSKIN_draw_windows_button(parent, &item, border, skin);
    }
    HWND parent, button;
    HDC dc = CreateCompatibleDC(NULL);
    uint32_t* bits;
};

TEST_F(Skin, FacesMatchTheModelInEveryState) {
    // clang-format off
    const struct { int skin_width, skin_height, border, width, height; } rows[] = {
        {30, 60, 4, 30, 20},   // one slice: nine single copies
        {30, 60, 4, 97, 57},   // tiled both ways, a last tile of one pixel
        {30, 61, 4, 45, 25},   // the last row is never used
        {30, 60, 4, 25, 15},   // narrower than the skin
        {12, 36, 4, 150, 20},  // the panel's: the top edge's 36th tile covers part of a corner
        {12, 36, 4, 6, 5},     // smaller than two borders
        {12, 36, 7, 40, 20},   // a border over half the slice
        {12, 36, 0, 30, 20},   // no border
    };
    // clang-format on
    const UINT states[] = {0, ODS_FOCUS, ODS_SELECTED, ODS_SELECTED | ODS_FOCUS, ODS_DISABLED};
    const int slices[] = {0, 1, 2, 2, 0};  // normal, focused, pressed
    for (auto& row : rows) {
        uint32_t* skin_bits;
        HBITMAP skin = dib(row.skin_width, row.skin_height, &skin_bits);
        for (int i = 0; i < row.skin_width * row.skin_height; i++)
            skin_bits[i] = colour(i % row.skin_width, i / row.skin_width);
        MoveWindow(button, 0, 0, row.width, row.height, FALSE);
        const int h = row.skin_height / 3, b = row.border;
        for (int s = 0; s < 5; s++) {
            SCOPED_TRACE(testing::Message() << "row " << &row - rows << ", state " << states[s]);
            std::fill(bits, bits + WIDTH * HEIGHT, SENTINEL);
            EXPECT_TRUE(draw(states[s], b, skin));
            GdiFlush();
            int first_wrong = -1;
            for (int i = WIDTH * HEIGHT - 1; i >= 0; i--) {
                int sx = source(i % WIDTH, row.width, b, row.skin_width - 2 * b);
                int sy = source(i / WIDTH, row.height, b, h - 2 * b);
                if (bits[i] != (sx < 0 || sy < 0 ? SENTINEL : colour(sx, slices[s] * h + sy)))
                    first_wrong = i;
            }
            EXPECT_EQ(first_wrong, -1) << first_wrong % WIDTH << "," << first_wrong / WIDTH;
        }
        DeleteObject(skin);
    }
}

// Drawing failures reach only the trace: no context to be compatible with,
// then all nine stretched pieces from no source.
TEST_F(Skin, FailuresGoToTheTrace) {
    uint32_t* skin_bits;
    HBITMAP skin = dib(12, 36, &skin_bits);
    HDC bad = (HDC)(INT_PTR)0x7DC0DE;
    EXPECT_TRUE(draw(0, 4, skin, bad));
    winskin_draw_rectangle(dc, bad, skin, 0, 0, 40, 20, 0, 4, 4, 4, 1);
    DeleteObject(skin);
    std::vector<std::string> lines = debug_lines("winskin.develop.dbg");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "WINSKIN: CreateCompatibleDC FAILED"), 1);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "WINSKIN: BitBlt FAILED"), 9);
}
