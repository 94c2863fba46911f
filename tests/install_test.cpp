// The install flow end to end: the real installer in the test machine, driven
// through its window, with game CDs in drives D: and E: and drives of chosen
// free space (tests/install_machine.sh lays them out). Effects are read back
// from the registry, the disk and the links.
#include <gtest/gtest.h>
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "driver.h"
#include "footprint.h"
#include "resource.h"

// Where the fixture left the master CDs and the host's lnkinfo (Y: is the
// build directory), and the host directories behind drives D: and E:.
#define MASTER_CDS "Y:\\cds"
#define CD_DRIVE_D "Y:\\machine\\cd-d"
#define CD_DRIVE_E "Y:\\machine\\cd-e"
#define SCRATCH    "C:\\tarn_e2e\\case"
#define SENTINEL   "C:\\tarn_e2e\\sentinel\\keep.txt"

static const char NOT_VALID[] = "Sorry this is not a Valid directory, please select another.";
static const char NO_CD[] =
    "Could not find the original Tarnholm CD. Please insert Tarn Disk 1, wait a few seconds and "
    "then "
    "press OK to try again.";
static const char WORKING[] = "Please Wait...This may take several minutes";

// ---- Files ------------------------------------------------------------------

static bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

static bool is_directory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static std::string contents(const std::string& path) {
    std::string data;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == NULL) return "<missing>";
    char chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) data.append(chunk, got);
    fclose(file);
    return data;
}

static void write_text(const std::string& path, const char* text) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fputs(text, file);
    fclose(file);
}

// The files below directory, relative to it ("data\maps\south.map").
static void list_files(const std::string& directory, const std::string& relative,
                       std::vector<std::string>* files) {
    WIN32_FIND_DATAA found;
    std::string here = relative.empty() ? directory : directory + "\\" + relative;
    HANDLE search = FindFirstFileA((here + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        std::string entry = relative.empty() ? name : relative + "\\" + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            list_files(directory, entry, files);
        else
            files->push_back(entry);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

static bool copy_tree(const std::string& from, const std::string& to) {
    if (!FOOTPRINT_make_directories(to.c_str())) return false;
    std::vector<std::string> files;
    list_files(from, "", &files);
    for (const std::string& file : files) {
        std::string target = to + "\\" + file;
        std::string parent = target.substr(0, target.rfind('\\'));
        if (!FOOTPRINT_make_directories(parent.c_str())) return false;
        if (!CopyFileA((from + "\\" + file).c_str(), target.c_str(), FALSE)) return false;
    }
    return true;
}

static uint64_t file_size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return ((uint64_t)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

// Whole-file equality, compared in chunks (the files may be large) and
// reported by sizes rather than by contents.
static void expect_same_file(const std::string& actual, const std::string& expected) {
    FILE* a = fopen(actual.c_str(), "rb");
    FILE* b = fopen(expected.c_str(), "rb");
    bool same = a != NULL && b != NULL;
    static char chunk_a[65536], chunk_b[65536];
    while (same) {
        size_t got_a = fread(chunk_a, 1, sizeof chunk_a, a);
        size_t got_b = fread(chunk_b, 1, sizeof chunk_b, b);
        same = got_a == got_b && memcmp(chunk_a, chunk_b, got_a) == 0;
        if (got_a == 0) break;
    }
    if (a != NULL) fclose(a);
    if (b != NULL) fclose(b);
    EXPECT_TRUE(same) << actual << " (" << file_size(actual) << " bytes) differs from " << expected
                      << " (" << file_size(expected) << " bytes)";
}

static bool ends_with_rra(const std::string& name) {
    return name.size() >= 3 && _stricmp(name.c_str() + name.size() - 3, "rra") == 0;
}

// ---- Drives -------------------------------------------------------------------

// Puts master CD name ("full", "plain", ...) into the drive behind host_dir,
// or empties the drive for NULL.
static bool insert_cd(const char* host_dir, const char* name) {
    if (!FOOTPRINT_delete_tree(host_dir) && exists(host_dir)) return false;
    if (!FOOTPRINT_make_directories(host_dir)) return false;
    return name == NULL || copy_tree(std::string(MASTER_CDS) + "\\" + name, host_dir);
}

// ---- Links --------------------------------------------------------------------

struct Link {
    std::string target, arguments, directory, description;
};

static bool read_link(const std::string& path, Link* link) {
    IShellLinkA* shell_link = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                (void**)&shell_link)))
        return false;
    IPersistFile* file = NULL;
    bool ok = SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, (void**)&file));
    if (ok) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        ok = SUCCEEDED(file->Load(wide, STGM_READ));
        file->Release();
    }
    char text[1024];
    if (ok) {
        shell_link->GetPath(text, sizeof text, NULL, SLGP_RAWPATH);
        link->target = text;
        shell_link->GetArguments(text, sizeof text);
        link->arguments = text;
        shell_link->GetWorkingDirectory(text, sizeof text);
        link->directory = text;
        shell_link->GetDescription(text, sizeof text);
        link->description = text;
    }
    shell_link->Release();
    return ok;
}

// What the host's lnkinfo prints about a link file (it runs as a host
// program, started through the machine's drive Y:).
static std::string lnkinfo(const std::string& path) {
    typedef char*(CDECL * UNIX_NAME)(LPCWSTR);
    UNIX_NAME unix_name =
        (UNIX_NAME)(void*)GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name");
    if (unix_name == NULL) return "<not in wine>";
    wchar_t wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char* host_path = unix_name(wide);
    if (host_path == NULL) return "<no host path>";
    std::string command = std::string(MASTER_CDS "\\lnkinfo \"") + host_path + "\"";
    HeapFree(GetProcessHeap(), 0, host_path);
    const char* output = "lnkinfo.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE file =
        CreateFileA(output, GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS, 0, NULL);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = file;
    startup.hStdError = file;
    PROCESS_INFORMATION process;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    bool started =
        CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
    CloseHandle(file);
    if (!started) return "<lnkinfo did not start>";
    // A host program's handle may signal at once: wait for its output to
    // come and then stop growing.
    WaitForSingleObject(process.hProcess, 20000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::string text;
    for (int i = 0, stable = 0; i < 200 && stable < 5; i++) {
        Sleep(50);
        std::string now = contents(output);
        stable = (now == text && !now.empty()) ? stable + 1 : 0;
        text = now;
    }
    return text;
}

// ---- The installer, driven --------------------------------------------------

// Polls condition until it holds or timeout_ms passed.
template <typename CONDITION>
static bool wait_until(CONDITION condition, uint32_t timeout_ms = DRIVER_TIMEOUT_MS) {
    for (uint32_t waited = 0; waited < timeout_ms; waited += 25) {
        if (condition()) return true;
        Sleep(25);
    }
    return condition();
}

class InstallFlow : public ::testing::Test {
protected:
    DRIVER_PROCESS installer = {};
    HWND panel = NULL;
    char windows[MAX_PATH] = "";
    char setup_default[MAX_PATH] = "";
    char programs[MAX_PATH] = "";
    char desktop[MAX_PATH] = "";

    // What an aborted case left running would hold the mutex or go on
    // writing into the setup default directory.
    static void kill_leftovers() {
        DRIVER_kill_program("tarnholm_patch.exe");
        DRIVER_kill_program("setup.exe");
    }

    void SetUp() override {
        CoInitialize(NULL);
        kill_leftovers();
        ASSERT_TRUE(FOOTPRINT_reset());
        ASSERT_TRUE(FOOTPRINT_windows_directory(windows));
        ASSERT_TRUE(FOOTPRINT_setup_default_directory(setup_default));
        ASSERT_TRUE(FOOTPRINT_folder(CSIDL_PROGRAMS, programs));
        ASSERT_TRUE(FOOTPRINT_folder(CSIDL_DESKTOPDIRECTORY, desktop));
        FOOTPRINT_delete_tree(SCRATCH);
        ASSERT_FALSE(exists(SCRATCH));
        ASSERT_TRUE(insert_cd(CD_DRIVE_D, NULL));
        ASSERT_TRUE(insert_cd(CD_DRIVE_E, NULL));
        // A sentinel beside the game's directories, which no case may touch.
        ASSERT_TRUE(FOOTPRINT_make_directories("C:\\tarn_e2e\\sentinel"));
        write_text(SENTINEL, "keep");
    }

    void TearDown() override {
        DRIVER_stop(&installer);
        kill_leftovers();
        EXPECT_EQ(contents(SENTINEL), "keep");
        insert_cd(CD_DRIVE_D, NULL);
        insert_cd(CD_DRIVE_E, NULL);
        CoUninitialize();
    }

    // Starts the installer, presses Install and waits for the path screen.
    void open_path_screen() {
        ASSERT_TRUE(DRIVER_start(DRIVER_INSTALLER, NULL, DRIVER_PATCH_FOLDER, &installer));
        panel = DRIVER_wait_window(installer.information.dwProcessId, PRODUCT_WINDOW_TITLE,
                                   DRIVER_TIMEOUT_MS);
        ASSERT_NE(panel, (HWND)NULL) << "no panel";
        ASSERT_TRUE(wait_until([&] { return DRIVER_is_shown(panel, IDC_INSTALL_REMOVE); }))
            << "no start screen";
        ASSERT_TRUE(DRIVER_click(panel, IDC_INSTALL_REMOVE));
        ASSERT_TRUE(wait_until([&] { return DRIVER_is_shown(panel, IDC_INSTALL_DIR); }))
            << "no path screen";
        ASSERT_TRUE(DRIVER_settle(panel));
    }

    // Types path into the edit control and presses Ok.
    void choose(const char* path) {
        ASSERT_TRUE(DRIVER_set_text(panel, IDC_INSTALL_DIR, path));
        ASSERT_TRUE(DRIVER_settle(panel));
        ASSERT_TRUE(DRIVER_click(panel, IDC_OK));
    }

    // Waits for the next message box, checks its text and caption and
    // presses button.
    void expect_box(const std::string& text, const std::string& caption, int button = IDOK,
                    uint32_t timeout_ms = DRIVER_TIMEOUT_MS) {
        HWND box = DRIVER_wait_message_box(installer.information.dwProcessId, timeout_ms);
        ASSERT_NE(box, (HWND)NULL) << "no message box; expected \"" << text << "\"";
        char buffer[1024] = "";
        DRIVER_message_box_text(box, buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer), text);
        DRIVER_window_title(box, buffer, sizeof buffer);
        EXPECT_EQ(std::string(buffer), caption);
        ASSERT_TRUE(DRIVER_answer(box, button));
        // The box must be gone before the next one is looked for.
        for (int i = 0; i < 100 && IsWindow(box); i++) Sleep(20);
    }

    long exit_status(uint32_t timeout_ms = DRIVER_TIMEOUT_MS) {
        uint32_t code = 0;
        if (!DRIVER_wait_exit(&installer, timeout_ms, &code)) return -1;
        return (long)code;
    }

    void expect_path_screen() {
        ASSERT_TRUE(DRIVER_settle(panel));
        EXPECT_TRUE(DRIVER_is_running(&installer));
        EXPECT_TRUE(DRIVER_is_shown(panel, IDC_INSTALL_DIR));
        EXPECT_TRUE(DRIVER_is_shown(panel, IDC_OK));
        EXPECT_TRUE(DRIVER_is_shown(panel, IDC_CANCEL));
        EXPECT_TRUE(DRIVER_no_message_box(installer.information.dwProcessId));
    }

    std::string value(const char* key, const char* name) {
        char text[1024] = "";
        if (!FOOTPRINT_get_value(key, name, text, sizeof text)) return "<missing>";
        return text;
    }

    std::string uninstaller() { return std::string(windows) + "\\Tarnholm Vesk remove.exe"; }
};

static std::string special_folder(const std::string& path) {
    return "This folder belongs to Windows or holds your own files:\n" + path +
           "\nPlease choose a new folder for the game.";
}

static std::string not_empty(const std::string& path) {
    return "This folder already holds files that are not the game's:\n" + path +
           "\nPlease choose a new or empty folder for the game.";
}

static std::string folder(int csidl) {
    char path[MAX_PATH] = "";
    EXPECT_TRUE(FOOTPRINT_folder(csidl, path)) << csidl;
    return path;
}

static std::string parent(const std::string& path) { return path.substr(0, path.rfind('\\')); }

// The 8.3 spelling of an existing path.
static std::string short_name(const std::string& path) {
    char name[MAX_PATH] = "";
    DWORD length = GetShortPathNameA(path.c_str(), name, sizeof name);
    EXPECT_TRUE(length > 0 && length < sizeof name && path != name) << path;
    return name;
}

// Every separator after the drive's doubled, or turned into a slash.
static std::string respelled(const std::string& path, const char* separator) {
    std::string spelled = path.substr(0, 3);
    for (size_t i = 3; i < path.size(); i++)
        spelled += path[i] == '\\' ? std::string(separator) : path.substr(i, 1);
    return spelled;
}

// Each refusal keeps the path screen and names its reason; the user's files
// inside the folders named stay.
TEST_F(InstallFlow, RefusedPathsKeepThePathScreenAndTheirParentsAreMade) {
    ASSERT_NO_FATAL_FAILURE(open_path_screen());
    std::string windows_other_case = windows;
    for (char& c : windows_other_case)
        c = (char)(islower((unsigned char)c) ? toupper(c) : tolower(c));
    std::string long_path = SCRATCH "\\long\\";
    long_path.append(512 - 1 - long_path.size() - 5,
                     'x');  // fits the field, not with "\Tarn II.exe"
    ASSERT_TRUE(FOOTPRINT_make_directories(setup_default));
    const std::string nested = std::string(setup_default) + "\\Nested";
    const std::string program_files = folder(CSIDL_PROGRAM_FILES), profile = folder(CSIDL_PROFILE);
    const std::string documents = folder(CSIDL_PERSONAL), start_menu = folder(CSIDL_STARTMENU);
    const std::string common_data = folder(CSIDL_COMMON_APPDATA), system = folder(CSIDL_SYSTEM);
    const char* program_files_64 = getenv("ProgramW6432");
    ASSERT_NE(program_files_64, nullptr);
    ASSERT_TRUE(FOOTPRINT_make_directories(SCRATCH "\\mine"));
    write_text(SCRATCH "\\mine\\letter.txt", "mine");
    write_text(SCRATCH "\\file", "a file where the folder would be");
    struct Case {
        std::string path;
        std::string message;
        std::string made;  // a parent that must exist afterwards ("" for none)
    } cases[] = {
        {"C:\\", NOT_VALID, ""},
        {windows, NOT_VALID, ""},
        {windows_other_case, NOT_VALID, ""},
        {"tarn_e2e\\case\\game", NOT_VALID, ""},
        {SCRATCH "\\up\\a\\..\\game", NOT_VALID, SCRATCH "\\up\\a"},
        {long_path, NOT_VALID, SCRATCH "\\long"},
        {SCRATCH "\\file", NOT_VALID, ""},
        // Inside the set-up program's own directory, however spelled: it
        // would move into itself.
        {nested, NOT_VALID, ""},
        {std::string(setup_default) + "\\.\\Nested", NOT_VALID, ""},
        {respelled(nested, "\\\\"), NOT_VALID, ""},
        {respelled(nested, "/"), NOT_VALID, ""},
        {short_name(setup_default) + "\\Nested", NOT_VALID, ""},
        // Folders of Windows and of the user, and folders above them.
        {program_files_64, special_folder(program_files_64), ""},
        {short_name(program_files), special_folder(program_files), ""},
        {system, special_folder(system), ""},
        {profile, special_folder(profile), ""},
        {parent(profile) + "\\", special_folder(parent(profile)), ""},
        {desktop + std::string("\\."), special_folder(desktop), ""},
        {documents + " ", special_folder(documents), ""},
        {start_menu, special_folder(start_menu), ""},
        {programs, special_folder(programs), ""},
        {common_data, special_folder(common_data), ""},
        // A folder of the user's that holds no earlier installation.
        {SCRATCH "\\mine", not_empty(SCRATCH "\\mine"), ""},
    };
    std::vector<std::string> sentinels;
    for (const Case& c : cases) {
        if (c.message == NOT_VALID || c.message.find('\n') == std::string::npos) continue;
        std::string named = c.message.substr(c.message.find('\n') + 1);
        sentinels.push_back(named.substr(0, named.find('\n')) + "\\tarn_sentinel.txt");
        write_text(sentinels.back(), "keep");
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_NO_FATAL_FAILURE(choose(c.path.c_str()));
        ASSERT_NO_FATAL_FAILURE(expect_box(c.message, "Warning!"));
        expect_path_screen();
        if (!c.made.empty()) {
            EXPECT_TRUE(is_directory(c.made)) << c.made;
        }
    }
    EXPECT_FALSE(exists(SCRATCH "\\up\\game"));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_KEY));
    EXPECT_EQ(contents(SCRATCH "\\mine\\letter.txt"), "mine");
    for (const std::string& sentinel : sentinels) {
        EXPECT_EQ(contents(sentinel), "keep") << sentinel;
        DeleteFileA(sentinel.c_str());
    }
}

TEST_F(InstallFlow, PathOnACdDriveIsRefusedAsAnInvalidDrive) {
    ASSERT_NO_FATAL_FAILURE(open_path_screen());
    ASSERT_NO_FATAL_FAILURE(choose("D:\\Games\\Tarn"));
    ASSERT_NO_FATAL_FAILURE(
        expect_box("Drive selected is invalid. Please choose another install path.", "WARNING"));
    expect_path_screen();
    // Its parent was attempted before the drive was looked at.
    EXPECT_TRUE(is_directory(CD_DRIVE_D "\\Games"));
}

// The free-space bands, each on a drive of its own size; with no CD the flow
// then ends at the CD question.
TEST_F(InstallFlow, FreeSpaceBandsWarnOrEnd) {
    struct Case {
        const char* path;
        const char* warning;  // NULL: none
        bool too_little;
    } cases[] = {
        {"F:\\Games\\Tarn", "Please only choose Minimum or Typical Install Options.", false},
        {"G:\\Games\\Tarn", "Please only choose Minimum Install Option.", false},
        {"H:\\Games\\Tarn", NULL, true},
        // 4 TiB and 100 MiB: in 32 bits of KiB that would wrap to 100 MiB.
        {"I:\\Games\\Tarn", NULL, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        ASSERT_TRUE(exists(std::string(c.path, 3))) << "the fixture's drive is missing";
        ASSERT_NO_FATAL_FAILURE(open_path_screen());
        ASSERT_NO_FATAL_FAILURE(choose(c.path));
        if (c.too_little) {
            char text[200];
            snprintf(text, sizeof text,
                     "You do not have enough space on your %c: drive. \nInstall requires a minimum "
                     "of 650MB. ",
                     c.path[0]);
            ASSERT_NO_FATAL_FAILURE(expect_box(text, "WARNING."));
        } else {
            if (c.warning != NULL) {
                ASSERT_NO_FATAL_FAILURE(expect_box(c.warning, "WARNING"));
            }
            ASSERT_NO_FATAL_FAILURE(expect_box(NO_CD, "WARNING", IDCANCEL));
        }
        EXPECT_EQ(exit_status(), 1);
        EXPECT_TRUE(is_directory(std::string(c.path, 9))) << "the parent directory was made";
        EXPECT_FALSE(exists(c.path)) << "nothing installed";
        DRIVER_stop(&installer);
    }
}

TEST_F(InstallFlow, CdWithTheNoPatchMarkerEndsTheInstaller) {
    ASSERT_TRUE(insert_cd(CD_DRIVE_E, "nopatch"));
    ASSERT_NO_FATAL_FAILURE(open_path_screen());
    ASSERT_NO_FATAL_FAILURE(choose(SCRATCH "\\game"));
    ASSERT_NO_FATAL_FAILURE(
        expect_box("Your version of Tarnholm does not require this patch. ", "WARNING"));
    EXPECT_EQ(exit_status(), 1);
    EXPECT_FALSE(exists(SCRATCH "\\game"));
    EXPECT_FALSE(exists(setup_default)) << "the CD's set-up program must not run";
}

// Both drives hold the game: D: is the source. Without a set-up program on
// the CD the flow still passes, registers and ends.
TEST_F(InstallFlow, TwoCdsTheFirstDriveWins) {
    ASSERT_TRUE(insert_cd(CD_DRIVE_D, "nosetup"));
    ASSERT_TRUE(insert_cd(CD_DRIVE_E, "nosetup"));
    ASSERT_NO_FATAL_FAILURE(open_path_screen());
    ASSERT_NO_FATAL_FAILURE(choose(SCRATCH "\\two"));
    ASSERT_NO_FATAL_FAILURE(expect_box("Please restart your machine.", "IMPORTANT"));
    EXPECT_EQ(exit_status(), 1);
    EXPECT_EQ(value(PRODUCT_KEY, "InstallSource"), "D:\\");
    EXPECT_EQ(value(PRODUCT_KEY, "InstallDir"), SCRATCH "\\two");
    EXPECT_TRUE(is_directory(SCRATCH "\\two"));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY))
        << "the installer never creates the entry";
}

// No CD at first: Cancel ends the installer; OK after the CD went into E:
// finds it there and installs a clean game on the same drive (files are
// renamed; one is held open by the set-up program across a poll): every
// file moved whole, the setup default directory gone, no desktop link made.
// The directory typed the second time is spelled with "\.\" and a trailing
// blank; the installation and its links name the plain directory.
TEST_F(InstallFlow, NoCdThenCancelOrInsertAndOk) {
    ASSERT_NO_FATAL_FAILURE(open_path_screen());
    ASSERT_NO_FATAL_FAILURE(choose(SCRATCH "\\clean"));
    ASSERT_NO_FATAL_FAILURE(expect_box(NO_CD, "WARNING", IDCANCEL));
    EXPECT_EQ(exit_status(), 1);
    DRIVER_stop(&installer);

    ASSERT_NO_FATAL_FAILURE(open_path_screen());
    ASSERT_NO_FATAL_FAILURE(choose(SCRATCH "\\.\\clean "));
    HWND box = DRIVER_wait_message_box(installer.information.dwProcessId, DRIVER_TIMEOUT_MS);
    ASSERT_NE(box, (HWND)NULL);
    ASSERT_TRUE(insert_cd(CD_DRIVE_E, "plain"));
    ASSERT_TRUE(DRIVER_answer(box, IDOK));
    for (int i = 0; i < 100 && IsWindow(box); i++) Sleep(20);
    ASSERT_NO_FATAL_FAILURE(expect_box("Please restart your machine.", "IMPORTANT", IDOK, 60000));
    EXPECT_EQ(exit_status(), 1);

    EXPECT_EQ(value(PRODUCT_KEY, "InstallSource"), "E:\\");
    EXPECT_EQ(value(PRODUCT_KEY, "InstallDir"), SCRATCH "\\clean");
    std::vector<std::string> files;
    list_files(MASTER_CDS "\\plain\\GAME", "", &files);
    ASSERT_GE(files.size(), 8u);
    for (const std::string& file : files)
        expect_same_file(SCRATCH "\\clean\\" + file, MASTER_CDS "\\plain\\GAME\\" + file);
    EXPECT_FALSE(exists(setup_default)) << "the emptied setup default directory is removed";
    EXPECT_FALSE(exists(std::string(desktop) + "\\Tarnholm Vesk.lnk")) << "no desktop link is made";
    Link link;
    ASSERT_TRUE(read_link(std::string(programs) + "\\Tarnholm Vesk\\Tarnholm Vesk.lnk", &link));
    EXPECT_EQ(link.target, SCRATCH "\\clean\\Tarn II.exe");
    EXPECT_EQ(link.directory, SCRATCH "\\clean");
}

// The whole install, over an earlier installation: a payload several levels
// deep written over seconds, *.rra files, a file held open while the
// installer polls, the earlier installation's files in the way and an
// existing desktop link. The target is on another drive (4 TiB free), so
// every file is copied and its source deleted. The files in the way stay in
// the setup default directory, and the last message says so.
TEST_F(InstallFlow, WholeInstallMovesTheGameAndRecordsIt) {
    const std::string target = "I:\\Games\\Tarn Game";
    FOOTPRINT_delete_tree(target.c_str());
    ASSERT_FALSE(exists(target));
    ASSERT_TRUE(insert_cd(CD_DRIVE_D, "full"));
    ASSERT_TRUE(FOOTPRINT_make_directories(target.c_str()));
    const char* const earlier[] = {"Tarn II.exe", "tnh2main.exe", "mss32.dll"};
    for (const char* file : earlier) write_text(target + "\\" + file, "the earlier installation's");
    const std::string desktop_link = std::string(desktop) + "\\Tarnholm Vesk.lnk";
    write_text(desktop_link, "stale");
    // A temp file from an earlier run would hide whether setup ran now.
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string setup_log = std::string(temp) + "cdsetup.log";
    DeleteFileA(setup_log.c_str());

    ASSERT_NO_FATAL_FAILURE(open_path_screen());
    ASSERT_NO_FATAL_FAILURE(choose(target.c_str()));

    // The working display, seen while the set-up program runs.
    Sleep(2500);
    char title[256] = "";
    DRIVER_window_title(panel, title, sizeof title);
    EXPECT_STREQ(title, PRODUCT_WINDOW_TITLE);
    EXPECT_TRUE(DRIVER_is_shown(panel, IDC_WORKING_TEXT));
    EXPECT_FALSE(DRIVER_is_shown(panel, IDC_INSTALL_DIR));
    EXPECT_FALSE(DRIVER_is_shown(panel, IDC_OK));
    EXPECT_FALSE(DRIVER_is_shown(panel, IDC_CANCEL));
    EXPECT_FALSE(DRIVER_is_shown(panel, IDC_PATH_PROMPT));
    // The panel answers only between its polling sleeps.
    char working[512] = "";
    EXPECT_TRUE(wait_until(
        [&] { return DRIVER_control_text(panel, IDC_WORKING_TEXT, working, sizeof working); }));
    EXPECT_TRUE(strcmp(working, WORKING) == 0 || strncmp(working, "Processing ", 11) == 0)
        << working;

    ASSERT_NO_FATAL_FAILURE(
        expect_box("3 files could not be moved into the game's folder and are still in:\n" +
                       std::string(setup_default) + "\nPlease restart your machine.",
                   "IMPORTANT", IDOK, 90000));
    EXPECT_EQ(exit_status(), 1);

    // The set-up program really held its file open across a poll.
    std::string log = contents(setup_log);
    EXPECT_NE(log.find("holding"), std::string::npos) << log;
    EXPECT_NE(log.find("released"), std::string::npos) << log;

    // Files: everything moved whole, except *.rra and what was in the way.
    std::vector<std::string> files;
    list_files(MASTER_CDS "\\full\\GAME", "", &files);
    ASSERT_GE(files.size(), 11u);
    for (const std::string& file : files) {
        std::string on_cd = MASTER_CDS "\\full\\GAME\\" + file;
        std::string installed = target + "\\" + file;
        std::string left = std::string(setup_default) + "\\" + file;
        if (ends_with_rra(file)) {
            EXPECT_FALSE(exists(installed)) << file;
            expect_same_file(left, on_cd);
        } else if (file == "Tarn II.exe" || file == "tnh2main.exe" || file == "mss32.dll") {
            EXPECT_EQ(contents(installed), "the earlier installation's");
            expect_same_file(left, on_cd);  // a file that was in the way stays behind
        } else {
            expect_same_file(installed, on_cd);
            EXPECT_FALSE(exists(left)) << file;
        }
    }
    EXPECT_EQ(contents(target + "\\data\\maps\\big.map").size(),
              4u * 1048576 + strlen("GAME/data/maps/big.map\n"));
    // The emptied levels went; the one with an *.rra file stays.
    EXPECT_FALSE(exists(std::string(setup_default) + "\\data\\maps"));
    EXPECT_TRUE(exists(std::string(setup_default) + "\\data\\video\\Intro.Rra"));

    // Registry.
    EXPECT_EQ(value(PRODUCT_KEY, "InstallDir"), target);
    EXPECT_EQ(value(PRODUCT_KEY, "InstallSource"), "D:\\");
    EXPECT_EQ(value(PRODUCT_UNINSTALL_KEY, "UninstallString"), "\"" + uninstaller() + "\" remove");

    // Links: the two in the Start-menu folder and the rewritten desktop link.
    Link link;
    const std::string game_link = std::string(programs) + "\\Tarnholm Vesk\\Tarnholm Vesk.lnk";
    ASSERT_TRUE(read_link(game_link, &link));
    EXPECT_EQ(link.target, target + "\\Tarn II.exe");
    EXPECT_EQ(link.directory, target);
    EXPECT_EQ(link.description, "Tarnholm Vesk");
    EXPECT_EQ(link.arguments, "");
    const std::string uninstall_link =
        std::string(programs) + "\\Tarnholm Vesk\\Uninstall Tarnholm Vesk.lnk";
    ASSERT_TRUE(read_link(uninstall_link, &link));
    EXPECT_EQ(link.target, uninstaller());
    EXPECT_EQ(link.directory, windows);
    EXPECT_EQ(link.description, "Uninstall Tarnholm Vesk");
    EXPECT_EQ(link.arguments, "remove");
    ASSERT_TRUE(read_link(desktop_link, &link)) << "the desktop link was not rewritten";
    EXPECT_EQ(link.target, target + "\\Tarn II.exe");
    EXPECT_EQ(link.directory, target);

    // The same links, read from outside by the host's lnkinfo.
    std::string outside = lnkinfo(game_link);
    EXPECT_NE(outside.find("Tarn Game\\Tarn II.exe"), std::string::npos) << outside;
    EXPECT_NE(outside.find("Tarnholm Vesk"), std::string::npos) << outside;
    outside = lnkinfo(uninstall_link);
    EXPECT_NE(outside.find("Tarnholm Vesk remove.exe"), std::string::npos) << outside;
    EXPECT_NE(outside.find("remove"), std::string::npos) << outside;
}

// The panel stays live under the flow's boxes without owner (the band
// warning, the CD question). Typing, Cancel, Install and Ok there change
// nothing: the flow installs into the directory it validated, and no second
// flow starts inside it.
TEST_F(InstallFlow, TheValidatedDirectoryHoldsWhileBoxesAreOpen) {
    const char* target = "F:\\Games\\Tarn";
    FOOTPRINT_delete_tree("F:\\Games");
    ASSERT_NO_FATAL_FAILURE(open_path_screen());
    ASSERT_NO_FATAL_FAILURE(choose(target));
    const DWORD id = installer.information.dwProcessId;
    HWND box = DRIVER_wait_message_box(id, DRIVER_TIMEOUT_MS);
    ASSERT_NE(box, (HWND)NULL);
    ASSERT_TRUE(DRIVER_set_text(panel, IDC_INSTALL_DIR, SCRATCH "\\typed"));
    ASSERT_TRUE(DRIVER_click(panel, IDC_CANCEL));
    ASSERT_TRUE(DRIVER_command(panel, IDC_INSTALL_REMOVE));
    ASSERT_TRUE(DRIVER_set_text(panel, IDC_INSTALL_DIR, SCRATCH "\\again"));
    ASSERT_TRUE(DRIVER_click(panel, IDC_OK));
    EXPECT_EQ(DRIVER_count_message_boxes(id), 1);
    char text[512] = "";
    DRIVER_message_box_text(box, text, sizeof text);
    EXPECT_STREQ(text, "Please only choose Minimum or Typical Install Options.");
    ASSERT_TRUE(DRIVER_answer(box, IDOK));
    for (int i = 0; i < 100 && IsWindow(box); i++) Sleep(20);

    box = DRIVER_wait_message_box(id, DRIVER_TIMEOUT_MS);
    ASSERT_NE(box, (HWND)NULL);
    ASSERT_TRUE(DRIVER_set_text(panel, IDC_INSTALL_DIR, SCRATCH "\\late"));
    ASSERT_TRUE(DRIVER_click(panel, IDC_OK));
    EXPECT_EQ(DRIVER_count_message_boxes(id), 1);
    DRIVER_message_box_text(box, text, sizeof text);
    EXPECT_STREQ(text, NO_CD);
    ASSERT_TRUE(insert_cd(CD_DRIVE_E, "nosetup"));
    ASSERT_TRUE(DRIVER_answer(box, IDOK));
    for (int i = 0; i < 100 && IsWindow(box); i++) Sleep(20);
    ASSERT_NO_FATAL_FAILURE(expect_box("Please restart your machine.", "IMPORTANT"));
    EXPECT_EQ(exit_status(), 1);

    EXPECT_EQ(value(PRODUCT_KEY, "InstallDir"), target);
    EXPECT_TRUE(is_directory(target));
    EXPECT_FALSE(exists(SCRATCH)) << "a second flow made the parents of a typed directory";
    FOOTPRINT_delete_tree("F:\\Games");
}

// Across drives a file is copied under a partial name and renamed once
// whole. An installer killed in the middle of a large file's copy leaves no
// truncated file under the final name. The next run, over what the first one
// moved (an earlier installation), replaces the partial copy and reports the
// files its set-up program wrote again that were already in place.
TEST_F(InstallFlow, KilledCopyLeavesNoTruncatedFileAndTheNextRunCompletes) {
    const std::string target = "I:\\Games\\Tarn Large";
    const std::string big = "data\\fill\\g0\\d0\\file0.bin";
    const std::string on_cd = MASTER_CDS "\\large\\GAME\\" + big;
    const std::string final_name = target + "\\" + big;
    const std::string partial = final_name + ".partial";
    FOOTPRINT_delete_tree(target.c_str());
    ASSERT_TRUE(insert_cd(CD_DRIVE_D, "large"));
    ASSERT_NO_FATAL_FAILURE(open_path_screen());
    ASSERT_NO_FATAL_FAILURE(choose(target.c_str()));
    // Killed as soon as the copy shows, under either name.
    bool copying = false;
    for (DWORD start = GetTickCount(); !copying && GetTickCount() - start < 60000; Sleep(1))
        copying = exists(partial) || exists(final_name);
    ASSERT_TRUE(copying) << "the copy never began";
    TerminateProcess(installer.information.hProcess, 9);
    WaitForSingleObject(installer.information.hProcess, DRIVER_TIMEOUT_MS);
    kill_leftovers();

    EXPECT_FALSE(exists(final_name)) << "a truncated copy under the final name";
    ASSERT_TRUE(exists(partial)) << "killed too late to catch the copy";
    EXPECT_LT(file_size(partial), file_size(on_cd));
    ASSERT_FALSE(FOOTPRINT_key_exists(PRODUCT_KEY)) << "killed after the first polling cycle";
    std::vector<std::string> moved;
    list_files(target, "", &moved);
    DRIVER_stop(&installer);

    ASSERT_NO_FATAL_FAILURE(open_path_screen());
    ASSERT_NO_FATAL_FAILURE(choose(target.c_str()));
    ASSERT_NO_FATAL_FAILURE(
        expect_box(std::to_string(moved.size() - 1) +
                       " files could not be moved into the game's folder and are still in:\n" +
                       setup_default + "\nPlease restart your machine.",
                   "IMPORTANT", IDOK, 90000));
    EXPECT_EQ(exit_status(), 1);
    expect_same_file(final_name, on_cd);
    EXPECT_FALSE(exists(partial));
    EXPECT_EQ(value(PRODUCT_KEY, "InstallDir"), target);
    FOOTPRINT_delete_tree(target.c_str());
}
