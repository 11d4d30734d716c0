#include "cable_choice/cable_port.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

#include "cable/direct_io_port.h"
#include "cable/ppdev_port.h"
#include "cable/remote_bitbang_port.h"
#include "cable/xvc_port.h"
#include "sim/board.h"

namespace zorv {
namespace {

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

struct NetworkAddress {
  std::string host;
  uint16_t port;
};

// "HOST:PORT"; the port is the part after the last colon, so a bracketed IPv6 host also works.
NetworkAddress parseAddress(const std::string& cableText, const std::string& kind, const std::string& target) {
  const auto colon = target.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == target.size()) {
    throw std::invalid_argument("'" + cableText + "': expected " + kind + ":HOST:PORT");
  }
  std::string host = target.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  const std::string portText = target.substr(colon + 1);
  unsigned value = 0;
  const auto [end, error] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
  if (error != std::errc() || end != portText.data() + portText.size() || value == 0 || value > 65535) {
    throw std::invalid_argument("'" + cableText + "': the TCP port must be a number from 1 to 65535");
  }
  return {host, static_cast<uint16_t>(value)};
}

// "lpt:ADDRESS": the data register of a card that does not sit at 0x378 (PCI Express cards sit
// wherever the system put them, e.g. 0xD010); hexadecimal with 0x, else decimal.
uint16_t parseLptBase(const std::string& cableText) {
  const std::string text = cableText.substr(4);
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char* first = text.data() + (hex ? 2 : 0);
  const char* last = text.data() + text.size();
  unsigned value = 0;
  const auto [end, error] = std::from_chars(first, last, value, hex ? 16 : 10);
  // The three registers must fit below the top of the I/O space.
  if (text.empty() || error != std::errc() || end != last || value == 0 || value > 0xFFFD) {
    throw std::invalid_argument("'" + cableText + "': expected lpt:ADDRESS, the port's base address (e.g. lpt:0xD010)");
  }
  return static_cast<uint16_t>(value);
}

}  // namespace

bool cableSetsTck(const std::string& cableText) { return startsWith(cableText, "xvc:"); }

uint32_t tckPeriodOfRate(uint64_t hz) {
  constexpr uint64_t kNanosecondsPerSecond = 1000000000;
  hz = std::clamp(hz, kMinTckHz, kMaxTckHz);
  // Rounded up: a shorter period would run TCK faster than the board was said to take.
  return static_cast<uint32_t>((kNanosecondsPerSecond + hz - 1) / hz);
}

std::unique_ptr<PortIo> openCablePort(const std::string& cableText, uint32_t tckPeriodNs) {
  if (cableText == "lpt") return std::make_unique<DirectIoPort>();
  if (startsWith(cableText, "lpt:")) return std::make_unique<DirectIoPort>(parseLptBase(cableText));
  if (cableText == "ppdev") return std::make_unique<PpdevPort>("/dev/parport0");
  if (startsWith(cableText, "ppdev:")) {
    if (cableText.size() == 6) throw std::invalid_argument("'" + cableText + "': expected ppdev:/dev/parportN");
    return std::make_unique<PpdevPort>(cableText.substr(6));
  }
  if (startsWith(cableText, "remote:")) {
    const NetworkAddress address = parseAddress(cableText, "remote", cableText.substr(7));
    return std::make_unique<RemoteBitbangPort>(address.host, address.port);
  }
  if (startsWith(cableText, "xvc:")) {
    const NetworkAddress address = parseAddress(cableText, "xvc", cableText.substr(4));
    return std::make_unique<XvcPort>(address.host, address.port, tckPeriodNs);
  }
  if (cableText == "sim" || startsWith(cableText, "sim:")) {
    return sim::makeBoard(cableText.size() > 4 ? cableText.substr(4) : std::string());
  }
  throw std::invalid_argument("unknown cable '" + cableText +
                              "' (lpt[:ADDRESS], ppdev[:/dev/parportN], remote:HOST:PORT, xvc:HOST:PORT or sim[:OPTIONS])");
}

}  // namespace zorv
