// The run command's player (tools/run): plays the user of the installer when
// nobody is at the screen, through the test kit's UI driver.
//
// Install: starts the installer of the patch folder, presses Install, keeps
// the suggested directory (or types INSTALL_DIRECTORY), presses Ok, answers
// every message box with OK and saves a picture of each screen and box into
// the current directory ("01-start.bmp", ...). Prints one line per step;
// exits 0 when the installer ended after "Please restart your machine."
// --uninstall: starts the uninstaller copy as the uninstall entry does,
// presses Remove, answers Yes to every question and OK to the rest; exits 0
// after "Uninstall complete" (--by-hand: leaves the window to the user).
// --screens FOLDER: walks the start screens and the path screen and saves a
// picture of each (1-not-installed.bmp, 2-path.bmp, 3-installed.bmp,
// 4-remove.bmp), leaving the machine as clean as it found it.
// --reset clears the game's traces from the machine first (the test kit's
// guarded footprint reset, and the directories a demo installed into);
// --landed prints what an install left: the registry values, the links
// ("link: PATH", which the run command shows with the host's lnkinfo), the
// install directory and the setup default directory ("files: PATH").
//
//   player.exe [INSTALL_DIRECTORY]
//   player.exe --uninstall [--by-hand] | --screens FOLDER | --reset | --landed
#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "directory_policy.h"
#include "driver.h"
#include "footprint.h"
#include "resource.h"

// What the screen shows of a whole window, 0x00RRGGBB row by row from the
// top; empty when it cannot be read.
struct Image {
    int width, height;
    std::vector<uint32_t> pixels;
};

static Image capture(HWND window) {
    Image image = {0, 0, {}};
    RECT area;
    if (!GetWindowRect(window, &area)) return image;
    int width = area.right - area.left, height = area.bottom - area.top;
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof info.bmiHeader, width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = NULL;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ previous = SelectObject(memory, section);
    if (width > 0 && height > 0 && section != NULL &&
        BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY)) {
        GdiFlush();
        image = {width, height,
                 std::vector<uint32_t>((uint32_t*)bits, (uint32_t*)bits + width * height)};
    }
    SelectObject(memory, previous);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return image;
}

// Writes the image as a 24-bit BMP file.
static bool save_bmp(const Image& image, const char* path) {
    int row = (image.width * 3 + 3) & ~3;
    BITMAPFILEHEADER file_header = {};
    BITMAPINFOHEADER info = {};
    file_header.bfType = 0x4D42;
    file_header.bfOffBits = sizeof file_header + sizeof info;
    file_header.bfSize = file_header.bfOffBits + (DWORD)row * image.height;
    info.biSize = sizeof info;
    info.biWidth = image.width;
    info.biHeight = image.height;  // bottom-up
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    if (image.pixels.empty()) return false;
    FILE* file = fopen(path, "wb");
    if (file == NULL) return false;
    bool written = fwrite(&file_header, sizeof file_header, 1, file) == 1 &&
                   fwrite(&info, sizeof info, 1, file) == 1;
    std::string line((size_t)row, '\0');
    for (int y = image.height - 1; written && y >= 0; y--) {
        for (int x = 0; x < image.width; x++) {
            uint32_t pixel = image.pixels[(size_t)y * image.width + x];
            line[x * 3 + 0] = (char)(pixel & 0xFF);
            line[x * 3 + 1] = (char)((pixel >> 8) & 0xFF);
            line[x * 3 + 2] = (char)((pixel >> 16) & 0xFF);
        }
        written = fwrite(line.data(), line.size(), 1, file) == 1;
    }
    return fclose(file) == 0 && written;
}

static int g_picture;

static void picture(HWND window, const char* name) {
    char path[64];
    snprintf(path, sizeof path, "%02d-%s.bmp", ++g_picture, name);
    if (save_bmp(capture(window), path)) printf("screen: %s\n", path);
}

static std::string quoted(const std::string& program) { return "\"" + program + "\""; }

// Starts the program and waits for its panel; NULL (and a line) when none.
static HWND start(const std::string& command_line, const char* directory,
                  PROCESS_INFORMATION* process) {
    *process = DRIVER_start(command_line, directory);
    HWND panel = process->hProcess == NULL
                     ? NULL
                     : DRIVER_wait_window(process->dwProcessId, PRODUCT_WINDOW_TITLE, NULL,
                                          DRIVER_TIMEOUT_MS);
    if (panel == NULL) {
        printf("error: no panel from %s\n", command_line.c_str());
        DRIVER_stop_all();
    }
    return panel;
}

// Answers the boxes of process until it ends: Yes where a box asks, OK
// elsewhere. True when a box showed expected.
static bool answer_until_exit(PROCESS_INFORMATION* process, HWND panel, const char* expected) {
    bool seen = false;
    bool working_seen = false;
    for (int waited = 0; waited < 300000 && DRIVER_exit_code(process, 0) < 0; waited += 100) {
        HWND box = DRIVER_wait_box(process->dwProcessId, 100);
        if (box != NULL) {
            std::string text = DRIVER_text(box, DRIVER_BOX_TEXT);
            printf("message box: %s / %s\n", DRIVER_text(box, 0).c_str(), text.c_str());
            DRIVER_settle(box);  // painted whole before its picture
            Sleep(300);
            picture(box, "box");
            if (text == expected) seen = true;
            DRIVER_answer(box, GetDlgItem(box, IDYES) != NULL ? IDYES : IDOK);
            continue;
        }
        if (!working_seen && IsWindow(panel) &&
            IsWindowVisible(GetDlgItem(panel, IDC_WORKING_TEXT))) {
            working_seen = true;
            Sleep(1000);
            picture(panel, "working");
        }
    }
    long status = DRIVER_exit_code(process, 5000);
    DRIVER_stop_all();
    if (status < 0) printf("error: the program is still running\n");
    printf("ended with status %ld\n", status);
    return seen && status >= 0;
}

static std::string uninstaller(void) {
    char program[MAX_PATH * 2];
    snprintf(program, sizeof program, PRODUCT_UNINSTALLER_FORMAT,
             FOOTPRINT_folder(CSIDL_WINDOWS).c_str(), PRODUCT_NAME);
    return program;
}

static int uninstall(bool by_hand) {
    PROCESS_INFORMATION process;
    std::string windows = FOOTPRINT_folder(CSIDL_WINDOWS);
    HWND panel = start(quoted(uninstaller()) + " remove", windows.c_str(), &process);
    if (panel == NULL) return 1;
    if (by_hand) {
        // The window is the user's: wait until they are done with it.
        long status;
        while ((status = DRIVER_exit_code(&process, 60000)) < 0) {
        }
        printf("uninstaller ended with status %ld\n", status);
        DRIVER_stop_all();
        return 0;
    }
    Sleep(500);
    picture(panel, "remove");
    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    return answer_until_exit(&process, panel, "Uninstall complete") ? 0 : 1;
}

static int install(const char* directory) {
    PROCESS_INFORMATION process;
    HWND panel = start(quoted(DRIVER_INSTALLER), DRIVER_PATCH_FOLDER, &process);
    if (panel == NULL) return 1;
    Sleep(500);
    picture(panel, "start");
    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    for (int i = 0; i < 200 && !IsWindowVisible(GetDlgItem(panel, IDC_INSTALL_DIR)); i++) Sleep(25);
    if (directory != NULL) DRIVER_set_text(panel, IDC_INSTALL_DIR, directory);
    DRIVER_settle(panel);
    printf("install directory: %s\n", DRIVER_text(panel, IDC_INSTALL_DIR).c_str());
    Sleep(300);
    picture(panel, "path");
    DRIVER_click(panel, IDC_OK);
    // Boxes (warnings, the restart request) until the installer ends.
    return answer_until_exit(&process, panel, "Please restart your machine.") ? 0 : 1;
}

static bool wait_for_text(HWND panel, int id, const char* text) {
    for (int tries = 0; tries < 200; tries++, Sleep(50))
        if (DRIVER_text(panel, id) == text) return true;
    fprintf(stderr, "screens: control %d does not show \"%s\"\n", id, text);
    return false;
}

static bool save_screen(HWND panel, const char* folder, const char* name) {
    Sleep(700);  // let every control finish painting
    std::string path = std::string(folder) + "\\" + name + ".bmp";
    bool saved = save_bmp(capture(panel), path.c_str());
    printf("screens: %s %s\n", saved ? "saved" : "could not save", path.c_str());
    return saved;
}

// Starts the installer, waits for the screen whose Install/Remove button
// reads button_text, saves it, optionally opens the path screen and saves
// that too, and ends the installer.
static bool walk(const char* arguments, const char* button_text, const char* folder,
                 const char* name, const char* path_name) {
    PROCESS_INFORMATION process;
    std::string command =
        quoted(DRIVER_INSTALLER) + (arguments ? " " : "") + (arguments ? arguments : "");
    HWND panel = start(command, DRIVER_PATCH_FOLDER, &process);
    bool ok = panel != NULL && wait_for_text(panel, IDC_INSTALL_REMOVE, button_text) &&
              save_screen(panel, folder, name);
    if (ok && path_name != NULL) {
        DRIVER_click(panel, IDC_INSTALL_REMOVE);
        ok = wait_for_text(panel, IDC_PATH_PROMPT, "Please type in your Install Directory") &&
             save_screen(panel, folder, path_name);
    }
    if (panel != NULL) PostMessageA(panel, WM_CLOSE, 0, 0);
    DRIVER_exit_code(&process, DRIVER_TIMEOUT_MS);
    DRIVER_stop_all();
    return ok;
}

static int screens(const char* folder) {
    CreateDirectoryA(folder, NULL);
    FOOTPRINT_reset();
    bool ok = walk(NULL, "Install Tarnholm", folder, "1-not-installed", "2-path");
    FOOTPRINT_reset();
    ok = FOOTPRINT_set_value(PRODUCT_KEY, PRODUCT_INSTALL_DIR, "C:\\Games\\Tarnholm Vesk") &&
         walk(NULL, "Remove Tarnholm", folder, "3-installed", NULL) && ok;
    FOOTPRINT_reset();
    ok = walk("remove", "Remove Tarnholm", folder, "4-remove", NULL) && ok;
    FOOTPRINT_reset();
    return ok ? 0 : 1;
}

static int reset(void) {
    // The registered directory of an earlier demo, then its usual place
    // ("<Program Files>\Tarnholm", what the path screen suggests).
    std::string registered = FOOTPRINT_value(PRODUCT_KEY, PRODUCT_INSTALL_DIR);
    bool ok = registered == "<missing>" || FOOTPRINT_delete_tree(registered.c_str());
    ok =
        FOOTPRINT_delete_tree((FOOTPRINT_folder(CSIDL_PROGRAM_FILES) + "\\Tarnholm").c_str()) && ok;
    ok = FOOTPRINT_reset() && ok;
    printf("reset: %s\n", ok ? "the game's traces are gone" : "some traces stayed");
    return ok ? 0 : 1;
}

static void print_value(const char* key, const char* name) {
    std::string value = FOOTPRINT_value(key, name);
    if (value != "<missing>") printf("    %s = %s\n", name, value.c_str());
}

static void print_link(const std::string& path) {
    if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES)
        printf("link: %s\n", path.c_str());
}

static int landed(void) {
    printf("== registry: HKLM\\%s\n", PRODUCT_KEY);
    print_value(PRODUCT_KEY, PRODUCT_INSTALL_DIR);
    print_value(PRODUCT_KEY, PRODUCT_INSTALL_SOURCE);
    printf("== registry: the uninstall entry\n");
    print_value(PRODUCT_UNINSTALL_KEY, PRODUCT_UNINSTALL_STRING);
    std::string start_menu = FOOTPRINT_folder(CSIDL_PROGRAMS) + "\\" PRODUCT_NAME "\\";
    print_link(start_menu + PRODUCT_GAME_LINK);
    print_link(start_menu + PRODUCT_UNINSTALL_LINK);
    print_link(FOOTPRINT_folder(CSIDL_DESKTOPDIRECTORY) + "\\" PRODUCT_GAME_LINK);
    std::string directory = FOOTPRINT_value(PRODUCT_KEY, PRODUCT_INSTALL_DIR);
    if (directory != "<missing>") printf("files: %s\n", directory.c_str());
    printf("left: %s\n", FOOTPRINT_setup_default().c_str());
    return 0;
}

int main(int argc, char** argv) {
    setvbuf(stdout, NULL, _IONBF, 0);
    const char* option = argc > 1 ? argv[1] : "";
    if (strcmp(option, "--uninstall") == 0)
        return uninstall(argc > 2 && strcmp(argv[2], "--by-hand") == 0);
    if (strcmp(option, "--screens") == 0 && argc == 3) return screens(argv[2]);
    if (strcmp(option, "--reset") == 0) return reset();
    if (strcmp(option, "--landed") == 0) return landed();
    return install(argc > 1 ? argv[1] : NULL);
}
