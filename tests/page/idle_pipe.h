#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <string>

namespace zorv::testing {

// A pipe under a name that nobody ever writes to: a FIFO in folder, or on Windows, where a folder
// cannot hold one, a named pipe with no client. Opening it as an image must neither wait nor pass.
class IdlePipe {
 public:
  IdlePipe(const std::string& folder, const std::string& name) {
#ifdef _WIN32
    (void)folder;
    path_ = "\\\\.\\pipe\\" + name;
    handle_ = CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr);
    made_ = handle_ != INVALID_HANDLE_VALUE;
#else
    path_ = folder + "/" + name;
    made_ = mkfifo(path_.c_str(), 0600) == 0;
#endif
  }
  ~IdlePipe() {
#ifdef _WIN32
    if (made_) CloseHandle(handle_);
#else
    if (made_) unlink(path_.c_str());
#endif
  }
  IdlePipe(const IdlePipe&) = delete;
  IdlePipe& operator=(const IdlePipe&) = delete;

  bool made() const { return made_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool made_ = false;
#ifdef _WIN32
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#endif
};

}  // namespace zorv::testing
