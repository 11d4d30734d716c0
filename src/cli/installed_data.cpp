#include <filesystem>
#include <string>
#include <system_error>

#include "cli/cli_app.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace zorv::cli {

// Found from where the program is, not from where it was built to go: the Debian package and
// `cmake --install` put it under different prefixes, and the Windows zip anywhere.
namespace {

// A folder of the program's data: under PREFIX/share/zorvjtag, or beside zorvjtag.exe on Windows.
std::string installedDataDir(const char* folder) {
  namespace fs = std::filesystem;
#ifdef _WIN32
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return {};
  return (fs::path(path).parent_path() / folder).string();  // beside zorvjtag.exe
#else
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) return {};
  return (program.parent_path().parent_path() / "share" / "zorvjtag" / folder).string();  // PREFIX/bin -> PREFIX/share
#endif
}

}  // namespace

std::string installedBsdlDir() { return installedDataDir("bsdl"); }

std::string installedBoardsDir() { return installedDataDir("boards"); }

}  // namespace zorv::cli
