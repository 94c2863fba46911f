// The script commands against real directories of the test machine. A row
// "files >> records >> outcome" lays out files below work\ and runs records
// "code argument1 argument2" ("-": none), or the remove script for "remove",
// with "<SRC>" work\src, "<DST>" work\dst and "<STARTMENU>" work\menu. The
// outcome is what is left below work\dst, then each box ("?directory" a
// question, "[text]" an error), "stops" when the script stopped, and the
// deletions that did not happen, all paths below work\ relative; "lost
// X:\..." for a file laid out beyond work\ that is gone. Codes: 0 make dir,
// 1 copy files, 2 copy tree, 3 make dir quietly, 4 file link, 5 web link,
// 6 path file, 7 remove tree (its argument 1, which it does not read,
// answers its question: Y, N, or 0 for a box that failed; a question no
// record answers gets Y), 8 delete files of all levels, 9 skip the next
// record if a file cannot be read, 10 copy file, 12 delete files.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <sstream>

#include <windows.h>
#include <shlobj.h>

#include "COPYFLST.h"
#include "fake_host.h"
#include "footprint.h"
#include "memory.h"
#include "support.h"

static const std::string root = full_path("work"), src = root + "\\src", dst = root + "\\dst",
                         menu = root + "\\menu";
static std::string boxes, answers;
// outside: files laid out beyond work\ itself; links: the links laid out,
// removed by name (Wine lists no link whose target went first).
static std::vector<std::string> outside, links;
static HANDLE held;
// As start-up does; every path here is a full one but the empty one, which
// reaches D:\.
static const bool started =
    MEMORY_initialise() && SUCCEEDED(CoInitialize(NULL)) && SetCurrentDirectoryA("D:\\");

static int32_t answer(const char* text, const char* caption, uint32_t type) {
    bool asked = strncmp(text, "Do you want to delete this dir :", 32) == 0;
    // MB_YESNO | MB_ICONINFORMATION for the question, MB_OK for an error.
    EXPECT_EQ(caption + std::to_string(type), asked ? "Question!68" : "Error!0");
    boxes += asked ? " ?" + std::string(text + 32) : " [" + std::string(text) + "]";
    char given = (answers + "Y")[0];
    answers.erase(0, 1);
    return !asked ? IDOK : given == 'Y' ? IDYES : given == 'N' ? IDNO : 0;
}

// Acts on the file the status line is about to show, by its name: the
// source of "shrinks" shrinks to 5 bytes, "busy" is held open by someone
// else, "gone" goes away by itself.
static void meddle(const char* shown) {
    std::string name = strrchr(shown, '\\') + 1;
    if (name == "shrinks") write_file(src + "\\shrinks", "short");
    if (name == "busy" && !held) held = CreateFileA(shown, GENERIC_READ, 0, 0, OPEN_ALWAYS, 0, 0);
    if (name == "gone") DeleteFileA(shown);
}

// Lays out "directory\", "file=bytes" ("=!bytes" read-only, "=#N" N bytes,
// more than a copy chunk) and "link@target" (in a directory laid out
// before) below work\, and "X:\...=bytes".
static void lay(const std::string& files) {
    std::istringstream words(files);
    for (std::string word; words >> word;) {
        size_t mark = word.find_first_of("=@");
        std::string path = (word[1] == ':' ? "" : root + "\\") + word.substr(0, mark),
                    bytes = word.substr(mark + 1);
        // Never beyond the test machine: Wine makes a shell folder that has
        // gone anew as a link to the host's home. (Drive roots are the
        // machine's own, though each may be a link.)
        DWORD folder = GetFileAttributesA(path.substr(0, path.rfind('\\')).c_str());
        ASSERT_TRUE(word[1] != ':' || path.rfind('\\') == 2 ||
                    (folder != INVALID_FILE_ATTRIBUTES && !(folder & FILE_ATTRIBUTE_REPARSE_POINT)))
            << word << ": its folder is missing or a link out of the test machine";
        if (word[1] == ':') outside.push_back(path);
        if (mark == std::string::npos) {
            EXPECT_TRUE(make_directories(path)) << word;
        } else if (word[mark] == '@') {
            links.push_back(path);
            EXPECT_TRUE(FOOTPRINT_make_link((root + "\\" + bytes).c_str(), path.c_str())) << word;
        } else {
            if (bytes[0] == '#') bytes = std::string(atoi(&bytes[1]), 'b');
            EXPECT_TRUE(write_file(path, bytes.substr(bytes[0] == '!'))) << word;
            if (bytes[0] == '!') SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
        }
    }
}

// Both ends of a run's files were closed: what it laid out can be deleted.
static void clean(void) {
    for (const std::string& file : outside) EXPECT_TRUE(DeleteFileA(file.c_str())) << file;
    for (const std::string& link : links) FOOTPRINT_remove_link(link.c_str());
    outside.clear(), links.clear(), answers = "";
    ASSERT_TRUE(started && delete_tree(root) && make_directories(src) && make_directories(dst));
}

// What is below directory (support's tree with contents), each entry after a
// blank; a link file as "name>target,working directory".
static std::string left(const std::string& directory) {
    std::string text;
    for (std::string entry : tree(directory, true)) {
        LinkFields link;
        size_t end = entry.find(".lnk=") + 4;
        if (end > 4 && read_link(directory + "\\" + entry.substr(0, end), &link))
            entry = entry.substr(0, end) + ">" + link.target + "," + link.directory;
        text += " " + entry;
    }
    return text;
}

// The outcome (see above) of the records "code argument1 argument2, ...", or
// of the remove script for "remove".
static std::string run(std::string records, const std::string& destination = dst) {
    std::vector<SCRIPT_RECORD> script;
    auto next = []() -> const char* {
        const char* word = strtok(NULL, " ,");
        return word == NULL || strcmp(word, "-") == 0 ? NULL : word;
    };
    for (char* code = strtok(&records[0], " ,"); code != NULL; code = strtok(NULL, " ,")) {
        const char* first = next();
        if (atoi(code) == CMD_REMOVE_TREE) answers += first;
        script.push_back({(uint16_t)atoi(code), first, next()});
    }
    script.push_back({CMD_END, NULL, NULL});
    fake_host_reset();
    fake_status_hook = meddle;
    script_message_box = answer;
    boxes = "";
    bool complete = run_script(records == "remove" ? remove_script : script.data(), src.c_str(),
                               destination.c_str(), menu.c_str(), 0, 0);
    if (held != NULL) CloseHandle(held), held = NULL;
    const char* first;
    uint32_t failed = script_failed_deletions(&first);
    std::string outcome = left(dst) + boxes + (complete ? "" : " stops");
    if (failed > 0) outcome += " failed " + std::to_string(failed) + " " + first;
    for (const std::string& file : outside) outcome += exists(file) ? "" : " lost " + file;
    for (size_t at; (at = outcome.find(root + "\\")) != std::string::npos;)
        outcome.erase(at, root.size() + 1);
    return outcome.erase(0, 1);
}

struct Commands : ::testing::Test {
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }
    // Rows "files >> records >> outcome"; the outcome "=src": what is below
    // work\src, relative to it.
    void check(const std::vector<std::string>& rows) {
        for (const std::string& row : rows) {
            SCOPED_TRACE(row);
            size_t records = row.find(" >> ") + 4, outcome = row.find(" >> ", records);
            std::string expected = row.substr(outcome + 4);
            clean();
            ASSERT_NO_FATAL_FAILURE(lay(row.substr(0, records - 4)));
            if (expected == "=src") expected = left(src).erase(0, 1);
            EXPECT_EQ(run(row.substr(records, outcome - records)), expected);
        }
    }
};

TEST_F(Commands, Copying) {
    // A directory of 510 characters: "\f" makes 512, more than a path holds.
    const std::string edge = " " + dst + "\\" + std::string(510 - dst.size() - 1, 'x');
    std::vector<std::string> rows = {
        " >> 0 - <DST>\\new, 0 - <DST>\\no\\deeper, 3 <DST>\\quiet -, 3 <DST>\\no\\deeper - "
        ">> new\\ quiet\\",
        "src\\here=x src\\directory\\ >> 9 <SRC>\\here -, 3 <DST>\\1 -, 9 <SRC>\\absent -, "
        "3 <DST>\\2 -, 3 <DST>\\3 -, 9 <SRC>\\directory -, 3 <DST>\\4 - >> 1\\ 3\\",
        "src\\a=alpha src\\e= src\\s\\b=beta dst\\a=!old >> 1 <SRC> <DST>, 1 <SRC>\\absent <DST> "
        ">> a=alpha e=",
        "src\\a=alpha src\\big=#2500000 src\\e= src\\s1\\b=beta src\\s1\\s2\\c=!c src\\s3\\ "
        ">> 2 <SRC> <DST> >> =src",
        "src\\busy=b >> 1 <SRC> <DST>, 3 <DST>\\after - "
        ">> busy= [Error opening file : dst\\busy] stops",
        "src\\s\\busy=b >> 2 <SRC> <DST>, 3 <DST>\\after - "
        ">> after\\ s\\ s\\busy= [Error opening file : dst\\s\\busy]",
        "src\\shrinks=#3000000 >> 1 <SRC> <DST> "
        ">> shrinks=short [Unable to write to file:, dst\\shrinks\n] stops",
        "src\\f=f >> 1 <SRC>" + edge + " >> [Error opening file : src\\f] stops",
        "src\\t\\s\\ >> 2 <SRC>\\t" + edge + " >> [Error opening file : src\\t\\s]",
        "src\\one=1 src\\directory\\ dst\\plain\\ >> 10 <SRC>\\one <DST>\\renamed, "
        "10 <SRC>\\one <DST>\\plain, 10 <SRC>\\absent <DST>\\absent, 10 <SRC>\\directory "
        "<DST>\\copy, 3 <DST>\\after - >> plain\\ plain\\one=1 renamed=1 stops",
        "src\\game.exe=MZ >> 4 <DST>\\game.lnk <SRC>\\game.exe, 5 <DST>\\site.url "
        "http://tarnholm.example/, 5 <DST>\\no\\site.url http://x/, 6 <DST>\\path.txt <DST>, "
        "4 <DST>\\no\\game.lnk <SRC>\\game.exe, 3 <DST>\\after - >> game.lnk>src\\game.exe,src"
        " path.txt=dst\\ site.url=[InternetShortcut]\r\nURL =http://tarnholm."
        "example/\r\n [Failed to create Webpage link.] [Failed to create file Link.] stops",
        " >> 6 <DST>\\no\\path.txt x, 3 <DST>\\after - >> [Error opening file :] stops",
    };
    // Onto a drive that fills up: only with the 1 MB drive Q: of full_disk.sh.
    if (getenv("FULL_DISK") != NULL)
        rows.push_back(
            "src\\large=#3000000 Q:\\large=x >> 1 <SRC> Q: "
            ">> [Unable to write to file:, Q:\\large\n] stops");
    check(rows);
}

TEST_F(Commands, Deleting) {
    const std::string deep = "data\\" + std::string(257 - dst.size() - 6, 'w'),
                      data =
                          "dst\\data\\a.txt=a dst\\data\\b.dat=b dst\\data\\ro.txt=!r "
                          "dst\\data\\sub\\c.txt=c dst\\data\\sub\\d.dat=d dst\\data\\dir.txt\\";
    std::string declines, asked;  // nine No's, one more than the table of kept trees holds
    for (int i = 0; i < 9; i++) declines += "7 N <DST>\\x, ", asked += " ?dst\\x";
    check({
        data + " >> 12 <DST>\\data *.txt >> data\\ data\\b.dat=b data\\dir.txt\\ data\\sub\\ "
               "data\\sub\\c.txt=c data\\sub\\d.dat=d",
        data + " >> 8 <DST>\\data *.txt >> data\\ data\\b.dat=b data\\dir.txt\\ data\\sub\\ "
               "data\\sub\\d.dat=d",
        data + " dst\\data\\sub\\deeper\\e=!e dst\\data\\empty\\ dst\\k=k >> 7 Y <DST>\\data "
               ">> k=k ?dst\\data",
        // No, and a question that failed, keep a tree for every later record.
        "dst\\data\\a=a dst\\data\\s\\b=!b dst\\database\\x=x dst\\other\\o=o dst\\k=k "
        ">> 7 N <DST>\\data, 8 <DST>\\DATA\\ *.*, 12 <DST>\\data\\s *.*, 7 0 <DST>\\other, "
        "7 Y <DST> >> data\\ data\\a=a data\\s\\ data\\s\\b=b other\\ other\\o=o ?dst\\data "
        "?dst\\other ?dst",
        // A No that the table cannot keep stops every later deletion.
        "dst\\y\\f=f >> " + declines + "12 <DST>\\y *.* >> y\\ y\\f=f" + asked,
        // A file in use, one that goes away by itself, and a directory too
        // deep for the ANSI calls to list: tried twice each, counted once.
        "dst\\data\\busy=b dst\\data\\gone=g dst\\" + deep +
            "\\z=z >> 7 Y <DST>\\data, 8 <DST>\\data "
            "*.* >> data\\ data\\busy=b " +
            deep + "\\ " + deep + "\\z=z ?dst\\data failed 2 dst\\data\\busy",
        // Links are never followed. Deleting one under Wine deletes what lies
        // behind it: they stay, as deletions that did not happen.
        "dst\\own\\keep=mine dst\\own_empty\\ dst\\data\\sub\\a=a dst\\data\\mine@dst\\own "
        "dst\\data\\sub\\hollow@dst\\own_empty dst\\alias@dst\\own src\\linked@dst\\own src\\p=p "
        ">> 7 Y <DST>\\data, 8 <DST>\\data *.*, 7 Y <DST>\\alias, 8 <DST>\\alias *.*, "
        "3 <DST>\\copy -, 2 <SRC> <DST>\\copy >> alias@ copy\\ copy\\p=p data\\ data\\mine@ "
        "data\\sub\\ data\\sub\\hollow@ own\\ own\\keep=mine own_empty\\ ?dst\\data ?dst\\alias "
        "failed 3 dst\\data\\mine",
        // The remove script takes the game's files and its data and menu
        // trees, and keeps what is not its own.
        "dst\\data\\a=a dst\\data\\s\\b=!b dst\\game.exe=MZ dst\\saves\\slot=1 menu\\game.lnk=l "
        "menu\\s\\x=x >> remove >> saves\\ saves\\slot=1 ?dst\\data ?menu",
    });
}

TEST_F(Commands, NeverDeletesFromAnEmptyPathADriveRootOrASpecialFolder) {
    // Sentinels the patterns match: in the root of drive D: (the current
    // directory, which an empty path reaches), in special folders and in the
    // Windows directory. A tree removal that gets past the guard asks first,
    // and is answered No. How a folder is told in every spelling is the
    // install-directory policy's own business.
    std::string files = "D:\\sentinel.txt=keep";
    for (int id : {CSIDL_PERSONAL, CSIDL_SYSTEM, CSIDL_WINDOWS}) {
        const std::string path = FOOTPRINT_folder(id);
        ASSERT_FALSE(path.empty());
        files += " " + path + "\\sentinel.txt=keep";
    }
    ASSERT_NO_FATAL_FAILURE(lay(files));
    EXPECT_EQ(
        run("7 N <DST>, 8 <DST> sentinel.*, 12 <DST> sentinel.*, 12 <DST> sentinel.txt, "
            "7 N D:\\, 7 N D:, 8 D:\\\\ sentinel.*, 12 \\ sentinel.*, 12 D:\\ sentinel.txt, "
            "7 N <CSIDL_PERSONAL>\\, 12 <CSIDL_PERSONAL>\\\\ sentinel.*, "
            "8 <CSIDL_PERSONAL>\\. sentinel.txt, 12 <CSIDL_PERSONAL> sentinel.tx?, "
            "12 <WINSYSTEM> sentinel.*, 8 <WINSYSTEM>\\.. sentinel.txt, 7 N <CSIDL_PROGRAM_FILES>",
            ""),
        "");
}
