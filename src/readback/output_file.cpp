#include "readback/output_file.h"

// Windows has its own in output_file_windows.cpp.
#ifndef _WIN32

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace zorv {

OutputFile::OutputFile(std::string path) : path_(std::move(path)), partPath_(path_ + ".part") {}

OutputFile::~OutputFile() { discard(); }

bool OutputFile::open() {
  discard();
  // Never follow a link someone left under the partial name: the data would land elsewhere.
  fd_ = ::open(partPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
  return fd_ >= 0;
}

bool OutputFile::write(const uint8_t* bytes, size_t count) {
  if (fd_ < 0) return false;
  while (count != 0) {
    const ssize_t written = ::write(fd_, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return true;
}

bool OutputFile::commit() {
  if (fd_ < 0) return false;
  const bool synced = ::fsync(fd_) == 0;
  const bool closed = ::close(fd_) == 0;
  fd_ = -1;
  if (synced && closed && std::rename(partPath_.c_str(), path_.c_str()) == 0) return true;
  ::unlink(partPath_.c_str());
  return false;
}

void OutputFile::discard() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
  ::unlink(partPath_.c_str());
}

}  // namespace zorv

#endif  // _WIN32
