#include "cable_choice/cable_port.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>
#include <vector>

#include "cable/direct_io_port.h"
#include "cable/ftdi_layout.h"
#include "cable/ppdev_port.h"
#include "link/parallel_port_link.h"
#include "link/remote_bitbang_link.h"
#include "link/xvc_link.h"
#include "cable_choice/cmsis_dap_cable.h"
#include "cable_choice/ftdi_cable.h"
#include "sim/board.h"

namespace zorv {
namespace {

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

std::unique_ptr<JtagLink> parallel(std::unique_ptr<PortIo> port) {
  return std::make_unique<ParallelPortLink>(std::move(port));
}

std::unique_ptr<JtagLink> openLpt(const std::string& text, const std::string&, bool hasArgument, uint32_t) {
  if (hasArgument) return parallel(std::make_unique<DirectIoPort>(parseLptBase(text)));
  return parallel(std::make_unique<DirectIoPort>());
}

std::unique_ptr<JtagLink> openPpdev(const std::string& text, const std::string& device, bool hasArgument, uint32_t) {
  if (hasArgument && device.empty()) throw std::invalid_argument("'" + text + "': expected ppdev:/dev/parportN");
  return parallel(std::make_unique<PpdevPort>(hasArgument ? device : "/dev/parport0"));
}

std::unique_ptr<JtagLink> openRemote(const std::string& text, const std::string& target, bool, uint32_t) {
  const NetworkAddress address = parseAddress(text, "remote", target);
  return std::make_unique<RemoteBitbangLink>(address.host, address.port);
}

std::unique_ptr<JtagLink> openXvc(const std::string& text, const std::string& target, bool, uint32_t tckPeriodNs) {
  const NetworkAddress address = parseAddress(text, "xvc", target);
  return std::make_unique<XvcLink>(address.host, address.port, tckPeriodNs);
}

std::unique_ptr<JtagLink> openFtdi(const std::string& text, const std::string&, bool, uint32_t tckPeriodNs) {
  return openFtdiCable(text, tckPeriodNs);
}

std::unique_ptr<JtagLink> openCmsisDap(const std::string& text, const std::string&, bool, uint32_t tckPeriodNs) {
  return openCmsisDapCable(text, tckPeriodNs);
}

std::unique_ptr<JtagLink> openSim(const std::string&, const std::string& options, bool, uint32_t) {
  return parallel(sim::makeBoard(options));
}

std::vector<std::string> ftdiLayoutChoices() {
  std::vector<std::string> names;
  for (const FtdiLayout& layout : ftdiLayouts()) names.emplace_back(layout.name);
  return names;
}

std::vector<std::string> ftdiChannelChoices() { return {"A", "B", "C", "D"}; }

constexpr CableField kLptFields[] = {{"Address", nullptr, 0, "0x378"}};
constexpr CableField kPpdevFields[] = {{"Device", nullptr, 0, "/dev/parport0"}};
constexpr CableField kNetworkFields[] = {{"Host", nullptr, 0, "127.0.0.1"}, {"Port", nullptr, 1, "TCP port"}};
constexpr CableField kXvcFields[] = {{"Host", nullptr, 0, "127.0.0.1"}, {"Port", nullptr, 1, "2542"}};
constexpr CableField kFtdiFields[] = {{"Layout", "layout", 0, "ft2232h", ftdiLayoutChoices},
                                      {"Channel", "channel", 0, "the layout's", ftdiChannelChoices},
                                      {"VID:PID", nullptr, 2, "the layout's"},
                                      {"Serial", nullptr, 0, "any"}};
constexpr CableField kUsbIdFields[] = {{"VID:PID", nullptr, 2, "any probe"}, {"Serial", nullptr, 0, "any"}};
constexpr CableField kSimFields[] = {{"Options", nullptr, 0, "chip=OBRIN"}};

constexpr CableKind kKinds[] = {
    {.name = "lpt",
     .syntax = "lpt[:ADDRESS]",
     .help = "the parallel port at 0x378 or at ADDRESS (e.g. 0xD010), by port instructions (needs root or "
             "CAP_SYS_RAWIO)",
     .setsTck = false, .takesOptions = false, .opensAtChoice = false, .open = openLpt, .fields = kLptFields},
    {.name = "ppdev",
     .syntax = "ppdev[:/dev/parportN]",
     .help = "the parallel port through the Linux parport device (group lp)",
     .setsTck = false, .takesOptions = false, .opensAtChoice = false, .open = openPpdev, .fields = kPpdevFields},
    {.name = "remote",
     .syntax = "remote:HOST:PORT",
     .help = "a remote_bitbang server (OpenOCD's protocol) over TCP",
     .setsTck = false, .takesOptions = false, .opensAtChoice = false, .open = openRemote, .fields = kNetworkFields},
    {.name = "xvc",
     .syntax = "xvc:HOST:PORT",
     .help = "a Xilinx Virtual Cable 1.0 server over TCP; --tck asks it for a rate",
     .setsTck = true, .takesOptions = true, .opensAtChoice = false, .open = openXvc, .fields = kXvcFields},
    {.name = "ftdi",
     .syntax = "ftdi[:VID:PID[:SERIAL]]",
     .help = "an FTDI adapter in MPSSE mode (FT2232H, FT232H, FT4232H, FT2232D) through libftdi1; --tck sets its "
             "rate",
     .setsTck = true, .takesOptions = true, .opensAtChoice = true, .open = openFtdi, .fields = kFtdiFields},
    {.name = "cmsis-dap",
     .syntax = "cmsis-dap[:VID:PID[:SERIAL]]",
     .help = "a CMSIS-DAP probe whose firmware offers JTAG (DAPLink boards and others) through libusb-1.0 or hidapi; "
             "--tck asks it for a highest rate",
     .setsTck = true, .takesOptions = false, .opensAtChoice = true, .open = openCmsisDap, .fields = kUsbIdFields},
    {.name = "sim",
     .syntax = "sim[:OPTIONS]",
     .help = "the virtual board, in this process",
     .setsTck = false, .takesOptions = false, .opensAtChoice = false, .open = openSim, .fields = kSimFields},
};

}  // namespace

std::span<const CableKind> cableKinds() { return kKinds; }

const CableKind* findCableKind(const std::string& cableText) {
  const std::string head = cableText.substr(0, cableText.find(':'));
  const std::string beforeComma = head.substr(0, head.find(','));
  for (const CableKind& kind : kKinds) {
    if (head == kind.name || (kind.takesOptions && beforeComma == kind.name)) return &kind;
  }
  return nullptr;
}

std::string cableSyntaxList() {
  std::string list;
  const size_t count = std::size(kKinds);
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) list += i + 1 == count ? " or " : ", ";
    list += kKinds[i].syntax;
    if (i == 0) list += " (default)";
  }
  return list;
}

std::string tckCableSyntaxes() {
  std::vector<const char*> names;
  for (const CableKind& kind : kKinds) {
    if (kind.setsTck) names.push_back(kind.syntax);
  }
  std::string list;
  for (size_t i = 0; i < names.size(); ++i) {
    if (i > 0) list += i + 1 == names.size() ? " and " : ", ";
    list += names[i];
  }
  return list;
}

bool cableSetsTck(const std::string& cableText) {
  const CableKind* kind = findCableKind(cableText);
  return kind != nullptr && kind->setsTck;
}

uint32_t tckPeriodOfRate(uint64_t hz) {
  constexpr uint64_t kNanosecondsPerSecond = 1000000000;
  hz = std::clamp(hz, kMinTckHz, kMaxTckHz);
  // Rounded up: a shorter period would run TCK faster than the board was said to take.
  return static_cast<uint32_t>((kNanosecondsPerSecond + hz - 1) / hz);
}

std::unique_ptr<JtagLink> openCableLink(const std::string& cableText, uint32_t tckPeriodNs) {
  const CableKind* kind = findCableKind(cableText);
  if (kind == nullptr) {
    throw std::invalid_argument("unknown cable '" + cableText + "' (" + cableSyntaxList() + ")");
  }
  const size_t colon = cableText.find(':');
  const bool hasArgument = colon != std::string::npos;
  return kind->open(cableText, hasArgument ? cableText.substr(colon + 1) : std::string(), hasArgument, tckPeriodNs);
}

}  // namespace zorv
