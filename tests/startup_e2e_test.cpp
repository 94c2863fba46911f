// Start-up of the real installer in the test machine: one instance only, the
// start screen by command line and registry, the uninstall entry re-pointed
// but never created, the copies into the Windows directory, and a missing
// folder service.
#include "support_e2e.h"

namespace {

class Startup : public InstallerCase {};

// The start screen follows the command line (only exactly "remove" is
// remove mode) and the registry (an "InstallDir" value, whatever it names).
// Every start places the uninstaller copy and the DirectX library, twice,
// from the directory it was started in, also when it is the copy itself; an
// uninstall entry is re-pointed at the copy, quoted, and never created. A
// second start beside the first is refused, and the first works on.
TEST_F(Startup, StartScreenCopiesUninstallEntryAndOneInstanceOnly) {
    const std::string not_installed = "DE-EE-------", installed = "-E-EE-------",
                      remove = "DEDDE-------";
    const struct {
        const char *arguments, *directory;
        bool registered, entry, from_copy;
        std::string screen;
    } rows[] = {
        {"", DRIVER_PATCH_FOLDER, false, false, false, not_installed},
        {" Remove", DRIVER_PATCH_FOLDER, false, false, false, not_installed},
        {" remove ", DRIVER_PATCH_FOLDER, false, false, false, not_installed},
        {" /remove", DRIVER_PATCH_FOLDER, false, false, false, not_installed},
        {" remove now", DRIVER_PATCH_FOLDER, false, false, false, not_installed},
        {"", "C:\\", false, true, false, not_installed},
        {"", DRIVER_PATCH_FOLDER, true, true, false, installed},
        {" remove", DRIVER_PATCH_FOLDER, false, false, false, remove},
        {" remove", DRIVER_PATCH_FOLDER, true, true, true, remove},
    };
    const std::string program = read_file(DRIVER_INSTALLER), windows = folder(CSIDL_WINDOWS);
    ASSERT_TRUE(write_file("C:\\dsetup.dll", "library from C:\\"));
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.arguments) + " in " + row.directory);
        ASSERT_TRUE(FOOTPRINT_reset());
        if (row.registered) FOOTPRINT_set_value(PRODUCT_KEY, PRODUCT_INSTALL_DIR, "C:\\Games\\T");
        if (row.entry) FOOTPRINT_set_value(PRODUCT_UNINSTALL_KEY, PRODUCT_UNINSTALL_STRING, "x");
        if (row.from_copy) CopyFileA(DRIVER_INSTALLER, uninstaller().c_str(), FALSE);
        start_command(quoted(row.from_copy ? uninstaller() : DRIVER_INSTALLER) + row.arguments,
                      row.directory);
        std::string texts = screen();
        for (int id : {IDC_PLAY, IDC_INSTALL_REMOVE, IDC_DIRECTX, IDC_README, IDC_EXIT})
            texts += "|" + text(id);
        EXPECT_EQ(texts, row.screen + "|Play Tarnholm|" +
                             (row.screen == not_installed ? "Install" : "Remove") +
                             " Tarnholm|Install Direct X|Read Help file|Exit Setup");
        EXPECT_TRUE(read_file(uninstaller()) == program);
        const std::string library = read_file(std::string(row.directory) + "\\dsetup.dll");
        EXPECT_EQ(read_file(windows + "\\dsetup.dll") + read_file(windows + "\\dsetup32.dll"),
                  library + library);
        EXPECT_EQ(FOOTPRINT_value(PRODUCT_UNINSTALL_KEY, PRODUCT_UNINSTALL_STRING),
                  row.entry ? quoted(uninstaller()) + " remove" : "<missing>");
        DRIVER_click(panel, IDC_EXIT);
        EXPECT_EQ(exit_status(), 0);
    }
    DeleteFileA("C:\\dsetup.dll");

    ASSERT_TRUE(FOOTPRINT_reset());
    start();
    PROCESS_INFORMATION second = DRIVER_start(quoted(DRIVER_INSTALLER), DRIVER_PATCH_FOLDER);
    HWND box = DRIVER_wait_box(second.dwProcessId, DRIVER_TIMEOUT_MS);
    EXPECT_EQ(DRIVER_text(box, DRIVER_BOX_TEXT) + "|" + DRIVER_text(box, 0),
              "Installer is already running.|");
    EXPECT_TRUE(DRIVER_answer(box, IDOK));
    EXPECT_EQ(DRIVER_exit_code(&second, DRIVER_TIMEOUT_MS), 1);
    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    EXPECT_EQ(screen(), "x----EEEE---");
}

// Wine's SHFolder.dll switched off for the installer alone (an application
// default of the machine). Without ShFolder.exe in the patch folder the
// installer ends with its message; with the stand-in, which lifts the
// switch, it loads the service and shows its start screen.
TEST_F(Startup, MissingFolderServiceIsInstalledOrEndsWithTheProgramFilesMessage) {
    const char* key = "Software\\Wine\\AppDefaults\\tarnholm_patch.exe";
    const std::string standin = DRIVER_PATCH_FOLDER "\\ShFolder.exe";
    for (bool installable : {false, true}) {
        ASSERT_EQ(SHSetValueA(HKEY_CURRENT_USER, (std::string(key) + "\\DllOverrides").c_str(),
                              "shfolder", REG_SZ, "", 1),
                  ERROR_SUCCESS);
        ASSERT_TRUE(!installable ||
                    CopyFileA("Y:\\testkit\\shfolder\\ShFolder.exe", standin.c_str(), FALSE));
        installer = DRIVER_start(quoted(DRIVER_INSTALLER), DRIVER_PATCH_FOLDER);
        if (!installable) {
            answer(
                "Could not find program files using SHFOLDER.EXE. Please restart your "
                "computer...",
                "IMPORTANT");
            EXPECT_EQ(exit_status(), 1);
        }
        HWND shown = DRIVER_wait_window(installer.dwProcessId, PRODUCT_WINDOW_TITLE, NULL,
                                        installable ? DRIVER_TIMEOUT_MS : 0);
        EXPECT_EQ(shown != NULL, installable);
        stop();
        SHDeleteKeyA(HKEY_CURRENT_USER, key);
        DeleteFileA(standin.c_str());
    }
}

}  // namespace
