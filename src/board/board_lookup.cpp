#include "board/board_lookup.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

namespace zorv {

// Found from where the program is, not from where it was built to go: the Debian package and
// `cmake --install` put it under different prefixes, and the Windows zip anywhere.
std::string installedDataDir(const char* folder) {
  namespace fs = std::filesystem;
#ifdef _WIN32
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return {};
  return (fs::path(path).parent_path() / folder).string();  // beside the .exe
#else
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (program.parent_path().parent_path() / "share" / "zorvjtag" / folder).string();  // PREFIX/bin -> PREFIX/share
#endif
}

std::string installedBoardsDir() { return installedDataDir("boards"); }

std::string boardFilePath(const std::string& given) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::exists(given, error) || given.find_first_of("/\\") != std::string::npos) return given;
  std::string name = given;
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (fs::path(name).extension() != ".toml") name += ".toml";
  const fs::path installed = fs::path(installedBoardsDir()) / name;
  return fs::exists(installed, error) ? installed.string() : given;
}

}  // namespace zorv
