#pragma once

#include "cable/port_io.h"
#include "link/jtag_link.h"
#include "link/parallel_port_link.h"
#include "nor/nor_identify.h"
#include "page/job_page.h"
#include "page/page_settings.h"

namespace zorv {

// The nor job's thread body: drives the cable on port and reports through page; returns 0.
int runNorJob(JobPage& page, JtagLink& link, const NorSettings& settings);
// A parallel-port backend (a board, a recording port) through the parallel-port link.
inline int runNorJob(JobPage& page, PortIo& port, const NorSettings& settings) {
  ParallelPortLink link(port);
  return runNorJob(page, link, settings);
}

}  // namespace zorv
