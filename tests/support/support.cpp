// Files, trees and links for the tests (see support.h).
#include "support.h"

#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <stdio.h>

#include <algorithm>
#include <functional>

#include "footprint.h"

// The file's bytes, read with fopen's mode.
static std::string read(const std::string& path, const char* mode) {
    FILE* file = fopen(path.c_str(), mode);
    if (file == NULL) return "<missing>";
    std::string bytes;
    char chunk[65536];
    for (size_t got; (got = fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, got);
    fclose(file);
    return bytes;
}

std::string read_file(const std::string& path) { return read(path, "rb"); }
std::string read_text(const std::string& path) { return read(path, "r"); }

bool write_file(const std::string& path, const std::string& bytes) {
    size_t separator = path.find_last_of('\\');
    if (separator != std::string::npos && separator > 2 &&
        !make_directories(path.substr(0, separator)))
        return false;
    FILE* file = fopen(path.c_str(), "wb");
    if (file == NULL) return false;
    bool written = fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return fclose(file) == 0 && written;
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool is_directory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string full_path(const std::string& path) {
    char buffer[MAX_PATH];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, NULL);
    return length > 0 && length < sizeof buffer ? std::string(buffer) : std::string();
}

bool make_directories(const std::string& path) {
    std::string full = full_path(path);
    return !full.empty() && FOOTPRINT_make_directories(full.c_str());
}

bool delete_tree(const std::string& path) {
    std::string full = full_path(path);
    return !full.empty() && FOOTPRINT_delete_tree(full.c_str());
}

// Short contents as they are, long ones as size and hash.
static std::string summary(const std::string& bytes) {
    if (bytes.size() <= 64) return bytes;
    char text[64];
    snprintf(text, sizeof text, "<%u bytes, %08x>", (unsigned)bytes.size(),
             (unsigned)std::hash<std::string>()(bytes));
    return text;
}

static void describe(const std::string& directory, const std::string& prefix, bool with_contents,
                     std::vector<std::string>* out) {
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA((directory + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = directory + "\\" + name;
        bool link = entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT;
        bool directory = !link && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
        std::string contents = with_contents && !directory ? "=" + summary(read_file(path)) : "";
        out->push_back(prefix + name + (link ? "@" : directory ? "\\" : contents));
        if (directory) describe(path, prefix + name + "\\", with_contents, out);
    } while (FindNextFileA(search, &entry));
    FindClose(search);
}

std::vector<std::string> tree(const std::string& directory, bool with_contents) {
    std::vector<std::string> entries;
    describe(directory, "", with_contents, &entries);
    std::sort(entries.begin(), entries.end());
    return entries;
}

bool read_link(const std::string& path, LinkFields* link) {
    IShellLinkA* shell_link = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                (void**)&shell_link)))
        return false;
    IPersistFile* file = NULL;
    bool ok = SUCCEEDED(shell_link->QueryInterface(IID_IPersistFile, (void**)&file));
    if (ok) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        ok = SUCCEEDED(file->Load(wide, STGM_READ));
        file->Release();
    }
    char text[4][1024];
    ok = ok && SUCCEEDED(shell_link->GetPath(text[0], 1024, NULL, SLGP_RAWPATH)) &&
         SUCCEEDED(shell_link->GetArguments(text[1], 1024)) &&
         SUCCEEDED(shell_link->GetWorkingDirectory(text[2], 1024)) &&
         SUCCEEDED(shell_link->GetDescription(text[3], 1024));
    if (ok) *link = {text[0], text[1], text[2], text[3]};
    shell_link->Release();
    return ok;
}

std::string lnkinfo(const std::string& path) {
    char output[MAX_PATH];
    if (!FOOTPRINT_host_tool_output("lnkinfo", path.c_str(), output, sizeof output))
        return "<lnkinfo did not run>";
    std::string text = read_file(output);
    DeleteFileA(output);
    return text;
}
