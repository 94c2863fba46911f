// Shell links and Start-menu folders of WINUTILS. Links are read back through
// the shell's link object (the install flow's cases read one with the host's
// lnkinfo as well). Every library call must leave the call stack as it found it.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>
#include <string.h>
#include <algorithm>

#include "WINUTILS.h"
#include "support.h"

using namespace std::string_literals;

// A link is saved with every field, or not at all and false: without COM, in
// a missing directory, under a path over 259 characters. Nothing else is
// written (the links, game.exe and the deep directory).
TEST(ShellLink, SavedWithEveryFieldOrNotAtAll) {
    const std::string root = full_path("links"), game = root + "\\game.exe";
    ASSERT_TRUE(delete_tree(root) && write_file(game, "MZ"));
    callstack_begin("links.develop.dbg", 0);
    const std::string deep = root + "\\" + std::string(200 - root.size(), 'd');
    auto in_deep = [&](size_t length) { return deep + "\\" + std::string(length, 'l') + ".lnk"; };
    ASSERT_TRUE(make_directories(deep));
    // clang-format off
    const struct { std::string file; const char* arguments; bool saved; } rows[] = {
        {root + "\\no_com.lnk", NULL, false},  // before COM is initialised
        {root + "\\with.lnk", "-window -level 3", true}, {root + "\\without.lnk", NULL, true},
        {in_deep(254 - deep.size()), NULL, true},  // 259 characters
        {in_deep(255 - deep.size()), NULL, false}, {root + "\\missing\\game.lnk", NULL, false},
    };
    // clang-format on
    for (auto& row : rows) {
        SCOPED_TRACE(row.file);
        if (&row == rows + 1) CoInitialize(NULL);
        EXPECT_EQ(WINUTILS_create_file_link(game.c_str(), row.file.c_str(), "Play", root.c_str(),
                                            row.arguments),
                  row.saved);
        LinkFields link;
        ASSERT_EQ(read_link(row.file, &link), row.saved);
        if (!row.saved) continue;
        EXPECT_EQ(
            link.target + "|" + link.arguments + "|" + link.directory + "|" + link.description,
            game + "|" + (row.arguments ? row.arguments : "") + "|" + root + "|Play");
    }
    EXPECT_EQ(tree(root).size(), 5u) << testing::PrintToString(tree(root));
    EXPECT_EQ(callstack_end(), "");
}

// A folder below the user's Programs folder, one level: made once, true
// again when it exists or its parent is missing; a name that does not fit is
// refused, and so is everything without the Programs value.
TEST(StartMenuFolder, MadeOnceBelowProgramsOrRefused) {
    char programs[WINUTILS_REGISTRY_TEXT_SIZE];
    ASSERT_TRUE(WINUTILS_get_registry_entry(1, WINUTILS_SHELL_FOLDERS_KEY, "Programs", programs));
    const char* name = "Tarnholm Test Folder";
    const std::string folder = programs + "\\"s + name;
    ASSERT_TRUE(delete_tree(folder));
    callstack_begin("folders.develop.dbg", 0);
    EXPECT_TRUE(WINUTILS_create_start_menu_folder(name) && is_directory(folder));
    EXPECT_TRUE(WINUTILS_create_start_menu_folder(name));  // it exists
    EXPECT_TRUE(WINUTILS_create_start_menu_folder("Tarnholm Missing\\Inner"));
    EXPECT_FALSE(exists(programs + "\\Tarnholm Missing"s));
    EXPECT_FALSE(WINUTILS_create_start_menu_folder(std::string(800, 'n').c_str()));
    ASSERT_TRUE(delete_tree(folder));
    SHDeleteValueA(HKEY_CURRENT_USER, WINUTILS_SHELL_FOLDERS_KEY, "Programs");
    bool made = WINUTILS_create_start_menu_folder(name);
    SHSetValueA(HKEY_CURRENT_USER, WINUTILS_SHELL_FOLDERS_KEY, "Programs", REG_SZ, programs,
                strlen(programs) + 1);
    EXPECT_FALSE(made || exists(folder));
    EXPECT_EQ(callstack_end(), "");
}
