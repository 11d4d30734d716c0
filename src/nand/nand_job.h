#pragma once

#include "cable/port_io.h"
#include "link/jtag_link.h"
#include "link/parallel_port_link.h"
#include "page/job_page.h"
#include "page/page_settings.h"

namespace zorv {

// The nand job's thread body: drives the cable on port and reports through page; returns 0.
int runNandJob(JobPage& page, JtagLink& link, const NandSettings& settings);
// A parallel-port backend (a board, a recording port) through the parallel-port link.
inline int runNandJob(JobPage& page, PortIo& port, const NandSettings& settings) {
  ParallelPortLink link(port);
  return runNandJob(page, link, settings);
}

}  // namespace zorv
