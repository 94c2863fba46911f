// The script commands against real directories in the test machine: each
// command's success and failure rows, the copy and delete walks, links,
// the small files they write, and the built-in scripts run end to end.
#include "script_fixture.h"
#include "memory.h"

#include <string.h>

class Commands : public ::testing::Test {
protected:
    std::string root, src, dst, menu;

    void SetUp() override {
        reset_script_fakes();
        CoInitialize(NULL);
        ASSERT_TRUE(MEMORY_initialise());  // as start-up does
        root = full_path("work");
        ASSERT_FALSE(root.empty());
        remove_all(root);
        make_directory(root);
        src = root + "\\src";
        dst = root + "\\dst";
        menu = root + "\\menu";
        make_directory(src);
        make_directory(dst);
    }
    void TearDown() override {
        remove_all(root);
        MEMORY_deinitialise();
        CoUninitialize();
    }

    bool run(std::vector<SCRIPT_RECORD> records, uint8_t quiet = 0) {
        records.push_back({CMD_END, NULL, NULL});
        return run_script(records.data(), src.c_str(), dst.c_str(), menu.c_str(), 0, quiet);
    }

    // The source tree of the copy tests: two levels, an empty directory, a
    // read-only file, an empty file and a file larger than one copy chunk.
    void make_source_tree() {
        write_file(src + "\\a.txt", "alpha");
        write_file(src + "\\empty.bin", "");
        std::string big(2500000, '\0');
        for (size_t index = 0; index < big.size(); index++) {
            big[index] = (char)(index * 7 + index / 4099);
        }
        write_file(src + "\\big.dat", big);
        make_directory(src + "\\s1");
        write_file(src + "\\s1\\b.txt", "beta");
        make_directory(src + "\\s1\\s2");
        write_file(src + "\\s1\\s2\\c.txt", "gamma");
        write_file(src + "\\s1\\s2\\ro.txt", "read only");
        SetFileAttributesA((src + "\\s1\\s2\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        make_directory(src + "\\s3");
    }
};

static std::string box_text(size_t index) {
    return index < shown_boxes.size() ? shown_boxes[index].text : "<no box>";
}

// Opens path without sharing, so that nobody else can open it.
static HANDLE hold_exclusively(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
}

// ---- Directories --------------------------------------------------------------

TEST_F(Commands, MakeDirectoriesOneLevelEach) {
    EXPECT_TRUE(run({{CMD_MAKE_DIR, NULL, "<DST>\\new"},
                     {CMD_MAKE_DIR, NULL, "<DST>\\new"},
                     {CMD_MAKE_DIR, NULL, "<DST>\\missing\\deeper"},
                     {CMD_MAKE_DIR_QUIET, "<DST>\\quiet", NULL},
                     {CMD_MAKE_DIR_QUIET, "<DST>\\absent\\deeper", NULL}}));
    EXPECT_EQ(describe_tree(dst), (std::vector<std::string>{"new\\", "quiet\\"}));
    EXPECT_EQ(fake_status_texts,
              (std::vector<std::string>{dst + "\\new", dst + "\\new", dst + "\\missing\\deeper"}));
    EXPECT_EQ(fake_progress_steps, 5);
    EXPECT_TRUE(shown_boxes.empty());
}

TEST_F(Commands, IfFileExistsSkipsExactlyTheNextRecord) {
    write_file(src + "\\present", "x");
    EXPECT_TRUE(run({{CMD_IF_FILE_EXISTS, "<SRC>\\present", NULL},
                     {CMD_MAKE_DIR_QUIET, "<DST>\\one", NULL},
                     {CMD_IF_FILE_EXISTS, "<SRC>\\absent", NULL},
                     {CMD_MAKE_DIR_QUIET, "<DST>\\two", NULL},
                     {CMD_MAKE_DIR_QUIET, "<DST>\\three", NULL},
                     {CMD_IF_FILE_EXISTS, "<SRC>\\s1", NULL},  // a directory does not open
                     {CMD_MAKE_DIR_QUIET, "<DST>\\four", NULL}}));
    EXPECT_EQ(describe_tree(dst), (std::vector<std::string>{"one\\", "three\\"}));
    EXPECT_EQ(fake_progress_steps, 5);
}

// ---- Copying --------------------------------------------------------------------

TEST_F(Commands, CopyFilesCopiesTheFilesDirectlyInside) {
    make_source_tree();
    write_file(dst + "\\a.txt", "old and longer");
    SetFileAttributesA((dst + "\\a.txt").c_str(), FILE_ATTRIBUTE_READONLY);

    EXPECT_TRUE(run({{CMD_COPY_FILES, "<SRC>", "<DST>"}}));
    std::vector<std::string> expected;
    for (const std::string& entry : describe_tree(src)) {
        if (entry.find('\\') == std::string::npos) {
            expected.push_back(entry);
        }
    }
    EXPECT_EQ(describe_tree(dst), expected);
    std::vector<std::string> statuses = fake_status_texts;
    std::sort(statuses.begin(), statuses.end());
    EXPECT_EQ(statuses,
              (std::vector<std::string>{dst + "\\a.txt", dst + "\\big.dat", dst + "\\empty.bin"}));
    EXPECT_TRUE(shown_boxes.empty());
    EXPECT_FALSE(GetFileAttributesA((dst + "\\a.txt").c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(Commands, CopyFilesFromAMissingDirectoryDoesNothing) {
    EXPECT_TRUE(run({{CMD_COPY_FILES, "<SRC>\\absent", "<DST>"}}));
    EXPECT_TRUE(describe_tree(dst).empty());
    EXPECT_TRUE(shown_boxes.empty());
}

TEST_F(Commands, CopyFilesStopsTheScriptAtAFileThatCannotBeCopied) {
    struct Case {
        const char* title;
        bool lock_source;  // else the target is a directory
    };
    for (const Case test :
         {Case{"source cannot be opened", true}, Case{"target cannot be opened", false}}) {
        SCOPED_TRACE(test.title);
        remove_all(dst);
        make_directory(dst);
        reset_script_fakes();
        for (const char* name : {"f1", "f2", "f3", "f4", "f5"}) {
            write_file(src + "\\" + name, std::string("content of ") + name);
        }
        HANDLE lock = INVALID_HANDLE_VALUE;
        if (test.lock_source) {
            lock = hold_exclusively(src + "\\f3");
            ASSERT_NE(lock, INVALID_HANDLE_VALUE);
        } else {
            make_directory(dst + "\\f3");
        }
        EXPECT_FALSE(
            run({{CMD_COPY_FILES, "<SRC>", "<DST>"}, {CMD_MAKE_DIR_QUIET, "<DST>\\after", NULL}}));
        if (lock != INVALID_HANDLE_VALUE) {
            CloseHandle(lock);
        }
        ASSERT_EQ(shown_boxes.size(), 1u);
        EXPECT_EQ(box_text(0), "Error opening file : " + (test.lock_source ? src : dst) + "\\f3");
        EXPECT_EQ(shown_boxes[0].caption, "Error!");
        EXPECT_EQ(shown_boxes[0].type, (uint32_t)MB_OK);
        // Files reported before f3 were copied, none after it.
        ASSERT_FALSE(fake_status_texts.empty());
        EXPECT_EQ(fake_status_texts.back(), dst + "\\f3");
        for (const char* name : {"f1", "f2", "f4", "f5"}) {
            bool before = std::find(fake_status_texts.begin(), fake_status_texts.end(),
                                    dst + "\\" + name) != fake_status_texts.end();
            EXPECT_EQ(read_file(dst + "\\" + name),
                      before ? std::string("content of ") + name : "<missing>")
                << name;
        }
        EXPECT_FALSE(directory_exists(dst + "\\after"));
        remove_all(dst + "\\f3");
    }
}

// Shrinks the source of the copy that is about to start (its size has been
// taken already) to 1000 bytes.
static std::string shrinking_source;
static void shrink_source(const char*) {
    HANDLE file =
        CreateFileA(shrinking_source.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    SetFilePointer(file, 1000, NULL, FILE_BEGIN);
    SetEndOfFile(file);
    CloseHandle(file);
}

TEST_F(Commands, CopyEndsWhenTheSourceGivesNoMoreBytes) {
    // The reads end before the size taken from the file status: the copy
    // ends like a failed write instead of waiting for bytes that never come.
    shrinking_source = src + "\\shrinks";
    write_file(shrinking_source, std::string(3000000, 's'));
    fake_status_hook = shrink_source;
    EXPECT_FALSE(run({{CMD_COPY_FILES, "<SRC>", "<DST>"}}));
    ASSERT_EQ(shown_boxes.size(), 1u);
    EXPECT_EQ(box_text(0), "Unable to write to file:, " + dst + "\\shrinks\n");
    EXPECT_EQ(shown_boxes[0].caption, "Error!");
    EXPECT_EQ(read_file(dst + "\\shrinks"), std::string(1000, 's'));
}

TEST_F(Commands, CopyTreeMirrorsTheTreeDirectoriesFirst) {
    make_source_tree();
    EXPECT_TRUE(run({{CMD_COPY_TREE, "<SRC>", "<DST>"}}));
    EXPECT_EQ(describe_tree(dst), describe_tree(src));
    EXPECT_TRUE(shown_boxes.empty());

    std::vector<std::string> statuses = fake_status_texts;
    std::sort(statuses.begin(), statuses.end());
    std::vector<std::string> expected;
    for (const char* entry : {"a.txt", "big.dat", "empty.bin", "s1", "s1\\b.txt", "s1\\s2",
                              "s1\\s2\\c.txt", "s1\\s2\\ro.txt", "s3"}) {
        expected.push_back(dst + "\\" + entry);
    }
    EXPECT_EQ(statuses, expected);
    // Every directory is shown (and created) before anything inside it.
    for (size_t index = 0; index < fake_status_texts.size(); index++) {
        const std::string& status = fake_status_texts[index];
        std::string parent = status.substr(0, status.rfind('\\'));
        if (parent != dst) {
            auto shown =
                std::find(fake_status_texts.begin(), fake_status_texts.begin() + index, parent);
            EXPECT_NE(shown, fake_status_texts.begin() + index) << status;
        }
    }
}

TEST_F(Commands, CopyTreeFailureEndsTheTreeButNotTheScript) {
    make_source_tree();
    HANDLE lock = hold_exclusively(src + "\\s1\\b.txt");
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(
        run({{CMD_COPY_TREE, "<SRC>", "<DST>"}, {CMD_MAKE_DIR_QUIET, "<DST>\\after", NULL}}));
    CloseHandle(lock);
    ASSERT_EQ(shown_boxes.size(), 1u);
    // The nested walk names the file below "s1\".
    EXPECT_EQ(box_text(0).substr(0, 21), "Error opening file : ");
    EXPECT_NE(box_text(0).find(src + "\\s1\\"), std::string::npos) << box_text(0);
    EXPECT_EQ(box_text(0).substr(box_text(0).size() - 6), "\\b.txt");
    EXPECT_EQ(fake_status_texts.back(), dst + "\\s1\\b.txt");
    EXPECT_TRUE(directory_exists(dst + "\\after"));
}

TEST_F(Commands, CopyTargetsThatWouldNotFitAreFailedCopies) {
    make_directory(src + "\\subdirectory");
    write_file(src + "\\subdirectory\\inner", "i");
    write_file(src + "\\longfilename", "l");
    // 506 characters: "\subdirectory" or "\longfilename" would pass 511.
    std::string long_destination = root + "\\" + std::string(505 - root.size(), 'd');
    ASSERT_EQ(long_destination.size(), 506u);
    SCRIPT_RECORD tree[] = {{CMD_COPY_TREE, "<SRC>", "<DST>"}, {CMD_END, NULL, NULL}};
    make_directory(src + "\\only");
    std::string only = src + "\\only";
    make_directory(only + "\\subdirectory");
    EXPECT_TRUE(run_script(tree, only.c_str(), long_destination.c_str(), menu.c_str(), 0, 0));
    EXPECT_EQ(box_text(0), "Error opening file : " + only + "\\subdirectory");

    shown_boxes.clear();
    SCRIPT_RECORD files[] = {{CMD_COPY_FILES, "<SRC>", "<DST>"}, {CMD_END, NULL, NULL}};
    EXPECT_FALSE(run_script(files, src.c_str(), long_destination.c_str(), menu.c_str(), 0, 0));
    EXPECT_EQ(box_text(0), "Error opening file : " + src + "\\longfilename");
    EXPECT_EQ(shown_boxes.size(), 1u);
    // Nothing was made outside the source.
    EXPECT_EQ(list_directory(root), (std::vector<std::string>{"dst\\", "src\\"}));
    EXPECT_TRUE(fake_status_texts.empty());
}

TEST_F(Commands, CopyFileToFilesAndDirectories) {
    write_file(src + "\\one.txt", "one");
    make_directory(dst + "\\plain");
    // A directory with one more attribute than FILE_ATTRIBUTE_DIRECTORY
    // (Wine keeps "hidden" on directories; read-only behaves the same).
    make_directory(dst + "\\marked");
    SetFileAttributesA((dst + "\\marked").c_str(),
                       FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    ASSERT_EQ(GetFileAttributesA((dst + "\\marked").c_str()),
              (DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_TRUE(run({{CMD_COPY_FILE, "<SRC>\\one.txt", "<DST>\\renamed.txt"},
                     {CMD_COPY_FILE, "<SRC>\\one.txt", "<DST>\\plain"},
                     {CMD_COPY_FILE, "<SRC>\\one.txt", "<DST>\\marked"},
                     {CMD_COPY_FILE, "<SRC>\\absent.txt", "<DST>\\absent.txt"}}));
    SetFileAttributesA((dst + "\\marked").c_str(), FILE_ATTRIBUTE_DIRECTORY);
    // Into a plain directory under the source's name; a directory with one
    // more attribute is not seen as a directory and the copy fails quietly.
    EXPECT_EQ(
        describe_tree(dst),
        (std::vector<std::string>{"marked\\", "plain\\", "plain\\one.txt=one", "renamed.txt=one"}));
    EXPECT_TRUE(shown_boxes.empty());
    EXPECT_TRUE(fake_status_texts.empty());

    // A directory as the source stops the script without a message.
    make_directory(src + "\\folder");
    EXPECT_FALSE(run({{CMD_COPY_FILE, "<SRC>\\folder", "<DST>\\copy"},
                      {CMD_MAKE_DIR_QUIET, "<DST>\\after", NULL}}));
    EXPECT_FALSE(directory_exists(dst + "\\after"));
    EXPECT_TRUE(shown_boxes.empty());
}

// ---- Links and small files ------------------------------------------------

TEST_F(Commands, FileLinkOpensTheTargetInItsDirectory) {
    write_file(src + "\\tnh2main.exe", "MZ");
    EXPECT_TRUE(run({{CMD_FILE_LINK, "<DST>\\Game.lnk", "<SRC>\\tnh2main.exe"}}));
    LinkFields link = read_link(dst + "\\Game.lnk");
    ASSERT_TRUE(link.loaded);
    EXPECT_EQ(link.path, src + "\\tnh2main.exe");
    EXPECT_EQ(link.working_directory, src);
    EXPECT_EQ(link.description, "file shortcut");
    EXPECT_EQ(link.arguments, "");
    EXPECT_TRUE(shown_boxes.empty());
}

TEST_F(Commands, FileLinkThatCannotBeSavedStopsTheScript) {
    EXPECT_FALSE(run({{CMD_FILE_LINK, "<DST>\\missing\\Game.lnk", "<SRC>\\tnh2main.exe"},
                      {CMD_MAKE_DIR_QUIET, "<DST>\\after", NULL}}));
    ASSERT_EQ(shown_boxes.size(), 1u);
    EXPECT_EQ(box_text(0), "Failed to create file Link.");
    EXPECT_EQ(shown_boxes[0].caption, "Error!");
    EXPECT_EQ(shown_boxes[0].type, (uint32_t)MB_OK);
    EXPECT_TRUE(describe_tree(dst).empty());
}

TEST_F(Commands, WebLinkWritesAnInternetShortcut) {
    EXPECT_TRUE(run({{CMD_WEB_LINK, "<DST>\\Site.url", "http://www.brisvanestudios.com/tarnholm/"},
                     {CMD_WEB_LINK, "<DST>\\missing\\Site.url", "http://www.brisvanestudios.com/"},
                     {CMD_MAKE_DIR_QUIET, "<DST>\\after", NULL}}));
    EXPECT_EQ(read_file(dst + "\\Site.url"),
              "[InternetShortcut]\r\nURL =http://www.brisvanestudios.com/tarnholm/\r\n");
    // The second one failed: shown, and the script went on.
    ASSERT_EQ(shown_boxes.size(), 1u);
    EXPECT_EQ(box_text(0), "Failed to create Webpage link.");
    EXPECT_EQ(shown_boxes[0].caption, "Error!");
    EXPECT_TRUE(directory_exists(dst + "\\after"));
}

TEST_F(Commands, WritePathFileWritesTheTextAndABackslash) {
    write_file(dst + "\\path.txt", "an older and longer content");
    EXPECT_TRUE(run({{CMD_WRITE_PATH_FILE, "<DST>\\path.txt", "<DST>"}}));
    EXPECT_EQ(read_file(dst + "\\path.txt"), dst + "\\");

    EXPECT_FALSE(run({{CMD_WRITE_PATH_FILE, "<DST>\\missing\\path.txt", "<DST>"},
                      {CMD_MAKE_DIR_QUIET, "<DST>\\after", NULL}}));
    ASSERT_EQ(shown_boxes.size(), 1u);
    EXPECT_EQ(box_text(0), "Error opening file :");
    EXPECT_EQ(shown_boxes[0].caption, "Error!");
    EXPECT_FALSE(directory_exists(dst + "\\after"));
}

// ---- File types -----------------------------------------------------------------

// The default value of an HKEY_CLASSES_ROOT key, or "<absent>".
static std::string class_value(const std::string& key_path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key_path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "<absent>";
    }
    char value[1024] = "";
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    LONG result = RegQueryValueExA(key, NULL, NULL, &type, (BYTE*)value, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS && type == REG_SZ ? std::string(value) : "<no text>";
}

static void remove_file_type(const std::string& extension, const std::string& type_key) {
    for (const char* sub :
         {"\\shell\\open\\command", "\\shell\\open", "\\shell", "\\DefaultIcon", ""}) {
        RegDeleteKeyA(HKEY_CLASSES_ROOT, (type_key + sub).c_str());
    }
    RegDeleteKeyA(HKEY_CLASSES_ROOT, extension.c_str());
}

class FileType : public Commands {
protected:
    void SetUp() override {
        Commands::SetUp();
        TearDown_registry();
    }
    void TearDown() override {
        TearDown_registry();
        Commands::TearDown();
    }
    void TearDown_registry() {
        remove_file_type(".tvx", "TarnholmTest.save");
        remove_file_type(".tvy", "TarnholmTest.bad");
        remove_file_type(".tvz", "TarnholmTest.gap");
    }
};

TEST_F(FileType, RegistersTheSixValues) {
    EXPECT_TRUE(
        run({{CMD_FILE_TYPE, "<DST>\\tnh2main.exe", ".tvx:TarnholmTest.save:Tarnholm saved game"},
             {CMD_FILE_TYPE, "<DST>\\tnh2main.exe", ".tvz::TarnholmTest.gap:::Gap:ignored"}}));
    const std::string program = dst + "\\tnh2main.exe";
    EXPECT_EQ(class_value(".tvx"), "TarnholmTest.save");
    EXPECT_EQ(class_value("TarnholmTest.save"), "Tarnholm saved game");
    EXPECT_EQ(class_value("TarnholmTest.save\\DefaultIcon"), program + ",0");
    EXPECT_EQ(class_value("TarnholmTest.save\\shell"), "Tarnholm saved game");
    EXPECT_EQ(class_value("TarnholmTest.save\\shell\\open"), "Tarnholm saved game");
    EXPECT_EQ(class_value("TarnholmTest.save\\shell\\open\\command"), "\"" + program + "\" %1");
    // Empty fields are passed over; the description ends at its colon.
    EXPECT_EQ(class_value(".tvz"), "TarnholmTest.gap");
    EXPECT_EQ(class_value("TarnholmTest.gap"), "Gap");
    EXPECT_TRUE(shown_boxes.empty());
}

TEST_F(FileType, MalformedArgumentStopsTheScriptBeforeWriting) {
    const char* malformed[] = {
        ".tvy", ".tvy:TarnholmTest.bad", ".tvy:TarnholmTest.bad:", ".tvy:::", "ab", "", NULL};
    for (const char* argument : malformed) {
        SCOPED_TRACE(argument != NULL ? argument : "NULL");
        EXPECT_FALSE(run({{CMD_FILE_TYPE, "<DST>\\tnh2main.exe", argument},
                          {CMD_MAKE_DIR_QUIET, "<DST>\\after", NULL}}));
        EXPECT_EQ(class_value(".tvy"), "<absent>");
        EXPECT_EQ(class_value("TarnholmTest.bad"), "<absent>");
        EXPECT_FALSE(directory_exists(dst + "\\after"));
    }
    EXPECT_TRUE(shown_boxes.empty());
}

// ---- Deleting -------------------------------------------------------------------

// The links a case made. They go before its tree does: Wine lists no link
// whose target has gone, so a tree removal that took the target first
// would leave the link for the next run to trip over.
static std::vector<std::string> made_links;

class Deleting : public Commands {
protected:
    void TearDown() override {
        for (const std::string& link : made_links) {
            FOOTPRINT_remove_link(link.c_str());
        }
        made_links.clear();
        Commands::TearDown();
    }

    // dst\data: files at three levels (some read-only), an empty directory,
    // a directory whose name matches "*.txt"; dst\keep.dat beside it.
    void make_installed_tree() {
        make_directory(dst + "\\data");
        write_file(dst + "\\data\\a.txt", "a");
        write_file(dst + "\\data\\b.dat", "b");
        write_file(dst + "\\data\\ro.txt", "r");
        SetFileAttributesA((dst + "\\data\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
        make_directory(dst + "\\data\\sub");
        write_file(dst + "\\data\\sub\\c.txt", "c");
        write_file(dst + "\\data\\sub\\d.dat", "d");
        make_directory(dst + "\\data\\sub\\deeper");
        write_file(dst + "\\data\\sub\\deeper\\e.txt", "e");
        write_file(dst + "\\data\\sub\\deeper\\ro.dat", "r");
        SetFileAttributesA((dst + "\\data\\sub\\deeper\\ro.dat").c_str(), FILE_ATTRIBUTE_READONLY);
        make_directory(dst + "\\data\\empty");
        make_directory(dst + "\\data\\dir.txt");
        write_file(dst + "\\keep.dat", "k");
    }
};

TEST_F(Deleting, DeleteFilesByPatternWithAndWithoutSubdirectories) {
    make_installed_tree();
    EXPECT_TRUE(run({{CMD_DELETE_FILES, "<DST>\\data", "*.txt"}}));
    EXPECT_EQ(describe_tree(dst + "\\data"),
              (std::vector<std::string>{"b.dat=b", "dir.txt\\", "empty\\", "sub\\", "sub\\c.txt=c",
                                        "sub\\d.dat=d", "sub\\deeper\\", "sub\\deeper\\e.txt=e",
                                        "sub\\deeper\\ro.dat=r"}));
    EXPECT_TRUE(run({{CMD_DELETE_FILES_TREE, "<DST>\\data", "*.txt"}}));
    EXPECT_EQ(describe_tree(dst + "\\data"),
              (std::vector<std::string>{"b.dat=b", "dir.txt\\", "empty\\", "sub\\", "sub\\d.dat=d",
                                        "sub\\deeper\\", "sub\\deeper\\ro.dat=r"}));
    EXPECT_TRUE(run({{CMD_DELETE_FILES, "<DST>", "keep.dat"}}));
    EXPECT_FALSE(file_exists(dst + "\\keep.dat"));
    EXPECT_TRUE(shown_boxes.empty());
    EXPECT_EQ(fake_progress_steps, 3);
}

TEST_F(Deleting, RemoveTreeAnsweredNoDeletesNothing) {
    make_installed_tree();
    std::vector<std::string> before = describe_tree(dst);
    box_answers = {IDNO};
    EXPECT_TRUE(
        run({{CMD_REMOVE_TREE, NULL, "<DST>\\data"}, {CMD_MAKE_DIR_QUIET, "<DST>\\after", NULL}}));
    ASSERT_EQ(shown_boxes.size(), 1u);
    EXPECT_EQ(box_text(0), "Do you want to delete this dir :" + dst + "\\data");
    EXPECT_EQ(shown_boxes[0].caption, "Question!");
    EXPECT_EQ(shown_boxes[0].type, (uint32_t)(MB_YESNO | MB_ICONINFORMATION));
    before.push_back("after\\");
    std::sort(before.begin(), before.end());
    EXPECT_EQ(describe_tree(dst), before);
}

TEST_F(Deleting, RemoveTreeAnsweredYesRemovesEverythingDeepestFirst) {
    make_installed_tree();
    box_answers = {IDYES};
    EXPECT_TRUE(run({{CMD_REMOVE_TREE, NULL, "<DST>\\data"}}));
    EXPECT_EQ(describe_tree(dst), (std::vector<std::string>{"keep.dat=k"}));
    // Files first, then the directories, each child before its parent.
    const std::string data = dst + "\\data";
    ASSERT_EQ(fake_status_texts.size(), 7u + 4u);
    std::vector<std::string> files(fake_status_texts.begin(), fake_status_texts.begin() + 7);
    std::vector<std::string> directories(fake_status_texts.begin() + 7, fake_status_texts.end());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{data + "\\a.txt", data + "\\b.dat",
                                               data + "\\ro.txt", data + "\\sub\\c.txt",
                                               data + "\\sub\\d.dat", data + "\\sub\\deeper\\e.txt",
                                               data + "\\sub\\deeper\\ro.dat"}));
    auto position = [&](const std::string& path) {
        return std::find(directories.begin(), directories.end(), path) - directories.begin();
    };
    EXPECT_LT(position(data + "\\sub\\deeper"), position(data + "\\sub"));
    EXPECT_LT(position(data + "\\empty"), 4);
    EXPECT_LT(position(data + "\\dir.txt"), 4);
}

// A shell folder by CSIDL, or with parent the folder that holds it.
static std::string folder_path(int csidl, bool parent = false) {
    char path[MAX_PATH] = "";
    if (SHGetFolderPathA(NULL, csidl | CSIDL_FLAG_CREATE, NULL, 0, path) != S_OK) {
        return "";
    }
    std::string folder = path;
    return parent ? folder.substr(0, folder.rfind('\\')) : folder;
}

TEST_F(Deleting, NeverDeletesFromAnEmptyPathARootOrASpecialFolder) {
    // The current directory is the root of drive D: (a CD-ROM drive of the
    // test machine) holding one sentinel; an empty path would reach it.
    // Special folders, folders above one and the Windows directory, in
    // other spellings, each hold a sentinel that a wildcard would match.
    char previous[MAX_PATH];
    GetCurrentDirectoryA(sizeof previous, previous);
    write_file("D:\\sentinel.txt", "keep me");
    make_directory("D:\\sentinel");
    write_file("D:\\sentinel\\inner.txt", "keep me too");
    const std::string music = folder_path(CSIDL_MYMUSIC);
    const std::string desktop = folder_path(CSIDL_DESKTOPDIRECTORY);
    const std::string documents = folder_path(CSIDL_PERSONAL);
    const std::string public_folder = folder_path(CSIDL_COMMON_DOCUMENTS, true);  // holds one
    const std::string windows = folder_path(CSIDL_WINDOWS);
    std::vector<std::string> sentinels;
    for (const std::string& folder : {music, desktop, documents, public_folder, windows}) {
        ASSERT_FALSE(folder.empty());
        sentinels.push_back(folder + "\\sentinel_special.txt");
        write_file(sentinels.back(), "keep me");
    }
    const std::string desktop_dot = desktop + "\\.";
    std::string windows_upper = windows + "\\";
    CharUpperA(&windows_upper[0]);

    ASSERT_TRUE(SetCurrentDirectoryA("D:\\"));
    box_answers = {IDYES, IDYES, IDYES, IDYES};
    std::string empty;
    SCRIPT_RECORD script[] = {{CMD_REMOVE_TREE, NULL, "<DST>"},
                              {CMD_DELETE_FILES_TREE, "<DST>", "*.*"},
                              {CMD_DELETE_FILES, "<DST>", "*.*"},
                              {CMD_REMOVE_TREE, NULL, "D:\\"},
                              {CMD_REMOVE_TREE, NULL, "D:"},
                              {CMD_DELETE_FILES_TREE, "D:\\\\", "*.*"},
                              {CMD_DELETE_FILES, "\\", "*.*"},
                              {CMD_REMOVE_TREE, NULL, music.c_str()},
                              {CMD_DELETE_FILES_TREE, desktop_dot.c_str(), "sentinel_special.txt"},
                              {CMD_DELETE_FILES, "<CSIDL_PERSONAL>", "sentinel_*.txt"},
                              {CMD_DELETE_FILES, public_folder.c_str(), "sentinel_special.tx?"},
                              {CMD_DELETE_FILES, windows_upper.c_str(), "sentinel_*.txt"},
                              {CMD_END, NULL, NULL}};
    bool complete = run_script(script, NULL, empty.c_str(), menu.c_str(), 0, 0);
    SetCurrentDirectoryA(previous);
    std::vector<std::string> kept;
    for (const std::string& sentinel : sentinels) {
        kept.push_back(read_file(sentinel));
        remove_all(sentinel);
    }
    EXPECT_TRUE(complete);
    EXPECT_TRUE(shown_boxes.empty());
    EXPECT_EQ(read_file("D:\\sentinel.txt"), "keep me");
    EXPECT_EQ(read_file("D:\\sentinel\\inner.txt"), "keep me too");
    EXPECT_EQ(kept, std::vector<std::string>(sentinels.size(), "keep me"));
    remove_all("D:\\sentinel.txt");
    remove_all("D:\\sentinel");
}

// ---- Links, declined trees, deletions that did not happen ----------------------

static void make_link(const std::string& target, const std::string& link) {
    made_links.push_back(link);
    ASSERT_TRUE(FOOTPRINT_make_link(target.c_str(), link.c_str())) << link;
}

// The count of the last run's failed deletions; *first gets the first path.
static uint32_t failed_deletions(std::string* first) {
    const char* path = NULL;
    uint32_t count = script_failed_deletions(&path);
    *first = path != NULL ? path : "<NULL>";
    return count;
}

TEST_F(Deleting, LinksAreNeverFollowed) {
    // The user's own folders, one with a file and one empty, reached through
    // links inside the tree, through a tree that is itself a link, and from
    // a copy's source. The test machine is Wine, where deleting a link would
    // delete what lies behind it: the links stay and count as not removed.
    make_installed_tree();
    const std::string own = root + "\\own";
    const std::string own_empty = root + "\\own_empty";
    make_directory(own);
    write_file(own + "\\keep.txt", "mine");
    make_directory(own_empty);
    make_link(own, dst + "\\data\\mine");
    make_link(own_empty, dst + "\\data\\sub\\hollow");
    make_link(own, dst + "\\alias");
    make_link(own, src + "\\linked");
    write_file(src + "\\plain.txt", "p");

    box_answers = {IDYES, IDYES};
    EXPECT_TRUE(run({{CMD_REMOVE_TREE, NULL, "<DST>\\data"},
                     {CMD_DELETE_FILES_TREE, "<DST>\\data", "*.*"},
                     {CMD_REMOVE_TREE, NULL, "<DST>\\alias"},
                     {CMD_DELETE_FILES_TREE, "<DST>\\alias", "*.*"},
                     {CMD_MAKE_DIR_QUIET, "<DST>\\copy", NULL},
                     {CMD_COPY_TREE, "<SRC>", "<DST>\\copy"}}));
    std::string first;
    EXPECT_EQ(failed_deletions(&first), 3u);
    EXPECT_EQ(first, dst + "\\data\\mine");  // the walk reports it before entering sub
    EXPECT_EQ(describe_tree(own), (std::vector<std::string>{"keep.txt=mine"}));
    EXPECT_TRUE(directory_exists(own_empty));
    EXPECT_EQ(describe_tree(dst), (std::vector<std::string>{"alias@", "copy\\", "copy\\plain.txt=p",
                                                            "data\\", "data\\mine@", "data\\sub\\",
                                                            "data\\sub\\hollow@", "keep.dat=k"}));
}

TEST_F(Deleting, NoKeepsTheTreeForEveryLaterRecord) {
    make_installed_tree();
    make_directory(dst + "\\database");  // a sibling whose name starts alike
    write_file(dst + "\\database\\x.txt", "x");
    const std::vector<std::string> data = describe_tree(dst + "\\data");
    box_answers = {IDNO, IDYES};
    EXPECT_TRUE(run({{CMD_REMOVE_TREE, NULL, "<DST>\\data"},
                     {CMD_DELETE_FILES_TREE, "<DST>\\DATA\\", "*.*"},  // spelled otherwise
                     {CMD_DELETE_FILES, "<DST>\\data\\sub", "*.*"},
                     {CMD_REMOVE_TREE, NULL, "<DST>"}}));
    EXPECT_EQ(describe_tree(dst + "\\data"), data);
    EXPECT_EQ(list_directory(dst), (std::vector<std::string>{"data\\"}));
    std::string first;
    EXPECT_EQ(failed_deletions(&first), 0u);  // what the user kept is no failure
    EXPECT_EQ(first, "");
}

static std::wstring long_name(const std::string& path) {
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

TEST_F(Deleting, DeletionsThatDidNotHappenAreCountedOnce) {
    // A file in use, and below a directory of 240 characters' path a
    // directory and a file too deep for the ANSI calls. The data tree and then
    // its files are deleted, so each of them is tried twice and counts once.
    make_installed_tree();
    const std::string data = dst + "\\data";
    ASSERT_LT(data.size(), 200u);
    const std::string wide = data + "\\" + std::string(239 - data.size(), 'w');
    const std::string deep_directory = wide + "\\" + std::string(40, 'x');
    const std::string deep_file = wide + "\\" + std::string(40, 'y') + ".txt";
    ASSERT_TRUE(CreateDirectoryW(long_name(wide).c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryW(long_name(deep_directory).c_str(), NULL));
    for (const std::string& file : {deep_file, deep_directory + "\\z.txt"}) {
        HANDLE handle =
            CreateFileW(long_name(file).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << file;
        CloseHandle(handle);
    }
    write_file(data + "\\busy.dat", "busy");
    HANDLE busy = hold_exclusively(data + "\\busy.dat");
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);

    box_answers = {IDYES};
    EXPECT_TRUE(run(
        {{CMD_REMOVE_TREE, NULL, "<DST>\\data"}, {CMD_DELETE_FILES_TREE, "<DST>\\data", "*.*"}}));
    std::string first;
    uint32_t failed = failed_deletions(&first);
    CloseHandle(busy);
    bool deep_file_stayed =
        GetFileAttributesW(long_name(deep_file).c_str()) != INVALID_FILE_ATTRIBUTES;
    // Renamed short, the deep entries can be removed by the fixture.
    ASSERT_TRUE(MoveFileW(long_name(wide).c_str(), long_name(data + "\\w").c_str()));
    EXPECT_EQ(failed, 3u);
    EXPECT_EQ(first, data + "\\busy.dat");  // reported before the walk enters the deep directory
    EXPECT_TRUE(deep_file_stayed);

    // The next run counts afresh.
    EXPECT_TRUE(run({{CMD_DELETE_FILES, "<DST>\\data", "busy.dat"}}));
    EXPECT_EQ(failed_deletions(&first), 0u);
    EXPECT_EQ(first, "");
    EXPECT_FALSE(file_exists(data + "\\busy.dat"));
}

// ---- The built-in scripts ------------------------------------------------------

TEST_F(Deleting, RemoveScriptRemovesTheGame) {
    make_installed_tree();
    write_file(dst + "\\Tarn II.exe", "MZ");
    write_file(dst + "\\tnh2main.exe", "MZ");
    make_directory(dst + "\\saves");
    write_file(dst + "\\saves\\slot1.sav", "progress");
    make_directory(menu);
    write_file(menu + "\\Tarnholm Vesk.lnk", "link");
    write_file(menu + "\\Uninstall.lnk", "link");
    char desktop[MAX_PATH];
    ASSERT_EQ(SHGetFolderPathA(NULL, CSIDL_DESKTOP, NULL, 0, desktop), S_OK);
    std::string game_link = std::string(desktop) + "\\Tarnholm Vesk.lnk";
    std::string other_link = std::string(desktop) + "\\Other Game.lnk";
    write_file(game_link, "link");
    write_file(other_link, "link");

    box_answers = {IDYES, IDYES};
    bool complete = run_script(remove_script, NULL, dst.c_str(), menu.c_str(), 0, 0);
    bool game_link_left = file_exists(game_link);
    bool other_link_left = file_exists(other_link);
    remove_all(game_link);
    remove_all(other_link);

    EXPECT_TRUE(complete);
    EXPECT_EQ(fake_progress_steps, 5);
    ASSERT_EQ(shown_boxes.size(), 2u);
    EXPECT_EQ(box_text(0), "Do you want to delete this dir :" + dst + "\\data");
    EXPECT_EQ(box_text(1), "Do you want to delete this dir :" + menu);
    // The files of the install directory go, its other directories stay.
    EXPECT_EQ(describe_tree(dst),
              (std::vector<std::string>{"saves\\", "saves\\slot1.sav=progress"}));
    EXPECT_FALSE(directory_exists(menu));
    EXPECT_FALSE(game_link_left);
    EXPECT_TRUE(other_link_left);
}

TEST_F(Commands, InstallScriptWithQuietStart) {
    static const char* data_directories[] = {
        "Anims", "ANM",  "Bink",  "Dialogue", "fonts", "INK", "Interface", "LCM", "LMM",
        "MCZ",   "Rand", "Sound", "str",      "WMC",   "WMD", "WSD",       "WSM"};
    write_file(src + "\\tnh2main.exe", "MZ main");
    write_file(src + "\\Tarn II.exe", "MZ launcher");
    make_directory(src + "\\data");
    write_file(src + "\\data\\index.dat", "index");
    for (const char* name : data_directories) {
        make_directory(src + "\\data\\" + name);
        write_file(src + "\\data\\" + name + "\\" + name + ".pak", name);
    }
    make_directory(src + "\\data\\Sound\\Music");
    write_file(src + "\\data\\Sound\\Music\\theme.ogg", "theme");
    remove_all(dst);  // the script makes it

    EXPECT_TRUE(run(std::vector<SCRIPT_RECORD>(install_script, install_script + 41), 1));
    EXPECT_EQ(fake_progress_steps, 22);
    EXPECT_TRUE(shown_boxes.empty()) << box_text(0);
    EXPECT_EQ(describe_tree(dst), describe_tree(src));
    LinkFields demo = read_link(menu + "\\Tarnholm Demo.lnk");
    ASSERT_TRUE(demo.loaded);
    EXPECT_EQ(demo.path, dst + "\\tnh2main.exe");
    EXPECT_EQ(demo.working_directory, dst);
    EXPECT_TRUE(file_exists(menu + "\\Tarnholm Website.lnk"));
}

// ---- A full disk ----------------------------------------------------------------

// Runs only when drive Q: is a small drive of its own: the test
// FullDisk.WriteFailureOnASmallDrive (script_commands_test.cmake) gives the
// machine a 1 MB tmpfs as Q: and runs this case on it.
TEST(FullDisk, WriteFailureEndsTheCopy) {
    if (GetDriveTypeA("Q:\\") == DRIVE_NO_ROOT_DIR) {
        GTEST_SKIP() << "no small drive Q:";
    }
    reset_script_fakes();
    ASSERT_TRUE(MEMORY_initialise());
    std::string source = full_path("full_disk_source");
    remove_all(source);
    make_directory(source);
    write_file(source + "\\large.dat", std::string(3000000, 'w'));
    remove_all("Q:\\target");
    make_directory("Q:\\target");
    SCRIPT_RECORD script[] = {{CMD_COPY_FILES, "<SRC>", "<DST>"}, {CMD_END, NULL, NULL}};
    bool complete = run_script(script, source.c_str(), "Q:\\target", "Q:\\", 0, 0);
    MEMORY_deinitialise();
    EXPECT_FALSE(complete);
    ASSERT_EQ(shown_boxes.size(), 1u);
    EXPECT_EQ(shown_boxes[0].text, "Unable to write to file:, Q:\\target\\large.dat\n");
    EXPECT_EQ(shown_boxes[0].caption, "Error!");
    // Both files were closed: they can be deleted at once.
    EXPECT_TRUE(DeleteFileA("Q:\\target\\large.dat"));
    EXPECT_TRUE(DeleteFileA((source + "\\large.dat").c_str()));
    remove_all(source);
}
