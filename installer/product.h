// The product's names: its registry keys and values, its window, mutex and
// files. The installer, the test kit and the tools take them from here.
#ifndef PRODUCT_H
#define PRODUCT_H

// The game's name: string 46 of the string table, the Start-menu folder and
// its links.
#define PRODUCT_NAME "Tarnholm Vesk"

// HKEY_LOCAL_MACHINE: the product key and the uninstall entry, each also as
// the parent and subkey pair by which the remove flow deletes it.
#define PRODUCT_KEY_PARENT       "software\\brisvane studios"
#define PRODUCT_KEY_SUBKEY       "tarnholm 2"
#define PRODUCT_KEY              PRODUCT_KEY_PARENT "\\" PRODUCT_KEY_SUBKEY
#define PRODUCT_UNINSTALL_PARENT "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"
#define PRODUCT_UNINSTALL_SUBKEY "{3C9A51E2-5B7D-4F08-9E61-2D4B7A0C8F35}"
#define PRODUCT_UNINSTALL_KEY    PRODUCT_UNINSTALL_PARENT "\\" PRODUCT_UNINSTALL_SUBKEY

// Values: under the product key, and the uninstall entry's command.
#define PRODUCT_INSTALL_DIR      "InstallDir"
#define PRODUCT_INSTALL_SOURCE   "InstallSource"
#define PRODUCT_UNINSTALL_STRING "UninstallString"

#define PRODUCT_WINDOW_TITLE "Tarnholm Install Patch v1.1"
#define PRODUCT_MUTEX        "Tarnholm Patch"

// The uninstaller copy, filled with the Windows directory and the product
// name, and the game's links: "<Programs>\<name>\<link>" and, for the game,
// also "<Desktop>\<link>".
#define PRODUCT_UNINSTALLER_FORMAT "%s\\%s remove.exe"
#define PRODUCT_GAME_PROGRAM       "Tarn II.exe"
#define PRODUCT_GAME_LINK          PRODUCT_NAME ".lnk"
#define PRODUCT_UNINSTALL_TITLE    "Uninstall " PRODUCT_NAME
#define PRODUCT_UNINSTALL_LINK     PRODUCT_UNINSTALL_TITLE ".lnk"

#endif
