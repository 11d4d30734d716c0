#include "page/cable_port.h"

#include <stdexcept>

#include "sim/board.h"

namespace zorv {

std::unique_ptr<PortIo> openCablePort(const std::string& spec) {
  if (spec == "sim" || spec.rfind("sim:", 0) == 0) {
    return sim::makeBoard(spec.size() > 4 ? spec.substr(4) : std::string());
  }
  throw std::invalid_argument("unknown cable '" + spec + "'");
}

}  // namespace zorv
