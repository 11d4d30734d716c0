#include "nor/nor_job.h"

namespace zorv {

// Not built yet: the job only frames its run.
int runNorJob(JobPage& page, PortIo&, const NorSettings&) {
  page.lockPage();
  page.appendLog("\r\n");
  page.unlockPage();
  return 0;
}

}  // namespace zorv
