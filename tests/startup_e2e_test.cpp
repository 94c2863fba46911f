// Start-up of the real installer in the test machine: single instance, mode
// from the command line, the existing-installation search, the re-pointed
// uninstall entry, the copies into the Windows directory and a missing
// folder service.
#include "support_e2e.h"

#include <shlobj.h>
#include <stdio.h>
#include <string.h>

#include <string>

namespace {

const char* const kUninstallCommand = "UninstallString";

std::string windows_file(const char* name) {
    char directory[MAX_PATH];
    EXPECT_TRUE(FOOTPRINT_windows_directory(directory));
    return std::string(directory) + "\\" + name;
}

std::string file_contents(const std::string& path) {
    static char contents[4 * 1024 * 1024];
    if (!FOOTPRINT_read_file(path.c_str(), contents, sizeof contents)) return "<missing>";
    return contents;
}

long file_size(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (long)data.nFileSizeLow;
}

class Startup : public InstallerCase {};

TEST_F(Startup, SecondStartIsRefusedWhileTheFirstRunsOn) {
    start();
    wait_for_text(IDC_INSTALL_REMOVE, "Install Tarnholm");

    DRIVER_PROCESS& second = other;
    ASSERT_TRUE(DRIVER_start(DRIVER_INSTALLER, NULL, DRIVER_PATCH_FOLDER, &second));
    HWND box = DRIVER_wait_message_box(second.information.dwProcessId, DRIVER_TIMEOUT_MS);
    ASSERT_NE(box, (HWND)NULL);
    char text[256] = "", caption[256] = "?";
    DRIVER_message_box_text(box, text, sizeof text);
    DRIVER_window_title(box, caption, sizeof caption);
    EXPECT_STREQ(text, "Installer is already running.");
    EXPECT_STREQ(caption, "");
    EXPECT_TRUE(DRIVER_answer(box, IDOK));
    uint32_t code = 0;
    EXPECT_TRUE(DRIVER_wait_exit(&second, DRIVER_TIMEOUT_MS, &code));
    EXPECT_EQ(code, 1u);
    DRIVER_stop(&second);

    // The first copy still answers and works.
    EXPECT_TRUE(DRIVER_is_running(&installer));
    EXPECT_TRUE(DRIVER_settle(panel));
    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    wait_for_text(IDC_PATH_PROMPT, "Please type in your Install Directory");
    DRIVER_click(panel, IDC_PATH_PROMPT);
    EXPECT_EQ(exit_status(), 0);
}

TEST_F(Startup, OnlyTheExactCommandRemoveStartsRemoveMode) {
    struct {
        const char* arguments;
        bool remove_mode;
    } cases[] = {
        {"remove", true},   {"Remove", false},     {"remove ", false},
        {"/remove", false}, {"remove now", false}, {NULL, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments ? c.arguments : "(no arguments)");
        ASSERT_TRUE(FOOTPRINT_reset());
        start(c.arguments);
        wait_for_text(IDC_EXIT, "Exit Setup");
        EXPECT_EQ(text_of(IDC_INSTALL_REMOVE),
                  c.remove_mode ? "Remove Tarnholm" : "Install Tarnholm");
        // Only the remove screen shows the DirectX button (disabled).
        EXPECT_EQ(DRIVER_is_shown(panel, IDC_DIRECTX), c.remove_mode);
        EXPECT_EQ(DRIVER_is_enabled(panel, IDC_README), !c.remove_mode);
        DRIVER_command(panel, IDC_EXIT);
        EXPECT_EQ(exit_status(), 0);
        DRIVER_stop(&installer);
    }
}

TEST_F(Startup, RegisteredDirectoryGivesTheInstalledScreenWithOrWithoutItsFiles) {
    const char* directory = "C:\\Games\\Tarn";
    for (bool complete : {true, false}) {
        SCOPED_TRACE(complete ? "all probe files" : "mss32.dll missing");
        ASSERT_TRUE(FOOTPRINT_reset());
        ASSERT_TRUE(FOOTPRINT_delete_tree(directory));
        ASSERT_TRUE(FOOTPRINT_make_directories(directory));
        for (const char* name : {"Tarn II.exe", "tnh2main.exe", "mss32.dll"}) {
            if (!complete && strcmp(name, "mss32.dll") == 0) continue;
            ASSERT_TRUE(FOOTPRINT_write_file((std::string(directory) + "\\" + name).c_str(), "x"));
        }
        ASSERT_TRUE(FOOTPRINT_set_value(PRODUCT_KEY, "InstallDir", "C:\\Games\\Tarn\\"));
        start();
        wait_for_text(IDC_INSTALL_REMOVE, "Remove Tarnholm");
        EXPECT_FALSE(DRIVER_is_shown(panel, IDC_PLAY));
        EXPECT_TRUE(DRIVER_is_shown(panel, IDC_README));
        DRIVER_command(panel, IDC_EXIT);
        EXPECT_EQ(exit_status(), 0);
        DRIVER_stop(&installer);
    }
    EXPECT_TRUE(FOOTPRINT_delete_tree(directory));
}

TEST_F(Startup, UninstallEntryIsRepointedQuotedButNeverCreated) {
    ASSERT_TRUE(FOOTPRINT_set_value(PRODUCT_UNINSTALL_KEY, kUninstallCommand,
                                    "C:\\Program Files\\VKQ\\Tarnholm Vesk\\uninst.exe"));
    start();
    wait_for_text(IDC_INSTALL_REMOVE, "Install Tarnholm");
    char value[1024] = "";
    ASSERT_TRUE(FOOTPRINT_get_value(PRODUCT_UNINSTALL_KEY, kUninstallCommand, value, sizeof value));
    // Quoted, so that the blanks of the path do not split the program name.
    EXPECT_EQ(std::string(value), "\"" + windows_file("Tarnholm Vesk remove.exe") + "\" remove");
    DRIVER_command(panel, IDC_EXIT);
    EXPECT_EQ(exit_status(), 0);
    DRIVER_stop(&installer);

    ASSERT_TRUE(FOOTPRINT_reset());
    start("remove");
    wait_for_text(IDC_INSTALL_REMOVE, "Remove Tarnholm");
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY));
}

TEST_F(Startup, UninstallerAndDirectXLibrariesAreCopiedIntoTheWindowsDirectory) {
    start();
    wait_for_text(IDC_INSTALL_REMOVE, "Install Tarnholm");
    EXPECT_EQ(file_size(windows_file("Tarnholm Vesk remove.exe")), file_size(DRIVER_INSTALLER));
    std::string library = file_contents(DRIVER_PATCH_FOLDER "\\dsetup.dll");
    ASSERT_NE(library, "<missing>");
    EXPECT_TRUE(file_contents(windows_file("dsetup.dll")) == library);
    EXPECT_TRUE(file_contents(windows_file("dsetup32.dll")) == library);
}

TEST_F(Startup, StartFromADriveRootCopiesTheLibraryFromThatRoot) {
    // Drive E: of the test machine lies in the build directory (drive Y:).
    const char* on_drive = "Y:\\machine\\cd-e\\dsetup.dll";
    ASSERT_TRUE(FOOTPRINT_write_file(on_drive, "library from the root of E:"));
    start(NULL, "E:\\");
    wait_for_text(IDC_INSTALL_REMOVE, "Install Tarnholm");
    EXPECT_EQ(file_contents(windows_file("dsetup.dll")), "library from the root of E:");
    EXPECT_EQ(file_contents(windows_file("dsetup32.dll")), "library from the root of E:");
    EXPECT_TRUE(FOOTPRINT_file_exists(windows_file("Tarnholm Vesk remove.exe").c_str()));
    DeleteFileA(on_drive);
}

TEST_F(Startup, UninstallerCopyStartedInRemoveModeStillCopiesTheLibraries) {
    start();
    wait_for_text(IDC_INSTALL_REMOVE, "Install Tarnholm");
    DRIVER_command(panel, IDC_EXIT);
    ASSERT_EQ(exit_status(), 0);
    DRIVER_stop(&installer);
    std::string copy = windows_file("Tarnholm Vesk remove.exe");
    ASSERT_TRUE(DeleteFileA(windows_file("dsetup.dll").c_str()));
    ASSERT_TRUE(DeleteFileA(windows_file("dsetup32.dll").c_str()));

    // As the uninstall entry starts it: the copy cannot overwrite itself.
    ASSERT_TRUE(DRIVER_start(copy.c_str(), "remove", DRIVER_PATCH_FOLDER, &installer));
    panel = DRIVER_wait_window(installer.information.dwProcessId, PRODUCT_WINDOW_TITLE,
                               DRIVER_TIMEOUT_MS);
    ASSERT_NE(panel, (HWND)NULL);
    wait_for_text(IDC_INSTALL_REMOVE, "Remove Tarnholm");
    EXPECT_TRUE(DRIVER_no_message_box(installer.information.dwProcessId));
    EXPECT_TRUE(FOOTPRINT_file_exists(windows_file("dsetup.dll").c_str()));
    EXPECT_TRUE(FOOTPRINT_file_exists(windows_file("dsetup32.dll").c_str()));
}

TEST_F(Startup, MissingFolderServiceEndsWithTheProgramFilesMessage) {
    // Wine's builtin SHFolder.dll switched off for the installer alone (an
    // application default of the test machine); the patch folder holds no
    // ShFolder.exe that could install it.
    const char* key = "Software\\Wine\\AppDefaults\\tarnholm_patch.exe\\DllOverrides";
    HKEY overrides;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &overrides, NULL),
        ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(overrides, "shfolder", 0, REG_SZ, (const BYTE*)"", 1), ERROR_SUCCESS);
    RegCloseKey(overrides);
    bool started = DRIVER_start(DRIVER_INSTALLER, NULL, DRIVER_PATCH_FOLDER, &installer);
    std::string text, caption;
    HWND box = started ? message_box(&text, &caption) : NULL;
    RegDeleteKeyA(HKEY_CURRENT_USER, key);
    ASSERT_NE(box, (HWND)NULL);
    EXPECT_EQ(text,
              "Could not find program files using SHFOLDER.EXE. Please restart your computer...");
    EXPECT_EQ(caption, "IMPORTANT");
    EXPECT_EQ(DRIVER_wait_window(installer.information.dwProcessId, PRODUCT_WINDOW_TITLE, 0),
              (HWND)NULL);
    DRIVER_answer(box, IDOK);
    EXPECT_EQ(exit_status(), 1);
}

}  // namespace
