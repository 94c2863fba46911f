// DRIVER: the Win32 UI driver of the end-to-end tests and the run command.
#include "driver.h"

#include <stdlib.h>
#include <string.h>

// Every process the driver starts, and every one that those start, runs in
// one job, which ends them all on DRIVER_stop_all or when the caller ends.
static HANDLE job(void) {
    static HANDLE handle = NULL;
    if (handle != NULL) return handle;
    handle = CreateJobObjectA(NULL, NULL);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    SetInformationJobObject(handle, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return handle;
}

std::string DRIVER_machine(void) {
    const char* name = getenv("MACHINE_NAME");
    return std::string("Y:\\") + (name != NULL && *name != '\0' ? name : "machine");
}

PROCESS_INFORMATION DRIVER_start(const std::string& command_line, const char* directory) {
    PROCESS_INFORMATION process = {};
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::string line = command_line;
    // A host program has no handles and cannot join the job.
    if (CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, CREATE_SUSPENDED, NULL, directory,
                       &startup, &process) &&
        process.hThread != NULL) {
        AssignProcessToJobObject(job(), process.hProcess);
        ResumeThread(process.hThread);
        CloseHandle(process.hThread);
    }
    return process;
}

long DRIVER_exit_code(const PROCESS_INFORMATION* process, uint32_t timeout_ms) {
    DWORD code = 0;
    bool ended = process->hProcess != NULL &&
                 WaitForSingleObject(process->hProcess, timeout_ms) == WAIT_OBJECT_0;
    return ended && GetExitCodeProcess(process->hProcess, &code) ? (long)code : -1;
}

void DRIVER_stop_all(void) { TerminateJobObject(job(), 99); }

// The last of the visible top-level windows of process_id (0: any) with
// class_name and title (NULL: any) and their count; a "#32770" window
// counts only as a message box, with its text control.
static HWND find(DWORD process_id, const char* title, const char* class_name, int* count) {
    HWND found = NULL;
    bool box = class_name != NULL && strcmp(class_name, "#32770") == 0;
    for (HWND window = NULL; (window = FindWindowExA(NULL, window, class_name, title)) != NULL;) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (IsWindowVisible(window) && (!process_id || owner == process_id) &&
            (!box || GetDlgItem(window, DRIVER_BOX_TEXT) != NULL))
            found = window, ++*count;
    }
    return found;
}

HWND DRIVER_wait_window(DWORD process_id, const char* title, const char* class_name,
                        uint32_t timeout_ms) {
    int count = 0;
    for (DWORD start = GetTickCount();; Sleep(25)) {
        HWND found = find(process_id, title, class_name, &count);
        if (found != NULL || GetTickCount() - start >= timeout_ms) return found;
    }
}

HWND DRIVER_wait_box(DWORD process_id, uint32_t timeout_ms) {
    return DRIVER_wait_window(process_id, NULL, "#32770", timeout_ms);
}

int DRIVER_count_boxes(DWORD process_id) {
    int count = 0;
    find(process_id, NULL, "#32770", &count);
    return count;
}

bool DRIVER_answer(HWND box, int button) {
    if (GetDlgItem(box, button) == NULL) return false;
    DRIVER_click(box, button);
    // Gone before the caller looks for the next box, which would otherwise
    // find this one again.
    for (int waited = 0; IsWindow(box); waited += 25, Sleep(25))
        if (waited >= DRIVER_TIMEOUT_MS) return false;
    return true;
}

// Sent with a timeout, so that a program that does not answer is no obstacle.
static bool send_message(HWND window, UINT message, WPARAM first, LPARAM second) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, message, first, second, SMTO_NORMAL, 10000, &result) != 0;
}

// A window's own text is read without a message, so that a window whose
// thread does not pump yet is no obstacle; a control's is asked for.
std::string DRIVER_text(HWND window, int id) {
    char text[2048] = "";
    if (id == 0) GetWindowTextA(window, text, sizeof text);
    if (id != 0) send_message(GetDlgItem(window, id), WM_GETTEXT, sizeof text, (LPARAM)text);
    return text;
}

bool DRIVER_set_text(HWND dialog, int id, const char* text) {
    return send_message(GetDlgItem(dialog, id), WM_SETTEXT, 0, (LPARAM)text);
}

// WM_COMMAND as the control would send it, sent without waiting, then a
// sent message that returns once the program has handled the click: in the
// main loop, or inside a box the click opened.
void DRIVER_click(HWND dialog, int id) {
    SendNotifyMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                       (LPARAM)GetDlgItem(dialog, id));
    DRIVER_settle(dialog);
}

bool DRIVER_settle(HWND window) { return send_message(window, WM_NULL, 0, 0); }
