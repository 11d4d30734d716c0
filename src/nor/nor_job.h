#pragma once

#include "cable/port_io.h"
#include "nor/nor_identify.h"
#include "page/job_page.h"
#include "page/page_settings.h"

namespace zorv {

// The nor job's thread body: drives the cable on port and reports through page; returns 0.
int runNorJob(JobPage& page, PortIo& port, const NorSettings& settings);

}  // namespace zorv
