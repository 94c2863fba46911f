// DRIVER: the Win32 UI driver of the end-to-end tests and the run command.
#include "driver.h"

#include <tlhelp32.h>
#include <string.h>

#include <vector>

PROCESS_INFORMATION DRIVER_start(const std::string& command_line, const char* directory) {
    PROCESS_INFORMATION process = {};
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    std::vector<char> line(command_line.c_str(), command_line.c_str() + command_line.size() + 1);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, directory, &startup,
                        &process))
        process.hProcess = NULL;
    return process;
}

long DRIVER_exit_code(const PROCESS_INFORMATION* process, uint32_t timeout_ms) {
    DWORD code = 0;
    bool ended = process->hProcess != NULL &&
                 WaitForSingleObject(process->hProcess, timeout_ms) == WAIT_OBJECT_0;
    return ended && GetExitCodeProcess(process->hProcess, &code) ? (long)code : -1;
}

void DRIVER_stop(PROCESS_INFORMATION* process) {
    if (process->hProcess == NULL) return;
    TerminateProcess(process->hProcess, 99);  // fails harmlessly once it has ended
    WaitForSingleObject(process->hProcess, DRIVER_TIMEOUT_MS);
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
    *process = {};
}

void DRIVER_kill(const char* file_name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        PROCESS_INFORMATION process = {};
        if (_stricmp(entry.szExeFile, file_name) == 0)
            process.hProcess =
                OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        DRIVER_stop(&process);
    }
    CloseHandle(snapshot);
}

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
    HWND control = GetDlgItem(box, button);
    if (control == NULL ||
        !PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)control))
        return false;
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
