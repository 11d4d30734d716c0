#include "page/image_file.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zorv {

#ifdef _WIN32

// Only a file on a disk is an image: a folder, a device (CON, NUL, COM1) or a pipe is refused, and
// the check is made on what was opened. Opening a pipe with no server fails at once, never waits.
ImageFile openImageFile(const std::string& path, uint64_t& size) {
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  BY_HANDLE_FILE_INFORMATION info{};
  LARGE_INTEGER length{};
  if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !GetFileSizeEx(handle, &length)) {
    CloseHandle(handle);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  ImageFile file(_fdopen(fd, "rb"));
  if (!file) {
    _close(fd);
    return nullptr;
  }
  size = static_cast<uint64_t>(length.QuadPart);
  return file;
}

#else

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

#endif

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
