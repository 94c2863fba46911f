// Shared fixture of the installer's end-to-end tests: a clean machine before
// every case, the installer started as a user or the uninstall entry would
// start it, and nothing left running afterwards.
#ifndef SUPPORT_E2E_H
#define SUPPORT_E2E_H

#include <gtest/gtest.h>
#include <windows.h>
#include <string>

#include "driver.h"
#include "footprint.h"
#include "resource.h"

class InstallerCase : public ::testing::Test {
protected:
    DRIVER_PROCESS installer = {};
    DRIVER_PROCESS other = {};  // a second copy, when a case starts one
    HWND panel = NULL;

    // Installers that an aborted run left behind would hold the mutex.
    static void kill_leftovers() {
        DRIVER_kill_program("tarnholm_patch.exe");
        DRIVER_kill_program("Tarnholm Vesk remove.exe");
        DRIVER_kill_program("notepad.exe");
    }

    void SetUp() override {
        kill_leftovers();
        ASSERT_TRUE(FOOTPRINT_reset()) << "the previous case left traces that cannot be removed";
    }

    void TearDown() override {
        DRIVER_stop(&installer);
        DRIVER_stop(&other);
        kill_leftovers();
    }

    // Starts the installer from directory (the patch folder by default) and
    // waits for its panel.
    void start(const char* arguments = NULL, const char* directory = DRIVER_PATCH_FOLDER) {
        ASSERT_TRUE(DRIVER_start(DRIVER_INSTALLER, arguments, directory, &installer));
        panel = DRIVER_wait_window(installer.information.dwProcessId, PRODUCT_WINDOW_TITLE,
                                   DRIVER_TIMEOUT_MS);
        ASSERT_NE(panel, (HWND)NULL) << "no panel";
    }

    // Waits until control id shows text: a screen has been set up.
    void wait_for_text(int id, const char* text) {
        char current[512] = "";
        for (int tries = 0; tries < 200; tries++) {
            DRIVER_control_text(panel, id, current, sizeof current);
            if (strcmp(current, text) == 0) return;
            Sleep(50);
        }
        FAIL() << "control " << id << " shows \"" << current << "\", not \"" << text << "\"";
    }

    std::string text_of(int id) {
        char text[1024] = "";
        DRIVER_control_text(panel, id, text, sizeof text);
        return text;
    }

    // Waits for a message box of the installer and returns its text and
    // caption.
    HWND message_box(std::string* text, std::string* caption) {
        HWND box = DRIVER_wait_message_box(installer.information.dwProcessId, DRIVER_TIMEOUT_MS);
        if (box == NULL) return NULL;
        char buffer[1024] = "";
        DRIVER_message_box_text(box, buffer, sizeof buffer);
        *text = buffer;
        DRIVER_window_title(box, buffer, sizeof buffer);
        *caption = buffer;
        return box;
    }

    // Waits for the installer to end and returns its status (or -1).
    long exit_status(uint32_t timeout_ms = DRIVER_TIMEOUT_MS) {
        uint32_t code = 0;
        if (!DRIVER_wait_exit(&installer, timeout_ms, &code)) return -1;
        return (long)code;
    }
};

#endif
