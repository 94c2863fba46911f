// WINUTILS: registry access by root selector, shell links, dialogs and the
// message pump.
#include "WINUTILS.h"
#include "qbug.h"

#include <windows.h>
#include <commdlg.h>
#include <objidl.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// ---- Registry helpers ------------------------------------------------------

// The root keys by selector. HKEY_PERFORMANCE_DATA has no selector.
static const HKEY winutils_root_keys[] = {
    HKEY_CLASSES_ROOT, HKEY_CURRENT_USER,   HKEY_LOCAL_MACHINE,
    HKEY_USERS,        HKEY_CURRENT_CONFIG, HKEY_DYN_DATA,
};
#define WINUTILS_ROOT_COUNT ((int32_t)(sizeof winutils_root_keys / sizeof winutils_root_keys[0]))

// The root key of a selector, or NULL outside the table.
static HKEY winutils_root_key(int32_t root) {
    QBUG_ENTER("winutils_root_key");
    HKEY key = (root >= 0 && root < WINUTILS_ROOT_COUNT) ? winutils_root_keys[root] : NULL;
    QBUG_LEAVE("winutils_root_key");
    return key;
}

// A stored string need not carry its terminator, and RegQueryValueExA does
// not promise to add one: terminate it inside the buffer, or refuse a string
// that fills the whole buffer without one.
bool winutils_terminate_registry_text(char* buffer, uint32_t size) {
    QBUG_ENTER("winutils_terminate_registry_text");
    bool terminated = true;
    if (size > WINUTILS_REGISTRY_TEXT_SIZE) {
        terminated = false;
    } else if (size == 0 || buffer[size - 1] != '\0') {
        if (size < WINUTILS_REGISTRY_TEXT_SIZE) {
            buffer[size] = '\0';
        } else {
            terminated = false;
        }
    }
    QBUG_LEAVE("winutils_terminate_registry_text");
    return terminated;
}

// Writes text (a REG_SZ, terminator counted) or else *number (a REG_DWORD)
// into the open key and flushes it. True when both succeeded.
static bool winutils_write_value(HKEY opened, const char* value_name, const char* text,
                                 const uint32_t* number) {
    QBUG_ENTER("winutils_write_value");
    LONG written = ERROR_INVALID_DATA;
    if (text != NULL) {
        // The terminator is counted: a REG_SZ stored without it reaches other
        // readers of the value as an unterminated string.
        size_t length = strlen(text);
        if (length < 0x7FFFFFFFu)
            written =
                RegSetValueExA(opened, value_name, 0, REG_SZ, (const BYTE*)text, (DWORD)length + 1);
    } else {
        DWORD value = *number;
        written =
            RegSetValueExA(opened, value_name, 0, REG_DWORD, (const BYTE*)&value, sizeof value);
    }
    bool stored = written == ERROR_SUCCESS && RegFlushKey(opened) == ERROR_SUCCESS;
    QBUG_LEAVE("winutils_write_value");
    return stored;
}

bool WINUTILS_set_registry_entry(int32_t root, const char* key, const char* value_name,
                                 const char* text, const uint32_t* number) {
    QBUG_ENTER("WINUTILS_set_registry_entry");
    HKEY root_key = winutils_root_key(root);
    HKEY opened = NULL;
    bool stored = false;
    if (root_key != NULL && key != NULL && (text != NULL || number != NULL) &&
        RegCreateKeyA(root_key, key, &opened) == ERROR_SUCCESS && opened != NULL) {
        stored = winutils_write_value(opened, value_name, text, number);
        RegCloseKey(opened);
    }
    QBUG_LEAVE("WINUTILS_set_registry_entry");
    return stored;
}

bool WINUTILS_clear_registry_entry(int32_t root, const char* key, const char* subkey,
                                   const char* value_name) {
    QBUG_ENTER("WINUTILS_clear_registry_entry");
    HKEY root_key = winutils_root_key(root);
    char joined[WINUTILS_REGISTRY_PATH_SIZE];
    // An empty subkey would join to "key\", which names the parent itself,
    // and a cut path would name another key: both are refused before
    // anything is opened.
    int length = -1;
    if (root_key != NULL && key != NULL && subkey != NULL && subkey[0] != '\0')
        length = snprintf(joined, sizeof joined, "%s\\%s", key, subkey);
    HKEY opened = NULL;
    bool cleared = false;
    if (length >= 0 && length < (int)sizeof joined) {
        if (value_name == NULL) {
            // The whole entry: the parent must exist; the key is deleted
            // relative to the root. Only a key without subkeys can go.
            if (RegOpenKeyExA(root_key, key, 0, KEY_ALL_ACCESS, &opened) == ERROR_SUCCESS) {
                cleared = RegDeleteKeyA(root_key, joined) == ERROR_SUCCESS;
                RegCloseKey(opened);
            }
        } else if (RegOpenKeyExA(root_key, joined, 0, KEY_ALL_ACCESS, &opened) == ERROR_SUCCESS) {
            cleared = RegDeleteValueA(opened, value_name) == ERROR_SUCCESS &&
                      RegFlushKey(opened) == ERROR_SUCCESS;
            RegCloseKey(opened);
        }
    }
    QBUG_LEAVE("WINUTILS_clear_registry_entry");
    return cleared;
}

// Reads one value of the open key into buffer (WINUTILS_REGISTRY_TEXT_SIZE
// bytes) as text: a REG_SZ as stored, a REG_DWORD as signed decimal text.
// False for other types, a missing value or a string that does not fit.
static bool winutils_read_text(HKEY opened, const char* value_name, char* buffer) {
    QBUG_ENTER("winutils_read_text");
    DWORD type = REG_NONE;
    DWORD size = WINUTILS_REGISTRY_TEXT_SIZE;
    LONG read = RegQueryValueExA(opened, value_name, NULL, &type, (BYTE*)buffer, &size);
    bool valid = false;
    if (read == ERROR_SUCCESS && size <= WINUTILS_REGISTRY_TEXT_SIZE) {
        if (type == REG_DWORD && size == sizeof(DWORD)) {
            int32_t number;
            memcpy(&number, buffer, sizeof number);
            snprintf(buffer, WINUTILS_REGISTRY_TEXT_SIZE, "%d", (int)number);
            valid = true;
        } else if (type == REG_SZ) {
            valid = winutils_terminate_registry_text(buffer, size);
        }
    }
    QBUG_LEAVE("winutils_read_text");
    return valid;
}

bool WINUTILS_get_registry_entry(int32_t root, const char* key, const char* value_name,
                                 char* buffer) {
    QBUG_ENTER("WINUTILS_get_registry_entry");
    HKEY root_key = winutils_root_key(root);
    HKEY opened = NULL;
    bool valid = false;
    if (buffer != NULL) buffer[0] = '\0';
    if (buffer != NULL && root_key != NULL && key != NULL &&
        RegOpenKeyA(root_key, key, &opened) == ERROR_SUCCESS && opened != NULL) {
        valid =
            winutils_read_text(opened, value_name, buffer) && RegFlushKey(opened) == ERROR_SUCCESS;
        if (!valid) buffer[0] = '\0';
        RegCloseKey(opened);
    }
    QBUG_LEAVE("WINUTILS_get_registry_entry");
    return valid;
}

// ---- Shell links and Start-menu folders -----------------------------------

#define WINUTILS_LINK_PATH_SIZE 260  // wide characters, terminator included

bool WINUTILS_create_file_link(const char* target, const char* link_file, const char* description,
                               const char* working_directory, const char* arguments) {
    QBUG_ENTER("WINUTILS_create_file_link");
    if (target == NULL || link_file == NULL) {
        QBUG_TRACE("WINUTILS_create_file_link: no target or no link file");
        QBUG_LEAVE("WINUTILS_create_file_link");
        return false;
    }
    WCHAR wide_path[WINUTILS_LINK_PATH_SIZE];
    if (MultiByteToWideChar(CP_ACP, 0, link_file, -1, wide_path, WINUTILS_LINK_PATH_SIZE) == 0) {
        QBUG_TRACE("WINUTILS_create_file_link: link path does not fit: %s", link_file);
        QBUG_LEAVE("WINUTILS_create_file_link");
        return false;
    }
    IShellLinkA* link = NULL;
    HRESULT result = CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                      (void**)&link);
    if (FAILED(result) || link == NULL) {
        QBUG_TRACE("WINUTILS_create_file_link: no shell link object (0x%08lx)",
                   (unsigned long)result);
        QBUG_LEAVE("WINUTILS_create_file_link");
        return false;
    }
    // The link's fields are taken as given; only the save tells whether a
    // link file exists afterwards.
    link->SetPath(target);
    link->SetDescription(description != NULL ? description : "");
    link->SetArguments(arguments != NULL ? arguments : "");
    link->SetWorkingDirectory(working_directory != NULL ? working_directory : "");

    bool saved = false;
    IPersistFile* file = NULL;
    result = link->QueryInterface(IID_IPersistFile, (void**)&file);
    if (SUCCEEDED(result) && file != NULL) {
        result = file->Save(wide_path, TRUE);
        saved = SUCCEEDED(result);
        file->Release();
    }
    link->Release();
    if (!saved) {
        QBUG_TRACE("WINUTILS_create_file_link: link not saved (0x%08lx): %s", (unsigned long)result,
                   link_file);
    }
    QBUG_LEAVE("WINUTILS_create_file_link");
    return saved;
}

// The registry's text and a folder name of up to MAX_PATH characters.
#define WINUTILS_FOLDER_PATH_SIZE (WINUTILS_REGISTRY_TEXT_SIZE + 1 + MAX_PATH)

bool WINUTILS_create_start_menu_folder(const char* name) {
    QBUG_ENTER("WINUTILS_create_start_menu");
    char path[WINUTILS_FOLDER_PATH_SIZE];
    if (name == NULL ||
        !WINUTILS_get_registry_entry(1, WINUTILS_SHELL_FOLDERS_KEY, "Programs", path)) {
        QBUG_TRACE("WINUTILS_create_start_menu_folder: no Programs folder");
        QBUG_LEAVE("WINUTILS_create_start_menu");
        return false;
    }
    size_t length = strlen(path);
    int added = snprintf(path + length, sizeof(path) - length, "\\%s", name);
    if (added < 0 || (size_t)added >= sizeof(path) - length) {
        QBUG_TRACE("WINUTILS_create_start_menu_folder: folder path does not fit: %s", name);
        QBUG_LEAVE("WINUTILS_create_start_menu");
        return false;
    }
    CreateDirectoryA(path, NULL);
    QBUG_LEAVE("WINUTILS_create_start_menu");
    return true;
}

// ---- Dialog utilities ------------------------------------------------------

// The text-input dialog's state: set by WINUTILS_get_text_string, read by
// its dialog procedure.
static const char* winutils_text_title;
static const char* winutils_text_prompt;
static char* winutils_text_buffer;
static int32_t winutils_text_size;
static HINSTANCE winutils_dialog_instance;

// The file dialog's record and filter: one dialog at a time.
static OPENFILENAMEA winutils_file_dialog;
static char winutils_file_filter[512];
// Intended: the dialog gets this text as its title buffer with a size of 0,
// so it never writes a title back; the text itself is never shown.
static char winutils_no_file_title[] = "hello vob";

#define WINUTILS_DIRECTORY_SIZE    MAX_PATH
#define WINUTILS_FILE_NAME_SIZE    256
#define WINUTILS_FILE_DIALOG_FLAGS (OFN_NOLONGNAMES | OFN_FILEMUSTEXIST | OFN_OVERWRITEPROMPT)

void WINUTILS_set_dialog_instance(void* instance) {
    QBUG_ENTER("WINUTILS_set_dialog_instance");
    winutils_dialog_instance = (HINSTANCE)instance;
    QBUG_LEAVE("WINUTILS_set_dialog_instance");
}

// The text-input dialog: the prompt and default answer in, the answer out
// on OK; Cancel and Close end the process, as the dialog's contract says.
static INT_PTR CALLBACK winutils_text_procedure(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    QBUG_ENTER("winutils_text_procedure");
    INT_PTR handled = FALSE;
    switch (message) {
    case WM_INITDIALOG:
        SendDlgItemMessageA(dialog, WINUTILS_TEXT_PROMPT, WM_SETTEXT, 0,
                            (LPARAM)winutils_text_prompt);
        SendDlgItemMessageA(dialog, WINUTILS_TEXT_ANSWER, WM_SETTEXT, 0,
                            (LPARAM)winutils_text_buffer);
        SetFocus(GetDlgItem(dialog, WINUTILS_TEXT_ANSWER));
        SetWindowTextA(dialog, winutils_text_title);
        handled = TRUE;
        break;
    case WM_COMMAND:
        if (LOWORD(wparam) == IDOK) {
            GetDlgItemTextA(dialog, WINUTILS_TEXT_ANSWER, winutils_text_buffer, winutils_text_size);
            EndDialog(dialog, IDOK);
            handled = TRUE;
        } else if (LOWORD(wparam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            QBUG_LEAVE("winutils_text_procedure");
            ExitProcess((UINT)-1);
        }
        break;
    case WM_CLOSE:
        PostQuitMessage(0);
        EndDialog(dialog, IDCANCEL);
        QBUG_LEAVE("winutils_text_procedure");
        ExitProcess((UINT)-1);
    default: break;
    }
    QBUG_LEAVE("winutils_text_procedure");
    return handled;
}

int32_t WINUTILS_get_text_string(const char* title, const char* prompt, char* buffer,
                                 int32_t size) {
    QBUG_ENTER("WINUTILS_get_text_string");
    QBUG_ASSERT(buffer != NULL && size > 0);
    if (buffer == NULL || size <= 0) {
        QBUG_LEAVE("WINUTILS_get_text_string");
        return 0;
    }
    winutils_text_title = title != NULL ? title : "";
    winutils_text_prompt = prompt != NULL ? prompt : "";
    winutils_text_buffer = buffer;
    winutils_text_size = size;
    HINSTANCE instance =
        winutils_dialog_instance != NULL ? winutils_dialog_instance : GetModuleHandleA(NULL);
    DialogBoxParamA(instance, MAKEINTRESOURCEA(WINUTILS_TEXT_DIALOG), GetDesktopWindow(),
                    winutils_text_procedure, 0);
    WINUTILS_process_messages();
    QBUG_LEAVE("WINUTILS_get_text_string");
    return 0;
}

bool WINUTILS_file_requestor(const char* title, char* file_name, const char* default_extension,
                             const char* filter_description, const char* filter_pattern,
                             const char* initial_directory, uint8_t mode) {
    QBUG_ENTER("WINUTILS_file_requestor");
    QBUG_ASSERT(file_name != NULL);
    char remembered[WINUTILS_DIRECTORY_SIZE];
    DWORD remembered_length = GetCurrentDirectoryA(sizeof remembered, remembered);
    bool restore = remembered_length > 0 && remembered_length < sizeof remembered;

    // The filter: one description and pattern pair, closed by a double NUL.
    int filter_length = snprintf(winutils_file_filter, sizeof winutils_file_filter, "%s%c%s%c%c%c",
                                 filter_description != NULL ? filter_description : "", 0,
                                 filter_pattern != NULL ? filter_pattern : "", 0, 0, 0);
    if (file_name == NULL || filter_length < 0 ||
        filter_length >= (int)sizeof winutils_file_filter) {
        QBUG_TRACE("File requestor refused: no buffer or a filter over %d bytes",
                   (int)sizeof winutils_file_filter);
        QBUG_LEAVE("WINUTILS_file_requestor");
        return false;
    }

    memset(&winutils_file_dialog, 0, sizeof winutils_file_dialog);
    winutils_file_dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    winutils_file_dialog.hwndOwner = GetDesktopWindow();
    winutils_file_dialog.lpstrFilter = winutils_file_filter;
    winutils_file_dialog.lpstrCustomFilter = NULL;
    winutils_file_dialog.nMaxCustFilter = 40;
    winutils_file_dialog.nFilterIndex = 0;
    winutils_file_dialog.lpstrFile = file_name;
    winutils_file_dialog.nMaxFile = WINUTILS_FILE_NAME_SIZE;
    // A file title size of 0: the dialog never writes through this pointer.
    winutils_file_dialog.lpstrFileTitle = winutils_no_file_title;
    winutils_file_dialog.nMaxFileTitle = 0;
    winutils_file_dialog.lpstrInitialDir = initial_directory;
    winutils_file_dialog.lpstrTitle = title;
    winutils_file_dialog.lpstrDefExt = default_extension;
    if (initial_directory != NULL) SetCurrentDirectoryA(initial_directory);

    bool chosen = false;
    if (!chosen && (mode & WINUTILS_REQUEST_OPEN)) {
        winutils_file_dialog.Flags = WINUTILS_FILE_DIALOG_FLAGS;
        chosen = GetOpenFileNameA(&winutils_file_dialog) == 1;
    }
    if (!chosen && (mode & WINUTILS_REQUEST_SAVE)) {
        winutils_file_dialog.Flags = WINUTILS_FILE_DIALOG_FLAGS;
        chosen = GetSaveFileNameA(&winutils_file_dialog) == 1;
    }
    if (!chosen && (mode & WINUTILS_REQUEST_SAVE_PLAIN)) {
        winutils_file_dialog.Flags = OFN_OVERWRITEPROMPT;
        chosen = GetSaveFileNameA(&winutils_file_dialog) == 1;
    }
    if (restore) SetCurrentDirectoryA(remembered);
    QBUG_LEAVE("WINUTILS_file_requestor");
    return chosen;
}

bool WINUTILS_folder_requestor(const char* title, char* path) {
    QBUG_ENTER("WINUTILS_folder_requestor");
    if (path == NULL) {
        QBUG_TRACE("Passed NULL folder path buffer");
        QBUG_LEAVE("WINUTILS_folder_requestor");
        return false;
    }
    BROWSEINFOA browse;
    memset(&browse, 0, sizeof browse);
    browse.hwndOwner = GetDesktopWindow();
    browse.pidlRoot = NULL;
    browse.pszDisplayName = path;
    browse.lpszTitle = title != NULL ? title : "Choose a folder";
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    LPITEMIDLIST item = SHBrowseForFolderA(&browse);
    if (item == NULL) {
        QBUG_LEAVE("WINUTILS_folder_requestor");
        return false;
    }
    SHGetPathFromIDListA(item, path);
    IMalloc* shell_allocator = NULL;
    if (SUCCEEDED(SHGetMalloc(&shell_allocator)) && shell_allocator != NULL) {
        shell_allocator->Free(item);
        shell_allocator->Release();
    }
    QBUG_LEAVE("WINUTILS_folder_requestor");
    return true;
}

void WINUTILS_pump_messages(MSG* message) {
    QBUG_ENTER("WINUTILS_pump_messages");
    // One look at the queue per message, which takes what it finds: when
    // nothing waits, that is one request to the window server. PM_NOYIELD:
    // an empty queue does not give the processor away, which on a busy
    // machine would cost a time slice per call of a long job.
    while (PeekMessageA(message, NULL, 0, 0, PM_REMOVE | PM_NOYIELD)) {
        // The quit message, now taken from the queue, ends the pumping.
        if (message->message == WM_QUIT) break;
        TranslateMessage(message);
        DispatchMessageA(message);
    }
    QBUG_LEAVE("WINUTILS_pump_messages");
}

void WINUTILS_process_messages(void) {
    QBUG_ENTER("WINUTILS_process_messages");
    MSG message;
    WINUTILS_pump_messages(&message);
    QBUG_LEAVE("WINUTILS_process_messages");
}

static bool winutils_is_separator(char c) {
    QBUG_ENTER("winutils_is_separator");
    bool separator = c == ' ' || c == '\t' || c == '\n' || c == '\r';
    QBUG_LEAVE("winutils_is_separator");
    return separator;
}

// Adds a word to the list, past its leading quotes and blanks; never beyond
// the counted size.
static void winutils_add_word(char** words, int32_t counted, int32_t* added, char* word) {
    QBUG_ENTER("winutils_add_word");
    while (*word == '"' || *word == ' ') word++;
    QBUG_ASSERT(*added < counted);
    if (*added < counted) words[(*added)++] = word;
    QBUG_LEAVE("winutils_add_word");
}

char** WINUTILS_parse_command_line(char* text, int32_t* count) {
    QBUG_ENTER("WINUTILS_parse_command_line");
    if (text == NULL || count == NULL) {
        QBUG_LEAVE("WINUTILS_parse_command_line");
        return NULL;
    }
    // Count: a word begins at the first character of each run of
    // non-separators; separators inside quotes do not count.
    int32_t counted = 0;
    bool in_quotes = false;
    bool in_word = false;
    for (const char* p = text; *p != '\0'; p++) {
        if (*p == '"') in_quotes = !in_quotes;
        if (!in_quotes && winutils_is_separator(*p)) {
            in_word = false;
        } else if (!in_word) {
            in_word = true;
            counted++;
        }
    }
    if (counted == 0) {
        QBUG_LEAVE("WINUTILS_parse_command_line");
        return NULL;
    }
    char** words = (char**)malloc((size_t)counted * sizeof(char*));
    if (words == NULL) {
        QBUG_TRACE("No memory for %d command-line words", (int)counted);
        QBUG_LEAVE("WINUTILS_parse_command_line");
        return NULL;
    }
    // Split with the same rules, so that exactly the counted words are found.
    // The quote that closes a quoted part becomes a terminator.
    int32_t added = 0;
    char* word = NULL;
    in_quotes = false;
    for (char* p = text; *p != '\0'; p++) {
        char c = *p;
        if (c == '"') {
            if (in_quotes) *p = '\0';
            in_quotes = !in_quotes;
            if (word == NULL) word = p;
        } else if (!in_quotes && winutils_is_separator(c)) {
            *p = '\0';
            if (word != NULL) winutils_add_word(words, counted, &added, word);
            word = NULL;
        } else if (word == NULL) {
            word = p;
        }
    }
    if (word != NULL) winutils_add_word(words, counted, &added, word);
    *count = added;
    QBUG_LEAVE("WINUTILS_parse_command_line");
    return words;
}
