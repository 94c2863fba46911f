// Registry helpers against Wine's real registry. The test program is 32-bit
// like the installer, so HKLM\Software is the 32-bit view (Wow6432Node); every
// check reads back through that same view with the raw API, and some also
// look at where the 64-bit view keeps it. Only keys below TEST_KEY are used.
#include <gtest/gtest.h>
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include "WINUTILS.h"
#include "qbug.h"

namespace {

const char TEST_KEY[] = "Software\\TarnholmRegistryTest";
const char TEST_KEY_64[] = "Software\\Wow6432Node\\TarnholmRegistryTest";
const char USERS_TEST_KEY[] = ".DEFAULT\\Software\\TarnholmRegistryTest";

// ---- raw access through the 32-bit view ---------------------------------------

void delete_tree(HKEY root, const std::string& path, REGSAM view = KEY_WOW64_32KEY) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &key) != ERROR_SUCCESS) return;
    std::vector<std::string> children;
    char name[256];
    for (DWORD i = 0; RegEnumKeyA(key, i, name, sizeof name) == ERROR_SUCCESS; i++)
        children.push_back(name);
    RegCloseKey(key);
    for (const std::string& child : children) delete_tree(root, path + "\\" + child, view);
    size_t cut = path.rfind('\\');
    HKEY parent = root;
    if (cut != std::string::npos && RegOpenKeyExA(root, path.substr(0, cut).c_str(), 0,
                                                  KEY_ALL_ACCESS | view, &parent) != ERROR_SUCCESS)
        return;
    RegDeleteKeyA(parent, cut == std::string::npos ? path.c_str() : path.c_str() + cut + 1);
    if (parent != root) RegCloseKey(parent);
}

bool key_exists(HKEY root, const std::string& path, REGSAM view = KEY_WOW64_32KEY) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Reads a value: its type and raw bytes. False when it is not there.
bool raw_read(HKEY root, const std::string& path, const char* name, DWORD* type, std::string* data,
              REGSAM view = KEY_WOW64_32KEY) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    BYTE bytes[4096];
    DWORD size = sizeof bytes;
    LONG result = RegQueryValueExA(key, name, NULL, type, bytes, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) return false;
    data->assign((const char*)bytes, size);
    return true;
}

void raw_write(HKEY root, const std::string& path, const char* name, DWORD type, const void* data,
               DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                              NULL, &key, NULL),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key, name, 0, type, (const BYTE*)data, size), ERROR_SUCCESS);
    RegCloseKey(key);
}

std::string sub(const char* path) { return std::string(TEST_KEY) + "\\" + path; }

class Registry : public ::testing::Test {
protected:
    void SetUp() override { clean(); }
    void TearDown() override { clean(); }
    static void clean() {
        delete_tree(HKEY_LOCAL_MACHINE, TEST_KEY);
        delete_tree(HKEY_CURRENT_USER, TEST_KEY);
        delete_tree(HKEY_CLASSES_ROOT, "TarnholmRegistryTest");
        delete_tree(HKEY_USERS, USERS_TEST_KEY);
        delete_tree(HKEY_CURRENT_CONFIG, TEST_KEY);
    }
};

// ---- writing ----------------------------------------------------------------

TEST_F(Registry, SetCreatesThreeMissingLevelsInThe32BitView) {
    std::string path = sub("One\\Two\\Three");
    ASSERT_FALSE(key_exists(HKEY_LOCAL_MACHINE, TEST_KEY));
    EXPECT_TRUE(
        WINUTILS_set_registry_entry(2, path.c_str(), "InstallDir", "D:\\Games\\Tarn", NULL));

    DWORD type;
    std::string data;
    ASSERT_TRUE(raw_read(HKEY_LOCAL_MACHINE, path, "InstallDir", &type, &data));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    // Stored with its terminator, so every reader gets a terminated string.
    EXPECT_EQ(data, std::string("D:\\Games\\Tarn", 14));
    // Where a 64-bit program finds what this 32-bit program wrote.
    EXPECT_TRUE(raw_read(HKEY_LOCAL_MACHINE, std::string(TEST_KEY_64) + "\\One\\Two\\Three",
                         "InstallDir", &type, &data, KEY_WOW64_64KEY));
}

TEST_F(Registry, SetWithoutValueNameWritesTheDefaultValue) {
    ASSERT_TRUE(WINUTILS_set_registry_entry(2, TEST_KEY, NULL, "the default", NULL));
    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, TEST_KEY, 0, KEY_READ | KEY_WOW64_32KEY, &key),
              ERROR_SUCCESS);
    char text[64] = "";
    LONG size = sizeof text;
    EXPECT_EQ(RegQueryValueA(key, NULL, text, &size), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_STREQ(text, "the default");
    char buffer[WINUTILS_REGISTRY_TEXT_SIZE];
    EXPECT_TRUE(WINUTILS_get_registry_entry(2, TEST_KEY, NULL, buffer));
    EXPECT_STREQ(buffer, "the default");
}

TEST_F(Registry, SetWritesNumbersAsDwordAndGetGivesSignedDecimal) {
    struct {
        uint32_t number;
        const char* text;
    } cases[] = {
        {300, "300"},
        {0xFFFFFFFFu, "-1"},
        {0, "0"},
        {0x80000000u, "-2147483648"},
        {0x7FFFFFFF, "2147483647"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(WINUTILS_set_registry_entry(2, TEST_KEY, "Number", NULL, &c.number));
        DWORD type;
        std::string data;
        ASSERT_TRUE(raw_read(HKEY_LOCAL_MACHINE, TEST_KEY, "Number", &type, &data));
        EXPECT_EQ(type, (DWORD)REG_DWORD);
        ASSERT_EQ(data.size(), 4u);
        EXPECT_EQ(memcmp(data.data(), &c.number, 4), 0);
        char buffer[WINUTILS_REGISTRY_TEXT_SIZE];
        EXPECT_TRUE(WINUTILS_get_registry_entry(2, TEST_KEY, "Number", buffer));
        EXPECT_STREQ(buffer, c.text);
    }
}

TEST_F(Registry, TextWinsOverNumberAndNeitherIsRefused) {
    uint32_t number = 7;
    ASSERT_TRUE(WINUTILS_set_registry_entry(2, TEST_KEY, "Both", "text", &number));
    DWORD type;
    std::string data;
    ASSERT_TRUE(raw_read(HKEY_LOCAL_MACHINE, TEST_KEY, "Both", &type, &data));
    EXPECT_EQ(type, (DWORD)REG_SZ);
    EXPECT_FALSE(WINUTILS_set_registry_entry(2, TEST_KEY, "Neither", NULL, NULL));
    EXPECT_FALSE(raw_read(HKEY_LOCAL_MACHINE, TEST_KEY, "Neither", &type, &data));
}

// Every root of the selector table, each written and read back through the
// handle the table names (selector 4 is HKEY_CURRENT_CONFIG, not the
// performance data).
TEST_F(Registry, SelectorsNameTheirRootKeys) {
    struct {
        int32_t selector;
        HKEY root;
        std::string path;
    } cases[] = {
        {0, HKEY_CLASSES_ROOT, "TarnholmRegistryTest\\Entry"},
        {1, HKEY_CURRENT_USER, sub("Entry")},
        {2, HKEY_LOCAL_MACHINE, sub("Entry")},
        {3, HKEY_USERS, std::string(USERS_TEST_KEY) + "\\Entry"},
        {4, HKEY_CURRENT_CONFIG, sub("Entry")},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.selector);
        std::string text = "root " + std::to_string(c.selector);
        ASSERT_TRUE(
            WINUTILS_set_registry_entry(c.selector, c.path.c_str(), "Root", text.c_str(), NULL));
        DWORD type;
        std::string data;
        ASSERT_TRUE(raw_read(c.root, c.path, "Root", &type, &data));
        EXPECT_EQ(data, text + '\0');
        char buffer[WINUTILS_REGISTRY_TEXT_SIZE];
        EXPECT_TRUE(WINUTILS_get_registry_entry(c.selector, c.path.c_str(), "Root", buffer));
        EXPECT_EQ(buffer, text);
        size_t cut = c.path.rfind('\\');
        std::string parent = c.path.substr(0, cut);
        std::string leaf = c.path.substr(cut + 1);
        EXPECT_TRUE(
            WINUTILS_clear_registry_entry(c.selector, parent.c_str(), leaf.c_str(), "Root"));
        EXPECT_FALSE(raw_read(c.root, c.path, "Root", &type, &data));
    }
}

TEST_F(Registry, BadSelectorsAreRefusedAndTouchNothing) {
    const int32_t selectors[] = {-1, 6, 7, INT32_MIN, INT32_MAX};
    raw_write(HKEY_LOCAL_MACHINE, sub("Kept"), "Value", REG_SZ, "kept", 5);
    for (int32_t selector : selectors) {
        SCOPED_TRACE(selector);
        uint32_t number = 1;
        EXPECT_FALSE(WINUTILS_set_registry_entry(selector, sub("New").c_str(), "Value", "x", NULL));
        EXPECT_FALSE(
            WINUTILS_set_registry_entry(selector, sub("New").c_str(), "Value", NULL, &number));
        char buffer[WINUTILS_REGISTRY_TEXT_SIZE];
        memset(buffer, 'G', sizeof buffer);
        EXPECT_FALSE(WINUTILS_get_registry_entry(selector, sub("Kept").c_str(), "Value", buffer));
        EXPECT_STREQ(buffer, "");
        EXPECT_FALSE(WINUTILS_clear_registry_entry(selector, TEST_KEY, "Kept", "Value"));
        EXPECT_FALSE(WINUTILS_clear_registry_entry(selector, TEST_KEY, "Kept", NULL));
    }
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, sub("New")));
    EXPECT_FALSE(key_exists(HKEY_CURRENT_USER, sub("New")));
    DWORD type;
    std::string data;
    EXPECT_TRUE(raw_read(HKEY_LOCAL_MACHINE, sub("Kept"), "Value", &type, &data));
}

// ---- reading ----------------------------------------------------------------

TEST_F(Registry, GetRefusesOtherTypesAndMissingEntries) {
    const char expand[] = "%SystemRoot%\\x";
    const char multi[] = "a\0b\0";
    const BYTE binary[] = {1, 2, 3, 4};
    const WORD short_number = 5;
    raw_write(HKEY_LOCAL_MACHINE, TEST_KEY, "Expand", REG_EXPAND_SZ, expand, sizeof expand);
    raw_write(HKEY_LOCAL_MACHINE, TEST_KEY, "Multi", REG_MULTI_SZ, multi, sizeof multi);
    raw_write(HKEY_LOCAL_MACHINE, TEST_KEY, "Binary", REG_BINARY, binary, sizeof binary);
    raw_write(HKEY_LOCAL_MACHINE, TEST_KEY, "ShortDword", REG_DWORD, &short_number,
              sizeof short_number);
    struct {
        const char* key;
        const char* value;
    } cases[] = {
        {TEST_KEY, "Expand"},
        {TEST_KEY, "Multi"},
        {TEST_KEY, "Binary"},
        {TEST_KEY, "ShortDword"},
        {TEST_KEY, "Missing"},
        {TEST_KEY, NULL},  // the key has no default value
        {"Software\\TarnholmRegistryTest\\NoSuchKey", "Expand"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(default)");
        char buffer[WINUTILS_REGISTRY_TEXT_SIZE];
        memset(buffer, 'G', sizeof buffer);
        EXPECT_FALSE(WINUTILS_get_registry_entry(2, c.key, c.value, buffer));
        EXPECT_STREQ(buffer, "");
    }
}

// Strings near the buffer's size, stored with and without their terminator:
// a read gives the whole text, terminated inside the 512 bytes, or false.
TEST_F(Registry, GetNeverGivesACutOrUnterminatedText) {
    struct {
        size_t length;
        bool terminated;
        bool fits;
    } cases[] = {
        {3, false, true},   {3, true, true},    {0, false, true},     {0, true, true},
        {510, true, true},  {511, true, true},  {511, false, true},   {512, false, false},
        {512, true, false}, {600, true, false}, {4000, false, false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.length) + (c.terminated ? " terminated" : " unterminated"));
        std::string text(c.length, 'a');
        for (size_t i = 0; i < c.length; i++) text[i] = (char)('a' + i % 26);
        raw_write(HKEY_LOCAL_MACHINE, TEST_KEY, "Text", REG_SZ, text.c_str(),
                  (DWORD)(c.length + (c.terminated ? 1 : 0)));
        // Guard bytes after the 512 the caller owns.
        char buffer[WINUTILS_REGISTRY_TEXT_SIZE + 64];
        memset(buffer, 'G', sizeof buffer);
        bool read = WINUTILS_get_registry_entry(2, TEST_KEY, "Text", buffer);
        EXPECT_EQ(read, c.fits);
        EXPECT_EQ(std::string(buffer + WINUTILS_REGISTRY_TEXT_SIZE, 64), std::string(64, 'G'));
        ASSERT_TRUE(memchr(buffer, '\0', WINUTILS_REGISTRY_TEXT_SIZE) != NULL);
        EXPECT_EQ(std::string(buffer), c.fits ? text : std::string());
    }
}

// Wine's RegQueryValueExA terminates what it returns, Windows' need not: the
// terminating step on its own, for every size the query can report.
TEST(RegistryText, TerminatedInsideTheBufferOrRefused) {
    struct {
        uint32_t size;
        bool last_is_nul;
        bool kept;
        size_t length;
    } cases[] = {
        {0, false, true, 0},    {1, true, true, 0},      {3, false, true, 3},
        {4, true, true, 3},     {511, false, true, 511}, {512, true, true, 511},
        {512, false, false, 0}, {513, false, false, 0},  {0xFFFFFFFFu, false, false, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.size);
        char buffer[WINUTILS_REGISTRY_TEXT_SIZE + 16];
        memset(buffer, 'a', sizeof buffer);
        if (c.last_is_nul) buffer[c.size - 1] = '\0';
        bool kept = winutils_terminate_registry_text(buffer, c.size);
        EXPECT_EQ(kept, c.kept);
        EXPECT_EQ(std::string(buffer + WINUTILS_REGISTRY_TEXT_SIZE, 16), std::string(16, 'a'));
        if (kept) {
            EXPECT_EQ(strlen(buffer), c.length);
        }
    }
}

// What the installer does with them: its own values round-trip as text.
TEST_F(Registry, WrittenTextReadsBackUnchanged) {
    const char* texts[] = {"", "D:\\Games\\Tarn",
                           "\"C:\\WINDOWS\\Tarnholm Vesk remove.exe\" remove",
                           "\xe4\xf6\xfc \xa3 latin-1"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(WINUTILS_set_registry_entry(2, TEST_KEY, "Text", text, NULL));
        char buffer[WINUTILS_REGISTRY_TEXT_SIZE];
        ASSERT_TRUE(WINUTILS_get_registry_entry(2, TEST_KEY, "Text", buffer));
        EXPECT_STREQ(buffer, text);
    }
}

// Start-up asks for the installation with the key written once with and once
// without a closing backslash; both name the same key.
TEST_F(Registry, KeyPathWithClosingBackslashNamesTheSameKey) {
    ASSERT_TRUE(WINUTILS_set_registry_entry(2, sub("tarnholm 2").c_str(), "InstallDir",
                                            "D:\\Games\\Tarn", NULL));
    char buffer[WINUTILS_REGISTRY_TEXT_SIZE];
    EXPECT_TRUE(
        WINUTILS_get_registry_entry(2, (sub("tarnholm 2") + "\\").c_str(), "InstallDir", buffer));
    EXPECT_STREQ(buffer, "D:\\Games\\Tarn");
    EXPECT_TRUE(WINUTILS_get_registry_entry(2, sub("TARNHOLM 2").c_str(), "installdir", buffer));
}

// ---- clearing -------------------------------------------------------------------

TEST_F(Registry, ClearingAValueLeavesTheKeyAndItsOtherValues) {
    raw_write(HKEY_LOCAL_MACHINE, sub("Entry"), "One", REG_SZ, "1", 2);
    raw_write(HKEY_LOCAL_MACHINE, sub("Entry"), "Two", REG_SZ, "2", 2);
    EXPECT_TRUE(WINUTILS_clear_registry_entry(2, TEST_KEY, "Entry", "One"));
    DWORD type;
    std::string data;
    EXPECT_FALSE(raw_read(HKEY_LOCAL_MACHINE, sub("Entry"), "One", &type, &data));
    EXPECT_TRUE(raw_read(HKEY_LOCAL_MACHINE, sub("Entry"), "Two", &type, &data));
    // Once gone, the value cannot be cleared again.
    EXPECT_FALSE(WINUTILS_clear_registry_entry(2, TEST_KEY, "Entry", "One"));
    EXPECT_FALSE(WINUTILS_clear_registry_entry(2, TEST_KEY, "NoSuchEntry", "Two"));
}

TEST_F(Registry, ClearingAKeyDeletesItAndLeavesItsParent) {
    raw_write(HKEY_LOCAL_MACHINE, sub("Entry"), "One", REG_SZ, "1", 2);
    raw_write(HKEY_LOCAL_MACHINE, sub("Sibling"), "One", REG_SZ, "1", 2);
    EXPECT_TRUE(WINUTILS_clear_registry_entry(2, TEST_KEY, "Entry", NULL));
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, sub("Entry")));
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, sub("Sibling")));
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, TEST_KEY));
    // Gone from the 32-bit view is gone from Wow6432Node.
    EXPECT_FALSE(
        key_exists(HKEY_LOCAL_MACHINE, std::string(TEST_KEY_64) + "\\Entry", KEY_WOW64_64KEY));
    // A key that is not there, or whose parent is not there.
    EXPECT_FALSE(WINUTILS_clear_registry_entry(2, TEST_KEY, "Entry", NULL));
    EXPECT_FALSE(WINUTILS_clear_registry_entry(2, sub("NoParent").c_str(), "Entry", NULL));
    // No subkey named: the parent is not taken for it.
    raw_write(HKEY_LOCAL_MACHINE, sub("Lone"), "One", REG_SZ, "1", 2);
    EXPECT_FALSE(WINUTILS_clear_registry_entry(2, sub("Lone").c_str(), "", NULL));
    EXPECT_FALSE(WINUTILS_clear_registry_entry(2, sub("Lone").c_str(), "", "One"));
    DWORD type;
    std::string data;
    EXPECT_TRUE(raw_read(HKEY_LOCAL_MACHINE, sub("Lone"), "One", &type, &data));
}

TEST_F(Registry, ClearingAKeyWithSubkeysFailsAndKeepsIt) {
    raw_write(HKEY_LOCAL_MACHINE, sub("Entry\\Child"), "One", REG_SZ, "1", 2);
    EXPECT_FALSE(WINUTILS_clear_registry_entry(2, TEST_KEY, "Entry", NULL));
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, sub("Entry\\Child")));
}

// A joined path one character too long would, cut, name an existing key:
// nothing may be deleted, in either form. The longest path that fits works.
TEST_F(Registry, OverlongJoinedPathDeletesNothing) {
    std::string parent = sub(std::string(200, 'P').c_str());
    size_t room =
        WINUTILS_REGISTRY_PATH_SIZE - 1 - parent.size() - 1;  // characters left for the subkey
    std::string victim(room, 'V');
    std::string longer = victim + "X";
    raw_write(HKEY_LOCAL_MACHINE, parent + "\\" + victim, "Value", REG_SZ, "v", 2);
    raw_write(HKEY_LOCAL_MACHINE, parent + "\\" + longer, "Value", REG_SZ, "v", 2);

    EXPECT_FALSE(WINUTILS_clear_registry_entry(2, parent.c_str(), longer.c_str(), "Value"));
    EXPECT_FALSE(WINUTILS_clear_registry_entry(2, parent.c_str(), longer.c_str(), NULL));
    DWORD type;
    std::string data;
    EXPECT_TRUE(raw_read(HKEY_LOCAL_MACHINE, parent + "\\" + victim, "Value", &type, &data));
    EXPECT_TRUE(raw_read(HKEY_LOCAL_MACHINE, parent + "\\" + longer, "Value", &type, &data));

    EXPECT_TRUE(WINUTILS_clear_registry_entry(2, parent.c_str(), victim.c_str(), "Value"));
    EXPECT_FALSE(raw_read(HKEY_LOCAL_MACHINE, parent + "\\" + victim, "Value", &type, &data));
    EXPECT_TRUE(WINUTILS_clear_registry_entry(2, parent.c_str(), victim.c_str(), NULL));
    EXPECT_FALSE(key_exists(HKEY_LOCAL_MACHINE, parent + "\\" + victim));
    EXPECT_TRUE(key_exists(HKEY_LOCAL_MACHINE, parent + "\\" + longer));
}

// ---- the library's calling convention -------------------------------------------

// Every exit leaves the call stack as it found it: a missing leave would show
// up as an extra entry, named after its function, in the dump.
TEST_F(Registry, EveryExitLeavesTheCallStackBalanced) {
    QBUG_deinitialise();
    QBUG_set_develop_file("registry.develop.dbg");
    ASSERT_TRUE(QBUG_initialise(0, 32, 4, QBUG_FLAG_CALLSTACK, QBUG_OUT_DEVELOP_FILE));
    QBUG_enter("outer", "registry_test.cpp", 1);
    char buffer[WINUTILS_REGISTRY_TEXT_SIZE];
    uint32_t number = 1;
    std::string overlong(300, 'L');
    raw_write(HKEY_LOCAL_MACHINE, TEST_KEY, "Expand", REG_EXPAND_SZ, "x", 2);
    WINUTILS_set_registry_entry(-1, TEST_KEY, "V", "x", NULL);
    WINUTILS_set_registry_entry(2, TEST_KEY, "V", NULL, NULL);
    WINUTILS_set_registry_entry(2, TEST_KEY, "V", "x", NULL);
    WINUTILS_set_registry_entry(2, TEST_KEY, "N", NULL, &number);
    WINUTILS_get_registry_entry(9, TEST_KEY, "V", buffer);
    WINUTILS_get_registry_entry(2, sub("Missing").c_str(), "V", buffer);
    WINUTILS_get_registry_entry(2, TEST_KEY, "Missing", buffer);
    WINUTILS_get_registry_entry(2, TEST_KEY, "Expand", buffer);
    WINUTILS_get_registry_entry(2, TEST_KEY, "V", buffer);
    WINUTILS_get_registry_entry(2, TEST_KEY, "N", buffer);
    WINUTILS_clear_registry_entry(9, "Software", "TarnholmRegistryTest", "V");
    WINUTILS_clear_registry_entry(2, "Software", overlong.c_str(), NULL);
    WINUTILS_clear_registry_entry(2, "Software\\NoSuchParent", "X", NULL);
    WINUTILS_clear_registry_entry(2, "Software", "NoSuchChild", "V");
    WINUTILS_clear_registry_entry(2, "Software", "TarnholmRegistryTest", "Missing");
    WINUTILS_clear_registry_entry(2, "Software", "TarnholmRegistryTest", "V");
    WINUTILS_set_registry_entry(2, sub("Leaf").c_str(), "V", "x", NULL);
    WINUTILS_clear_registry_entry(2, TEST_KEY, "Leaf", NULL);
    WINUTILS_clear_registry_entry(2, TEST_KEY, "Leaf", NULL);
    QBUG_dump_callstack();
    QBUG_disable_callstack();
    QBUG_deinitialise();

    FILE* file = fopen("registry.develop.dbg", "r");
    ASSERT_TRUE(file != NULL);
    std::string dump;
    char line[512];
    while (fgets(line, sizeof line, file)) dump += line;
    fclose(file);
    EXPECT_NE(dump.find("Function: outer"), std::string::npos) << dump;
    EXPECT_EQ(dump.find("WINUTILS"), std::string::npos) << dump;
    EXPECT_EQ(dump.find("winutils"), std::string::npos) << dump;
}

}  // namespace
