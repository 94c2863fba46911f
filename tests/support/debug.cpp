// The library's debug files and call stack, for the tests (see support.h).
#include "support.h"

#include <stdio.h>

#include "qbug.h"

static bool is_digit(char c) { return c >= '0' && c <= '9'; }

// True for "[%8s,%5d] " at the start of line.
static bool has_prefix(const std::string& line) {
    if (line.size() < 17 || line[0] != '[' || line[9] != ',' || line[15] != ']' ||
        line[16] != ' ' || !is_digit(line[14]))
        return false;
    for (int column = 10; column < 15; column++)
        if (!is_digit(line[column]) && !(line[column] == ' ' && !is_digit(line[column - 1])))
            return false;
    return true;
}

std::vector<std::string> debug_lines(const std::string& path) {
    std::string text = read_text(path);
    std::vector<std::string> lines;
    size_t start = text.find("\n\n");
    if (start == std::string::npos) return {"<no header> " + text};
    for (start += 2; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (has_prefix(line)) {
            std::string name = line.substr(1, 8);
            line = name.substr(name.find_first_not_of(' ')) + ": " + line.substr(17);
        }
        lines.push_back(line);
    }
    return lines;
}

static std::string callstack_file;

void callstack_begin(const char* develop_file, uint32_t flags) {
    QBUG_deinitialise();
    callstack_file = develop_file;
    remove(develop_file);
    QBUG_set_develop_file(develop_file);
    QBUG_initialise(0, 64, 12, flags | QBUG_FLAG_CALLSTACK, QBUG_OUT_DEVELOP_FILE);
}

std::string callstack_end(void) {
    std::string before = read_text(callstack_file);
    if (before == "<missing>") before.clear();
    std::string left;
    if (before.find("Callstack full") != std::string::npos) left += "Callstack full\n";
    if (before.find("Stack empty") != std::string::npos) left += "Stack empty\n";
    QBUG_dump_callstack();
    QBUG_disable_callstack();  // no second dump when the diagnostics end
    QBUG_deinitialise();
    std::string dump = read_text(callstack_file).substr(before.size());
    const std::string start = "most recent calls~~~~~~~\n";
    const std::string end = "~~~~~~~~END OF CALLSTACK DUMP";
    size_t from = dump.find(start);
    size_t to = dump.find(end);
    if (from == std::string::npos || to == std::string::npos) return left + "<no dump> " + dump;
    return left + dump.substr(from + start.size(), to - from - start.size());
}
