// Shared by the tests of the install scripts: a scripted stand-in for the
// scripts' message boxes, file helpers for real directories below the
// test's working directory, and shell-link read-back.
#ifndef SCRIPT_FIXTURE_H
#define SCRIPT_FIXTURE_H

#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>

#include "COPYFLST.h"
#include "fake_host.h"
#include "footprint.h"

// ---- Message boxes ------------------------------------------------------------

struct ShownBox {
    std::string text;
    std::string caption;
    uint32_t type;
};

static std::vector<ShownBox> shown_boxes;
static std::deque<int32_t> box_answers;  // given in order; then IDNO or IDOK

static inline int32_t scripted_message_box(const char* text, const char* caption, uint32_t type) {
    shown_boxes.push_back(
        {text != NULL ? text : "(null)", caption != NULL ? caption : "(null)", type});
    if (!box_answers.empty()) {
        int32_t answer = box_answers.front();
        box_answers.pop_front();
        return answer;
    }
    return (type & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
}

static inline void reset_script_fakes(void) {
    fake_host_reset();
    shown_boxes.clear();
    box_answers.clear();
    script_message_box = scripted_message_box;
}

// ---- Files ------------------------------------------------------------------------

static inline std::string full_path(const std::string& relative) {
    char buffer[MAX_PATH];
    DWORD length = GetFullPathNameA(relative.c_str(), sizeof buffer, buffer, NULL);
    return length > 0 && length < sizeof buffer ? std::string(buffer) : std::string();
}

static inline void write_file(const std::string& path, const std::string& content) {
    FILE* file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, (FILE*)NULL) << path;
    ASSERT_EQ(fwrite(content.data(), 1, content.size(), file), content.size()) << path;
    fclose(file);
}

// The file's bytes, or "<missing>".
static inline std::string read_file(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == NULL) {
        return "<missing>";
    }
    std::string content;
    char buffer[65536];
    size_t count;
    while ((count = fread(buffer, 1, sizeof buffer, file)) > 0) {
        content.append(buffer, count);
    }
    fclose(file);
    return content;
}

static inline bool file_exists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static inline bool directory_exists(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static inline void make_directory(const std::string& path) {
    CreateDirectoryA(path.c_str(), NULL);
    ASSERT_TRUE(directory_exists(path)) << path;
}

// Removes path with everything inside, read-only entries too. A link goes
// as a link; what lies behind it stays.
static inline void remove_all(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        FOOTPRINT_remove_link(path.c_str());
        return;
    }
    SetFileAttributesA(path.c_str(), attributes & FILE_ATTRIBUTE_DIRECTORY
                                         ? FILE_ATTRIBUTE_DIRECTORY
                                         : FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            // A link whose target went first has no attributes of its own:
            // the listing's are used.
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
                FOOTPRINT_remove_link((path + "\\" + name).c_str());
            } else if (name != "." && name != "..") {
                remove_all(path + "\\" + name);
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

// Names directly inside a directory, sorted; directories end in "\", links
// in "@".
static inline std::vector<std::string> list_directory(const std::string& path) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            const char* mark = entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? "@"
                               : entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY   ? "\\"
                                                                                     : "";
            names.push_back(name + mark);
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Short contents as they are, long ones as size and checksum.
static inline std::string summary(const std::string& content) {
    if (content.size() <= 64) {
        return content;
    }
    uint32_t hash = 2166136261u;
    for (unsigned char byte : content) {
        hash = (hash ^ byte) * 16777619u;
    }
    char text[64];
    snprintf(text, sizeof text, "<%u bytes, %08x>", (unsigned)content.size(), (unsigned)hash);
    return text;
}

// Every entry below path as "relative\path=content" (files) or
// "relative\path\" (directories), sorted.
static inline void describe_tree(const std::string& path, const std::string& prefix,
                                 std::vector<std::string>& out) {
    for (const std::string& name : list_directory(path)) {
        if (name.back() == '@') {
            out.push_back(prefix + name);
        } else if (name.back() == '\\') {
            out.push_back(prefix + name);
            describe_tree(path + "\\" + name.substr(0, name.size() - 1), prefix + name, out);
        } else {
            out.push_back(prefix + name + "=" + summary(read_file(path + "\\" + name)));
        }
    }
}

static inline std::vector<std::string> describe_tree(const std::string& path) {
    std::vector<std::string> out;
    describe_tree(path, "", out);
    std::sort(out.begin(), out.end());
    return out;
}

// ---- Shell links --------------------------------------------------------------

struct LinkFields {
    bool loaded;
    std::string path;
    std::string arguments;
    std::string working_directory;
    std::string description;
};

// Reads a saved link back through the shell's own link object.
static inline LinkFields read_link(const std::string& file) {
    LinkFields fields = {false, "", "", "", ""};
    IShellLinkA* link = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                (void**)&link))) {
        return fields;
    }
    IPersistFile* persist = NULL;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, (void**)&persist))) {
        WCHAR wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
        if (SUCCEEDED(persist->Load(wide, STGM_READ))) {
            char buffer[1024];
            fields.loaded = true;
            buffer[0] = '\0';
            link->GetPath(buffer, sizeof buffer, NULL, SLGP_RAWPATH);
            fields.path = buffer;
            buffer[0] = '\0';
            link->GetArguments(buffer, sizeof buffer);
            fields.arguments = buffer;
            buffer[0] = '\0';
            link->GetWorkingDirectory(buffer, sizeof buffer);
            fields.working_directory = buffer;
            buffer[0] = '\0';
            link->GetDescription(buffer, sizeof buffer);
            fields.description = buffer;
        }
        persist->Release();
    }
    link->Release();
    return fields;
}

#endif
