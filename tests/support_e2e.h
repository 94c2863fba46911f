// The fixture of the installer's end-to-end tests: a clean machine with
// sentinel files beside and above the game's folders before every case, the
// installer started as a user or the uninstall entry would start it, its
// screens read and its message boxes met as a user meets them, and nothing
// left running. Every path of the machine that the cases need is named here
// or in the driver.
#ifndef SUPPORT_E2E_H
#define SUPPORT_E2E_H

#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>
#include <shlwapi.h>

#include <string>
#include <utility>
#include <vector>

#include "directory_policy.h"
#include "driver.h"
#include "footprint.h"
#include "resource.h"
#include "support.h"

// A case's own tree, taken whole before and after it.
#define SCRATCH "C:\\e2e\\case"

inline std::string folder(int csidl) { return FOOTPRINT_folder(csidl); }
inline std::string quoted(const std::string& program) { return "\"" + program + "\""; }
inline std::string uninstaller() { return folder(CSIDL_WINDOWS) + "\\" PRODUCT_NAME " remove.exe"; }
inline std::string setup_default() { return FOOTPRINT_setup_default(); }
inline std::string game_link() { return folder(CSIDL_DESKTOPDIRECTORY) + "\\" PRODUCT_GAME_LINK; }
inline std::string start_menu() { return folder(CSIDL_PROGRAMS) + "\\" PRODUCT_NAME; }
// The Program Files folder of the machine's native programs: on a 64-bit
// machine the one the 32-bit installer does not see as its own.
inline std::string native_program_files() {
    const char* native = getenv("ProgramW6432");
    return native != NULL ? native : folder(CSIDL_PROGRAM_FILES);
}

class InstallerCase : public ::testing::Test {
protected:
    PROCESS_INFORMATION installer = {};
    HWND panel = NULL;
    // Beside and above the folders of a case and of the game, and where an
    // empty Programs folder would put the game's Start-menu folder.
    std::vector<std::string> sentinels = {
        "C:\\e2e\\keep.txt",
        SCRATCH "\\keep.txt",
        SCRATCH "\\Tarnholm Old\\keep.txt",
        "C:\\" PRODUCT_NAME "\\keep.txt",
        folder(CSIDL_DESKTOPDIRECTORY) + "\\keep.lnk",
        folder(CSIDL_PROGRAMS) + "\\keep.txt",
        folder(CSIDL_PROGRAMS) + "\\Other Game\\Other Game.lnk",
    };
    // The "Shell Folders" values a case changed, name and value ("\n": none).
    static constexpr const char* kShellFolders =
        "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    std::vector<std::pair<std::string, std::string>> shell_folders_saved;

    // Ends the installer and whatever it started, and waits for its end.
    void stop() {
        DRIVER_stop_all();
        DRIVER_exit_code(&installer, DRIVER_TIMEOUT_MS);
    }
    void SetUp() override {
        CoInitialize(NULL);
        ASSERT_TRUE(FOOTPRINT_reset()) << "the previous case left traces that cannot be removed";
        ASSERT_TRUE(delete_tree(SCRATCH));
        for (const std::string& sentinel : sentinels) ASSERT_TRUE(write_file(sentinel, "keep"));
    }
    // Sets the user's "Shell Folders" value name (NULL: no value); the case's
    // end puts back what was there, also when the case fails half-way.
    void set_shell_folder(const char* name, const char* value) {
        char saved[MAX_PATH] = "";
        DWORD size = sizeof saved;
        bool had = SHGetValueA(HKEY_CURRENT_USER, kShellFolders, name, NULL, saved, &size) == 0;
        shell_folders_saved.push_back({name, had ? saved : "\n"});
        SHDeleteValueA(HKEY_CURRENT_USER, kShellFolders, name);
        if (value != NULL)
            SHSetValueA(HKEY_CURRENT_USER, kShellFolders, name, REG_SZ, value, strlen(value) + 1);
    }
    void TearDown() override {
        const auto saved = std::move(shell_folders_saved);
        for (auto it = saved.rbegin(); it != saved.rend(); ++it)
            set_shell_folder(it->first.c_str(), it->second == "\n" ? NULL : it->second.c_str());
        shell_folders_saved.clear();
        stop();
        for (const std::string& sentinel : sentinels) {
            EXPECT_EQ(read_file(sentinel), "keep") << sentinel;
            DeleteFileA(sentinel.c_str());
        }
        // Only the folders made here: Wine remakes a removed Desktop folder as
        // a link into the host's home.
        RemoveDirectoryA("C:\\" PRODUCT_NAME);
        RemoveDirectoryA((folder(CSIDL_PROGRAMS) + "\\Other Game").c_str());
        delete_tree(SCRATCH);
        RemoveDirectoryA("C:\\e2e");
        CoUninitialize();
    }

    // Starts command_line in directory and waits until its panel shows a screen.
    void start_command(const std::string& command_line, const char* directory) {
        stop();
        CloseHandle(installer.hProcess);
        installer = DRIVER_start(command_line, directory);
        panel = DRIVER_wait_window(installer.dwProcessId, PRODUCT_WINDOW_TITLE, NULL,
                                   DRIVER_TIMEOUT_MS);
        ASSERT_TRUE(panel != NULL && DRIVER_settle(panel)) << "no panel from " << command_line;
    }
    void start(const std::string& arguments = "", const char* directory = DRIVER_PATCH_FOLDER) {
        start_command(quoted(DRIVER_INSTALLER) + arguments, directory);
    }
    long exit_status(uint32_t timeout_ms = DRIVER_TIMEOUT_MS) {
        return DRIVER_exit_code(&installer, timeout_ms);
    }
    int boxes() { return DRIVER_count_boxes(installer.dwProcessId); }

    std::string text(int id) { return DRIVER_text(panel, id); }
    // The panel's controls in the order Play, Install/Remove, Install Direct
    // X, Read Help file, Exit Setup, path prompt, install directory, Ok,
    // Cancel, working text, status line, progress bar; each 'E' shown and
    // enabled, 'D' shown and disabled, '-' hidden and enabled, 'x' hidden
    // and disabled (the control's own visibility, not its parent's).
    std::string screen() {
        std::string states;
        for (int id :
             {IDC_PLAY, IDC_INSTALL_REMOVE, IDC_DIRECTX, IDC_README, IDC_EXIT, IDC_PATH_PROMPT,
              IDC_INSTALL_DIR, IDC_OK, IDC_CANCEL, IDC_WORKING_TEXT, IDC_STATUS, IDC_PROGRESS}) {
            HWND control = GetDlgItem(panel, id);
            states += "x-DE"[2 * ((GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0) +
                             (IsWindowEnabled(control) != 0)];
        }
        return states;
    }

    // Waits for the installer's next message box and expects its text and
    // caption; the box stays open.
    HWND expect_box(const std::string& text, const std::string& caption,
                    uint32_t timeout_ms = DRIVER_TIMEOUT_MS) {
        HWND box = DRIVER_wait_box(installer.dwProcessId, timeout_ms);
        EXPECT_EQ(DRIVER_text(box, DRIVER_BOX_TEXT) + " / " + DRIVER_text(box, 0),
                  text + " / " + caption);
        return box;
    }
    // The same, answered with button.
    void answer(const std::string& text, const std::string& caption, int button = IDOK,
                uint32_t timeout_ms = DRIVER_TIMEOUT_MS) {
        HWND box = expect_box(text, caption, timeout_ms);
        ASSERT_TRUE(box != NULL && DRIVER_answer(box, button)) << text;
    }
};

#endif
