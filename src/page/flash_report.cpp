#include "page/flash_report.h"

#include <algorithm>

#include "text/format.h"

namespace zorv {

void logBlockList(JobPage& page, const char* heading, const std::vector<uint32_t>& blocks) {
  page.appendLog(heading);
  for (size_t i = 0; i < blocks.size(); ++i) {
    if (i % 10 == 0) page.appendLog("\r\n");
    page.appendLog(format("[%04u]\r\n", blocks[i]));
  }
}

bool compareWithImage(JobPage& page, uint32_t address, const uint8_t* image, const uint8_t* flash, size_t count,
                      size_t mainBytes) {
  const auto mismatch = std::mismatch(image, image + count, flash);
  if (mismatch.first == image + count) return true;
  const auto k = static_cast<size_t>(mismatch.first - image);
  page.appendLog(k < mainBytes ? format("  ERROR, ADDR: 0x%X\r\n", address + static_cast<uint32_t>(k))
                               : format("  ERROR, ADDR: 0x%X, SPARE BYTE: 0x%X\r\n", address,
                                        static_cast<uint32_t>(k - mainBytes)));
  page.appendLog(format("    [Write: 0x%02X, Read: 0x%02X]\r\n", *mismatch.first, *mismatch.second));
  page.messageBox("Verify ERROR");
  return false;
}

}  // namespace zorv
