#include "page/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zorv {

ImageFile openImageFile(const std::string& path, uint64_t& size) {
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  // The path may have been swapped for something else since; check what was actually opened.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  ImageFile file(fdopen(fd, "rb"));
  if (!file) {
    close(fd);
    return nullptr;
  }
  size = static_cast<uint64_t>(info.st_size);
  return file;
}

ImageFile openJobImage(JobPage& page, const std::string& path, uint64_t& size, const std::string& cannotOpenText) {
  if (path.empty()) {
    page.messageBox("No image file");
    return nullptr;
  }
  ImageFile file = openImageFile(path, size);
  if (!file) page.messageBox(cannotOpenText);
  return file;
}

}  // namespace zorv
