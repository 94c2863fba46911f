// Reading the debug files the library writes, for the tests that check them.
#ifndef TEXT_FILE_H
#define TEXT_FILE_H

#include <string>

// The whole file, read in text mode (a line ends in "\n" however the run-time
// stores it on disk), or "<missing>" when it cannot be opened.
std::string read_text_file(const char* name);

#endif
