// The remove flow end to end: an installed game in the test machine, removed
// through the installer's window, through its remove mode and through the
// uninstall entry, while the fixture's sentinels beside and above the game's
// folders must survive every case.
#include "support_e2e.h"

#include <commctrl.h>

#define GAME       SCRATCH "\\Tarnholm"
#define DELETE_DIR "Do you want to delete this dir :"

namespace {

// The game as its set-up program leaves it; the first three are the files
// by which start-up recognises an installation.
const char* const kGameFiles[] = {
    "Tarn II.exe",          "tnh2main.exe",          "mss32.dll",
    "readme.txt",           "data\\maps\\south.map", "data\\maps\\deep\\cave.map",
    "data\\sound\\wind.wav"};
const char* const kInstalled = "-E-EE-------";  // the screen, as support_e2e.h spells it

std::string failed(int count, const std::string& first) {
    return std::to_string(count) + " files of the game could not be removed, among them:\n" +
           first + "\nClose the program that uses them and run the uninstall again.";
}

class RemoveFlow : public InstallerCase {
protected:
    const std::string desktop_link = game_link(), menu = start_menu();

    // The game in directory, registered as GAME, with its desktop link, its
    // Start-menu folder and an uninstall entry (the first three files of the
    // game in a directory and its registration make it an installation).
    void install_game(const std::string& directory = GAME) {
        for (const char* file : kGameFiles)
            ASSERT_TRUE(write_file(directory + "\\" + file, "game"));
        ASSERT_TRUE(write_file(desktop_link, "link") &&
                    write_file(menu + "\\" PRODUCT_GAME_LINK, "link"));
        register_game(GAME);
    }
    void register_game(const std::string& directory) {
        ASSERT_TRUE(FOOTPRINT_set_value(PRODUCT_KEY, PRODUCT_INSTALL_DIR, directory.c_str()) &&
                    FOOTPRINT_set_value(PRODUCT_UNINSTALL_KEY, PRODUCT_UNINSTALL_STRING, "x"));
    }
    // Both keys (2), one (1) or none (0).
    int keys() {
        return FOOTPRINT_key_exists(PRODUCT_KEY) + FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY);
    }
    // Remove, "Are you sure?" answered with sure and, after Yes, Yes to the
    // two tree questions.
    void remove(int sure) {
        DRIVER_click(panel, IDC_INSTALL_REMOVE);
        answer("Are you sure?", "Question!", sure);
        if (sure == IDYES) answer(DELETE_DIR GAME "\\data", "Question!", IDYES);
        if (sure == IDYES) answer(DELETE_DIR + menu, "Question!", IDYES);
    }
    std::string progress() {
        return std::to_string(SendDlgItemMessageA(panel, IDC_PROGRESS, PBM_GETPOS, 0, 0)) + " of " +
               std::to_string(SendDlgItemMessageA(panel, IDC_PROGRESS, PBM_GETRANGE, FALSE, 0));
    }
};

// On the installed screen: No changes nothing. Yes with No to both trees
// keeps them whole, although later records delete files below the data
// tree; a file in use is reported and the keys stay, so that Remove can run
// again. With the file freed and Yes to both trees, the links in the data
// tree stay with what lies behind them (Wine deletes the target of a deleted
// link) and are reported. Then the uninstall entry's command starts the
// uninstaller copy in remove mode, where No ends the program and Yes removes
// the game and its keys.
TEST_F(RemoveFlow, WhatCannotGoIsReportedUntilTheUninstallEntryRemovesAll) {
    install_game();
    ASSERT_TRUE(write_file(SCRATCH "\\Own\\letter.txt", "keep"));
    ASSERT_TRUE(make_directories(SCRATCH "\\Own empty"));
    ASSERT_TRUE(FOOTPRINT_make_link(SCRATCH "\\Own", GAME "\\data\\own"));
    ASSERT_TRUE(FOOTPRINT_make_link(SCRATCH "\\Own empty", GAME "\\data\\maps\\hollow"));
    const std::vector<std::string> whole = tree(GAME);
    std::vector<std::string> kept;
    for (const std::string& entry : whole)
        if (entry.rfind("data", 0) == 0 || entry == "readme.txt") kept.push_back(entry);
    HANDLE busy = CreateFileA(GAME "\\readme.txt", GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    start();
    remove(IDNO);
    EXPECT_EQ(tree(GAME), whole);
    EXPECT_TRUE(exists(desktop_link) && keys() == 2 && screen() == kInstalled);

    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    answer("Are you sure?", "Question!", IDYES);
    HWND box = expect_box(DELETE_DIR GAME "\\data", "Question!");
    EXPECT_EQ(screen() + text(IDC_WORKING_TEXT), "---------E-ERemoving, please wait ...");
    EXPECT_EQ(progress(), "0 of 50");         // five records, ten units each
    DRIVER_click(panel, IDC_INSTALL_REMOVE);  // starts no second flow
    EXPECT_EQ(boxes(), 1);
    ASSERT_TRUE(DRIVER_answer(box, IDNO));
    box = expect_box(DELETE_DIR + menu, "Question!");
    EXPECT_EQ(progress(), "40 of 50");
    ASSERT_TRUE(DRIVER_answer(box, IDNO));
    answer(failed(1, GAME "\\readme.txt"), "Error!");
    EXPECT_EQ(tree(GAME), kept);
    EXPECT_TRUE(!exists(desktop_link) && exists(menu + "\\" PRODUCT_GAME_LINK) && keys() == 2 &&
                screen() == kInstalled);

    CloseHandle(busy);
    remove(IDYES);
    answer(failed(2, GAME "\\data\\own"), "Error!");  // met before the walk enters "maps"
    EXPECT_EQ(tree(GAME), std::vector<std::string>(
                              {"data\\", "data\\maps\\", "data\\maps\\hollow@", "data\\own@"}));
    EXPECT_EQ(tree(SCRATCH "\\Own"), std::vector<std::string>({"letter.txt"}));
    EXPECT_TRUE(is_directory(SCRATCH "\\Own empty") && !exists(menu) && keys() == 2);
    DRIVER_click(panel, IDC_EXIT);
    EXPECT_EQ(exit_status(), 0);

    ASSERT_TRUE(delete_tree(GAME));
    const std::string command = FOOTPRINT_value(PRODUCT_UNINSTALL_KEY, PRODUCT_UNINSTALL_STRING);
    install_game();
    start_command(command, "C:\\");
    remove(IDNO);
    EXPECT_EQ(exit_status(), 0);
    EXPECT_TRUE(keys() == 2 && exists(GAME "\\readme.txt"));
    start_command(command, "C:\\");
    remove(IDYES);
    answer("Uninstall complete", "Information");
    EXPECT_EQ(exit_status(), 0);  // the main loop's normal end
    EXPECT_TRUE(tree(GAME).empty() && !exists(desktop_link) && !exists(menu) && keys() == 0);
}

// A "Programs" value that is missing, empty or not an absolute path counts
// as unreadable: the user is told, the Start menu is left alone, and nothing
// goes at the root of the current drive (the installer runs from "C:\"),
// where such a value would lead. With a usable value, a registered
// directory without all three of its files gives way to the setup default
// directory.
TEST_F(RemoveFlow, UnusableProgramsFolderOrIncompleteRegisteredDirectory) {
    const std::string saved = folder(CSIDL_PROGRAMS);
    for (const char* programs : {(const char*)NULL, "", "C:", ".", saved.c_str()}) {
        SCOPED_TRACE(programs != NULL ? programs : "<none>");
        const bool usable = programs == saved.c_str();
        const std::string game = usable ? setup_default() : GAME;
        set_shell_folder("Programs", programs);
        install_game(game);
        for (int i = 0; usable && i < 2; i++)
            write_file(GAME "\\" + std::string(kGameFiles[i]), "x");
        start("", "C:\\");
        DRIVER_click(panel, IDC_INSTALL_REMOVE);
        answer("Are you sure?", "Question!", IDYES);
        if (!usable) answer("Error opening key, please try again.!1", "Error!");
        answer(DELETE_DIR + game + "\\data", "Question!", IDYES);
        if (usable) answer(DELETE_DIR + menu, "Question!", IDYES);
        answer("Uninstall complete", "Information");
        EXPECT_EQ(exit_status(), 1);
        EXPECT_TRUE(tree(game).empty() && exists(menu) != usable && keys() == 0);
    }
    EXPECT_EQ(tree(GAME), std::vector<std::string>({"Tarn II.exe", "tnh2main.exe"}));
}

// Directories the game cannot own, in several spellings: removing from them
// would take files that are not the game's. The flow refuses before it
// deletes anything and keeps the registry; the game's three files there are
// the sentinels inside.
TEST_F(RemoveFlow, UnacceptableInstallDirectoriesAreRefusedWhole) {
    const std::string windows = folder(CSIDL_WINDOWS), profile = folder(CSIDL_PROFILE);
    char short_name[MAX_PATH] = "";
    GetShortPathNameA(folder(CSIDL_PROGRAM_FILES).c_str(), short_name, sizeof short_name);
    for (const std::string& registered :
         {std::string("C:\\"), windows, std::string("c:\\WINDOWS\\\\"), windows + "\\.",
          std::string("C:\\Games\\..\\windows"),
          // Special folders and folders above one.
          std::string(short_name), native_program_files(), folder(CSIDL_DESKTOPDIRECTORY) + "\\",
          folder(CSIDL_PERSONAL) + "\\.", profile, profile.substr(0, profile.rfind('\\')),
          folder(CSIDL_PROGRAMS), folder(CSIDL_STARTMENU) + "/", folder(CSIDL_COMMON_APPDATA)}) {
        SCOPED_TRACE(registered);
        for (int i = 0; i < 3; i++)
            ASSERT_TRUE(write_file(registered + "\\" + kGameFiles[i], "keep"));
        register_game(registered);
        start();
        DRIVER_click(panel, IDC_INSTALL_REMOVE);
        answer("Are you sure?", "Question!", IDYES);
        // Start-up cut one trailing backslash.
        answer("The game cannot be removed from \"" +
                   registered.substr(0, registered.size() - (registered.back() == '\\')) +
                   "\": that is not a directory of its own. Nothing was removed.",
               "Error!");
        EXPECT_TRUE(DRIVER_settle(panel) && keys() == 2 && boxes() == 0);
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(read_file(registered + "\\" + kGameFiles[i]), "keep") << kGameFiles[i];
            DeleteFileA((registered + "\\" + kGameFiles[i]).c_str());
        }
    }
}

}  // namespace
