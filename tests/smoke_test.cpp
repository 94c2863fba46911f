#include <gtest/gtest.h>
#include <windows.h>

TEST(Machine, CdDrivesAndNoHostRoot) {
    EXPECT_EQ(GetDriveTypeA("D:\\"), (UINT)DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("E:\\"), (UINT)DRIVE_CDROM);
    EXPECT_EQ(GetDriveTypeA("Z:\\"), (UINT)DRIVE_NO_ROOT_DIR);
}
