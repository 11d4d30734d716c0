#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "page/job_page.h"

namespace zorv {

// The heading, then the block numbers as "[%04u]" lines, a line break before every tenth: the NAND
// download and the read-back jobs list their blocks the same way.
void logBlockList(JobPage& page, const char* heading, const std::vector<uint32_t>& blocks);

// The first byte where the flash differs from the image, as the download's verify reports it:
// the address (past mainBytes, the page's and the byte's place in its spare area) and both bytes
// in the log, then the "Verify ERROR" box. False when they differ.
bool compareWithImage(JobPage& page, uint32_t address, const uint8_t* image, const uint8_t* flash, size_t count,
                      size_t mainBytes = SIZE_MAX);

}  // namespace zorv
