#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "page/job_page.h"

namespace zorv {

struct ImageFileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using ImageFile = std::unique_ptr<std::FILE, ImageFileCloser>;

// Opens a job's image for reading; its size in bytes goes to size. Only a regular file is an
// image: a directory, a device or a FIFO gives null, and the open never waits (a FIFO without a
// writer would otherwise hold the job for good, past any stop request).
ImageFile openImageFile(const std::string& path, uint64_t& size);

// The same for a job: null after the box "No image file" for an empty path, or the box
// cannotOpenText when the file does not open.
ImageFile openJobImage(JobPage& page, const std::string& path, uint64_t& size, const std::string& cannotOpenText);

}  // namespace zorv
