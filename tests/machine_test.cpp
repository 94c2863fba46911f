// The test machine itself: tests must not reach the host beyond it.
#include <gtest/gtest.h>
#include <windows.h>

TEST(TestMachine, CdDrivesAndNoHostRoot) {
    EXPECT_EQ(GetDriveTypeA("D:\\"), (UINT)DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("E:\\"), (UINT)DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("Z:\\"), (UINT)DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeA("Y:\\"), (UINT)DRIVE_FIXED);  // the build directory
}
