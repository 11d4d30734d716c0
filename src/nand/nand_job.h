#pragma once

#include "cable/port_io.h"
#include "page/job_page.h"
#include "page/page_settings.h"

namespace zorv {

// The nand job's thread body: drives the cable on port and reports through page; returns 0.
int runNandJob(JobPage& page, PortIo& port, const NandSettings& settings);

}  // namespace zorv
