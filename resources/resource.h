// Resource IDs of the installer: the panel dialog and its controls, the art,
// the icon and the string table. Shared by installer.rc and the C++ code.
#ifndef RESOURCE_H
#define RESOURCE_H

// The panel: a modeless dialog, the installer's only window.
#define IDD_PANEL 1102

// Its controls. All buttons are owner-drawn; the three labels are buttons too.
#define IDC_PLAY           1000  // Play
#define IDC_DIRECTX        1001  // Install Direct X
#define IDC_INSTALL_REMOVE 1002  // Install or Remove, by screen
#define IDC_EXIT           1003  // Exit Setup
#define IDC_README         1004  // Read Help file
#define IDC_PROGRESS       1005  // progress bar
#define IDC_PATH_PROMPT    1009  // label: path prompt
#define IDC_WORKING_TEXT   1010  // label: working text
#define IDC_INSTALL_DIR    1011  // edit: the install directory
#define IDC_STATUS         1012  // label: status line
#define IDC_OK             1     // Ok on the path screen (IDOK)
#define IDC_CANCEL         1014  // Cancel on the path screen

// Art. The skin holds three 12 x 12 frames stacked: normal, focused, pressed.
#define IDB_BACKGROUND  3000  // 285 x 349, 8 bits per pixel
#define IDB_BUTTON_SKIN 156   // 12 x 36, 8 bits per pixel
#define IDI_APP         1104

// String table.
#define IDS_PLAY                1   // "Play Tarnholm"
#define IDS_INSTALL             2   // "Install Tarnholm"
#define IDS_REMOVE              3   // "Remove Tarnholm"
#define IDS_READ_HELP           4   // "Read Help file"
#define IDS_EXIT_SETUP          5   // "Exit Setup"
#define IDS_INSTALL_DIRECTX     10  // "Install Direct X"
#define IDS_INSTALLING          11  // "Installing, please wait..."
#define IDS_REMOVING            12  // "Removing, please wait ..."
#define IDS_TYPE_INSTALL_DIR    14  // "Please type in your Install Directory"
#define IDS_QUESTION            20  // "Question!"
#define IDS_DIRECTORY_NAME      22  // "Tarnholm" (suggested directory name)
#define IDS_WARNING             25  // "Warning!"
#define IDS_ERROR               26  // "Error!"
#define IDS_NOT_VALID_DIRECTORY 27  // "Sorry this is not a Valid directory, ..."
#define IDS_ERROR_OPENING_KEY   28  // "Error opening key, please try again."
#define IDS_ERROR_OPENING_FILE  29  // "Error opening file :"
#define IDS_LINK_FAILED         30  // "Failed to create file Link."
#define IDS_WEBPAGE_LINK_FAILED 31  // "Failed to create Webpage link."
#define IDS_INFORMATION         32  // "Information"
#define IDS_UNABLE_TO_WRITE     35  // "Unable to write to file:"
#define IDS_DELETE_DIRECTORY    36  // "Do you want to delete this dir"
#define IDS_UNINSTALL_COMPLETE  38  // "Uninstall complete"
#define IDS_ARE_YOU_SURE        39  // "Are you sure?"
#define IDS_PRODUCT_NAME        46  // "Tarnholm Vesk"

#endif
