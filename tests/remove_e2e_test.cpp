// The remove flow end to end: an installed game in the test machine, removed
// through the installer's window, through its remove mode and through the
// uninstall entry, with everything outside the game's own folders watched by
// sentinel files that must survive every case.
#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "support_e2e.h"

#define GAME_DIR          "C:\\Games\\Tarnholm"
#define SHELL_FOLDERS_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"

static const char ARE_YOU_SURE[] = "Are you sure?";
static const char QUESTION[] = "Question!";
static const char DELETE_DIR[] = "Do you want to delete this dir :";

static bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static std::string folder(int csidl) {
    char path[MAX_PATH] = "";
    EXPECT_TRUE(FOOTPRINT_folder(csidl, path));
    return path;
}

// The game as its set-up program leaves it, several levels deep.
static const char* const GAME_FILES[] = {
    "Tarn II.exe",
    "tnh2main.exe",
    "mss32.dll",
    "readme.txt",
    "data\\maps\\south.map",
    "data\\maps\\deep\\cave.map",
    "data\\sound\\wind.wav",
};

// Files outside the game's folders; none of them may ever go.
static std::vector<std::string> sentinels() {
    std::string desktop = folder(CSIDL_DESKTOPDIRECTORY);
    std::string programs = folder(CSIDL_PROGRAMS);
    return {
        "C:\\Games\\keep.txt",                // the install directory's parent
        "C:\\Games\\Tarnholm Old\\keep.txt",  // a sibling whose name starts alike
        "C:\\Games\\Tarnholm Old\\data\\keep.map",
        desktop + "\\keep.lnk",   // the desktop
        programs + "\\keep.txt",  // the Programs folder
        programs + "\\Other Game\\Other Game.lnk",
    };
}

class RemoveFlow : public InstallerCase {
protected:
    std::string desktop_link, start_menu;

    void SetUp() override {
        InstallerCase::SetUp();
        clear_games();
        desktop_link = folder(CSIDL_DESKTOPDIRECTORY) + "\\Tarnholm Vesk.lnk";
        start_menu = folder(CSIDL_PROGRAMS) + "\\Tarnholm Vesk";
        for (const std::string& path : sentinels()) write(path);
    }

    void TearDown() override {
        InstallerCase::TearDown();
        for (const std::string& path : sentinels())
            EXPECT_TRUE(exists(path)) << "a file outside the game's folders went: " << path;
        std::string programs = folder(CSIDL_PROGRAMS);
        DeleteFileA((programs + "\\keep.txt").c_str());
        FOOTPRINT_delete_tree((programs + "\\Other Game").c_str());
        DeleteFileA((folder(CSIDL_DESKTOPDIRECTORY) + "\\keep.lnk").c_str());
        clear_games();
    }

    // Empties "C:\Games" (the test kit deletes nothing a level below a drive
    // root), the game's own directory first, so that links in it go as links.
    static void clear_games() {
        FOOTPRINT_delete_tree(GAME_DIR);
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA("C:\\Games\\*", &entry);
        if (search == INVALID_HANDLE_VALUE) return;
        do {
            if (strcmp(entry.cFileName, ".") != 0 && strcmp(entry.cFileName, "..") != 0)
                FOOTPRINT_delete_tree((std::string("C:\\Games\\") + entry.cFileName).c_str());
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }

    static void write(const std::string& path) {
        std::string directory = path.substr(0, path.rfind('\\'));
        ASSERT_TRUE(FOOTPRINT_make_directories(directory.c_str())) << directory;
        ASSERT_TRUE(FOOTPRINT_write_file(path.c_str(), "kept")) << path;
    }

    // The game in directory, registered as the set-up program and the
    // installer register it, with its desktop link and Start-menu folder.
    void install_game(const char* directory = GAME_DIR, const char* registered = GAME_DIR) {
        for (const char* file : GAME_FILES) write(std::string(directory) + "\\" + file);
        write(desktop_link);
        write(start_menu + "\\Tarnholm Vesk.lnk");
        write(start_menu + "\\Tarnholm Website.url");
        ASSERT_TRUE(FOOTPRINT_set_value(PRODUCT_KEY, "InstallDir", registered));
        ASSERT_TRUE(FOOTPRINT_set_value(PRODUCT_UNINSTALL_KEY, "UninstallString", "placeholder"));
    }

    void expect_game_in_place(const char* directory = GAME_DIR) {
        for (const char* file : GAME_FILES)
            EXPECT_TRUE(exists(std::string(directory) + "\\" + file)) << file;
        EXPECT_TRUE(exists(desktop_link));
        EXPECT_TRUE(exists(start_menu + "\\Tarnholm Vesk.lnk"));
        EXPECT_TRUE(FOOTPRINT_key_exists(PRODUCT_KEY));
        EXPECT_TRUE(FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY));
    }

    // Expects a message box with text and caption, and returns it open.
    HWND expect_box(const std::string& text, const std::string& caption) {
        std::string shown_text, shown_caption;
        HWND box = message_box(&shown_text, &shown_caption);
        EXPECT_NE(box, (HWND)NULL) << "no message box \"" << text << "\"";
        EXPECT_EQ(shown_text, text);
        EXPECT_EQ(shown_caption, caption);
        return box;
    }

    // Expects a message box with text and caption and answers it.
    void answer(const std::string& text, const std::string& caption, int button) {
        HWND box = expect_box(text, caption);
        ASSERT_NE(box, (HWND)NULL);
        ASSERT_TRUE(DRIVER_answer(box, button));
    }

    void click_remove() { ASSERT_TRUE(DRIVER_click(panel, IDC_INSTALL_REMOVE)); }

    // Remove, and Yes to every question up to the box that ends the run.
    void remove_answering_yes() {
        click_remove();
        answer(ARE_YOU_SURE, QUESTION, IDYES);
        answer(std::string(DELETE_DIR) + GAME_DIR "\\data", QUESTION, IDYES);
        answer(std::string(DELETE_DIR) + start_menu, QUESTION, IDYES);
    }

    // The progress bar's upper bound and position.
    void expect_progress(int upper, int position) {
        HWND bar = GetDlgItem(panel, IDC_PROGRESS);
        EXPECT_EQ((int)SendMessageA(bar, PBM_GETRANGE, FALSE, 0), upper);
        EXPECT_EQ((int)SendMessageA(bar, PBM_GETPOS, 0, 0), position);
    }
};

TEST_F(RemoveFlow, NoLeavesEverythingInPlace) {
    install_game();
    start();
    click_remove();
    answer(ARE_YOU_SURE, QUESTION, IDNO);
    EXPECT_TRUE(DRIVER_no_message_box(installer.information.dwProcessId));
    EXPECT_TRUE(DRIVER_is_running(&installer));
    EXPECT_EQ(text_of(IDC_INSTALL_REMOVE), "Remove Tarnholm");  // the start screen stays
    expect_game_in_place();
    ASSERT_TRUE(DRIVER_click(panel, IDC_EXIT));
    EXPECT_EQ(exit_status(), 0);
}

TEST_F(RemoveFlow, NoInRemoveModeStillEndsTheProgram) {
    install_game();
    start("remove");
    click_remove();
    answer(ARE_YOU_SURE, QUESTION, IDNO);
    EXPECT_EQ(exit_status(), 0);
    expect_game_in_place();
}

TEST_F(RemoveFlow, YesRemovesTheGameThenItsKeysAndEndsWithStatus1) {
    install_game();
    start();
    click_remove();
    answer(ARE_YOU_SURE, QUESTION, IDYES);

    // The working screen while the script asks about the data tree.
    HWND box = expect_box(std::string(DELETE_DIR) + GAME_DIR "\\data", QUESTION);
    ASSERT_NE(box, (HWND)NULL);
    EXPECT_EQ(text_of(IDC_WORKING_TEXT), "Removing, please wait ...");
    EXPECT_TRUE(DRIVER_is_shown(panel, IDC_WORKING_TEXT));
    EXPECT_TRUE(DRIVER_is_shown(panel, IDC_PROGRESS));
    expect_progress(50, 0);  // five records, ten units each
    // The panel is live under the script's question: Remove there starts no
    // second flow.
    ASSERT_TRUE(DRIVER_command(panel, IDC_INSTALL_REMOVE));
    EXPECT_EQ(DRIVER_count_message_boxes(installer.information.dwProcessId), 1);
    ASSERT_TRUE(DRIVER_answer(box, IDYES));

    box = expect_box(std::string(DELETE_DIR) + start_menu, QUESTION);
    ASSERT_NE(box, (HWND)NULL);
    // Records for the data tree, its files, the game's files and the desktop
    // link have each stepped the bar.
    expect_progress(50, 40);
    ASSERT_TRUE(DRIVER_answer(box, IDYES));
    // The registry goes only after the script ran to its end.
    answer("Uninstall complete", "Information", IDOK);
    EXPECT_EQ(exit_status(), 1);

    for (const char* file : GAME_FILES)
        EXPECT_FALSE(exists(std::string(GAME_DIR) + "\\" + file)) << file;
    EXPECT_FALSE(exists(GAME_DIR "\\data"));
    EXPECT_FALSE(exists(desktop_link));
    EXPECT_FALSE(exists(start_menu));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_KEY));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY));
}

TEST_F(RemoveFlow, NoToATreeKeepsThatTreeAndStillFinishes) {
    install_game();
    start();
    click_remove();
    answer(ARE_YOU_SURE, QUESTION, IDYES);
    answer(std::string(DELETE_DIR) + GAME_DIR "\\data", QUESTION, IDNO);
    answer(std::string(DELETE_DIR) + start_menu, QUESTION, IDNO);
    answer("Uninstall complete", "Information", IDOK);
    EXPECT_EQ(exit_status(), 1);
    // Every file below the data tree stays, although the next record deletes
    // the files below it; the rest of the game goes.
    for (const char* file : GAME_FILES) {
        bool in_data = strncmp(file, "data\\", 5) == 0;
        EXPECT_EQ(exists(std::string(GAME_DIR) + "\\" + file), in_data) << file;
    }
    EXPECT_TRUE(exists(start_menu + "\\Tarnholm Vesk.lnk"));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_KEY));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY));
    FOOTPRINT_delete_tree(start_menu.c_str());
}

static std::string failed_text(int count, const std::string& first) {
    return std::to_string(count) + " files of the game could not be removed, among them:\n" +
           first + "\nClose the program that uses them and run the uninstall again.";
}

// A link in the data tree to a folder of the user's, and one deeper down to
// an empty folder. The test machine is Wine, where deleting a link deletes
// what lies behind it: the links stay, the user is told, and the keys stay.
TEST_F(RemoveFlow, LinksInTheGameKeepWhatLiesBehindThem) {
    install_game();
    write("C:\\Games\\Own\\letter.txt");
    ASSERT_TRUE(FOOTPRINT_make_directories("C:\\Games\\Own empty"));
    ASSERT_TRUE(FOOTPRINT_make_link("C:\\Games\\Own", GAME_DIR "\\data\\own"));
    ASSERT_TRUE(FOOTPRINT_make_link("C:\\Games\\Own empty", GAME_DIR "\\data\\maps\\hollow"));
    start();
    remove_answering_yes();
    // The walk reports "own" before it enters "maps".
    answer(failed_text(2, GAME_DIR "\\data\\own"), "Error!", IDOK);
    EXPECT_TRUE(DRIVER_settle(panel));
    EXPECT_TRUE(DRIVER_is_shown(panel, IDC_INSTALL_REMOVE));  // the installed screen again
    EXPECT_FALSE(DRIVER_is_shown(panel, IDC_PROGRESS));
    EXPECT_TRUE(exists("C:\\Games\\Own\\letter.txt"));
    EXPECT_TRUE(exists("C:\\Games\\Own empty"));
    EXPECT_TRUE(exists(GAME_DIR "\\data\\own\\letter.txt"));
    EXPECT_FALSE(exists(GAME_DIR "\\data\\maps\\south.map"));
    EXPECT_FALSE(exists(GAME_DIR "\\Tarn II.exe"));
    EXPECT_TRUE(FOOTPRINT_key_exists(PRODUCT_KEY));
    EXPECT_TRUE(FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY));
    ASSERT_TRUE(DRIVER_click(panel, IDC_EXIT));
    EXPECT_EQ(exit_status(), 0);
}

TEST_F(RemoveFlow, AFileInUseKeepsTheKeysUntilASecondRemove) {
    install_game();
    const std::string busy_file = GAME_DIR "\\data\\maps\\south.map";
    HANDLE busy = CreateFileA(busy_file.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    start();
    remove_answering_yes();
    // Tried by the data tree and again by its files, it counts once.
    answer(failed_text(1, busy_file), "Error!", IDOK);
    CloseHandle(busy);
    EXPECT_TRUE(exists(busy_file));
    EXPECT_FALSE(exists(GAME_DIR "\\data\\maps\\deep\\cave.map"));
    EXPECT_FALSE(exists(GAME_DIR "\\Tarn II.exe"));
    EXPECT_TRUE(FOOTPRINT_key_exists(PRODUCT_KEY));
    EXPECT_TRUE(FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY));

    // Freed, the file goes with a second Remove, and so do the keys.
    remove_answering_yes();
    answer("Uninstall complete", "Information", IDOK);
    EXPECT_EQ(exit_status(), 1);
    EXPECT_FALSE(exists(GAME_DIR "\\data"));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_KEY));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY));
}

// Starts command_line as the system's list of installed programs would.
static bool start_command(const char* command_line, DRIVER_PROCESS* process) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    char line[1024];
    snprintf(line, sizeof line, "%s", command_line);
    process->started = CreateProcessA(NULL, line, NULL, NULL, FALSE, 0, NULL, "C:\\", &startup,
                                      &process->information) != FALSE;
    return process->started;
}

TEST_F(RemoveFlow, UninstallEntryStartsTheUninstallerInRemoveMode) {
    install_game();
    // A first start places the uninstaller copy and points the entry at it.
    start();
    ASSERT_TRUE(DRIVER_click(panel, IDC_EXIT));
    ASSERT_EQ(exit_status(), 0);
    char command[512] = "";
    ASSERT_TRUE(
        FOOTPRINT_get_value(PRODUCT_UNINSTALL_KEY, "UninstallString", command, sizeof command));

    ASSERT_TRUE(start_command(command, &installer)) << command;
    panel = DRIVER_wait_window(installer.information.dwProcessId, PRODUCT_WINDOW_TITLE,
                               DRIVER_TIMEOUT_MS);
    ASSERT_NE(panel, (HWND)NULL);
    click_remove();
    answer(ARE_YOU_SURE, QUESTION, IDYES);
    answer(std::string(DELETE_DIR) + GAME_DIR "\\data", QUESTION, IDYES);
    answer(std::string(DELETE_DIR) + start_menu, QUESTION, IDYES);
    answer("Uninstall complete", "Information", IDOK);
    // Remove mode ends through the main loop's normal shutdown.
    EXPECT_EQ(exit_status(), 0);
    EXPECT_FALSE(exists(GAME_DIR "\\tnh2main.exe"));
    EXPECT_FALSE(exists(start_menu));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_KEY));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY));
}

// Puts the current user's "Programs" value back when the case ends.
struct ProgramsValue {
    HKEY key = NULL;
    char saved[MAX_PATH] = "";
    ~ProgramsValue() {
        if (key == NULL) return;
        RegSetValueExA(key, "Programs", 0, REG_SZ, (const BYTE*)saved, (DWORD)strlen(saved) + 1);
        RegCloseKey(key);
    }
};

// A "Programs" value that is missing, empty or not an absolute path counts as
// unreadable: the Start menu is left alone, and nothing is deleted at the
// root of the current drive (the installer runs from "C:\"), where an empty
// or relative folder would lead.
TEST_F(RemoveFlow, UnusableProgramsFolderLeavesTheStartMenuAlone) {
    ProgramsValue programs;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, KEY_ALL_ACCESS, &programs.key),
              ERROR_SUCCESS);
    DWORD size = sizeof programs.saved;
    ASSERT_EQ(RegQueryValueExA(programs.key, "Programs", NULL, NULL, (BYTE*)programs.saved, &size),
              ERROR_SUCCESS);
    const char* const values[] = {NULL, "", "C:", "."};  // NULL: no value at all
    for (const char* value : values) {
        SCOPED_TRACE(value != NULL ? value : "missing");
        if (value == NULL)
            ASSERT_EQ(RegDeleteValueA(programs.key, "Programs"), ERROR_SUCCESS);
        else
            ASSERT_EQ(RegSetValueExA(programs.key, "Programs", 0, REG_SZ, (const BYTE*)value,
                                     (DWORD)strlen(value) + 1),
                      ERROR_SUCCESS);
        install_game();
        write("C:\\Tarnholm Vesk\\keep.txt");

        start(NULL, "C:\\");
        click_remove();
        answer(ARE_YOU_SURE, QUESTION, IDYES);
        answer("Error opening key, please try again.!1", "Error!", IDOK);
        answer(std::string(DELETE_DIR) + GAME_DIR "\\data", QUESTION, IDYES);
        // No question about any Start-menu folder: the script goes on without it.
        answer("Uninstall complete", "Information", IDOK);
        EXPECT_EQ(exit_status(), 1);
        DRIVER_stop(&installer);

        EXPECT_TRUE(exists("C:\\Tarnholm Vesk\\keep.txt"));
        EXPECT_TRUE(exists(start_menu + "\\Tarnholm Vesk.lnk"));
        EXPECT_FALSE(exists(GAME_DIR "\\Tarn II.exe"));
        EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_KEY));
    }
    DeleteFileA("C:\\Tarnholm Vesk\\keep.txt");
    RemoveDirectoryA("C:\\Tarnholm Vesk");
    FOOTPRINT_delete_tree(start_menu.c_str());
}

TEST_F(RemoveFlow, UnregisteredProbeFilesFallBackToTheSetupDefaultDirectory) {
    char setup_default[MAX_PATH];
    ASSERT_TRUE(FOOTPRINT_setup_default_directory(setup_default));
    install_game(setup_default, GAME_DIR);  // registered, but nothing there
    write(GAME_DIR "\\Tarn II.exe");        // two of the three probe files only
    write(GAME_DIR "\\tnh2main.exe");
    start();
    click_remove();
    answer(ARE_YOU_SURE, QUESTION, IDYES);
    answer(std::string(DELETE_DIR) + setup_default + "\\data", QUESTION, IDYES);
    answer(std::string(DELETE_DIR) + start_menu, QUESTION, IDYES);
    answer("Uninstall complete", "Information", IDOK);
    EXPECT_EQ(exit_status(), 1);
    EXPECT_FALSE(exists(std::string(setup_default) + "\\mss32.dll"));
    EXPECT_TRUE(exists(GAME_DIR "\\Tarn II.exe"));
}

// The path with forward slashes after its drive ("C:\users/root").
static std::string slashed(std::string path) {
    for (size_t i = 3; i < path.size(); i++)
        if (path[i] == '\\') path[i] = '/';
    return path;
}

// Directories the game cannot own: removing from them would take files that
// are not the game's. The flow refuses before it deletes anything and keeps
// the registry as it is. The game's files in each are the sentinels, with
// those of the fixture on the desktop and in the Programs folder.
TEST_F(RemoveFlow, UnacceptableInstallDirectoriesAreRefusedWhole) {
    char windows[MAX_PATH];
    ASSERT_TRUE(FOOTPRINT_windows_directory(windows));
    std::string win = windows;
    char short_name[MAX_PATH] = "";
    std::string program_files = folder(CSIDL_PROGRAM_FILES);
    ASSERT_GT(GetShortPathNameA(program_files.c_str(), short_name, sizeof short_name), 0u);
    std::string desktop = folder(CSIDL_DESKTOPDIRECTORY), profile = folder(CSIDL_PROFILE);
    std::string programs = folder(CSIDL_PROGRAMS);
    const char* program_files_64 = getenv("ProgramW6432");
    ASSERT_NE(program_files_64, nullptr);
    struct {
        std::string registered;
        std::string probed;
    } cases[] = {
        {"C:\\", "C:"},                        // a drive root (one backslash is cut)
        {win, win},                            // the Windows directory
        {"c:\\WINDOWS\\\\", "c:\\WINDOWS\\"},  // the same, other case and separators
        {win + "\\.", win + "\\."},            // the same, spelled with a dot
        {"C:\\Games\\..\\windows", "C:\\Games\\..\\windows"},
        // Special folders and folders above one, in several spellings.
        {short_name, short_name},
        {program_files_64, program_files_64},
        {desktop + "\\", desktop},
        {folder(CSIDL_PERSONAL) + "\\.", folder(CSIDL_PERSONAL)},
        {profile, profile},
        {profile.substr(0, profile.rfind('\\')), profile.substr(0, profile.rfind('\\'))},
        {programs, programs},
        {slashed(folder(CSIDL_STARTMENU)), folder(CSIDL_STARTMENU)},
        {folder(CSIDL_COMMON_APPDATA), folder(CSIDL_COMMON_APPDATA)},
    };
    const char* const probes[] = {"Tarn II.exe", "tnh2main.exe", "mss32.dll"};
    for (auto& c : cases) {
        SCOPED_TRACE(c.registered);
        for (const char* probe : probes) write(c.probed + "\\" + probe);
        write(std::string("C:\\") + "keep_root.txt");
        ASSERT_TRUE(FOOTPRINT_set_value(PRODUCT_KEY, "InstallDir", c.registered.c_str()));
        ASSERT_TRUE(FOOTPRINT_set_value(PRODUCT_UNINSTALL_KEY, "UninstallString", "placeholder"));

        start();
        click_remove();
        answer(ARE_YOU_SURE, QUESTION, IDYES);
        std::string text, caption;
        HWND box = message_box(&text, &caption);
        ASSERT_NE(box, (HWND)NULL);
        EXPECT_EQ(caption, "Error!");
        EXPECT_NE(text.find("Nothing was removed."), std::string::npos) << text;
        DRIVER_answer(box, IDOK);
        EXPECT_TRUE(DRIVER_no_message_box(installer.information.dwProcessId));
        EXPECT_TRUE(DRIVER_is_running(&installer));
        ASSERT_TRUE(DRIVER_click(panel, IDC_EXIT));
        EXPECT_EQ(exit_status(), 0);

        for (const char* probe : probes) EXPECT_TRUE(exists(c.probed + "\\" + probe)) << probe;
        EXPECT_TRUE(exists("C:\\keep_root.txt"));
        EXPECT_TRUE(exists(win + "\\notepad.exe"));
        EXPECT_TRUE(FOOTPRINT_key_exists(PRODUCT_KEY));
        EXPECT_TRUE(FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY));
        for (const char* probe : probes) DeleteFileA((c.probed + "\\" + probe).c_str());
        DeleteFileA("C:\\keep_root.txt");
        DRIVER_stop(&installer);
    }
}
