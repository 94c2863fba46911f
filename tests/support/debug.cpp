// The library's debug files and call stack, for the tests (see support.h).
#include "support.h"

#include <stdio.h>

#include <regex>
#include <sstream>

#include "qbug.h"

Lines debug_lines(const std::string& path) {
    std::string text = read_text(path);
    size_t start = text.find("\n\n");
    if (start == std::string::npos) return {"<no header> " + text};
    static const std::regex prefix(R"(\[.{8}, *[0-9]+\] )");  // "[%8s,%5d] "
    Lines lines;
    std::istringstream stream(text.substr(start + 2));
    for (std::string line; std::getline(stream, line);) {
        size_t name = line.find_first_not_of(' ', 1);  // the name is right-aligned
        if (line.size() >= 17 && std::regex_match(line.substr(0, 17), prefix))
            line = line.substr(name, 9 - name) + ": " + line.substr(17);
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
    for (std::string report : {"Callstack full", "Stack empty"})
        if (before.find(report) != std::string::npos) left += report + "\n";
    QBUG_dump_callstack();
    QBUG_disable_callstack();  // no second dump when the diagnostics end
    QBUG_deinitialise();
    std::string dump = read_text(callstack_file).substr(before.size());
    const std::string start = "most recent calls~~~~~~~\n", end = "~~~~~~~~END OF CALLSTACK DUMP";
    size_t from = dump.find(start), to = dump.find(end);
    if (from == std::string::npos || to == std::string::npos) return left + "<no dump> " + dump;
    return left + dump.substr(from + start.size(), to - from - start.size());
}
