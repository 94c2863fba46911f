// Shell links of WINUTILS, read back through the shell's own link object.
// The link of LinkForOutsideReader is also checked from outside the test
// machine with lnkinfo (shell_link.cmake).
#include "script_fixture.h"
#include "WINUTILS.h"

class ShellLink : public ::testing::Test {
protected:
    std::string root;
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
        root = full_path("links");
        remove_all(root);
        make_directory(root);
        write_file(root + "\\game.exe", "MZ");
    }
    void TearDown() override {
        remove_all(root);
        CoUninitialize();
    }
};

TEST_F(ShellLink, SavesTargetWorkingDirectoryDescriptionAndArguments) {
    struct Case {
        const char* name;
        const char* arguments;
        const char* expected_arguments;
    };
    for (const Case test : {Case{"with.lnk", "-window -level 3", "-window -level 3"},
                            Case{"without.lnk", NULL, ""}}) {
        SCOPED_TRACE(test.name);
        std::string file = root + "\\" + test.name;
        EXPECT_TRUE(WINUTILS_create_file_link((root + "\\game.exe").c_str(), file.c_str(),
                                              "Play the game", root.c_str(), test.arguments));
        LinkFields link = read_link(file);
        ASSERT_TRUE(link.loaded);
        EXPECT_EQ(link.path, root + "\\game.exe");
        EXPECT_EQ(link.working_directory, root);
        EXPECT_EQ(link.description, "Play the game");
        EXPECT_EQ(link.arguments, test.expected_arguments);
    }
}

TEST_F(ShellLink, ALinkThatCannotBeSavedIsAFailure) {
    std::string missing = root + "\\missing\\game.lnk";
    EXPECT_FALSE(WINUTILS_create_file_link((root + "\\game.exe").c_str(), missing.c_str(), "d",
                                           root.c_str(), NULL));
    EXPECT_FALSE(file_exists(missing));
    EXPECT_FALSE(directory_exists(root + "\\missing"));

    // 259 characters are the most a link path may have.
    std::string directory = root + "\\" + std::string(200 - root.size(), 'd');
    make_directory(directory);
    std::string longest = directory + "\\" + std::string(259 - directory.size() - 5, 'l') + ".lnk";
    std::string too_long = directory + "\\" + std::string(260 - directory.size() - 5, 'l') + ".lnk";
    ASSERT_EQ(longest.size(), 259u);
    EXPECT_TRUE(WINUTILS_create_file_link((root + "\\game.exe").c_str(), longest.c_str(), "d",
                                          root.c_str(), NULL));
    EXPECT_TRUE(read_link(longest).loaded);
    EXPECT_FALSE(WINUTILS_create_file_link((root + "\\game.exe").c_str(), too_long.c_str(), "d",
                                           root.c_str(), NULL));
    EXPECT_EQ(list_directory(directory).size(), 1u);
}

TEST_F(ShellLink, NeedsCom) {
    CoUninitialize();
    EXPECT_FALSE(WINUTILS_create_file_link((root + "\\game.exe").c_str(),
                                           (root + "\\x.lnk").c_str(), "d", root.c_str(), NULL));
    EXPECT_FALSE(file_exists(root + "\\x.lnk"));
    CoInitialize(NULL);
}

// Leaves "outside\Tarnholm Vesk.lnk" in the working directory for lnkinfo.
TEST(ShellLinkOutside, LinkForOutsideReader) {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(NULL)));
    std::string directory = full_path("outside");
    remove_all(directory);
    make_directory(directory);
    write_file(directory + "\\tnh2main.exe", "MZ");
    EXPECT_TRUE(WINUTILS_create_file_link((directory + "\\tnh2main.exe").c_str(),
                                          (directory + "\\Tarnholm Vesk.lnk").c_str(),
                                          "file shortcut", directory.c_str(), "-remove"));
    EXPECT_TRUE(file_exists(directory + "\\Tarnholm Vesk.lnk"));
    CoUninitialize();
}

// ---- Start-menu folders ----------------------------------------------------------

#define SHELL_FOLDERS "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"

static std::string programs_folder(void) {
    char path[MAX_PATH] = "";
    DWORD size = sizeof path;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryValueExA(key, "Programs", NULL, NULL, (BYTE*)path, &size);
        RegCloseKey(key);
    }
    return path;
}

TEST(StartMenuFolder, CreatedUnderTheProgramsFolder) {
    std::string programs = programs_folder();
    ASSERT_TRUE(directory_exists(programs)) << programs;
    std::string folder = programs + "\\Tarnholm Test Folder";
    remove_all(folder);
    EXPECT_TRUE(WINUTILS_create_start_menu_folder("Tarnholm Test Folder"));
    EXPECT_TRUE(directory_exists(folder));
    EXPECT_TRUE(WINUTILS_create_start_menu_folder("Tarnholm Test Folder"));
    EXPECT_TRUE(directory_exists(folder));
    // One level only: a missing parent still gives true, nothing is made.
    EXPECT_TRUE(WINUTILS_create_start_menu_folder("Tarnholm Missing\\Inner"));
    EXPECT_FALSE(directory_exists(programs + "\\Tarnholm Missing"));
    // A name that does not fit beside the folder is refused, not cut.
    std::string long_name(800, 'n');
    EXPECT_FALSE(WINUTILS_create_start_menu_folder(long_name.c_str()));
    remove_all(folder);
}

TEST(StartMenuFolder, FailsWithoutTheProgramsValue) {
    std::string programs = programs_folder();
    ASSERT_FALSE(programs.empty());
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS, 0, KEY_ALL_ACCESS, &key),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(key, "Programs"), ERROR_SUCCESS);
    bool created = WINUTILS_create_start_menu_folder("Tarnholm Test Folder");
    RegSetValueExA(key, "Programs", 0, REG_SZ, (const BYTE*)programs.c_str(),
                   (DWORD)programs.size() + 1);
    RegCloseKey(key);
    EXPECT_FALSE(created);
    EXPECT_FALSE(directory_exists(programs + "\\Tarnholm Test Folder"));
    EXPECT_EQ(programs_folder(), programs);
}
