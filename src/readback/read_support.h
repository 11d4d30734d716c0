#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "page/job_page.h"

namespace zorv {

__attribute__((format(printf, 1, 2))) std::string formatText(const char* pattern, ...);

// "BAD block num #", then the block numbers as "[%04u]" lines, a line break before every tenth:
// the download's list, so both read the same.
void logBlockList(JobPage& page, const char* heading, const std::vector<uint32_t>& blocks);

// The first byte where the flash differs from the image, as the download's verify reports it:
// the address and both bytes in the log, then the "Verify ERROR" box. False when they differ.
bool compareWithImage(JobPage& page, uint32_t address, const uint8_t* image, const uint8_t* flash, size_t count);

}  // namespace zorv
