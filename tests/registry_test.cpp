// Registry helpers against the test machine's registry. The test program is
// 32-bit like the installer and sees the same view of HKLM\Software. Only
// keys below KEY are used. Every library call of a case must leave the call
// stack as it found it.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlwapi.h>
#include <string.h>
#include <string>

#include "WINUTILS.h"
#include "support.h"

using namespace std::string_literals;

const std::string KEY = "Software\\TarnholmRegistryTest";

// The base of the test's keys below each root.
static std::string base(HKEY root) {
    if (root == HKEY_CLASSES_ROOT) return "TarnholmRegistryTest";
    return root == HKEY_USERS ? ".DEFAULT\\" + KEY : KEY;
}

// Every key ("name\|") and value ("name=<type>:<bytes>|") below path.
static std::string snapshot(HKEY root, const std::string& path, const std::string& prefix = "") {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key)) return "";
    std::string text;
    char name[256], bytes[600];
    DWORD type, size, data;
    for (DWORD i = 0; size = sizeof name, data = sizeof bytes,
               !RegEnumValueA(key, i, name, &size, 0, &type, (BYTE*)bytes, &data);
         i++)
        text += prefix + name + "=" + std::to_string(type) + ":" + std::string(bytes, data) + "|";
    for (DWORD i = 0; !RegEnumKeyA(key, i, name, sizeof name); i++)
        text += prefix + name + "\\|" + snapshot(root, path + "\\" + name, prefix + name + "\\");
    RegCloseKey(key);
    return text;
}

static void put(const std::string& path, const char* name, DWORD type, const std::string& bytes) {
    ASSERT_FALSE(
        SHSetValueA(HKEY_LOCAL_MACHINE, path.c_str(), name, type, &bytes[0], bytes.size()));
}

struct Registry : ::testing::Test {
    void SetUp() override {
        for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS,
                          HKEY_CURRENT_CONFIG})
            SHDeleteKeyA(root, base(root).c_str());
        callstack_begin("registry.develop.dbg", 0);
    }
    void TearDown() override { EXPECT_EQ(callstack_end(), ""); }
    char buffer[WINUTILS_REGISTRY_TEXT_SIZE + 64];
};

// Each value (a row without text: the number) is written three levels below
// the base, where no key exists, read back raw and through the helper, then
// cleared. Text rows pass a number too, which the text wins over.
TEST_F(Registry, ValuesRoundTripThroughEveryRoot) {
    // clang-format off
    const struct { int selector; HKEY root; const char *name, *text; uint32_t number; } rows[] = {
        {2, HKEY_LOCAL_MACHINE, "InstallDir", "D:\\T", 7}, {2, HKEY_LOCAL_MACHINE, NULL, "dflt", 7},
        {2, HKEY_LOCAL_MACHINE, "N", NULL, 300}, {2, HKEY_LOCAL_MACHINE, "N", NULL, 0xFFFFFFFF},
        {2, HKEY_LOCAL_MACHINE, "Empty", "", 7},  // Wine's reads add a lost terminator, not to ""
        {0, HKEY_CLASSES_ROOT, "Root", "root 0", 0}, {1, HKEY_CURRENT_USER, "Root", "root 1", 0},
        {3, HKEY_USERS, "Root", "root 3", 0},        {4, HKEY_CURRENT_CONFIG, "Root", "root 4", 0},
    };
    // clang-format on
    for (auto& row : rows) {
        const std::string parent = base(row.root) + "\\One\\Two", path = parent + "\\Three";
        std::string text = row.text ? row.text : std::to_string((int32_t)row.number);
        std::string value =
            std::string(row.name ? row.name : "") + "=" +
            (row.text ? "1:" + text + '\0' : "4:" + std::string((char*)&row.number, 4)) + "|";
        SCOPED_TRACE(value);
        ASSERT_TRUE(WINUTILS_set_registry_entry(row.selector, path.c_str(), row.name, row.text,
                                                &row.number));
        EXPECT_EQ(snapshot(row.root, path), value);
        EXPECT_TRUE(WINUTILS_get_registry_entry(row.selector, path.c_str(), row.name, buffer));
        EXPECT_EQ(buffer, text);
        EXPECT_TRUE(WINUTILS_clear_registry_entry(row.selector, parent.c_str(), "Three", row.name));
        EXPECT_EQ(snapshot(row.root, path), "");
    }
}

// A read gives the whole text, terminated inside the caller's 512 bytes, or
// false and an empty buffer: never a cut text, never another type as text,
// nothing for a missing value (REG_NONE row) or a bad selector.
TEST_F(Registry, ReadsWholeTextsOrNothing) {
    // clang-format off
    const struct { int32_t selector; DWORD type; std::string bytes; bool read; } rows[] = {
        {2, REG_SZ, "abc", true},                  {2, REG_SZ, "", true},
        {2, REG_SZ, std::string(511, 'a'), true},  {2, REG_SZ, std::string(511, 'a') + '\0', true},
        {2, REG_SZ, std::string(512, 'a'), false}, {2, REG_SZ, std::string(512, 'a') + '\0', false},
        {2, REG_SZ, std::string(4000, 'a'), false},
        {2, REG_EXPAND_SZ, "%SystemRoot%\0"s, false}, {2, REG_BINARY, "\1\2\3\4"s, false},
        {2, REG_DWORD, "\5\0"s, false},  // short
        {2, REG_NONE, "", false},  {-1, REG_SZ, "abc", false},  {6, REG_SZ, "abc", false},
    };
    // clang-format on
    for (auto& row : rows) {
        SCOPED_TRACE(testing::Message()
                     << row.selector << "," << row.type << "," << row.bytes.size());
        SHDeleteKeyA(HKEY_LOCAL_MACHINE, KEY.c_str());
        put(KEY, row.type == REG_NONE ? "Other" : "V", row.type, row.bytes);
        memset(buffer, 'G', sizeof buffer);
        EXPECT_EQ(WINUTILS_get_registry_entry(row.selector, KEY.c_str(), "V", buffer), row.read);
        EXPECT_EQ(std::string(buffer + WINUTILS_REGISTRY_TEXT_SIZE, 64), std::string(64, 'G'));
        ASSERT_TRUE(memchr(buffer, '\0', WINUTILS_REGISTRY_TEXT_SIZE) != NULL);
        EXPECT_EQ(std::string(buffer), row.read ? row.bytes.c_str() : "");
    }
    // Windows, unlike Wine, may hand back a text without its terminator: the
    // terminating step alone, up to the buffer's end.
    for (uint32_t size : {511u, 512u, 513u}) {
        memset(buffer, 'a', sizeof buffer);
        EXPECT_EQ(winutils_terminate_registry_text(buffer, size), size < 512) << size;
        EXPECT_EQ(std::string(buffer, sizeof buffer).find('\0'),
                  size < 512 ? size : std::string::npos);
    }
}

// Refused calls change nothing ("Entry" has a subkey). The overlong subkey,
// joined, is one character too long: cut, it would name the key beside it.
TEST_F(Registry, ClearsOnlyWhatItNamesAndRefusesTheRest) {
    const std::string entry = KEY + "\\Entry", child = entry + "\\Child";
    const std::string parent = KEY + "\\" + std::string(200, 'P');
    const std::string fits(WINUTILS_REGISTRY_PATH_SIZE - 2 - parent.size(), 'V'),
        overlong = fits + "X";
    for (const std::string& path : {entry, child, parent + "\\" + fits, parent + "\\" + overlong})
        put(path, "One", REG_BINARY, "1"), put(path, "Two", REG_BINARY, "2");
    const std::string before = snapshot(HKEY_LOCAL_MACHINE, KEY);
    uint32_t one = 1;
    EXPECT_FALSE(WINUTILS_set_registry_entry(-1, (KEY + "\\New").c_str(), "V", "x", &one));
    EXPECT_FALSE(WINUTILS_set_registry_entry(6, (KEY + "\\New").c_str(), "V", NULL, &one));
    EXPECT_FALSE(WINUTILS_set_registry_entry(2, (KEY + "\\New").c_str(), "V", NULL, NULL));
    // clang-format off
    const struct { int32_t selector; std::string key; const char *subkey, *value; } refused[] = {
        {-1, KEY, "Entry", "One"},   {6, entry, "Child", NULL},        {2, KEY, "Entry", "Missing"},
        {2, KEY, "Missing", "One"},  {2, KEY + "\\No", "Entry", NULL}, {2, KEY, "Entry", NULL},
        {2, child, "", NULL},        {2, child, "", "One"},
        {2, parent, overlong.c_str(), NULL},  {2, parent, overlong.c_str(), "One"},
    };
    // clang-format on
    for (auto& row : refused) {
        SCOPED_TRACE(row.key + " " + row.subkey + " " + (row.value ? row.value : "(key)"));
        EXPECT_FALSE(
            WINUTILS_clear_registry_entry(row.selector, row.key.c_str(), row.subkey, row.value));
        EXPECT_EQ(snapshot(HKEY_LOCAL_MACHINE, KEY), before);
        EXPECT_EQ(snapshot(HKEY_CURRENT_USER, KEY), "");
    }
    EXPECT_TRUE(WINUTILS_clear_registry_entry(2, entry.c_str(), "Child", "One"));
    EXPECT_EQ(snapshot(HKEY_LOCAL_MACHINE, entry), "One=3:1|Two=3:2|Child\\|Child\\Two=3:2|");
    EXPECT_TRUE(WINUTILS_clear_registry_entry(2, entry.c_str(), "Child", NULL));
    EXPECT_TRUE(WINUTILS_clear_registry_entry(2, parent.c_str(), fits.c_str(), NULL));
    EXPECT_EQ(snapshot(HKEY_LOCAL_MACHINE, entry), "One=3:1|Two=3:2|");
    EXPECT_EQ(snapshot(HKEY_LOCAL_MACHINE, parent),
              overlong + "\\|" + overlong + "\\One=3:1|" + overlong + "\\Two=3:2|");
}
