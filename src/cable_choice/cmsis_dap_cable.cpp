#include "cable_choice/cmsis_dap_cable.h"

#include <charconv>
#include <stdexcept>

#include "cable_choice/simulated_cmsis_dap.h"
#include "cmsis_dap/cmsis_dap_link.h"
#include "cmsis_dap/dap_usb.h"

namespace zorv {
namespace {

uint16_t hexId(const std::string& cableText, const std::string& text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || text.size() > 4 || error != std::errc() || end != text.data() + text.size()) {
    throw std::invalid_argument("'" + cableText + "': USB ids are four hex digits, as in cmsis-dap:2e8a:000c");
  }
  return static_cast<uint16_t>(value);
}

unsigned number(const std::string& cableText, const std::string& key, const std::string& text, unsigned low,
                unsigned high) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
    throw std::invalid_argument("'" + cableText + "': " + key + " takes a number from " + std::to_string(low) +
                                " to " + std::to_string(high));
  }
  return value;
}

// Takes the modelled probe's options out of the board's.
void takeProbeOptions(const std::string& cableText, CmsisDapCableText& cable, const std::string& options) {
  size_t at = 0;
  while (at <= options.size() && !options.empty()) {
    const size_t comma = options.find(',', at);
    const std::string option = options.substr(at, comma == std::string::npos ? std::string::npos : comma - at);
    if (option.rfind("dappacket=", 0) == 0) {
      cable.probe.packetSize = static_cast<uint16_t>(number(cableText, "dappacket", option.substr(10), 4, 16384));
    } else if (option.rfind("dapcount=", 0) == 0) {
      cable.probe.packetCount = static_cast<uint8_t>(number(cableText, "dapcount", option.substr(9), 1, 255));
    } else if (option == "dapnotrst") {
      cable.probe.trstWired = false;
    } else {
      cable.boardOptions += (cable.boardOptions.empty() ? "" : ",") + option;
    }
    if (comma == std::string::npos) break;
    at = comma + 1;
  }
}

}  // namespace

CmsisDapCableText parseCmsisDapCable(const std::string& text) {
  CmsisDapCableText cable;
  const size_t colon = text.find(':');
  if (text.substr(0, colon) != "cmsis-dap") throw std::invalid_argument("'" + text + "': expected cmsis-dap[:...]");
  if (colon == std::string::npos) return cable;
  const std::string target = text.substr(colon + 1);
  if (target == "sim" || target.rfind("sim:", 0) == 0) {
    cable.simulated = true;
    takeProbeOptions(text, cable, target.size() > 4 ? target.substr(4) : std::string());
    return cable;
  }
  const size_t second = target.find(':');
  if (second == std::string::npos) {
    throw std::invalid_argument("'" + text + "': expected cmsis-dap:VID:PID[:SERIAL] or cmsis-dap:sim[:OPTIONS]");
  }
  const size_t third = target.find(':', second + 1);
  cable.usb.vendor = hexId(text, target.substr(0, second));
  cable.usb.product =
      hexId(text, target.substr(second + 1, third == std::string::npos ? std::string::npos : third - second - 1));
  if (third != std::string::npos) {
    cable.usb.serial = target.substr(third + 1);
    if (cable.usb.serial.empty()) throw std::invalid_argument("'" + text + "': the serial number after VID:PID: is empty");
  }
  return cable;
}

std::unique_ptr<JtagLink> openCmsisDapCable(const std::string& text, uint32_t tckPeriodNs) {
  const CmsisDapCableText cable = parseCmsisDapCable(text);
  if (cable.simulated) {
    // The board lives as long as the link: a second job finds it as the first left it.
    auto probe = std::make_shared<SimulatedCmsisDap>(sim::makeBoard(cable.boardOptions), cable.probe);
    return std::make_unique<CmsisDapLink>(
        [probe](std::string&) -> std::shared_ptr<DapTransport> { return probe; }, tckPeriodNs);
  }
  return std::make_unique<CmsisDapLink>(
      [usb = cable.usb](std::string& cause) -> std::shared_ptr<DapTransport> { return openDapUsb(usb, cause); },
      tckPeriodNs);
}

}  // namespace zorv
