#include "readback/output_file.h"

// Windows has its own in output_file_windows.cpp.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <utility>

namespace zorv {
namespace {

// A name only this process gives out: the process number and a count.
std::string uniquePartPath(const std::string& path) {
  static std::atomic<unsigned> serial{0};
  return path + "." + std::to_string(::getpid()) + "-" + std::to_string(++serial) + ".part";
}

// True when path does not exist or is (or leads by links to) a regular file: anything else, a
// device node above all, would be replaced by the rename or never take it.
bool replaceable(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return errno == ENOENT;
  return S_ISREG(info.st_mode);
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
  if (!replaceable(path_)) {
    refusal_ = "Cannot create " + path_ + ": not a regular file";
    return false;
  }
  // Only a file this call makes is written: O_EXCL never opens what someone left under the name
  // (a link, a FIFO that would block, an older and longer partial file), O_NONBLOCK keeps even a
  // name raced in between from blocking. A taken name is passed over for the next one.
  for (int attempt = 0; attempt < 100; ++attempt) {
    partPath_ = uniquePartPath(path_);
    fd_ = ::open(partPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd_ >= 0) return true;
    if (errno != EEXIST) break;
  }
  refusal_ = "Cannot create " + partPath_;
  return false;
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
  // Looked at again: something other than a file may have taken the name during the read.
  if (synced && closed && replaceable(path_) && std::rename(partPath_.c_str(), path_.c_str()) == 0) return true;
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
