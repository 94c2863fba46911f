// The panel: the installer's only window. A modeless dialog with a painted
// background, owner-drawn skinned buttons and labels, the install-directory
// edit control and a progress bar; one handler per message, one function per
// screen.
#include "panel.h"

#include "WINSKIN.h"
#include "install_flow.h"
#include "installer.h"
#include "remove_flow.h"
#include "resource.h"

#include <stdio.h>
#include <string.h>

#define LABEL_BACKGROUND RGB(10, 10, 10)
#define TEXT_WHITE       RGB(255, 255, 255)
#define NOT_TOUCHED      -1

// The edit control takes at most this many characters from the keyboard.
#define INSTALL_DIR_LIMIT (INSTALL_PATH_SIZE - 1)

// One cell of a screen table: text (string id, 0 = keep), shown and enabled
// (1 yes, 0 no, NOT_TOUCHED keep).
struct ScreenCell {
    int control;
    uint32_t text;
    int shown;
    int enabled;
};

static void apply_screen(const ScreenCell* cells, size_t count) {
    HWND panel = installer_state.main_dialog;
    for (size_t i = 0; i < count; i++) {
        HWND control = GetDlgItem(panel, cells[i].control);
        if (control == NULL) continue;
        if (cells[i].text != 0) {
            char text[INSTALL_PATH_SIZE];
            load_text(cells[i].text, text, sizeof text);
            SetWindowTextA(control, text);
        }
        if (cells[i].shown != NOT_TOUCHED) ShowWindow(control, cells[i].shown ? SW_SHOW : SW_HIDE);
        if (cells[i].enabled != NOT_TOUCHED) EnableWindow(control, cells[i].enabled ? TRUE : FALSE);
    }
}

void show_not_installed_screen(void) {
    // clang-format off: one row per control
    static const ScreenCell cells[] = {
        {IDC_PLAY, IDS_PLAY, 1, 0},
        {IDC_INSTALL_REMOVE, IDS_INSTALL, 1, 1},
        {IDC_DIRECTX, IDS_INSTALL_DIRECTX, 0, 1},
        {IDC_README, IDS_READ_HELP, 1, 1},
        {IDC_EXIT, IDS_EXIT_SETUP, 1, 1},
        {IDC_PATH_PROMPT, 0, 0, NOT_TOUCHED},
        {IDC_INSTALL_DIR, 0, 0, NOT_TOUCHED},
        {IDC_OK, 0, 0, NOT_TOUCHED},
        {IDC_CANCEL, 0, 0, NOT_TOUCHED},
        {IDC_WORKING_TEXT, 0, 0, NOT_TOUCHED},
        {IDC_STATUS, 0, 0, NOT_TOUCHED},
        {IDC_PROGRESS, 0, 0, NOT_TOUCHED},
    };
    // clang-format on
    apply_screen(cells, sizeof cells / sizeof cells[0]);
}

void show_installed_screen(void) {
    // clang-format off: one row per control
    static const ScreenCell cells[] = {
        {IDC_PLAY, IDS_PLAY, 0, 1},
        {IDC_INSTALL_REMOVE, IDS_REMOVE, 1, NOT_TOUCHED},
        {IDC_DIRECTX, IDS_INSTALL_DIRECTX, 0, 1},
        {IDC_README, IDS_READ_HELP, 1, NOT_TOUCHED},
        {IDC_EXIT, IDS_EXIT_SETUP, 1, NOT_TOUCHED},
        {IDC_PATH_PROMPT, 0, 0, NOT_TOUCHED},
        {IDC_INSTALL_DIR, 0, 0, NOT_TOUCHED},
        {IDC_OK, 0, 0, NOT_TOUCHED},
        {IDC_CANCEL, 0, 0, NOT_TOUCHED},
        {IDC_WORKING_TEXT, 0, 0, NOT_TOUCHED},
        {IDC_STATUS, 0, 0, NOT_TOUCHED},
        {IDC_PROGRESS, 0, 0, NOT_TOUCHED},
    };
    // clang-format on
    apply_screen(cells, sizeof cells / sizeof cells[0]);
}

void show_remove_screen(void) {
    // clang-format off: one row per control
    static const ScreenCell cells[] = {
        {IDC_PLAY, IDS_PLAY, 1, 0},
        {IDC_INSTALL_REMOVE, IDS_REMOVE, 1, NOT_TOUCHED},
        {IDC_DIRECTX, IDS_INSTALL_DIRECTX, 1, 0},
        {IDC_README, IDS_READ_HELP, 1, 0},
        {IDC_EXIT, IDS_EXIT_SETUP, 1, NOT_TOUCHED},
        {IDC_PATH_PROMPT, 0, 0, NOT_TOUCHED},
        {IDC_INSTALL_DIR, 0, 0, NOT_TOUCHED},
        {IDC_OK, 0, 0, NOT_TOUCHED},
        {IDC_WORKING_TEXT, 0, 0, NOT_TOUCHED},
        {IDC_STATUS, 0, 0, NOT_TOUCHED},
        {IDC_PROGRESS, 0, 0, NOT_TOUCHED},
    };
    // clang-format on
    apply_screen(cells, sizeof cells / sizeof cells[0]);
}

void show_path_screen(void) {
    char name[INSTALL_PATH_SIZE];
    load_text(IDS_DIRECTORY_NAME, name, sizeof name);
    // Both parts fit (259 + 1 + a short name); a suggestion that would not
    // fit leaves the field empty, which Ok refuses.
    format_path(installer_state.install_dir, sizeof installer_state.install_dir, "%s\\%s",
                installer_state.default_base_folder, name);
    // clang-format off: one row per control
    static const ScreenCell cells[] = {
        {IDC_PLAY, 0, 0, NOT_TOUCHED},
        {IDC_INSTALL_REMOVE, 0, 0, NOT_TOUCHED},
        {IDC_DIRECTX, 0, 0, 1},
        {IDC_README, 0, 0, NOT_TOUCHED},
        {IDC_EXIT, 0, 0, NOT_TOUCHED},
        {IDC_PATH_PROMPT, IDS_TYPE_INSTALL_DIR, 1, NOT_TOUCHED},
        {IDC_INSTALL_DIR, 0, 1, NOT_TOUCHED},
        {IDC_OK, 0, 1, NOT_TOUCHED},
        {IDC_CANCEL, 0, 1, NOT_TOUCHED},
        {IDC_WORKING_TEXT, 0, 0, NOT_TOUCHED},
        {IDC_STATUS, 0, 0, NOT_TOUCHED},
    };
    // clang-format on
    apply_screen(cells, sizeof cells / sizeof cells[0]);
    // The edit control's change notification copies the text back.
    SetDlgItemTextA(installer_state.main_dialog, IDC_INSTALL_DIR, installer_state.install_dir);
}

void show_working_screen(void) {
    // clang-format off: one row per control
    static const ScreenCell cells[] = {
        {IDC_PLAY, 0, 0, NOT_TOUCHED},        {IDC_INSTALL_REMOVE, 0, 0, NOT_TOUCHED},
        {IDC_DIRECTX, 0, 0, NOT_TOUCHED},     {IDC_README, 0, 0, NOT_TOUCHED},
        {IDC_EXIT, 0, 0, NOT_TOUCHED},        {IDC_PATH_PROMPT, 0, 0, NOT_TOUCHED},
        {IDC_INSTALL_DIR, 0, 0, NOT_TOUCHED}, {IDC_WORKING_TEXT, IDS_INSTALLING, 1, NOT_TOUCHED},
        {IDC_STATUS, 0, 0, NOT_TOUCHED},      {IDC_PROGRESS, 0, 1, NOT_TOUCHED},
    };
    // clang-format on
    apply_screen(cells, sizeof cells / sizeof cells[0]);
}

#define PANEL_KEPT_CONTROLS 4

HWND panel_control(int id) {
    static HWND kept_panel;
    static int kept_ids[PANEL_KEPT_CONTROLS];
    static HWND kept_controls[PANEL_KEPT_CONTROLS];
    static int kept_count;
    HWND panel = installer_state.main_dialog;
    if (panel != kept_panel) {
        kept_panel = panel;
        kept_count = 0;
    }
    for (int i = 0; i < kept_count; i++)
        if (kept_ids[i] == id) return kept_controls[i];
    HWND control = GetDlgItem(panel, id);
    // A control that is not there yet is looked for again next time.
    if (control != NULL && kept_count < PANEL_KEPT_CONTROLS) {
        kept_ids[kept_count] = id;
        kept_controls[kept_count++] = control;
    }
    return control;
}

void set_working_text(const char* text) {
    SendMessageA(panel_control(IDC_WORKING_TEXT), WM_SETTEXT, 0, (LPARAM)text);
}

void show_last_error(void) {
    DWORD code = GetLastError();
    char* text = NULL;
    DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        NULL, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&text, 0, NULL);
    if (length == 0 || text == NULL) {
        char fallback[32];
        snprintf(fallback, sizeof fallback, "Error %lu", (unsigned long)code);
        MessageBoxA(NULL, fallback, "Error", MB_OK | MB_ICONINFORMATION);
        return;
    }
    MessageBoxA(NULL, text, "Error", MB_OK | MB_ICONINFORMATION);
    LocalFree(text);
}

void load_skin_bitmaps(void) {
    HINSTANCE instance = installer_state.instance;
    HBITMAP background =
        (HBITMAP)LoadImageA(instance, MAKEINTRESOURCEA(IDB_BACKGROUND), IMAGE_BITMAP, 0, 0, 0);
    if (background == NULL) show_last_error();
    HBITMAP button = (HBITMAP)LoadImageA(instance, MAKEINTRESOURCEA(IDB_BUTTON_SKIN), IMAGE_BITMAP,
                                         0, 0, LR_CREATEDIBSECTION);
    if (button == NULL) show_last_error();
    // A reload after a colour-depth change replaces the old pair.
    if (installer_state.background_bitmap != NULL) DeleteObject(installer_state.background_bitmap);
    if (installer_state.button_bitmap != NULL) DeleteObject(installer_state.button_bitmap);
    installer_state.background_bitmap = background;
    installer_state.button_bitmap = button;
}

void paint_background(HWND window) {
    PAINTSTRUCT paint;
    HDC target = BeginPaint(window, &paint);
    if (target == NULL) return;
    uint32_t depth = (uint32_t)GetDeviceCaps(target, BITSPIXEL);
    if (depth != installer_state.display_bits_per_pixel) {
        load_skin_bitmaps();
        installer_state.display_bits_per_pixel = depth;
    }
    HDC source = CreateCompatibleDC(target);
    BITMAP description;
    RECT client;
    if (source != NULL) {
        HGDIOBJ previous = SelectObject(source, installer_state.background_bitmap);
        if (previous != NULL &&
            GetObjectA(installer_state.background_bitmap, sizeof description, &description) != 0 &&
            GetClientRect(window, &client))
            BitBlt(target, 0, 0, client.right - client.left, client.bottom - client.top, source, 0,
                   0, SRCCOPY);
        if (previous != NULL) SelectObject(source, previous);
        DeleteDC(source);
    }
    EndPaint(window, &paint);
}

static bool is_label(UINT control) {
    return control == IDC_PATH_PROMPT || control == IDC_WORKING_TEXT || control == IDC_STATUS;
}

void draw_panel_item(HWND window, const DRAWITEMSTRUCT* item) {
    (void)window;
    HWND control = item->hwndItem;
    RECT area;
    if (control == NULL || !GetClientRect(control, &area)) return;
    FillRect(item->hDC, &area, installer_state.background_brush);
    // A disabled button is a plain black bar: no skin, no text.
    if (!IsWindowEnabled(control) || !(GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE)) return;
    char text[128];
    GetWindowTextA(control, text, sizeof text);
    if (is_label(item->CtlID)) {
        SetBkColor(item->hDC, LABEL_BACKGROUND);
        SetTextColor(item->hDC, TEXT_WHITE);
        DrawTextA(item->hDC, text, -1, &area, DT_LEFT | DT_VCENTER | DT_SINGLELINE);
        return;
    }
    WINSKIN_draw_windows_button(window, item, 4, installer_state.button_bitmap);
    SetBkMode(item->hDC, TRANSPARENT);
    SetTextColor(item->hDC, (item->itemState & ODS_SELECTED) ? LABEL_BACKGROUND : TEXT_WHITE);
    DrawTextA(item->hDC, text, -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

// "notepad readme.txt" when the readme is in the current directory (the
// patch folder); otherwise a message box owned by the panel.
static void show_readme(void) {
    FILE* readme = fopen("readme.txt", "r");
    if (readme != NULL) {
        fclose(readme);
        WinExec("notepad readme.txt", SW_SHOW);
        return;
    }
    char error[INSTALL_PATH_SIZE], text[INSTALL_PATH_SIZE + 16];
    load_text(IDS_ERROR_OPENING_FILE, error, sizeof error);
    snprintf(text, sizeof text, "%s readme.txt", error);
    show_box(text, IDS_ERROR, MB_OK);
}

// True while the install or the remove flow runs. Their message pumps and
// the boxes they show without owner keep the panel live, and nothing done
// there may change the flow's directory or start a second flow inside it.
static bool flow_running;

static void on_install_dir_changed(HWND window) {
    HWND edit = GetDlgItem(window, IDC_INSTALL_DIR);
    if (GetWindowTextLengthA(edit) > INSTALL_DIR_LIMIT) {
        installer_state.install_dir[0] = '\0';
        return;
    }
    GetWindowTextA(edit, installer_state.install_dir, sizeof installer_state.install_dir);
}

// Ok on the path screen: the flow starts from what the edit control shows
// now. A text longer than the field, which only another program can put
// into the edit control, is refused like any invalid directory instead of
// being cut into install_dir.
static void on_ok(HWND window) {
    LRESULT length = SendDlgItemMessageA(window, IDC_INSTALL_DIR, WM_GETTEXTLENGTH, 0, 0);
    if (length > INSTALL_DIR_LIMIT) {
        show_text_box(IDS_NOT_VALID_DIRECTORY, IDS_WARNING, MB_OK | MB_ICONINFORMATION);
        return;
    }
    on_install_dir_changed(window);
    flow_running = true;
    run_install();
    flow_running = false;
}

static void on_remove(void) {
    flow_running = true;
    remove_installation();
    flow_running = false;
}

static bool on_path_screen(void) {
    return !installer_state.start_screen_shown && !installer_state.remove_mode;
}

static void on_command(HWND window, UINT control) {
    // While a flow runs, nothing starts another flow or changes its directory.
    if (flow_running && (control == IDC_OK || control == IDC_INSTALL_REMOVE ||
                         control == IDC_INSTALL_DIR || control == IDC_CANCEL))
        return;
    switch (control) {
    case IDC_OK:
        if (on_path_screen()) on_ok(window);
        break;
    case IDC_INSTALL_REMOVE:
        if (installer_state.remove_mode) {
            // In remove mode the program ends whatever the flow's outcome.
            on_remove();
            PostQuitMessage(0);
        } else if (installer_state.installed) {
            on_remove();
        } else if (installer_state.start_screen_shown) {
            show_path_screen();
            installer_state.start_screen_shown = false;
        }
        break;
    case IDC_README:
        if (installer_state.start_screen_shown) show_readme();
        break;
    case IDC_INSTALL_DIR: on_install_dir_changed(window); break;
    case IDC_CANCEL:
        if (on_path_screen()) {
            installer_state.start_screen_shown = true;
            show_not_installed_screen();
        }
        break;
    case IDC_PLAY:
    case IDC_DIRECTX:
        // No screen offers these two enabled; a stray command does nothing.
        break;
    default:
        // Exit, and clicks on the labels: a normal end through the main loop.
        PostQuitMessage(0);
        break;
    }
}

static void on_init_dialog(HWND window) {
    installer_state.background_brush = (HBRUSH)GetStockObject(BLACK_BRUSH);
    HDC context = GetDC(window);
    if (context != NULL) {
        installer_state.display_bits_per_pixel = (uint32_t)GetDeviceCaps(context, BITSPIXEL);
        ReleaseDC(window, context);
    }
    SendDlgItemMessageA(window, IDC_INSTALL_DIR, EM_LIMITTEXT, INSTALL_DIR_LIMIT, 0);
}

static void on_erase_background(HWND window, HDC context) {
    RECT client;
    if (GetClientRect(window, &client))
        FillRect(context, &client, installer_state.background_brush);
}

INT_PTR CALLBACK panel_procedure(HWND window, UINT message, WPARAM first, LPARAM second) {
    switch (message) {
    case WM_INITDIALOG: on_init_dialog(window); return TRUE;
    case WM_PAINT:
        InvalidateRect(window, NULL, TRUE);
        paint_background(window);
        return TRUE;
    case WM_ERASEBKGND: on_erase_background(window, (HDC)first); return TRUE;
    case WM_DRAWITEM: draw_panel_item(window, (const DRAWITEMSTRUCT*)second); return TRUE;
    case WM_WINDOWPOSCHANGED: InvalidateRect(window, NULL, TRUE); return TRUE;
    case WM_CLOSE: PostQuitMessage(0); return TRUE;
    case WM_COMMAND: on_command(window, LOWORD(first)); return TRUE;
    default: return FALSE;
    }
}
