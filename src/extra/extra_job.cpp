#include "extra/extra_job.h"

namespace zorv {

// Not built yet: the job only frames its run.
int runExtraJob(JobPage& page, PortIo&, const ExtraSettings&) {
  page.lockPage();
  page.appendLog("\r\n");
  page.unlockPage();
  return 0;
}

}  // namespace zorv
