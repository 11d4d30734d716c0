#pragma once

#include "cable/port_io.h"
#include "extra/pin_toggler.h"
#include "page/job_page.h"
#include "page/page_settings.h"

namespace zorv {

// The extra job's thread body: reads the chip's JTAG ID or toggles every boundary pin until the
// page asks it to stop. Drives the cable on port and reports through page; returns 0.
int runExtraJob(JobPage& page, PortIo& port, const ExtraSettings& settings);

// The same, timing the toggle half periods by ticks instead of the steady clock.
int runExtraJob(JobPage& page, PortIo& port, const ExtraSettings& settings, const TickSource& ticks);

}  // namespace zorv
