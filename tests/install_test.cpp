// The install flow end to end: the real installer in the test machine, driven
// through its window, with game CDs in drives D: and E: and drives of chosen
// free space (tests/install_machine.sh lays them out). Effects are read back
// from the registry, the disk and the links.
#include "support_e2e.h"

#include <algorithm>

namespace {

const char kNotValid[] = "Sorry this is not a Valid directory, please select another.";
const char kNoCd[] =
    "Could not find the original Tarnholm CD. Please insert Tarn Disk 1, wait a few seconds and "
    "then press OK to try again.";
const char kPathScreen[] = "x----EEEE---";  // as support_e2e.h spells screens

// Puts master CD name ("none": no CD) into drive letter ('d' or 'e').
bool insert_cd(char letter, const char* name) {
    return FOOTPRINT_host(std::string("ln -sfT ../cds/") + name + " '" +
                          FOOTPRINT_host_path(DRIVER_machine().c_str()) + "/cd-" + letter + "'");
}

std::string link_of(const std::string& path) {
    LinkFields link;
    if (!read_link(path, &link)) return "<unreadable>";
    return link.target + " | " + link.arguments + " | " + link.directory + " | " + link.description;
}
std::string game_link_of(const std::string& target) {
    return target + "\\Tarn II.exe |  | " + target + " | " PRODUCT_NAME;
}

DWORD size_of(const std::string& path) {  // the files here are below 4 GiB
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    return GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ? data.nFileSizeLow : 0;
}

std::string short_name(const std::string& path) {
    char name[MAX_PATH] = "";
    GetShortPathNameA(path.c_str(), name, sizeof name);
    return name;
}

std::string leftover_text(size_t count) {
    return std::to_string(count) +
           " files could not be moved into the game's folder and are still in:\n" +
           setup_default() + "\nPlease restart your machine.";
}

// What the machine's own list of installed programs (Wine's uninstaller)
// prints for arguments.
std::string program_list(const std::string& arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, NULL, TRUE};
    HANDLE read = NULL, write = NULL;
    if (!CreatePipe(&read, &write, &inherit, 0)) return "<no pipe>";
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = write;
    PROCESS_INFORMATION process = {};
    std::string command = "uninstaller.exe " + arguments, output;
    bool started = CreateProcessA(NULL, &command[0], NULL, NULL, TRUE, CREATE_NO_WINDOW, NULL, NULL,
                                  &startup, &process);
    CloseHandle(write);
    char buffer[4096];
    DWORD got = 0;
    while (started && ReadFile(read, buffer, sizeof buffer, &got, NULL) && got > 0)
        output.append(buffer, got);
    CloseHandle(read);
    DRIVER_exit_code(&process, DRIVER_TIMEOUT_MS);
    return started ? output : "<not started>";
}

std::string registered() {
    return FOOTPRINT_value(PRODUCT_KEY, PRODUCT_INSTALL_DIR) + " from " +
           FOOTPRINT_value(PRODUCT_KEY, PRODUCT_INSTALL_SOURCE);
}

class InstallFlow : public InstallerCase {
protected:
    void TearDown() override {
        InstallerCase::TearDown();
        insert_cd('d', "none");
        insert_cd('e', "none");
    }
    void choose(const std::string& path) {
        ASSERT_TRUE(DRIVER_set_text(panel, IDC_INSTALL_DIR, path.c_str()));
        DRIVER_click(panel, IDC_OK);
    }
    // Starts the installer, opens the path screen and chooses path ("": none).
    void install_into(const std::string& path) {
        start();
        DRIVER_click(panel, IDC_INSTALL_REMOVE);
        if (!path.empty()) choose(path);
    }
};

// Each refusal keeps the path screen and names its reason; the user's files
// inside the folders named stay. The parents of a path are made before the
// checks, so those of a refused one exist afterwards.
TEST_F(InstallFlow, RefusedPathsKeepThePathScreen) {
    const std::string windows = folder(CSIDL_WINDOWS), profile = folder(CSIDL_PROFILE);
    const std::string nested = setup_default() + "\\Nested", mine = SCRATCH "\\mine";
    std::string windows_other_case = windows;
    for (char& c : windows_other_case) c = (char)(islower(c) ? toupper(c) : tolower(c));
    ASSERT_TRUE(make_directories(setup_default()));
    ASSERT_TRUE(write_file(mine + "\\letter.txt", "mine"));
    ASSERT_TRUE(write_file(SCRATCH "\\file", "a file where the folder would be"));
    std::vector<std::vector<std::string>> rows;  // path, text, caption
    for (const std::string& path :
         {std::string("C:\\"), windows, windows_other_case, std::string(SCRATCH "\\file"),
          // Without a drive, or relative to a drive's current directory.
          std::string("e2e\\case\\game"), std::string("C:e2e\\case\\game"),
          std::string(SCRATCH "\\up\\a\\..\\game"),
          // The longest path that fits the field, but not with "\Tarn II.exe".
          SCRATCH "\\long\\" + std::string(500 - 17, 'x'),
          // Inside the set-up program's own directory, however spelled: it
          // would move into itself.
          nested, setup_default() + "\\.\\Nested", setup_default() + "\\\\Nested",
          setup_default() + "/Nested", short_name(setup_default()) + "\\Nested"})
        rows.push_back({path, kNotValid, "Warning!"});
    rows.push_back({"D:\\Games\\Tarn",
                    "Drive selected is invalid. Please choose another install path.", "WARNING"});
    rows.push_back({mine,
                    "This folder already holds files that are not the game's:\n" + mine +
                        "\nPlease choose a new or empty folder for the game.",
                    "Warning!"});
    // Folders of Windows and of the user, and folders above them, each as
    // spelled and as named.
    const std::string users = profile.substr(0, profile.rfind('\\'));
    // A folder the user moved: known by its "Shell Folders" value alone.
    set_shell_folder("My Music", SCRATCH "\\Music");
    std::vector<std::pair<std::string, std::string>> special = {
        {SCRATCH "\\Music", SCRATCH "\\Music"},
        {native_program_files(), native_program_files()},
        {short_name(folder(CSIDL_PROGRAM_FILES)), folder(CSIDL_PROGRAM_FILES)},
        {users + "\\", users},
        {folder(CSIDL_DESKTOPDIRECTORY) + "\\.", folder(CSIDL_DESKTOPDIRECTORY)},
        {folder(CSIDL_PERSONAL) + " ", folder(CSIDL_PERSONAL)}};
    for (int csidl :
         {CSIDL_SYSTEM, CSIDL_PROFILE, CSIDL_STARTMENU, CSIDL_PROGRAMS, CSIDL_COMMON_APPDATA})
        special.push_back({folder(csidl), folder(csidl)});
    for (const auto& [path, named] : special) {
        rows.push_back({path,
                        "This folder belongs to Windows or holds your own files:\n" + named +
                            "\nPlease choose a new folder for the game.",
                        "Warning!"});
        ASSERT_TRUE(write_file(named + "\\tarn_sentinel.txt", "keep"));
    }
    install_into("");
    for (const auto& row : rows) {
        SCOPED_TRACE(row[0]);
        choose(row[0]);
        answer(row[1], row[2]);
        EXPECT_TRUE(DRIVER_settle(panel) && screen() == kPathScreen && boxes() == 0);
    }
    EXPECT_TRUE(is_directory(SCRATCH "\\up\\a") && is_directory(SCRATCH "\\long") &&
                is_directory("D:\\Games"));
    EXPECT_FALSE(exists(SCRATCH "\\up\\game") || FOOTPRINT_key_exists(PRODUCT_KEY));
    EXPECT_EQ(read_file(mine + "\\letter.txt"), "mine");
    // Checked before any goes: on a 32-bit machine one folder is two rows.
    for (const auto& [path, named] : special)
        EXPECT_EQ(read_file(named + "\\tarn_sentinel.txt"), "keep") << named;
    for (const auto& [path, named] : special) DeleteFileA((named + "\\tarn_sentinel.txt").c_str());
}

// What ends the installer before anything is installed: the CD question
// cancelled after the warning of band 3, too little space, and a CD that
// needs no patch. The parents of the path are made all the same.
TEST_F(InstallFlow, EndsWithoutInstalling) {
    install_into("G:\\Games\\Tarn");
    answer("Please only choose Minimum Install Option.", "WARNING");
    answer(kNoCd, "WARNING", IDCANCEL);
    EXPECT_EQ(exit_status(), 1);
    install_into("H:\\Games\\Tarn");
    answer("You do not have enough space on your H: drive. \nInstall requires a minimum of 650MB. ",
           "WARNING.");
    EXPECT_EQ(exit_status(), 1);
    ASSERT_TRUE(insert_cd('e', "nopatch"));
    install_into(SCRATCH "\\game");
    answer("Your version of Tarnholm does not require this patch. ", "WARNING");
    EXPECT_EQ(exit_status(), 1);
    EXPECT_TRUE(is_directory("G:\\Games") && is_directory("H:\\Games"));
    EXPECT_FALSE(exists("G:\\Games\\Tarn") || exists("H:\\Games\\Tarn") ||
                 exists(SCRATCH "\\game") || exists(setup_default()));
}

// The whole install, over an earlier installation on the same drive: a
// payload several levels deep written over seconds, *.rra files, a file
// held open while the installer polls, the earlier installation's files in
// the way and a desktop link to rewrite. Both CD drives hold the game: D: is
// the source. What was in the way stays in the setup default directory, and
// the last message says so.
TEST_F(InstallFlow, WholeInstallMovesTheGameAndRecordsIt) {
    const std::string target = SCRATCH "\\Tarn Game", menu = start_menu() + "\\";
    const std::vector<std::string> earlier = {"Tarn II.exe", "mss32.dll", "tnh2main.exe"};
    ASSERT_TRUE(insert_cd('d', "full") && insert_cd('e', "full"));
    for (const std::string& file : earlier)
        ASSERT_TRUE(write_file(target + "\\" + file, "earlier"));
    ASSERT_TRUE(write_file(game_link(), "stale"));
    char temp[MAX_PATH];
    const std::string setup_log =
        std::string(temp, GetTempPathA(sizeof temp, temp)) + "cdsetup.log";
    DeleteFileA(setup_log.c_str());
    install_into(target);
    Sleep(2500);  // the working display while the set-up program runs
    EXPECT_EQ(DRIVER_text(panel, 0) + screen(), PRODUCT_WINDOW_TITLE "x--------E--");
    answer(leftover_text(3), "IMPORTANT", IDOK, 90000);
    EXPECT_EQ(exit_status(), 1);
    EXPECT_EQ(read_text(setup_log), "[setup]\nheld=data\\maps\\big.map\n") << "nothing was held";

    // Every file moved whole, except the *.rra files and what was in the
    // way; of the emptied levels nothing is left.
    std::vector<std::string> installed, left = {"data\\", "data\\video\\"};
    for (const std::string& entry : tree(DRIVER_MASTER_CDS "full\\GAME", true)) {
        std::string name = entry.substr(0, entry.find('='));
        bool rra = name.size() > 3 && _stricmp(name.c_str() + name.size() - 3, "rra") == 0;
        bool in_way = std::find(earlier.begin(), earlier.end(), name) != earlier.end();
        if (rra || in_way) left.push_back(entry);
        if (!rra) installed.push_back(in_way ? name + "=earlier" : entry);
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(tree(target, true), installed);
    EXPECT_EQ(tree(setup_default(), true), left);
    EXPECT_EQ(registered(), target + " from D:\\");
    EXPECT_EQ(FOOTPRINT_value(PRODUCT_UNINSTALL_KEY, PRODUCT_UNINSTALL_STRING),
              quoted(uninstaller()) + " remove");
    EXPECT_EQ(link_of(menu + PRODUCT_GAME_LINK) + "\n" + link_of(game_link()),
              game_link_of(target) + "\n" + game_link_of(target));
    EXPECT_EQ(
        link_of(menu + PRODUCT_UNINSTALL_LINK),
        uninstaller() + " | remove | " + folder(CSIDL_WINDOWS) + " | " PRODUCT_UNINSTALL_TITLE);
    const std::string outside = lnkinfo(menu + PRODUCT_GAME_LINK);
    EXPECT_NE(outside.find("Tarn Game\\Tarn II.exe"), std::string::npos) << outside;

    // The machine's list of installed programs shows the game; its remove
    // runs "UninstallString", which opens the uninstaller copy's remove
    // screen, and the game leaves the list with its files and keys.
    const std::string key = PRODUCT_UNINSTALL_KEY, guid = key.substr(key.rfind('\\') + 1);
    const std::string listed = guid + "|||" PRODUCT_NAME;
    EXPECT_NE(program_list("--list").find(listed), std::string::npos) << program_list("--list");
    stop();
    DRIVER_start("uninstaller.exe --remove " + guid, "C:\\");
    panel = DRIVER_wait_window(0, PRODUCT_WINDOW_TITLE, NULL, DRIVER_TIMEOUT_MS);
    ASSERT_TRUE(panel != NULL && DRIVER_settle(panel)) << "no remove screen from the list";
    CloseHandle(installer.hProcess);
    installer = {};
    GetWindowThreadProcessId(panel, &installer.dwProcessId);
    installer.hProcess =
        OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, installer.dwProcessId);
    DRIVER_click(panel, IDC_INSTALL_REMOVE);
    answer("Are you sure?", "Question!", IDYES);
    answer("Do you want to delete this dir :" + target + "\\data", "Question!", IDYES);
    answer("Do you want to delete this dir :" + start_menu(), "Question!", IDYES);
    answer("Uninstall complete", "Information");
    EXPECT_EQ(exit_status(), 0);
    EXPECT_TRUE(tree(target).empty() && !exists(start_menu()) && !exists(game_link()));
    EXPECT_FALSE(FOOTPRINT_key_exists(PRODUCT_KEY) || FOOTPRINT_key_exists(PRODUCT_UNINSTALL_KEY));
    EXPECT_EQ(program_list("--list").find(listed), std::string::npos);
}

// The panel stays live under the flow's boxes without owner (the band
// warning, the CD question): typing, Cancel, Install and Ok there change
// nothing, and no second flow starts. No CD at first; the CD goes into E:
// while the question is open, and OK finds it. The directory is typed with
// "\.\" and a trailing blank; the game lands whole in the plain directory on
// another drive, the emptied setup default directory goes, and no desktop
// link is made.
TEST_F(InstallFlow, TheValidatedDirectoryHoldsWhileBoxesAreOpen) {
    const std::string target = "F:\\Games\\Tarn";
    ASSERT_TRUE(delete_tree(target));
    install_into("F:\\Games\\.\\Tarn ");
    for (const char* question : {"Please only choose Minimum or Typical Install Options.", kNoCd}) {
        HWND box = expect_box(question, "WARNING");
        ASSERT_TRUE(DRIVER_set_text(panel, IDC_INSTALL_DIR, SCRATCH "\\typed\\game"));
        for (int id : {IDC_CANCEL, IDC_INSTALL_REMOVE, IDC_OK}) DRIVER_click(panel, id);
        EXPECT_EQ(boxes(), 1);
        ASSERT_TRUE(question != kNoCd || insert_cd('e', "plain"));
        ASSERT_TRUE(DRIVER_answer(box, IDOK));
    }
    answer("Please restart your machine.", "IMPORTANT", IDOK, 60000);
    EXPECT_EQ(exit_status(), 1);
    EXPECT_EQ(registered(), target + " from E:\\");
    EXPECT_EQ(tree(target, true), tree(DRIVER_MASTER_CDS "plain\\GAME", true));
    EXPECT_FALSE(exists(setup_default()) || exists(game_link()));
    EXPECT_EQ(link_of(start_menu() + "\\" PRODUCT_GAME_LINK), game_link_of(target));
    EXPECT_FALSE(exists(SCRATCH "\\typed")) << "a second flow made the parents of a typed path";
    delete_tree(target);
}

// Across drives a file is copied under a partial name and renamed once
// whole. An installer killed in the middle of a large file's copy leaves no
// truncated file under the final name; the next run, over what the first
// one moved (an earlier installation), writes the partial copy afresh, never
// replaces a file that took the final name while it copied, keeps that
// file's source and reports every file left behind. 4 TiB free pass without
// a warning.
TEST_F(InstallFlow, KilledCopyLeavesNoTruncatedFileAndNoCopyReplacesAFile) {
    const std::string target = "I:\\Games\\Tarn Large", big = "\\data\\fill\\g0\\d0\\file0.bin";
    const std::string on_cd = DRIVER_MASTER_CDS "large\\GAME" + big;
    const std::string partial = target + big + ".partial";
    ASSERT_TRUE(delete_tree(target) && insert_cd('d', "large"));
    install_into(target);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(1))
        if (exists(partial) || exists(target + big)) break;
    stop();
    EXPECT_FALSE(exists(target + big)) << "a truncated copy under the final name";
    ASSERT_TRUE(exists(partial)) << "the copy never began, or was caught too late";
    EXPECT_LT(size_of(partial), size_of(on_cd));
    ASSERT_FALSE(FOOTPRINT_key_exists(PRODUCT_KEY)) << "killed after the first polling cycle";
    size_t moved = 0;  // files, the partial copy among them
    for (const std::string& entry : tree(target)) moved += entry.back() != '\\';

    // The next run writes the partial copy afresh; a file of the user's that
    // appears under the final name meanwhile is kept, and so is the source.
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    install_into(target);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 60000; Sleep(1)) {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        if (GetFileAttributesExA(partial.c_str(), GetFileExInfoStandard, &data) &&
            CompareFileTime(&data.ftLastWriteTime, &now) >= 0 && data.nFileSizeLow > 0)
            break;
    }
    ASSERT_FALSE(exists(target + big)) << "the copy was not caught in time";
    ASSERT_TRUE(write_file(target + big, "mine"));
    answer(leftover_text(moved), "IMPORTANT", IDOK, 90000);
    EXPECT_EQ(exit_status(), 1);
    EXPECT_EQ(read_file(target + big), "mine");
    EXPECT_EQ(size_of(setup_default() + big), size_of(on_cd));
    EXPECT_FALSE(exists(partial));
    EXPECT_EQ(FOOTPRINT_value(PRODUCT_KEY, PRODUCT_INSTALL_DIR), target);
    delete_tree(target);
}

}  // namespace
