// The 13 script commands and the walk callbacks that copy and delete with
// the directory tree walker. Each handler expands the arguments it uses,
// does its work, frees what it expanded and returns SCRIPT_GO_ON, SCRIPT_STOP
// or SCRIPT_SKIP_NEXT. An argument that expand_path refuses (a path that
// would not fit, a token without a value) is never used in a cut or altered
// form: the command treats it as a failure of its own kind.
#include "COPYFLST.h"
#include "WINUTILS.h"
#include "directory_policy.h"
#include "script_host.h"
#include "walker.h"

#include <windows.h>
#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#define TEXT_QUESTION       20
#define TEXT_ERROR          26
#define TEXT_OPEN_FAILED    29
#define TEXT_LINK_FAILED    30
#define TEXT_WEBLINK_FAILED 31
#define TEXT_WRITE_FAILED   35
#define TEXT_DELETE_DIR     36

#define TEXT_SIZE    256
#define MESSAGE_SIZE (TEXT_SIZE + SCRIPT_PATH_SIZE + 8)

// Files are copied in chunks of this size, so that a large data file needs
// few reads from the distribution medium. One buffer serves every file of a
// copy command: a fresh buffer per file would cost a fresh mapping, with its
// pages faulted in and zeroed, for every file.
#define COPY_BUFFER_SIZE 1024000

static int32_t WINAPI_message_box(const char* text, const char* caption, uint32_t type) {
    return MessageBoxA(NULL, text, caption, type);
}

SCRIPT_MESSAGE_BOX script_message_box = WINAPI_message_box;

// The destination directory of the copy in progress: the expanded argument 2
// of CMD_COPY_FILES or CMD_COPY_TREE (SCRIPT_PATH_SIZE bytes), which the
// copy-tree callback lengthens and shortens in place while it descends.
static char* copy_destination;
// The copy buffer of the copy command in progress (COPY_BUFFER_SIZE bytes),
// or NULL when it could not be had.
static char* copy_buffer;

// CMD_REMOVE_TREE: the directories its walk met, in the order reported
// (parents before their children), removed after the walk from the last
// back; the list grows as the walk goes.
#define DIRECTORY_LIST_FIRST 16
static char (*directory_list)[SCRIPT_PATH_SIZE];
static int32_t directory_list_count;
static int32_t directory_list_capacity;

static void load_message_text(uint32_t id, char* buffer) {
    if (!load_text(id, buffer, TEXT_SIZE)) {
        buffer[0] = '\0';
    }
}

// An error box titled "Error!" with the text id alone or followed by detail
// in format ("%s %s" or "%s, %s\n").
static void show_error(uint32_t id, const char* format, const char* detail) {
    char title[TEXT_SIZE];
    char text[TEXT_SIZE];
    char message[MESSAGE_SIZE];
    load_message_text(TEXT_ERROR, title);
    load_message_text(id, text);
    if (format == NULL) {
        snprintf(message, sizeof message, "%s", text);
    } else {
        snprintf(message, sizeof message, format, text, detail != NULL ? detail : "");
    }
    script_message_box(message, title, MB_OK);
}

// A copy that cannot go on: say so and end the whole walk.
static void fail_copy(uint32_t id, const char* format, const char* path) {
    show_error(id, format, path);
    abort_walk();
}

// Makes a read-only, hidden or system file plain (attributes as read
// before); other files are left as they are. True when it was made plain.
static bool make_plain(const char* path, DWORD attributes) {
    const DWORD blocking = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & blocking) &&
           SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
}

static const char* last_component(const char* path) {
    const char* separator = strrchr(path, '\\');
    return separator != NULL ? separator + 1 : path;
}

// A record's two arguments as expand_path gives them, each NULL when absent
// or refused. A handler that takes both releases them together.
struct EXPANDED_ARGUMENTS {
    char* first;
    char* second;
};

static EXPANDED_ARGUMENTS expand_arguments(const SCRIPT_RECORD* record) {
    EXPANDED_ARGUMENTS expanded = {expand_path(record->argument1), expand_path(record->argument2)};
    return expanded;
}

static void release_arguments(EXPANDED_ARGUMENTS* expanded) {
    free(expanded->first);
    free(expanded->second);
}

// True for a directory that a deletion may start from. Every deletion needs
// one that is not absent, not empty and not a drive or volume root: an empty
// path would reach the root of the current drive. A deletion that reaches
// more than one named file (a tree removal, a wildcard pattern, a pattern
// with descent) needs a directory the directory policy accepts as one of
// the game's own: not the Windows directory, no special folder of the
// system or the user and no folder above one, in any spelling. Deleting one
// named file, such as the game's link on the Desktop, needs only the former.
static bool deletable_directory(const char* directory, bool one_named_file) {
    if (directory == NULL) {
        return false;
    }
    size_t length = strlen(directory);
    while (length > 0 && (directory[length - 1] == '\\' || directory[length - 1] == '/')) {
        length--;
    }
    if (length == 0 || (length == 2 && directory[1] == ':')) {
        return false;
    }
    if (one_named_file) {
        return true;
    }
    char normalised[DIRECTORY_PATH_SIZE];
    return judge_directory(directory, DIRECTORY_RULES_REMOVE, normalised, sizeof normalised) ==
           DIRECTORY_ACCEPTED;
}

// ---- Copying ----------------------------------------------------------------

// Copies one reported file into the current copy destination under its own
// name; on any failure shows why and ends the walk.
static void copy_file_callback(const char* path, int32_t kind) {
    if (kind != WALK_FILE || path == NULL) {
        return;
    }
    char target[SCRIPT_PATH_SIZE];
    if (copy_destination == NULL || snprintf(target, sizeof target, "%s\\%s", copy_destination,
                                             last_component(path)) >= (int)sizeof target) {
        fail_copy(TEXT_OPEN_FAILED, "%s %s", path);
        return;
    }
    // The listing gave the source's size and attributes. A read-only (or
    // hidden or system) source is made plain first; plain files are left
    // alone, which saves two opens of every file.
    const WALK_ENTRY* listed = walk_entry();
    bool have_size = listed != NULL && !(listed->attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (have_size) {
        make_plain(path, listed->attributes);
    }
    update_status(target);

    FILE* source = have_size ? fopen(path, "rb") : NULL;
    if (source == NULL) {
        fail_copy(TEXT_OPEN_FAILED, "%s %s", path);
        return;
    }
    // A target that was there already read-only (or hidden or system) is
    // made plain, and opened again when that is what kept it closed. It is
    // looked at once the open has made it: an existing name is found at
    // once, whereas the search for a missing one reads its whole directory.
    FILE* destination = fopen(target, "wb");
    if (make_plain(target, GetFileAttributesA(target)) && destination == NULL) {
        destination = fopen(target, "wb");
    }
    if (destination == NULL) {
        fclose(source);
        fail_copy(TEXT_OPEN_FAILED, "%s %s", target);
        return;
    }
    // The chunks go straight between the files and the buffer.
    setvbuf(source, NULL, _IONBF, 0);
    setvbuf(destination, NULL, _IONBF, 0);

    long long size = (long long)listed->size;
    if (size > 0 && copy_buffer == NULL) {
        fail_copy(TEXT_WRITE_FAILED, "%s, %s\n", target);
    } else {
        long long copied = 0;
        while (copied < size) {
            long long left = size - copied;
            size_t chunk = left < COPY_BUFFER_SIZE ? (size_t)left : (size_t)COPY_BUFFER_SIZE;
            size_t read = fread(copy_buffer, 1, chunk, source);
            // A read that gives nothing before the size is reached (a medium
            // error, a file that shrank) ends the copy like a failed write.
            if (read == 0 || fwrite(copy_buffer, 1, read, destination) < read) {
                fail_copy(TEXT_WRITE_FAILED, "%s, %s\n", target);
                break;
            }
            copied += (long long)read;
        }
    }
    fclose(destination);
    fclose(source);
}

// Mirrors a reported directory under the current copy destination and
// copies its contents there (a nested walk); files go to copy_file_callback.
static void copy_tree_callback(const char* path, int32_t kind) {
    if (kind == WALK_FILE) {
        copy_file_callback(path, kind);
        return;
    }
    if (kind != WALK_DIRECTORY || path == NULL || copy_destination == NULL) {
        return;
    }
    size_t parent_length = strlen(copy_destination);
    const char* name = last_component(path);
    char subdirectory[SCRIPT_PATH_SIZE];
    // The destination grows in place: a subdirectory whose target would not
    // fit its buffer is a failed copy, never a cut path.
    if (parent_length + 1 + strlen(name) >= SCRIPT_PATH_SIZE ||
        snprintf(subdirectory, sizeof subdirectory, "%s\\", path) >= (int)sizeof subdirectory) {
        fail_copy(TEXT_OPEN_FAILED, "%s %s", path);
        return;
    }
    copy_destination[parent_length] = '\\';
    strcpy(copy_destination + parent_length + 1, name);
    update_status(copy_destination);
    CreateDirectoryA(copy_destination, NULL);
    walk_tree("*.*", subdirectory, copy_tree_callback, 0);
    copy_destination[parent_length] = '\0';
}

// A copy whose source or destination could not be expanded: shown like a
// source that cannot be opened, naming the argument as the script wrote it.
static void fail_unexpanded_copy(const SCRIPT_RECORD* record, const char* source) {
    show_error(TEXT_OPEN_FAILED, "%s %s", source == NULL ? record->argument1 : record->argument2);
}

// The common part of CMD_COPY_FILES and CMD_COPY_TREE: expands source and
// destination, walks the source with callback into the destination, one
// copy buffer for all its files, and releases both. False when an argument
// could not be expanded or a failed copy ended the walk.
static bool copy_with(const SCRIPT_RECORD* record, WALK_CALLBACK callback) {
    EXPANDED_ARGUMENTS paths = expand_arguments(record);
    bool whole = false;
    if (paths.first == NULL || paths.second == NULL) {
        fail_unexpanded_copy(record, paths.first);
    } else {
        copy_destination = paths.second;
        copy_buffer = (char*)malloc(COPY_BUFFER_SIZE);
        whole = walk_tree("*.*", paths.first, callback, 0);
        free(copy_buffer);
        copy_buffer = NULL;
        copy_destination = NULL;
    }
    release_arguments(&paths);
    return whole;
}

static uint16_t command_copy_files(const SCRIPT_RECORD* record) {
    return copy_with(record, copy_file_callback) ? SCRIPT_GO_ON : SCRIPT_STOP;
}

static uint16_t command_copy_tree(const SCRIPT_RECORD* record) {
    // A failed copy ends the whole tree, but not the script.
    copy_with(record, copy_tree_callback);
    return SCRIPT_GO_ON;
}

static uint16_t command_copy_file(const SCRIPT_RECORD* record) {
    EXPANDED_ARGUMENTS paths = expand_arguments(record);
    const char* source = paths.first;
    char* destination = paths.second;
    uint16_t result = SCRIPT_GO_ON;
    if (source != NULL && GetFileAttributesA(source) == FILE_ATTRIBUTE_DIRECTORY) {
        result = SCRIPT_STOP;
    } else if (source != NULL && destination != NULL) {
        bool fits = true;
        // Into a plain directory: under the source's own name.
        if (GetFileAttributesA(destination) == FILE_ATTRIBUTE_DIRECTORY) {
            const char* separator = strrchr(source, '\\');
            const char* tail = separator != NULL ? separator : source;
            size_t length = strlen(destination);
            size_t needed = (separator != NULL ? 0 : 1) + strlen(tail);
            fits = length + needed < SCRIPT_PATH_SIZE;
            if (fits) {
                if (separator == NULL) {
                    destination[length++] = '\\';
                }
                strcpy(destination + length, tail);
            }
        }
        if (fits) {
            CopyFileA(source, destination, FALSE);
        }
    }
    release_arguments(&paths);
    return result;
}

// ---- Directories ------------------------------------------------------------

static uint16_t command_make_dir(const SCRIPT_RECORD* record) {
    char* directory = expand_path(record->argument2);
    if (directory != NULL) {
        update_status(directory);
        CreateDirectoryA(directory, NULL);
    }
    free(directory);
    return SCRIPT_GO_ON;
}

static uint16_t command_make_dir_quiet(const SCRIPT_RECORD* record) {
    char* directory = expand_path(record->argument1);
    if (directory != NULL) {
        CreateDirectoryA(directory, NULL);
    }
    free(directory);
    return SCRIPT_GO_ON;
}

static uint16_t command_if_file_exists(const SCRIPT_RECORD* record) {
    char* name = expand_path(record->argument1);
    FILE* file = name != NULL ? fopen(name, "r") : NULL;
    free(name);
    if (file == NULL) {
        return SCRIPT_SKIP_NEXT;
    }
    fclose(file);
    return SCRIPT_GO_ON;
}

// ---- Deleting ---------------------------------------------------------------

// Trees the user declined in this run. A No that cannot be kept (the table is
// full) stops every further deletion of the run instead.
#define DECLINED_TREE_LIMIT 8
static char declined_trees[DECLINED_TREE_LIMIT][SCRIPT_PATH_SIZE];
static int32_t declined_tree_count;
static bool deletions_stopped;

// Deletions of this run that did not happen: how many, the first path, and
// a 64-bit hash of each path counted, so that a file tried by two records
// (the data tree, then its files) counts once. Past the hash table's end
// paths are counted without that check.
#define FAILED_PATH_SIZE  1024  // the walker's paths are shorter
#define FAILED_HASH_LIMIT 4096
static uint32_t failed_deletions;
static char first_failed_deletion[FAILED_PATH_SIZE];
static uint64_t failed_hashes[FAILED_HASH_LIMIT];
static uint32_t failed_hash_count;

// What the delete callback does besides deleting files: count on a walk that
// descends whether a directory can be listed, and remove directory links
// (only a tree removal removes directories).
static bool delete_descends;
static bool delete_removes_directories;

void script_deletions_reset(void) {
    declined_tree_count = 0;
    deletions_stopped = false;
    failed_deletions = 0;
    first_failed_deletion[0] = '\0';
    failed_hash_count = 0;
}

uint32_t script_failed_deletions(const char** first_path) {
    if (first_path != NULL) {
        *first_path = first_failed_deletion;
    }
    return failed_deletions;
}

static void note_failed_deletion(const char* path) {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char* c = (const unsigned char*)path; *c != '\0'; c++) {
        hash = (hash ^ *c) * 1099511628211ull;
    }
    for (uint32_t index = 0; index < failed_hash_count; index++) {
        if (failed_hashes[index] == hash) {
            return;
        }
    }
    if (failed_hash_count < FAILED_HASH_LIMIT) {
        failed_hashes[failed_hash_count++] = hash;
    }
    if (failed_deletions == 0 && strlen(path) < FAILED_PATH_SIZE) {
        strcpy(first_failed_deletion, path);
    }
    failed_deletions++;
}

// The length of the next path component at *cursor (separators before it
// passed over, *cursor moved to its start); 0 at the end.
static size_t next_component(const char** cursor) {
    const char* start = *cursor;
    while (*start == '\\' || *start == '/') {
        start++;
    }
    *cursor = start;
    return strcspn(start, "\\/");
}

// True when path is tree or lies inside it: every component of tree equals
// the path's component at the same place, without regard to case. Doubled
// and trailing separators do not matter.
static bool path_is_inside(const char* path, const char* tree) {
    for (;;) {
        size_t tree_length = next_component(&tree);
        if (tree_length == 0) {
            return true;
        }
        size_t path_length = next_component(&path);
        if (path_length != tree_length ||
            CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, path, (int)path_length, tree,
                           (int)tree_length) != CSTR_EQUAL) {
            return false;
        }
        path += path_length;
        tree += tree_length;
    }
}

// True when the user's No keeps path: it lies inside a declined tree.
static bool kept_by_user(const char* path) {
    if (deletions_stopped) {
        return true;
    }
    for (int32_t index = 0; index < declined_tree_count; index++) {
        if (path_is_inside(path, declined_trees[index])) {
            return true;
        }
    }
    return false;
}

static void remember_declined_tree(const char* directory) {
    if (declined_tree_count >= DECLINED_TREE_LIMIT || strlen(directory) >= SCRIPT_PATH_SIZE) {
        deletions_stopped = true;
        return;
    }
    strcpy(declined_trees[declined_tree_count++], directory);
}

// Wine's ntdll exports "wine_get_version"; Windows' does not. Asked once.
static bool running_under_wine(void) {
    static int32_t answer = -1;
    if (answer < 0) {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        answer = ntdll != NULL && GetProcAddress(ntdll, "wine_get_version") != NULL;
    }
    return answer == 1;
}

// Removes the link at path itself, never what lies behind it. On Windows
// RemoveDirectoryA on a directory link (DeleteFileA on a file link) removes
// the link. Under Wine every Win32 deletion of a host symbolic link deletes
// what lies behind it instead (RemoveDirectoryA removes an empty target
// directory, a delete disposition the target tree), so there the link stays
// and counts as a deletion that did not happen. A host symbolic link to a
// file is listed there as a plain file and cannot be told apart from one.
static void remove_link(const char* path) {
    if (running_under_wine()) {
        note_failed_deletion(path);
        return;
    }
    DWORD attributes = GetFileAttributesA(path);
    bool directory =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    if (!(directory ? RemoveDirectoryA(path) : DeleteFileA(path))) {
        note_failed_deletion(path);
    }
}

// The length of path without its trailing separators (a lone one stays).
static size_t trimmed_length(const char* path) {
    size_t length = strlen(path);
    while (length > 1 && (path[length - 1] == '\\' || path[length - 1] == '/')) {
        length--;
    }
    return length;
}

// True when directory (trailing separators aside) is a reparse point.
static bool is_link(const char* directory) {
    char trimmed[SCRIPT_PATH_SIZE];
    size_t length = trimmed_length(directory);
    if (length >= sizeof trimmed) {
        return false;
    }
    memcpy(trimmed, directory, length);
    trimmed[length] = '\0';
    DWORD attributes = GetFileAttributesA(trimmed);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Adds directory to the list of the tree removal, as far as there is room:
// the list doubles when full, and a directory it cannot take is left out.
static void collect_directory(const char* path) {
    size_t length = strlen(path);
    if (length >= SCRIPT_PATH_SIZE) {
        return;
    }
    if (directory_list_count == directory_list_capacity) {
        int32_t capacity =
            directory_list_capacity > 0 ? directory_list_capacity * 2 : DIRECTORY_LIST_FIRST;
        char(*grown)[SCRIPT_PATH_SIZE] =
            (char(*)[SCRIPT_PATH_SIZE])realloc(directory_list, (size_t)capacity * SCRIPT_PATH_SIZE);
        if (grown == NULL) {
            return;
        }
        directory_list = grown;
        directory_list_capacity = capacity;
    }
    memcpy(directory_list[directory_list_count], path, length + 1);
    directory_list_count++;
}

// Deletes every reported file (read-only ones too) that the user did not
// keep; a tree removal also lists its directories. A file that stays is
// counted as a failed deletion; one that went away by itself is not. Only
// files whose attributes, as listed, would block the deletion are made plain
// first: setting attributes costs two requests of every file.
static void delete_callback(const char* path, int32_t kind) {
    if (path == NULL || path[0] == '\0' || kind == WALK_TICK || kept_by_user(path)) {
        return;
    }
    const WALK_ENTRY* listed = walk_entry();
    DWORD attributes = listed != NULL ? listed->attributes : GetFileAttributesA(path);
    if (kind == WALK_FILE) {
        update_status(path);
        make_plain(path, attributes);  // read-only files go too
        if (!DeleteFileA(path) && GetLastError() != ERROR_FILE_NOT_FOUND) {
            note_failed_deletion(path);
        }
    } else if (kind == WALK_DIRECTORY) {
        if (delete_removes_directories) {
            collect_directory(path);
        }
        // The walk enters it but finds nothing: what it holds stays.
        if (delete_descends && !walk_can_list(path)) {
            note_failed_deletion(path);
        }
    } else if (kind == WALK_LINK) {
        bool directory =
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        if (delete_removes_directories || !directory) {
            remove_link(path);
        }
    }
}

static uint16_t command_remove_tree(const SCRIPT_RECORD* record) {
    char* directory = expand_path(record->argument2);
    directory_list_count = 0;
    if (!deletable_directory(directory, false)) {
        free(directory);
        return SCRIPT_GO_ON;
    }
    char question_text[TEXT_SIZE];
    char title[TEXT_SIZE];
    char question[MESSAGE_SIZE];
    load_message_text(TEXT_DELETE_DIR, question_text);
    load_message_text(TEXT_QUESTION, title);
    snprintf(question, sizeof question, "%s :%s", question_text, directory);
    if (script_message_box(question, title, MB_YESNO | MB_ICONINFORMATION) != IDYES) {
        // No means no: the later records of this run keep the tree too.
        remember_declined_tree(directory);
        free(directory);
        return SCRIPT_GO_ON;
    }
    if (kept_by_user(directory)) {
        free(directory);
        return SCRIPT_GO_ON;
    }
    // A tree that is itself a link goes as a link, never through it.
    if (is_link(directory)) {
        directory[trimmed_length(directory)] = '\0';
        remove_link(directory);
        free(directory);
        return SCRIPT_GO_ON;
    }

    // One walk: every file goes as it is reported, every directory is
    // listed. Then the directories go, children before their parents: the
    // walker reports a directory before it enters it, so the list is
    // removed from the last back.
    delete_descends = true;
    delete_removes_directories = true;
    walk_tree("*.*", directory, delete_callback, WALK_DESCEND);
    for (int32_t index = directory_list_count - 1; index >= 0; index--) {
        update_status(directory_list[index]);
        RemoveDirectoryA(directory_list[index]);
    }
    free(directory_list);
    directory_list = NULL;
    directory_list_count = 0;
    directory_list_capacity = 0;
    RemoveDirectoryA(directory);
    free(directory);
    return SCRIPT_GO_ON;
}

// Deletes the files matching argument 2 in the directory of argument 1,
// with or without its subdirectories. A tree is never deleted through a
// link: a directory that is one is passed over when the walk would descend.
static uint16_t delete_files(const SCRIPT_RECORD* record, uint32_t flags) {
    EXPANDED_ARGUMENTS arguments = expand_arguments(record);
    const char* directory = arguments.first;
    const char* pattern = arguments.second;
    bool one_named_file =
        !(flags & WALK_DESCEND) && pattern != NULL && strpbrk(pattern, "*?") == NULL;
    if (pattern != NULL && pattern[0] != '\0' && deletable_directory(directory, one_named_file) &&
        !kept_by_user(directory) && !((flags & WALK_DESCEND) && is_link(directory))) {
        delete_descends = (flags & WALK_DESCEND) != 0;
        delete_removes_directories = false;
        walk_tree(pattern, directory, delete_callback, flags);
    }
    release_arguments(&arguments);
    return SCRIPT_GO_ON;
}

static uint16_t command_delete_files_tree(const SCRIPT_RECORD* record) {
    return delete_files(record, WALK_DESCEND);
}

static uint16_t command_delete_files(const SCRIPT_RECORD* record) {
    return delete_files(record, 0);
}

// ---- Links and small files --------------------------------------------------

static uint16_t command_file_link(const SCRIPT_RECORD* record) {
    EXPANDED_ARGUMENTS paths = expand_arguments(record);
    const char* link = paths.first;
    const char* target = paths.second;
    char* working_directory = expand_path(record->argument2);
    bool created = false;
    if (link != NULL && target != NULL && working_directory != NULL) {
        // The target's directory; empty when no backslash follows the first
        // character.
        char* separator = strrchr(working_directory, '\\');
        if (separator != NULL && separator != working_directory) {
            *separator = '\0';
        } else {
            working_directory[0] = '\0';
        }
        created = WINUTILS_create_file_link(target, link, "file shortcut", working_directory, NULL);
    }
    if (!created) {
        show_error(TEXT_LINK_FAILED, NULL, NULL);
    }
    release_arguments(&paths);
    free(working_directory);
    return created ? SCRIPT_GO_ON : SCRIPT_STOP;
}

static uint16_t command_web_link(const SCRIPT_RECORD* record) {
    EXPANDED_ARGUMENTS arguments = expand_arguments(record);
    const char* shortcut = arguments.first;
    const char* address = arguments.second;
    bool created = false;
    if (shortcut != NULL && address != NULL) {
        const char* windows = getenv("windir");
        if (WINUTILS_create_file_link(address, shortcut, "Internet Shortcut",
                                      windows != NULL ? windows : "", NULL)) {
            // The shell link saved there is replaced by the two lines that
            // make an internet shortcut.
            FILE* file = fopen(shortcut, "w");
            if (file != NULL) {
                fprintf(file, "[InternetShortcut]\n");
                fprintf(file, "URL =%s\n", address);
                created = fclose(file) == 0;
            }
        }
    }
    if (!created) {
        show_error(TEXT_WEBLINK_FAILED, NULL, NULL);
    }
    release_arguments(&arguments);
    return SCRIPT_GO_ON;
}

static uint16_t command_write_path_file(const SCRIPT_RECORD* record) {
    EXPANDED_ARGUMENTS arguments = expand_arguments(record);
    const char* name = arguments.first;
    const char* text = arguments.second;
    FILE* file = (name != NULL && text != NULL) ? fopen(name, "w") : NULL;
    if (file == NULL) {
        release_arguments(&arguments);
        show_error(TEXT_OPEN_FAILED, NULL, NULL);
        return SCRIPT_STOP;
    }
    fprintf(file, "%s\\", text);
    fclose(file);
    release_arguments(&arguments);
    return SCRIPT_GO_ON;
}

// ---- File types -------------------------------------------------------------

#define REGISTRY_CLASSES_ROOT 0
#define EXTENSION_LENGTH      4  // a dot and three letters
#define TYPE_KEY_SIZE         256

// Copies the next non-empty colon-separated field at *cursor into field
// (size bytes). False when there is none or it does not fit.
static bool next_field(const char** cursor, char* field, size_t size) {
    const char* start = *cursor;
    while (*start == ':') {
        start++;
    }
    size_t length = strcspn(start, ":");
    if (length == 0 || length >= size) {
        return false;
    }
    memcpy(field, start, length);
    field[length] = '\0';
    *cursor = start + length;
    return true;
}

static uint16_t command_file_type(const SCRIPT_RECORD* record) {
    const char* type_text = record->argument2;
    char extension[EXTENSION_LENGTH + 1];
    char type_key[TYPE_KEY_SIZE];
    char description[SCRIPT_PATH_SIZE];
    // Argument 2: extension (always its first four characters), type key and
    // description, joined by colons. Anything missing stops the script
    // before the registry is touched.
    if (type_text == NULL || strnlen(type_text, EXTENSION_LENGTH) < EXTENSION_LENGTH) {
        return SCRIPT_STOP;
    }
    const char* cursor = strchr(type_text, ':');
    if (cursor == NULL || !next_field(&cursor, type_key, sizeof type_key) ||
        !next_field(&cursor, description, sizeof description)) {
        return SCRIPT_STOP;
    }
    memcpy(extension, type_text, EXTENSION_LENGTH);
    extension[EXTENSION_LENGTH] = '\0';

    char* program = expand_path(record->argument1);
    if (program == NULL) {
        return SCRIPT_STOP;
    }
    char key[TYPE_KEY_SIZE + 32];
    char value[SCRIPT_PATH_SIZE + 16];
    if (!WINUTILS_set_registry_entry(REGISTRY_CLASSES_ROOT, extension, NULL, type_key, NULL) ||
        !WINUTILS_set_registry_entry(REGISTRY_CLASSES_ROOT, type_key, NULL, description, NULL)) {
        free(program);
        return SCRIPT_STOP;
    }
    snprintf(key, sizeof key, "%s\\DefaultIcon", type_key);
    snprintf(value, sizeof value, "%s,0", program);
    WINUTILS_set_registry_entry(REGISTRY_CLASSES_ROOT, key, NULL, value, NULL);
    snprintf(key, sizeof key, "%s\\shell", type_key);
    WINUTILS_set_registry_entry(REGISTRY_CLASSES_ROOT, key, NULL, description, NULL);
    snprintf(key, sizeof key, "%s\\shell\\open", type_key);
    WINUTILS_set_registry_entry(REGISTRY_CLASSES_ROOT, key, NULL, description, NULL);
    snprintf(key, sizeof key, "%s\\shell\\open\\command", type_key);
    snprintf(value, sizeof value, "\"%s\" %%1", program);
    WINUTILS_set_registry_entry(REGISTRY_CLASSES_ROOT, key, NULL, value, NULL);

    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, NULL, NULL);
    RegFlushKey(HKEY_CLASSES_ROOT);
    free(program);
    return SCRIPT_GO_ON;
}

// ---- The handler table --------------------------------------------------------

SCRIPT_HANDLER script_handlers[CMD_END] = {
    command_make_dir,        command_copy_files,  command_copy_tree,
    command_make_dir_quiet,  command_file_link,   command_web_link,
    command_write_path_file, command_remove_tree, command_delete_files_tree,
    command_if_file_exists,  command_copy_file,   command_file_type,
    command_delete_files,
};
