// WINSKIN: skinned faces for owner-drawn push buttons.
//
// A skin bitmap holds three equal slices stacked top to bottom: normal,
// focused, pressed (slice height = bitmap height / 3, rounded down). A slice
// is cut into nine pieces by a border of b pixels: four b x b corners drawn
// as they are, four edges repeated along their length and a centre repeated
// both ways. Tiles are never cut: the last tile of a row or column is copied
// whole and overhangs into the next piece (which, drawn later, covers it) or
// past the face, where the button's own clipping ends it.
#ifndef WINSKIN_H
#define WINSKIN_H

#include <stdint.h>
#include <windows.h>

// Paints the face of the dialog control item->CtlID over its whole client
// rectangle on item->hDC: the pressed slice when the item state has
// ODS_SELECTED, else the focused one with ODS_FOCUS, else the normal one.
// border is b. Draws only the face (no background, no caption) and always
// returns true; drawing failures only reach the diagnostics trace.
bool WINSKIN_draw_windows_button(HWND dialog, const DRAWITEMSTRUCT* item, int32_t border,
                                 HBITMAP skin);

// Draws one slice (top row slice_top; inner part inner_width x inner_height)
// from source, a memory context holding skin, over left, top, right, bottom
// of target: tiled, or with stretch 1 each piece stretched over its target.
// A piece with an empty target or an empty source is skipped.
void winskin_draw_rectangle(HDC target, HDC source, HBITMAP skin, int32_t left, int32_t top,
                            int32_t right, int32_t bottom, int32_t slice_top, int32_t border,
                            int32_t inner_width, int32_t inner_height, uint8_t stretch);

#endif
