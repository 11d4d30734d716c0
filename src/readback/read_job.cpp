#include "readback/read_job.h"

namespace zorv {

int runReadJob(JobPage& page, JtagLink& port, const ReadSettings& settings) {
  return settings.flash == ReadFlash::Nor ? runNorReadJob(page, port, settings) : runNandReadJob(page, port, settings);
}

}  // namespace zorv
