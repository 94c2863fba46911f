// The test machine and the test kit's tree deletion: tests must not reach
// the host beyond the machine, nor a drive or a folder directly on one.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "footprint.h"
#include "support.h"

// The machine is the one named: on "machine" the 32-bit programs run under
// WOW64 with their own Program Files; "machine32" is a 32-bit Windows.
TEST(TestMachine, IsTheMachineItIsNamed) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    const char* name = getenv("MACHINE_NAME");
    ASSERT_TRUE(name != NULL);
    const bool machine32 = std::string(name) == "machine32";
    EXPECT_EQ(wow64 == FALSE, machine32) << name;
    EXPECT_EQ(FOOTPRINT_folder(CSIDL_PROGRAM_FILES),
              machine32 ? "C:\\Program Files" : "C:\\Program Files (x86)");
}

TEST(TestMachine, CdDrivesAndNoHostRoot) {
    EXPECT_EQ(GetDriveTypeA("D:\\"), (UINT)DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("E:\\"), (UINT)DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("Z:\\"), (UINT)DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeA("Y:\\"), (UINT)DRIVE_FIXED);  // the build directory
    // Wine makes a missing Desktop or Documents folder a link into the host's
    // home, where the tests would write.
    for (int csidl : {CSIDL_DESKTOPDIRECTORY, CSIDL_PERSONAL, CSIDL_PROFILE})
        EXPECT_EQ(GetFileAttributesA(FOOTPRINT_folder(csidl).c_str()),
                  (DWORD)FILE_ATTRIBUTE_DIRECTORY)
            << csidl;
}

// A link in the tree goes as a link: what lies behind it stays. Roots and
// the folders directly on them are refused in any spelling (none of these
// exist, so a faulty guard shows without harm).
TEST(TestMachine, TreeDeletionKeepsWhatLiesBehindALinkAndRefusesRoots) {
    ASSERT_TRUE(write_file("C:\\tarn_links\\behind\\keep.txt", "keep"));
    ASSERT_TRUE(make_directories("C:\\tarn_links\\tree"));
    ASSERT_TRUE(FOOTPRINT_make_link("C:\\tarn_links\\behind", "C:\\tarn_links\\tree\\link"));
    EXPECT_EQ(GetFileAttributesA("C:\\tarn_links\\tree\\link"),
              (DWORD)(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(read_file("C:\\tarn_links\\tree\\link\\keep.txt"), "keep");
    EXPECT_TRUE(delete_tree("C:\\tarn_links\\tree"));
    EXPECT_FALSE(exists("C:\\tarn_links\\tree"));
    EXPECT_EQ(read_file("C:\\tarn_links\\behind\\keep.txt"), "keep");
    EXPECT_TRUE(delete_tree("C:\\tarn_links\\behind"));
    RemoveDirectoryA("C:\\tarn_links");
    for (const char* path :
         {"X:\\", "X:\\none", "X:\\none\\", "X:\\none\\.", "X:\\none\\a\\..", ""})
        EXPECT_FALSE(FOOTPRINT_delete_tree(path)) << path;
}
