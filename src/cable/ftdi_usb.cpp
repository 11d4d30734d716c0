#include "cable/ftdi_usb.h"

#include "cable/ftdi_chip.h"

#ifndef _WIN32
#include <ftdi.h>
#include <libusb.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

namespace zorv {
namespace {

constexpr int kAnswerTimeoutMs = 5000;
constexpr unsigned char kLatencyMs = 1;  // answers leave the chip at once, not after 16 ms

std::string idText(uint16_t vendor, uint16_t product) {
  char text[16];
  std::snprintf(text, sizeof text, "%04x:%04x", vendor, product);
  return text;
}

// One FTDI chip, opened.
class LibftdiTransport : public MpsseTransport {
 public:
  explicit LibftdiTransport(ftdi_context* context) : context_(context) {}
  ~LibftdiTransport() override {
    if (cause_.empty()) ftdi_set_bitmode(context_, 0, BITMODE_RESET);
    ftdi_usb_close(context_);
    ftdi_free(context_);
  }
  LibftdiTransport(const LibftdiTransport&) = delete;
  LibftdiTransport& operator=(const LibftdiTransport&) = delete;

  bool send(const uint8_t* data, size_t length) override {
    if (!cause_.empty()) return false;
    const int sent = ftdi_write_data(context_, data, static_cast<int>(length));
    if (sent == static_cast<int>(length)) return true;
    return failed(sent);
  }

  bool receive(uint8_t* data, size_t length) override {
    if (!cause_.empty()) return false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kAnswerTimeoutMs);
    size_t got = 0;
    while (got < length) {
      const int n = ftdi_read_data(context_, data + got, static_cast<int>(length - got));
      if (n < 0) return failed(n);
      got += static_cast<size_t>(n);
      if (n == 0 && std::chrono::steady_clock::now() > deadline) {
        cause_ = "the FTDI adapter gave no answer within 5 s";
        return false;
      }
    }
    return true;
  }

  std::string cause() const override { return cause_; }

 private:
  // libftdi reports a failed transfer without libusb's reason: a device that no longer answers a
  // standard GET_STATUS is gone.
  bool gone() {
    constexpr uint8_t kDeviceToHost = 0x80;  // standard request to the device, answered
    uint8_t status[2];
    return libusb_control_transfer(context_->usb_dev, kDeviceToHost, LIBUSB_REQUEST_GET_STATUS, 0, 0, status,
                                   sizeof status, 500) == LIBUSB_ERROR_NO_DEVICE;
  }

  bool failed(int code) {
    if (code == LIBUSB_ERROR_NO_DEVICE || code == -666 || gone()) {
      cause_ = "the FTDI adapter was unplugged";
    } else {
      cause_ = std::string("USB transfer to the FTDI adapter failed: ") + ftdi_get_error_string(context_);
    }
    return false;
  }

  ftdi_context* context_;
  std::string cause_;
};

struct Found {
  libusb_device* device;
  uint16_t vendor;
  uint16_t product;
  uint16_t release;  // bcdDevice: which chip it is
  std::string serial;
  std::string description;
};

std::vector<Found> findAll(ftdi_context* context, const std::vector<UsbId>& ids, ftdi_device_list*& lists) {
  std::vector<Found> found;
  for (const UsbId& id : ids) {
    ftdi_device_list* list = nullptr;
    if (ftdi_usb_find_all(context, &list, id.vendor, id.product) < 0) continue;
    for (ftdi_device_list* d = list; d != nullptr; d = d->next) {
      libusb_device_descriptor descriptor{};
      if (libusb_get_device_descriptor(d->dev, &descriptor) != 0) continue;
      bool seen = false;
      for (const Found& f : found) seen = seen || f.device == d->dev;
      if (seen) continue;
      char description[128] = "";
      char serial[64] = "";
      ftdi_usb_get_strings2(context, d->dev, nullptr, 0, description, sizeof description, serial, sizeof serial);
      found.push_back({d->dev, descriptor.idVendor, descriptor.idProduct, descriptor.bcdDevice, serial, description});
    }
    // Lists stay alive (chained) until the devices are no longer needed.
    if (list != nullptr) {
      ftdi_device_list* last = list;
      while (last->next != nullptr) last = last->next;
      last->next = lists;
      lists = list;
    }
  }
  return found;
}

std::string describe(const Found& f) {
  std::string text = idText(f.vendor, f.product);
  if (!f.description.empty()) text += " \"" + f.description + "\"";
  if (!f.serial.empty()) text += " serial " + f.serial;
  return text;
}

std::string wanted(const FtdiUsbTarget& target) {
  std::string text;
  for (const UsbId& id : target.ids) text += (text.empty() ? "" : " or ") + idText(id.vendor, id.product);
  if (!target.serial.empty()) text += " with serial " + target.serial;
  return text;
}

// Why libusb could not open the device node: a permission problem gets its remedy.
std::string openFailure(ftdi_context* context, const Found& f, int code) {
  char node[32];
  std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(f.device),
                libusb_get_device_address(f.device));
  if (code == -4 && ::access(node, R_OK | W_OK) != 0 && errno == EACCES) {
    return "permission denied on " + std::string(node) + " (" + describe(f) +
           "): install the udev rule that comes with zorvjtag (70-zorvjtag.rules), then replug the adapter; it lets "
           "the logged-in user and the group plugdev open FTDI adapters";
  }
  if (code == -5 || code == -11) {
    return "the FTDI adapter " + describe(f) +
           " is busy: another program holds it, or the kernel's ftdi_sio serial driver has it and would not let go "
           "(close the other program, or `sudo rmmod ftdi_sio`)";
  }
  return "cannot open the FTDI adapter " + describe(f) + ": " + ftdi_get_error_string(context);
}

}  // namespace

FtdiDevice openFtdiUsb(const FtdiUsbTarget& target, std::string& cause) {
  FtdiDevice device;
  ftdi_context* context = ftdi_new();
  if (context == nullptr) {
    cause = "libftdi could not start (libusb found no USB)";
    return device;
  }
  ftdi_device_list* lists = nullptr;
  const std::vector<Found> candidates = findAll(context, target.ids, lists);
  const Found* chosen = nullptr;
  for (const Found& f : candidates) {
    if (chosen == nullptr && (target.serial.empty() || f.serial == target.serial)) chosen = &f;
  }
  if (chosen == nullptr) {
    ftdi_device_list* others = nullptr;
    std::string list;
    for (const Found& f : findAll(context, {{0, 0}}, others)) list += (list.empty() ? "" : ", ") + describe(f);
    for (const Found& f : candidates) list += (list.empty() ? "" : ", ") + describe(f);
    ftdi_list_free(&others);
    ftdi_list_free(&lists);
    ftdi_free(context);
    cause = "no FTDI adapter " + wanted(target) + " found; " +
            (list.empty() ? std::string("no FTDI device is plugged in") : "found: " + list);
    return device;
  }
  const Found f = *chosen;
  const char channel = static_cast<char>('A' + target.channel);
  // The chip is known before it is opened: a channel it lacks would otherwise fail to open as if
  // another program held it.
  const FtdiChip* chip = findFtdiChip(f.release);
  if (chip == nullptr) {
    char release[8];
    std::snprintf(release, sizeof release, "%04x", f.release);
    ftdi_list_free(&lists);
    ftdi_free(context);
    cause = "the FTDI chip " + describe(f) + " (bcdDevice " + release + ") has no MPSSE for JTAG";
    return device;
  }
  if (const std::string problem = ftdiChannelProblem(*chip, target.channel); !problem.empty()) {
    ftdi_list_free(&lists);
    ftdi_free(context);
    cause = "the FTDI adapter " + describe(f) + " cannot be opened on channel " + channel + ": " + problem;
    return device;
  }
  ftdi_set_interface(context, static_cast<ftdi_interface>(INTERFACE_A + target.channel));
  const int opened = ftdi_usb_open_dev(context, f.device);
  if (opened < 0) {
    cause = openFailure(context, f, opened);  // while the list still holds the device
    ftdi_list_free(&lists);
    ftdi_free(context);
    return device;
  }
  ftdi_list_free(&lists);
  auto transport = std::make_shared<LibftdiTransport>(context);
  if (ftdi_usb_reset(context) < 0 || ftdi_set_latency_timer(context, kLatencyMs) < 0 || ftdi_tcioflush(context) < 0 ||
      ftdi_set_bitmode(context, 0, BITMODE_RESET) < 0 || ftdi_set_bitmode(context, 0, BITMODE_MPSSE) < 0) {
    cause = "cannot set the FTDI adapter " + describe(f) + " to MPSSE mode on channel " + channel + ": " +
            ftdi_get_error_string(context);
    return device;
  }
  device.name = std::string(chip->name) + " " + describe(f) + " channel " + channel;
  device.highSpeed = chip->highSpeed;
  device.readWindow = chip->readWindow;
  device.transport = std::move(transport);
  return device;
}

}  // namespace zorv

#else  // _WIN32

namespace zorv {

// libftdi1 is not part of the Windows build: the adapter is named as missing, never opened.
FtdiDevice openFtdiUsb(const FtdiUsbTarget&, std::string& cause) {
  cause = "FTDI adapters are not supported by this Windows build; use an XVC server (--cable xvc:HOST:PORT)";
  return {};
}

}  // namespace zorv

#endif  // _WIN32
