// DRIVER: drives a Win32 program of another process the way a user would:
// starts it, finds its windows, clicks, types, answers message boxes, reads
// texts, and waits for its end. Every wait has a timeout.
#ifndef DRIVER_H
#define DRIVER_H

#include <windows.h>
#include <stdint.h>

#include <string>

#include "product.h"

// The installer as the build lays it out, seen from the test machine
// (drive Y: is the build directory) and the master CDs.
#define DRIVER_PATCH_FOLDER "Y:\\patch"
#define DRIVER_INSTALLER    DRIVER_PATCH_FOLDER "\\tarnholm_patch.exe"
#define DRIVER_MASTER_CDS   "Y:\\cds\\"
#define DRIVER_TIMEOUT_MS   15000
#define DRIVER_BOX_TEXT     0xFFFF  // the text control of a message box

// Starts command_line in directory (NULL: the current one); hProcess is NULL
// when it did not start, or is a host program.
PROCESS_INFORMATION DRIVER_start(const std::string& command_line, const char* directory);
// The directory of the machine the program runs in, "Y:\\machine" or
// "Y:\\machine32" (MACHINE_NAME says which); its CD drives are its "cd-d"
// and "cd-e".
std::string DRIVER_machine(void);
// The exit code of a process that ended within timeout_ms, else -1.
long DRIVER_exit_code(const PROCESS_INFORMATION* process, uint32_t timeout_ms);
// Kills every process started through the driver, and those they started.
void DRIVER_stop_all(void);

// A visible top-level window of process_id (0: any process) whose title and
// class equal the given ones (NULL: any), or NULL after timeout_ms. A
// "#32770" window counts as a message box only, with DRIVER_BOX_TEXT.
HWND DRIVER_wait_window(DWORD process_id, const char* title, const char* class_name,
                        uint32_t timeout_ms);
HWND DRIVER_wait_box(DWORD process_id, uint32_t timeout_ms);
int DRIVER_count_boxes(DWORD process_id);
// Presses a box's button and returns once the box is gone; false when the
// box has no such button.
bool DRIVER_answer(HWND box, int button);

// The text of control id of window (0: the window's own); "" when none.
std::string DRIVER_text(HWND window, int id);
bool DRIVER_set_text(HWND dialog, int id, const char* text);
// Clicks control id (WM_COMMAND, as the control sends it, also for a hidden
// one); returns once the program has handled it, or is inside a box it opened.
void DRIVER_click(HWND dialog, int id);
// True once the window's thread answers a sent message (within 10 s).
bool DRIVER_settle(HWND window);

#endif
