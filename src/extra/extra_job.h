#pragma once

#include "cable/port_io.h"
#include "link/jtag_link.h"
#include "link/parallel_port_link.h"
#include "extra/pin_toggler.h"
#include "page/job_page.h"
#include "page/page_settings.h"

namespace zorv {

// The extra job's thread body: reads the chip's JTAG ID or toggles every boundary pin until the
// page asks it to stop. Drives the cable on port and reports through page; returns 0.
int runExtraJob(JobPage& page, JtagLink& link, const ExtraSettings& settings);
// A parallel-port backend (a board, a recording port) through the parallel-port link.
inline int runExtraJob(JobPage& page, PortIo& port, const ExtraSettings& settings) {
  ParallelPortLink link(port);
  return runExtraJob(page, link, settings);
}

// The same, timing the toggle half periods by ticks instead of the steady clock.
int runExtraJob(JobPage& page, JtagLink& link, const ExtraSettings& settings, const TickSource& ticks);
// A parallel-port backend (a board, a recording port) through the parallel-port link.
inline int runExtraJob(JobPage& page, PortIo& port, const ExtraSettings& settings, const TickSource& ticks) {
  ParallelPortLink link(port);
  return runExtraJob(page, link, settings, ticks);
}

}  // namespace zorv
