#pragma once

#include <string>

namespace zorv {

// A folder of the program's data: under PREFIX/share/zorvjtag, or beside the program on Windows;
// empty where the program cannot tell where it is.
std::string installedDataDir(const char* folder);
// The board files that come with the program.
std::string installedBoardsDir();
// The board file a --board text names: a file here as given, or else, for a bare name such as
// "obrin", the installed board file of that name; anything else is returned as given, so that
// reading it names the text the user wrote.
std::string boardFilePath(const std::string& given);

}  // namespace zorv
