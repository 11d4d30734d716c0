#include "page/recording_page.h"

#include "page/progress_text.h"

namespace zorv {

void RecordingPage::showByteCount(int64_t done, int64_t total) {
  byteCount = formatByteCount(done, total);
  record({"bytes", byteCount, false});
}

void RecordingPage::showElapsed(int64_t seconds) {
  elapsed = formatElapsed(seconds);
  record({"clock", elapsed, false});
}

}  // namespace zorv
