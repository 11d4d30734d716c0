#include "readback/output_file.h"

// The POSIX one is in output_file.cpp.
#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <atomic>
#include <utility>

namespace zorv {
namespace {

// A name only this process gives out: the process number and a count.
std::string uniquePartPath(const std::string& path) {
  static std::atomic<unsigned> serial{0};
  return path + "." + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial) + ".part";
}

// Whether something other than a plain file on a disk (a folder, a device such as NUL or COM1, a
// pipe) already sits at path.
bool holdsOtherThanFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return true;
  const HANDLE handle = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool other = GetFileType(handle) != FILE_TYPE_DISK;
  CloseHandle(handle);
  return other;
}

}  // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path)), partPath_(path_ + ".part") {}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open() {
  discard();
  if (path_.empty()) {
    refusal_ = "No output file";
    return false;
  }
  if (holdsOtherThanFile(path_)) {
    refusal_ = "Cannot create " + path_ + ": not a regular file";
    return false;
  }
  // Only a file this call makes is written: CREATE_NEW never opens what someone left under the name
  // (a link, an older and longer partial file, another read's). A taken name is passed over for the
  // next one.
  HANDLE handle = INVALID_HANDLE_VALUE;
  for (int attempt = 0; attempt < 100 && handle == INVALID_HANDLE_VALUE; ++attempt) {
    partPath_ = uniquePartPath(path_);
    handle = CreateFileA(partPath_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS) break;
  }
  refusal_ = "Cannot create " + partPath_;
  if (handle == INVALID_HANDLE_VALUE) return false;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    DeleteFileA(partPath_.c_str());
    return false;
  }
  fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd_ < 0) {
    CloseHandle(handle);
    DeleteFileA(partPath_.c_str());
  }
  return fd_ >= 0;
}

bool OutputFile::write(const uint8_t* bytes, size_t count) {
  if (fd_ < 0) return false;
  while (count != 0) {
    const unsigned chunk = count > (1u << 30) ? (1u << 30) : static_cast<unsigned>(count);
    const int written = _write(fd_, bytes, chunk);
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

bool OutputFile::commit() {
  if (fd_ < 0) return false;
  const bool synced = _commit(fd_) == 0;
  const bool closed = _close(fd_) == 0;
  fd_ = -1;
  // Unlike rename, MoveFileEx replaces a file already under the name.
  if (synced && closed &&
      MoveFileExA(partPath_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileA(partPath_.c_str());
  return false;
}

void OutputFile::discard() {
  if (fd_ < 0) return;
  _close(fd_);
  fd_ = -1;
  DeleteFileA(partPath_.c_str());
}

}  // namespace zorv

#endif  // _WIN32
