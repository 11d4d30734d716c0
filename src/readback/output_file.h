#pragma once

#include <cstdint>
#include <string>

namespace zorv {

// The file a read writes: the bytes go to a partial file beside path, made new under a name of its
// own (path + ".<process>-<n>.part"), which becomes path only when commit() succeeds, so a failed or
// stopped read never leaves a truncated file under the name the user gave, an existing file of that
// name is replaced only by a complete one, and two reads to the same path never share a partial
// file. Destroyed uncommitted, it removes the partial file.
class OutputFile {
 public:
  explicit OutputFile(std::string path);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();

  // Creates the partial file; false, with refusal() saying why, when path is empty, names something
  // other than a regular file (a device, a FIFO, a directory, or a link to one), or the partial file
  // cannot be created.
  bool open();
  bool write(const uint8_t* bytes, size_t count);
  // Flushes the data to the disk and renames the partial file; false, with the partial file
  // removed, when any of that fails.
  bool commit();
  // Closes and removes the partial file.
  void discard();

  const std::string& path() const { return path_; }
  const std::string& partPath() const { return partPath_; }
  // The box text for an open() that failed.
  const std::string& refusal() const { return refusal_; }

 private:
  std::string path_;
  std::string partPath_;
  std::string refusal_;
  int fd_ = -1;
};

}  // namespace zorv
