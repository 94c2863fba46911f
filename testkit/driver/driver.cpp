// DRIVER: the Win32 UI driver for end-to-end tests and the run command.
#include "driver.h"

#include <tlhelp32.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define POLL_MS           50
#define MESSAGE_BOX_TEXT  0xFFFF
#define ANSWER_TIMEOUT_MS 5000
#define CLICK_TIMEOUT_MS  1000

// ---- Processes -------------------------------------------------------------

bool DRIVER_start(const char* program, const char* arguments, const char* directory,
                  DRIVER_PROCESS* process) {
    memset(process, 0, sizeof *process);
    char command[2048];
    int length = arguments ? snprintf(command, sizeof command, "\"%s\" %s", program, arguments)
                           : snprintf(command, sizeof command, "\"%s\"", program);
    if (length < 0 || (size_t)length >= sizeof command) return false;
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    BOOL created = CreateProcessA(program, command, NULL, NULL, FALSE, 0, NULL, directory, &startup,
                                  &process->information);
    process->started = created != FALSE;
    return process->started;
}

bool DRIVER_wait_exit(DRIVER_PROCESS* process, uint32_t timeout_ms, uint32_t* exit_code) {
    if (!process->started) return false;
    if (WaitForSingleObject(process->information.hProcess, timeout_ms) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(process->information.hProcess, &code);
    if (exit_code != NULL) *exit_code = code;
    return true;
}

bool DRIVER_is_running(DRIVER_PROCESS* process) {
    return process->started &&
           WaitForSingleObject(process->information.hProcess, 0) == WAIT_TIMEOUT;
}

void DRIVER_stop(DRIVER_PROCESS* process) {
    if (!process->started) return;
    if (DRIVER_is_running(process)) {
        TerminateProcess(process->information.hProcess, 99);
        WaitForSingleObject(process->information.hProcess, DRIVER_TIMEOUT_MS);
    }
    CloseHandle(process->information.hThread);
    CloseHandle(process->information.hProcess);
    process->started = false;
}

void DRIVER_kill_program(const char* file_name) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more;
         more = Process32Next(snapshot, &entry)) {
        const char* name = strrchr(entry.szExeFile, '\\');
        name = name ? name + 1 : entry.szExeFile;
        if (_stricmp(name, file_name) != 0 || entry.th32ProcessID == GetCurrentProcessId())
            continue;
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process == NULL) continue;
        TerminateProcess(process, 99);
        WaitForSingleObject(process, DRIVER_TIMEOUT_MS);
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

// ---- Windows ---------------------------------------------------------------

struct WindowSearch {
    DWORD process_id;   // 0: any process
    const char* title;  // NULL: any title
    const char* class_name;
    bool message_box;  // must have the message-box text control
    HWND found;
    bool count_all;  // go on after a match, counting
    int count;
};

static BOOL CALLBACK match_window(HWND window, LPARAM parameter) {
    WindowSearch* search = (WindowSearch*)parameter;
    if (!IsWindowVisible(window)) return TRUE;
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    if (search->process_id != 0 && process_id != search->process_id) return TRUE;
    char text[512];
    if (search->class_name != NULL) {
        if (!GetClassNameA(window, text, sizeof text) || strcmp(text, search->class_name) != 0)
            return TRUE;
    }
    if (search->title != NULL) {
        text[0] = '\0';
        GetWindowTextA(window, text, sizeof text);
        if (strcmp(text, search->title) != 0) return TRUE;
    }
    if (search->message_box && GetDlgItem(window, MESSAGE_BOX_TEXT) == NULL) return TRUE;
    search->found = window;
    search->count++;
    return search->count_all;
}

static HWND wait_for(WindowSearch* search, uint32_t timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        search->found = NULL;
        EnumWindows(match_window, (LPARAM)search);
        if (search->found != NULL) return search->found;
        if (GetTickCount() - start >= timeout_ms) return NULL;
        Sleep(POLL_MS);
    }
}

HWND DRIVER_wait_window(DWORD process_id, const char* title, uint32_t timeout_ms) {
    WindowSearch search = {process_id, title, NULL, false, NULL, false, 0};
    return wait_for(&search, timeout_ms);
}

HWND DRIVER_wait_window_of_class(const char* class_name, uint32_t timeout_ms) {
    WindowSearch search = {0, NULL, class_name, false, NULL, false, 0};
    return wait_for(&search, timeout_ms);
}

HWND DRIVER_wait_message_box(DWORD process_id, uint32_t timeout_ms) {
    WindowSearch search = {process_id, NULL, "#32770", true, NULL, false, 0};
    return wait_for(&search, timeout_ms);
}

bool DRIVER_no_message_box(DWORD process_id) {
    return DRIVER_wait_message_box(process_id, 0) == NULL;
}

int DRIVER_count_message_boxes(DWORD process_id) {
    WindowSearch search = {process_id, NULL, "#32770", true, NULL, true, 0};
    EnumWindows(match_window, (LPARAM)&search);
    return search.count;
}

bool DRIVER_message_box_text(HWND box, char* text, int size) {
    return DRIVER_control_text(box, MESSAGE_BOX_TEXT, text, size);
}

bool DRIVER_window_title(HWND window, char* text, int size) {
    if (size <= 0) return false;
    text[0] = '\0';
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_GETTEXT, (WPARAM)size, (LPARAM)text, SMTO_ABORTIFHUNG,
                               ANSWER_TIMEOUT_MS, &result) != 0;
}

bool DRIVER_answer(HWND box, int button) {
    HWND control = GetDlgItem(box, button);
    if (control == NULL) return false;
    if (!PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)control))
        return false;
    // Gone before the caller looks for the next box, which would otherwise
    // find this one again.
    for (uint32_t waited = 0; IsWindow(box); waited += 20) {
        if (waited >= DRIVER_TIMEOUT_MS) return false;
        Sleep(20);
    }
    return true;
}

// ---- Controls --------------------------------------------------------------

// Sent, not posted: sent messages overtake posted ones, so only a send
// tells when the program has handled the click. A click that opens a modal
// box or ends the program does not return in time; that is no failure.
static void send_briefly(HWND window, UINT message, WPARAM first, LPARAM second) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, first, second, SMTO_NORMAL, CLICK_TIMEOUT_MS, &result);
}

bool DRIVER_click(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    if (control == NULL) return false;
    send_briefly(control, BM_CLICK, 0, 0);
    return true;
}

bool DRIVER_command(HWND dialog, int id) {
    if (!IsWindow(dialog)) return false;
    send_briefly(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
    return true;
}

bool DRIVER_set_text(HWND dialog, int id, const char* text) {
    HWND control = GetDlgItem(dialog, id);
    DWORD_PTR result = 0;
    return control != NULL &&
           SendMessageTimeoutA(control, WM_SETTEXT, 0, (LPARAM)text, SMTO_ABORTIFHUNG,
                               ANSWER_TIMEOUT_MS, &result) != 0;
}

bool DRIVER_control_text(HWND dialog, int id, char* text, int size) {
    HWND control = GetDlgItem(dialog, id);
    if (control == NULL) return false;
    return DRIVER_window_title(control, text, size);
}

bool DRIVER_is_shown(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control != NULL && (GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

bool DRIVER_is_enabled(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control != NULL && IsWindowEnabled(control);
}

bool DRIVER_settle(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, ANSWER_TIMEOUT_MS,
                               &result) != 0;
}

// ---- Pixels ----------------------------------------------------------------

bool DRIVER_capture(HWND window, bool with_frame, DRIVER_IMAGE* image) {
    memset(image, 0, sizeof *image);
    RECT area;
    if (with_frame) {
        if (!GetWindowRect(window, &area)) return false;
    } else {
        if (!GetClientRect(window, &area)) return false;
        POINT origin = {0, 0};
        if (!ClientToScreen(window, &origin)) return false;
        OffsetRect(&area, origin.x, origin.y);
    }
    int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0) return false;
    HDC screen = GetDC(NULL);
    if (screen == NULL) return false;
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info;
    memset(&info, 0, sizeof info);
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    bool copied = false;
    if (memory != NULL && section != NULL) {
        HGDIOBJ previous = SelectObject(memory, section);
        copied = BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY) != 0;
        GdiFlush();
        if (copied) {
            image->pixels = (uint32_t*)malloc((size_t)width * height * 4);
            memcpy(image->pixels, bits, (size_t)width * height * 4);
            for (int i = 0; i < width * height; i++) image->pixels[i] &= 0x00FFFFFF;
            image->width = width;
            image->height = height;
        }
        SelectObject(memory, previous);
    }
    if (section != NULL) DeleteObject(section);
    if (memory != NULL) DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return copied;
}

void DRIVER_free_image(DRIVER_IMAGE* image) {
    free(image->pixels);
    memset(image, 0, sizeof *image);
}

uint32_t DRIVER_pixel(const DRIVER_IMAGE* image, int x, int y) {
    if (image->pixels == NULL || x < 0 || y < 0 || x >= image->width || y >= image->height)
        return 0xFFFFFFFF;
    return image->pixels[(size_t)y * image->width + x];
}

bool DRIVER_control_rect(HWND dialog, int id, RECT* rect) {
    HWND control = GetDlgItem(dialog, id);
    if (control == NULL || !GetClientRect(control, rect)) return false;
    MapWindowPoints(control, dialog, (POINT*)rect, 2);
    return true;
}

bool DRIVER_save_bmp(const DRIVER_IMAGE* image, const char* path) {
    if (image->pixels == NULL) return false;
    int row = (image->width * 3 + 3) & ~3;
    BITMAPFILEHEADER file_header;
    BITMAPINFOHEADER info;
    memset(&file_header, 0, sizeof file_header);
    memset(&info, 0, sizeof info);
    file_header.bfType = 0x4D42;
    file_header.bfOffBits = sizeof file_header + sizeof info;
    file_header.bfSize = file_header.bfOffBits + (DWORD)row * image->height;
    info.biSize = sizeof info;
    info.biWidth = image->width;
    info.biHeight = image->height;  // bottom-up
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    FILE* file = fopen(path, "wb");
    if (file == NULL) return false;
    bool written = fwrite(&file_header, sizeof file_header, 1, file) == 1 &&
                   fwrite(&info, sizeof info, 1, file) == 1;
    unsigned char* line = (unsigned char*)calloc((size_t)row, 1);
    for (int y = image->height - 1; written && y >= 0; y--) {
        for (int x = 0; x < image->width; x++) {
            uint32_t pixel = image->pixels[(size_t)y * image->width + x];
            line[x * 3 + 0] = (unsigned char)(pixel & 0xFF);
            line[x * 3 + 1] = (unsigned char)((pixel >> 8) & 0xFF);
            line[x * 3 + 2] = (unsigned char)((pixel >> 16) & 0xFF);
        }
        written = fwrite(line, (size_t)row, 1, file) == 1;
    }
    free(line);
    return fclose(file) == 0 && written;
}
