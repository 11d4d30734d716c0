#include "readback/read_job.h"

namespace zorv {

ImageFile openImageToVerify(JobPage& page, const std::string& path, uint64_t& size) {
  ImageFile file = openJobImage(page, path, size, "Cannot open " + path);
  if (file && size == 0) {
    page.messageBox(kNothingToVerifyText);
    return nullptr;
  }
  return file;
}

const char* readJobHeader(ReadFlash flash, ReadMode mode) {
  const bool nand = flash == ReadFlash::Nand;
  switch (mode) {
    case ReadMode::Read: return nand ? "[Read NAND]\r\n" : "[Read NOR]\r\n";
    case ReadMode::Verify: return nand ? "[Verify NAND]\r\n" : "[Verify NOR]\r\n";
    case ReadMode::Erase: return nand ? "[Erase NAND]\r\n" : "[Erase NOR]\r\n";
    case ReadMode::BadScan: return nand ? "[Scan NAND Bad Blocks]\r\n" : "[NOR]\r\n";
  }
  return nand ? "[NAND]\r\n" : "[NOR]\r\n";
}

int runReadJob(JobPage& page, JtagLink& link, const ReadSettings& settings) {
  return settings.flash == ReadFlash::Nor ? runNorReadJob(page, link, settings) : runNandReadJob(page, link, settings);
}

}  // namespace zorv
