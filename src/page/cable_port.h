#pragma once

#include <memory>
#include <string>

#include "cable/port_io.h"

namespace zorv {

// Opens the port that a --cable text names: "lpt" (the default), "ppdev[:/dev/parportN]",
// "remote:HOST:PORT" or "sim[:OPTIONS]". The port lives for the whole process and is lent to one
// job at a time. Throws std::invalid_argument with a readable message for a text it cannot use.
std::unique_ptr<PortIo> openCablePort(const std::string& cableText);

}  // namespace zorv
