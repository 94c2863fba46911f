// The start-up helpers in-process: the existing-installation search, text
// lookup, and update_status with the real panel.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include <string>

#include "installer.h"
#include "panel.h"
#include "startup.h"
#include "footprint.h"
#include "resource.h"

namespace {

const char* const kProgramFiles = "C:\\Search\\Program Files";
const char* const kRegistered = "C:\\Search\\Games\\Tarn";

void make_installation(const std::string& directory, bool complete) {
    ASSERT_TRUE(FOOTPRINT_make_directories(directory.c_str()));
    for (const char* name : {"Tarn II.exe", "tnh2main.exe", "mss32.dll"}) {
        if (!complete && strcmp(name, "tnh2main.exe") == 0) continue;
        ASSERT_TRUE(FOOTPRINT_write_file((directory + "\\" + name).c_str(), "x"));
    }
}

class Search : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(FOOTPRINT_reset());
        ASSERT_TRUE(FOOTPRINT_delete_tree(kProgramFiles));
        ASSERT_TRUE(FOOTPRINT_delete_tree("C:\\Search\\Games"));
        memset(&installer_state, 0, sizeof installer_state);
        strcpy(installer_state.program_files_folder, kProgramFiles);
    }
    void TearDown() override {
        FOOTPRINT_reset();
        FOOTPRINT_delete_tree(kProgramFiles);
        FOOTPRINT_delete_tree("C:\\Search\\Games");
        RemoveDirectoryA("C:\\Search");
    }
};

TEST_F(Search, FirstCompleteCandidateWinsAndTheSetupDirectoryIsTheFallback) {
    const std::string setup_default = std::string(kProgramFiles) + "\\VKQ\\Tarnholm Vesk";
    const std::string overlong = "C:\\" + std::string(502, 'd');  // no room for "\Tarn II.exe"
    struct {
        const char* name;
        const char* value;  // NULL: no "InstallDir"
        bool registered_complete;
        bool setup_complete;
        std::string expected;
    } cases[] = {
        {"registered, trailing backslash", "C:\\Search\\Games\\Tarn\\", true, true, kRegistered},
        {"registered without backslash", kRegistered, true, false, kRegistered},
        {"registered incomplete, setup complete", kRegistered, false, true, setup_default},
        {"nothing complete", kRegistered, false, false, setup_default},
        {"no value", NULL, true, false, setup_default},
        {"value too long to probe", overlong.c_str(), true, false, setup_default},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        make_installation(kRegistered, c.registered_complete);
        make_installation(setup_default, c.setup_complete);
        if (c.value != NULL) {
            ASSERT_TRUE(FOOTPRINT_set_value(PRODUCT_KEY, "InstallDir", c.value));
        }
        find_existing_installation();
        EXPECT_EQ(std::string(installer_state.install_dir), c.expected);
    }
}

TEST(Text, LoadTextIsBoundedAndReportsMissingIds) {
    memset(&installer_state, 0, sizeof installer_state);
    char buffer[8];
    memset(buffer, '#', sizeof buffer);
    EXPECT_TRUE(load_text(IDS_PRODUCT_NAME, buffer, 5));
    EXPECT_STREQ(buffer, "Tarn");
    EXPECT_EQ(buffer[5], '#');
    EXPECT_FALSE(load_text(IDS_PRODUCT_NAME, buffer, 0));
    EXPECT_FALSE(load_text(7, buffer, sizeof buffer));  // not in the table
    installer_state.language_offset = IDS_PRODUCT_NAME - IDS_PLAY;
    EXPECT_TRUE(load_text(IDS_PLAY, buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "Tarnhol");
}

class Status : public ::testing::Test {
protected:
    void SetUp() override {
        memset(&installer_state, 0, sizeof installer_state);
        InitCommonControls();
        installer_state.instance = GetModuleHandleA(NULL);
        load_skin_bitmaps();
        installer_state.main_dialog = CreateDialogParamA(
            installer_state.instance, MAKEINTRESOURCEA(IDD_PANEL), NULL, panel_procedure, 0);
        ASSERT_NE(installer_state.main_dialog, (HWND)NULL);
    }
    void TearDown() override { DestroyWindow(installer_state.main_dialog); }
};

TEST_F(Status, StepMovesTheBarByTheDefaultStepOfTen) {
    HWND bar = GetDlgItem(installer_state.main_dialog, IDC_PROGRESS);
    SendMessageA(bar, PBM_SETRANGE32, 0, 50);
    SendMessageA(bar, PBM_SETPOS, 0, 0);
    update_status(NULL);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 10);  // one fifth of 0..50
    update_status(NULL);
    EXPECT_EQ(SendMessageA(bar, PBM_GETPOS, 0, 0), 20);
}

TEST_F(Status, TextGoesToTheStatusLineAndAQuitMessageIsSwallowed) {
    PostQuitMessage(0);
    update_status("Copying data");
    char text[64] = "";
    GetDlgItemTextA(installer_state.main_dialog, IDC_STATUS, text, sizeof text);
    EXPECT_STREQ(text, "Copying data");
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "the quit message reached the caller's loop";
}

}  // namespace
