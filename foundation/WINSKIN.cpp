// WINSKIN: skinned faces for owner-drawn push buttons, cut from a three-slice
// skin bitmap into nine pieces and tiled.
#include "WINSKIN.h"
#include "qbug.h"

// One piece of the nine: where it goes and where it comes from in the skin.
struct WINSKIN_PIECE {
    int32_t x, y, width, height;  // target
    int32_t x1, y1, x2, y2;       // source, x2 and y2 excluded
};

// Copies one piece as uncut tiles of the source's size, or of the target's
// size where that is smaller, all taken from the source's top-left corner.
static void winskin_tile_piece(HDC target, HDC source, const WINSKIN_PIECE* piece) {
    QBUG_ENTER("winskin_tile_piece");
    int32_t source_width = piece->x2 - piece->x1;
    int32_t source_height = piece->y2 - piece->y1;
    int32_t tile_width = piece->width <= source_width ? piece->width : source_width;
    int32_t tile_height = piece->height <= source_height ? piece->height : source_height;
    for (int32_t y = 0; y < piece->height; y += tile_height) {
        for (int32_t x = 0; x < piece->width; x += tile_width) {
            BitBlt(target, piece->x + x, piece->y + y, tile_width, tile_height, source, piece->x1,
                   piece->y1, SRCCOPY);
        }
    }
    QBUG_LEAVE("winskin_tile_piece");
}

void winskin_draw_rectangle(HDC target, HDC source, HBITMAP skin, int32_t left, int32_t top,
                            int32_t right, int32_t bottom, int32_t slice_top, int32_t border,
                            int32_t inner_width, int32_t inner_height, uint8_t stretch) {
    QBUG_ENTER("winskin_draw_rectangle");
    (void)skin;  // already selected into source
    const int32_t b = border, iw = inner_width, ih = inner_height, sy = slice_top;
    const int32_t L = left, T = top, R = right, B = bottom;
    // Corners first, then edges, then the centre: each later piece covers
    // the overhang of the one before.
    const WINSKIN_PIECE pieces[9] = {
        {L, T, b, b, 0, sy, b, sy + b},                                             // top-left
        {R - b, T, b, b, b + iw, sy, 2 * b + iw, sy + b},                           // top-right
        {L, B - b, b, b, 0, sy + b + ih, b, sy + 2 * b + ih},                       // bottom-left
        {R - b, B - b, b, b, b + iw, sy + b + ih, 2 * b + iw, sy + 2 * b + ih},     // bottom-right
        {L + b, T, R - L - 2 * b, b, b, sy, b + iw, sy + b},                        // top edge
        {L + b, B - b, R - L - 2 * b, b, b, sy + b + ih, b + iw, sy + 2 * b + ih},  // bottom edge
        {L, T + b, b, B - T - 2 * b, 0, sy + b, b, sy + b + ih},                    // left edge
        {R - b, T + b, b, B - T - 2 * b, b + iw, sy + b, 2 * b + iw, sy + b + ih},  // right edge
        {L + b, T + b, R - L - 2 * b, B - T - 2 * b, b, sy + b, b + iw, sy + b + ih},  // centre
    };
    for (int i = 0; i < 9; i++) {
        const WINSKIN_PIECE* piece = &pieces[i];
        // A button smaller than two borders, or a border wider than half the
        // slice, leaves pieces without area; tiling an empty source would
        // never advance.
        if (piece->width <= 0 || piece->height <= 0 || piece->x2 <= piece->x1 ||
            piece->y2 <= piece->y1) {
            continue;
        }
        if (stretch == 1) {
            if (!StretchBlt(target, piece->x, piece->y, piece->width, piece->height, source,
                            piece->x1, piece->y1, piece->x2 - piece->x1, piece->y2 - piece->y1,
                            SRCCOPY)) {
                QBUG_TRACE("BitBlt FAILED");
            }
        } else {
            winskin_tile_piece(target, source, piece);
        }
    }
    QBUG_LEAVE("winskin_draw_rectangle");
}

bool WINSKIN_draw_windows_button(HWND dialog, const DRAWITEMSTRUCT* item, int32_t border,
                                 HBITMAP skin) {
    QBUG_ENTER("WINSKIN_draw_windows_button");
    BITMAP info;
    if (GetObjectA(skin, sizeof info, &info) != (int)sizeof info) {
        info.bmWidth = 0;
        info.bmHeight = 0;
    }
    const int32_t slice_height = info.bmHeight / 3;
    const int32_t inner_width = info.bmWidth - 2 * border;
    const int32_t inner_height = slice_height - 2 * border;

    RECT face = {0, 0, 0, 0};
    GetClientRect(GetDlgItem(dialog, (int)item->CtlID), &face);

    HDC source = CreateCompatibleDC(item->hDC);
    if (source == NULL) {
        QBUG_TRACE("CreateCompatibleDC FAILED");
    }
    HGDIOBJ previous = SelectObject(source, skin);

    int32_t slice_top = 0;
    if (item->itemState & ODS_SELECTED) {
        slice_top = 2 * slice_height;
    } else if (item->itemState & ODS_FOCUS) {
        slice_top = slice_height;
    }
    winskin_draw_rectangle(item->hDC, source, skin, face.left, face.top, face.right, face.bottom,
                           slice_top, border, inner_width, inner_height, 0);

    if (source != NULL) {
        if (previous != NULL && previous != HGDI_ERROR) SelectObject(source, previous);
        DeleteDC(source);
    }
    QBUG_LEAVE("WINSKIN_draw_windows_button");
    return true;
}
