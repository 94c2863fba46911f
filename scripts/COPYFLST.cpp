// COPYFLST: the install-script interpreter, its path tokens, special-folder
// paths and the built-in scripts. The command handlers and their table live
// in COMMANDS.cpp.
#include "COPYFLST.h"
#include "folder_service.h"
#include "memory.h"
#include "script_host.h"

#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// ---- Built-in scripts --------------------------------------------------------

#define END_RECORD \
    { CMD_END, NULL, NULL }

const SCRIPT_RECORD remove_script[] = {
    {CMD_REMOVE_TREE, NULL, "<DST>\\data"},
    {CMD_DELETE_FILES_TREE, "<DST>\\data", "*.*"},
    {CMD_DELETE_FILES, "<DST>", "*.*"},
    {CMD_DELETE_FILES, "<CSIDL_DESKTOP>", "Tarnholm Vesk.lnk"},
    {CMD_REMOVE_TREE, NULL, "<STARTMENU>"},
    END_RECORD,
};

// The game's data directories, in the order the install script makes and
// fills them.
#define DATA_DIRECTORIES(row)                                                                      \
    row("Anims") row("ANM") row("Bink") row("Dialogue") row("fonts") row("INK") row("Interface")   \
        row("LCM") row("LMM") row("MCZ") row("Rand") row("Sound") row("str") row("WMC") row("WMD") \
            row("WSD") row("WSM")
#define DATA_DIRECTORY(name) {CMD_MAKE_DIR, NULL, "<DST>\\data\\" name},
#define DATA_TREE(name)      {CMD_COPY_TREE, "<SRC>\\data\\" name, "<DST>\\data\\" name},

const SCRIPT_RECORD install_script[] = {
    {CMD_MAKE_DIR, NULL, "<DST>"},
    {CMD_MAKE_DIR, NULL, "<DST>\\data"},
    DATA_DIRECTORIES(DATA_DIRECTORY) DATA_DIRECTORIES(DATA_TREE){CMD_COPY_FILES, "<SRC>", "<DST>"},
    {CMD_COPY_FILES, "<SRC>\\data", "<DST>\\data"},
    {CMD_MAKE_DIR_QUIET, "<STARTMENU>", NULL},
    {CMD_FILE_LINK, "<STARTMENU>\\Tarnholm Demo.lnk", "<DST>\\tnh2main.exe"},
    {CMD_FILE_LINK, "<STARTMENU>\\Tarnholm Website.lnk",
     "http://www.brisvanestudios.com/tarnholm/"},
    END_RECORD,
};

const SCRIPT_RECORD empty_script_one[] = {END_RECORD};
const SCRIPT_RECORD empty_script_two[] = {END_RECORD};

// The install script's leading directory records, which quiet_start keeps
// off the progress bar.
#define QUIET_RECORDS 19

// ---- Path tokens and special folders ---------------------------------------

struct PATH_TOKEN {
    const char* token;
    int32_t length;
    const char* value;  // NULL: the token cannot be expanded in this run
};

// The order matters: at one '<' the rows are tried once, top to bottom.
static PATH_TOKEN path_tokens[] = {
    {"<DST>", 5, NULL},
    {"<SRC>", 5, NULL},
    {"<STARTMENU>", 11, NULL},
    {"<WINSYSTEM>", 11, NULL},
    {"<CSIDL_COMMON_APPDATA>", 22, NULL},
    {"<CSIDL_LOCAL_APPDATA>", 21, NULL},
    {"<CSIDL_COMMON_DOCUMENTS>", 24, NULL},
    {"<CSIDL_PERSONAL>", 16, NULL},
    {"<CSIDL_PROGRAM_FILES>", 21, NULL},
    {"<CSIDL_DESKTOP>", 15, NULL},
    {NULL, 0, NULL},
};
#define FIRST_FOLDER_TOKEN 4

#define FOLDER_PATH_SIZE 260
#define FOLDER_TABLE_END 0xFFFFFFFFu

struct SPECIAL_FOLDER {
    uint32_t csidl;
    char* path;     // FOLDER_PATH_SIZE bytes from the tracked allocator, or NULL
    bool resolved;  // path holds the folder of this run
};

static SPECIAL_FOLDER csidl_data[] = {
    {0x23, NULL, false},  // CSIDL_COMMON_APPDATA
    {0x1C, NULL, false},  // CSIDL_LOCAL_APPDATA
    {0x2E, NULL, false},  // CSIDL_COMMON_DOCUMENTS
    {0x05, NULL, false},  // CSIDL_PERSONAL
    {0x26, NULL, false},  // CSIDL_PROGRAM_FILES
    {0x00, NULL, false},  // CSIDL_DESKTOP
    {FOLDER_TABLE_END, NULL, false},
};

#define CSIDL_CREATE_FLAG   0x8000
#define FOLDER_E_INVALIDARG ((HRESULT)0x80070057L)

// The caller's paths of the current run and the run's system directory.
static const char* script_source;
static const char* script_destination;
static const char* script_start_menu;
static char* system_directory;

void fill_folder_paths(void) {
    FOLDER_PATH_FUNCTION get_folder_path = load_folder_path_function();
    if (csidl_data[0].csidl == FOLDER_TABLE_END) {
        return;
    }
    for (SPECIAL_FOLDER* folder = csidl_data; folder->csidl != FOLDER_TABLE_END; folder++) {
        folder->resolved = false;
        // Cleared first: a failed call must not leave an old or random path.
        char path[FOLDER_PATH_SIZE] = "";
        HRESULT result = E_FAIL;
        if (get_folder_path != NULL) {
            result = get_folder_path(NULL, (int)(folder->csidl | CSIDL_CREATE_FLAG), NULL, 0, path);
        }
        path[FOLDER_PATH_SIZE - 1] = '\0';

        void* block = MEMORY_allocate(folder->path, FOLDER_PATH_SIZE, 0, "csidl_data[f].csidl_path",
                                      QBUG_FILE, __LINE__);
        if (block == NULL) {
            // The text as the program has always shown it, misspelling included.
            script_message_box("Failed to allcoate memory for path", "Error", MB_OK);
        } else {
            folder->path = (char*)block;
            memcpy(folder->path, path, FOLDER_PATH_SIZE);
            folder->resolved = SUCCEEDED(result) && path[0] != '\0';
        }
        // Intended: a folder service that rejects a folder id ends the whole
        // process at once, with status 0 and without a message.
        if (result == FOLDER_E_INVALIDARG) {
            exit(0);
        }
    }
}

// Returns every special-folder path to the tracked allocator.
static void release_folder_paths(void) {
    if (csidl_data[0].csidl == FOLDER_TABLE_END) {
        return;
    }
    for (SPECIAL_FOLDER* folder = csidl_data; folder->csidl != FOLDER_TABLE_END; folder++) {
        folder->resolved = false;
        if (folder->path != NULL) {
            MEMORY_deallocate((void**)&folder->path, QBUG_FILE, __LINE__);
        }
    }
}

char* expand_path(const char* text) {
    if (text == NULL) {
        return NULL;
    }
    char* output = (char*)malloc(SCRIPT_PATH_SIZE);
    if (output == NULL) {
        return NULL;
    }
    size_t length = strlen(text);
    size_t in = 0;
    size_t out = 0;
    while (in < length) {
        if (text[in] == '<') {
            for (const PATH_TOKEN* row = path_tokens; row->token != NULL; row++) {
                if (strncmp(text + in, row->token, (size_t)row->length) != 0) {
                    continue;
                }
                if (row->value == NULL) {
                    free(output);
                    return NULL;
                }
                size_t value_length = strlen(row->value);
                if (out + value_length >= SCRIPT_PATH_SIZE) {
                    free(output);
                    return NULL;
                }
                memcpy(output + out, row->value, value_length);
                out += value_length;
                in += (size_t)row->length;
            }
            if (in >= length) {
                break;
            }
        }
        if (out + 1 >= SCRIPT_PATH_SIZE) {
            free(output);
            return NULL;
        }
        output[out++] = text[in++];
    }
    output[out] = '\0';
    return output;
}

int32_t count_script_records(const SCRIPT_RECORD* script) {
    int32_t count = 0;
    while (script[count].code != CMD_END) {
        count++;
    }
    return count;
}

// Runs the records; true when the end record was reached.
static bool run_records(const SCRIPT_RECORD* script, uint8_t quiet_start) {
    const SCRIPT_RECORD* position = script;
    int32_t counter = 0;
    while (position->code != CMD_END) {
        uint16_t code = position->code;
        if (code >= CMD_END) {
            return false;
        }
        SCRIPT_HANDLER handler = script_handlers[code];
        if (handler != NULL) {
            uint16_t result = handler(position);
            if (result == SCRIPT_STOP) {
                return false;
            }
            if (result == SCRIPT_SKIP_NEXT && position[1].code != CMD_END) {
                // The skipped record counts for the quiet start but never
                // advances the bar by itself; the end record is never skipped.
                position++;
                counter++;
            }
        }
        if (!(quiet_start == 1 && counter < QUIET_RECORDS)) {
            update_status(NULL);
        }
        position++;
        counter++;
    }
    return true;
}

bool run_script(const SCRIPT_RECORD* script, const char* source, const char* destination,
                const char* start_menu, uint32_t reserved, uint8_t quiet_start) {
    (void)reserved;
    script_deletions_reset();
    script_source = source;
    script_destination = destination;
    script_start_menu = start_menu;

    char system_buffer[256];
    UINT system_length = GetSystemDirectoryA(system_buffer, sizeof system_buffer);
    system_directory =
        (system_length > 0 && system_length < sizeof system_buffer) ? system_buffer : NULL;

    fill_folder_paths();

    path_tokens[0].value = script_destination;
    path_tokens[1].value = script_source;
    path_tokens[2].value = script_start_menu;
    path_tokens[3].value = system_directory;
    const SPECIAL_FOLDER* folder = csidl_data;
    for (PATH_TOKEN* row = path_tokens + FIRST_FOLDER_TOKEN; row->token != NULL; row++) {
        if (folder->csidl == FOLDER_TABLE_END) {
            row->value = NULL;
            continue;
        }
        row->value = folder->resolved ? folder->path : NULL;
        folder++;
    }

    bool complete = run_records(script, quiet_start);

    // Released on every end of the run, also after a stop: the next run then
    // starts from fresh allocations instead of leaking these.
    release_folder_paths();
    for (PATH_TOKEN* row = path_tokens; row->token != NULL; row++) {
        row->value = NULL;
    }
    system_directory = NULL;
    return complete;
}
