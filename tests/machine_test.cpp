// The test machine itself: tests must not reach the host beyond it.
#include <gtest/gtest.h>
#include <windows.h>

#include "footprint.h"

TEST(TestMachine, CdDrivesAndNoHostRoot) {
    EXPECT_EQ(GetDriveTypeA("D:\\"), (UINT)DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("E:\\"), (UINT)DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("Z:\\"), (UINT)DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeA("Y:\\"), (UINT)DRIVE_FIXED);  // the build directory
}

// The test kit's tree deletion removes a link as a link: what lies behind it
// stays, so a sentinel behind a link in a test survives the clean-up.
TEST(TestMachine, TreeDeletionKeepsWhatLiesBehindALink) {
    ASSERT_TRUE(FOOTPRINT_make_directories("C:\\tarn_links\\behind"));
    ASSERT_TRUE(FOOTPRINT_make_directories("C:\\tarn_links\\tree"));
    ASSERT_TRUE(FOOTPRINT_write_file("C:\\tarn_links\\behind\\keep.txt", "keep"));
    ASSERT_TRUE(FOOTPRINT_make_link("C:\\tarn_links\\behind", "C:\\tarn_links\\tree\\link"));
    EXPECT_EQ(GetFileAttributesA("C:\\tarn_links\\tree\\link"),
              (DWORD)(FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(FOOTPRINT_file_exists("C:\\tarn_links\\tree\\link\\keep.txt"));
    EXPECT_TRUE(FOOTPRINT_delete_tree("C:\\tarn_links\\tree"));
    EXPECT_FALSE(FOOTPRINT_file_exists("C:\\tarn_links\\tree"));
    EXPECT_TRUE(FOOTPRINT_file_exists("C:\\tarn_links\\behind\\keep.txt"));
    EXPECT_TRUE(FOOTPRINT_delete_tree("C:\\tarn_links\\behind"));
    RemoveDirectoryA("C:\\tarn_links");
}
