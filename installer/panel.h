// The panel: the installer's only window, a modeless dialog with a painted
// background, owner-drawn skinned buttons and labels, the install-directory
// edit control and a progress bar; one function per screen.
#ifndef PANEL_H
#define PANEL_H

#include <windows.h>

INT_PTR CALLBACK panel_procedure(HWND window, UINT message, WPARAM first, LPARAM second);

// Loads bitmaps 3000 and 156, replacing a pair loaded before.
void load_skin_bitmaps(void);

void show_not_installed_screen(void);
void show_installed_screen(void);
void show_remove_screen(void);
void show_path_screen(void);
void show_working_screen(void);

// The control id of the panel, or NULL when it has none. Found once for each
// panel and kept: every lookup by id asks the window server for all the
// panel's children, which long work would do for every file.
HWND panel_control(int id);

// The working text of the working screen (label 1010).
void set_working_text(const char* text);

void paint_background(HWND window);
void draw_panel_item(HWND window, const DRAWITEMSTRUCT* item);
// Shows the system's text for the calling thread's last error.
void show_last_error(void);

#endif
