// DRIVER: drives a Win32 program of another process the way a user would.
// Start it, find its windows by title, reach controls by id, click, type,
// answer message boxes, read texts, states and pixels, and wait for it to
// end. Every wait takes a timeout; a process that outlives its test is
// killed.
#ifndef DRIVER_H
#define DRIVER_H

#include <windows.h>
#include <stdint.h>

#include "product.h"

// The installer as the build lays it out, seen from the test machine
// (drive Y: is the build directory).
#define DRIVER_PATCH_FOLDER "Y:\\patch"
#define DRIVER_INSTALLER    DRIVER_PATCH_FOLDER "\\tarnholm_patch.exe"

// Default timeout of a wait for a window, a box or an exit.
#define DRIVER_TIMEOUT_MS 15000

struct DRIVER_PROCESS {
    PROCESS_INFORMATION information;
    bool started;
};

// ---- Processes -------------------------------------------------------------

// Starts program with the command line "\"program\" arguments" (program
// alone when arguments is NULL) in directory. False when the process could
// not be created.
bool DRIVER_start(const char* program, const char* arguments, const char* directory,
                  DRIVER_PROCESS* process);
// Waits up to timeout_ms for the process to end. True with its exit code
// when it ended; false when it is still running.
bool DRIVER_wait_exit(DRIVER_PROCESS* process, uint32_t timeout_ms, uint32_t* exit_code);
// True while the process has not ended.
bool DRIVER_is_running(DRIVER_PROCESS* process);
// Kills the process if it still runs, waits for its end and closes the
// handles. Safe to call twice and on a process that never started.
void DRIVER_stop(DRIVER_PROCESS* process);
// Kills every process of the machine whose program file is named file_name
// ("notepad.exe"): what an earlier, aborted run or the driven program itself
// left running.
void DRIVER_kill_program(const char* file_name);

// ---- Windows ---------------------------------------------------------------

// The first visible top-level window of process_id whose title equals title,
// or NULL after timeout_ms.
HWND DRIVER_wait_window(DWORD process_id, const char* title, uint32_t timeout_ms);
// The first visible top-level window of any process whose class equals
// class_name, or NULL after timeout_ms.
HWND DRIVER_wait_window_of_class(const char* class_name, uint32_t timeout_ms);
// A message box of process_id: a visible top-level dialog with the static
// text control 0xFFFF. NULL after timeout_ms.
HWND DRIVER_wait_message_box(DWORD process_id, uint32_t timeout_ms);
// True when process_id shows no message box now.
bool DRIVER_no_message_box(DWORD process_id);
// The number of message boxes process_id shows now.
int DRIVER_count_message_boxes(DWORD process_id);
// The message box's text (control 0xFFFF) and caption.
bool DRIVER_message_box_text(HWND box, char* text, int size);
bool DRIVER_window_title(HWND window, char* text, int size);
// Presses a message-box button (IDOK, IDCANCEL, IDYES, IDNO) and returns
// once the box is gone; false when there is no such button or the box stays.
bool DRIVER_answer(HWND box, int button);

// ---- Controls --------------------------------------------------------------

// Clicks control id as the mouse would (BM_CLICK). Returns once the program
// has handled the click, or after a second when the click opened a modal box
// or ended the program. False when there is no such control.
bool DRIVER_click(HWND dialog, int id);
// Sends WM_COMMAND with id, as a control of that id would; returns as
// DRIVER_click does.
bool DRIVER_command(HWND dialog, int id);
// Sets the control's text (WM_SETTEXT; an edit control then sends EN_CHANGE).
bool DRIVER_set_text(HWND dialog, int id, const char* text);
// Reads the control's text (WM_GETTEXT, at most size bytes).
bool DRIVER_control_text(HWND dialog, int id, char* text, int size);
// The control's own visibility bit (not its parent's) and enabled state.
bool DRIVER_is_shown(HWND dialog, int id);
bool DRIVER_is_enabled(HWND dialog, int id);
// Returns once the window's thread answers a sent message (it may be inside a
// modal loop). False when it did not answer in time.
bool DRIVER_settle(HWND window);

// ---- Pixels ----------------------------------------------------------------

// The pixels of a window's client area as the screen shows them.
struct DRIVER_IMAGE {
    int width;
    int height;
    uint32_t* pixels;  // 0x00RRGGBB, row by row from the top
};
// Captures the client area of window (with_frame: the whole window). False
// when the window's place or the screen cannot be read.
bool DRIVER_capture(HWND window, bool with_frame, DRIVER_IMAGE* image);
void DRIVER_free_image(DRIVER_IMAGE* image);
// 0x00RRGGBB at (x, y); 0xFFFFFFFF outside the image.
uint32_t DRIVER_pixel(const DRIVER_IMAGE* image, int x, int y);
// The control's client rectangle in the coordinates of the dialog's client
// area.
bool DRIVER_control_rect(HWND dialog, int id, RECT* rect);
// Writes the image as a 24-bit BMP file.
bool DRIVER_save_bmp(const DRIVER_IMAGE* image, const char* path);

#endif
