#include "cable_choice/ftdi_cable.h"

#include <charconv>
#include <stdexcept>

#include "cable_choice/simulated_ftdi.h"
#include "link/ftdi_link.h"

namespace zorv {
namespace {

uint16_t hexId(const std::string& cableText, const std::string& text) {
  unsigned value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  if (text.empty() || text.size() > 4 || error != std::errc() || end != text.data() + text.size()) {
    throw std::invalid_argument("'" + cableText + "': USB ids are four hex digits, as in ftdi:0403:6010");
  }
  return static_cast<uint16_t>(value);
}

}  // namespace

std::string ftdiLayoutNames() {
  std::string names;
  for (const FtdiLayout& layout : ftdiLayouts()) names += (names.empty() ? "" : ", ") + std::string(layout.name);
  return names;
}

FtdiCableText parseFtdiCable(const std::string& text) {
  FtdiCableText cable;
  cable.layout = &ftdiLayouts()[0];
  const size_t colon = text.find(':');
  const std::string head = text.substr(0, colon);
  int channel = -1;
  size_t at = head.find(',');
  if (head.substr(0, at) != "ftdi") throw std::invalid_argument("'" + text + "': expected ftdi[,OPTION...][:...]");
  while (at != std::string::npos) {
    const size_t next = head.find(',', at + 1);
    const std::string option = head.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1);
    at = next;
    if (option.rfind("layout=", 0) == 0) {
      cable.layout = findFtdiLayout(option.substr(7));
      if (cable.layout == nullptr) {
        throw std::invalid_argument("'" + text + "': no FTDI layout '" + option.substr(7) + "' (" + ftdiLayoutNames() + ")");
      }
    } else if (option == "channel=A" || option == "channel=B") {
      channel = option[8] - 'A';
    } else if (option == "channel=C" || option == "channel=D") {
      // Only the FT4232H has them, and its MPSSE is on channels A and B alone (DS_FT4232H).
      throw std::invalid_argument("'" + text + "': channel " + option[8] +
                                  " has no MPSSE (only an FT4232H has channels C and D, serial ports without "
                                  "one); JTAG runs on channel A or B");
    } else {
      throw std::invalid_argument("'" + text + "': unknown FTDI option '" + option + "' (layout=NAME or channel=A or B)");
    }
  }
  cable.usb.channel = channel >= 0 ? channel : cable.layout->channel;
  for (int i = 0; i < cable.layout->idCount; ++i) cable.usb.ids.push_back(cable.layout->ids[i]);
  if (colon == std::string::npos) return cable;
  const std::string target = text.substr(colon + 1);
  if (target == "sim" || target.rfind("sim:", 0) == 0) {
    if (cable.layout->trst.enable != 0) {
      throw std::invalid_argument("'" + text + "': the virtual board has no model of the " +
                                  std::string(cable.layout->name) + " nTRST buffer");
    }
    cable.simulated = true;
    cable.boardOptions = target.size() > 4 ? target.substr(4) : std::string();
    return cable;
  }
  const size_t second = target.find(':');
  if (second == std::string::npos) throw std::invalid_argument("'" + text + "': expected ftdi:VID:PID[:SERIAL]");
  const size_t third = target.find(':', second + 1);
  const uint16_t vendor = hexId(text, target.substr(0, second));
  const uint16_t product = hexId(text, target.substr(second + 1, third == std::string::npos ? std::string::npos
                                                                                           : third - second - 1));
  cable.usb.ids = {{vendor, product}};
  if (third != std::string::npos) {
    cable.usb.serial = target.substr(third + 1);
    if (cable.usb.serial.empty()) throw std::invalid_argument("'" + text + "': the serial number after VID:PID: is empty");
  }
  return cable;
}

std::unique_ptr<JtagLink> openFtdiCable(const std::string& text, uint32_t tckPeriodNs) {
  FtdiCableText cable = parseFtdiCable(text);
  if (cable.simulated) {
    sim::MpsseInterpreter::Wiring wiring;
    wiring.trstPin = cable.layout->trst.data;
    auto adapter = std::make_shared<SimulatedFtdi>(sim::makeBoard(cable.boardOptions), wiring);
    return std::make_unique<FtdiLink>(
        *cable.layout,
        [adapter](std::string&) {
          FtdiDevice device;
          device.transport = adapter;
          device.name = "simulated FT2232H";
          return device;
        },
        tckPeriodNs);
  }
  return std::make_unique<FtdiLink>(
      *cable.layout, [usb = cable.usb](std::string& cause) { return openFtdiUsb(usb, cause); }, tckPeriodNs);
}

}  // namespace zorv
