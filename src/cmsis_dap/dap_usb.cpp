#include "cmsis_dap/dap_usb.h"

#ifndef _WIN32
#include <hidapi.h>
#include <libusb.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "text/format.h"

namespace zorv {
namespace {

constexpr int kSendTimeoutMs = 5000;
constexpr int kStaleAnswerWaitMs = 10;
constexpr int kMostStaleAnswers = 256;
constexpr uint8_t kVendorSpecificClass = 0xFF;
constexpr uint8_t kHidClass = 0x03;
constexpr const char* kRemedy =
    "install the udev rule that comes with zorvjtag (70-zorvjtag.rules), then replug the probe; it lets the "
    "logged-in user and the group plugdev open CMSIS-DAP probes";

bool namesCmsisDap(const std::string& text) { return text.find("CMSIS-DAP") != std::string::npos; }

std::string usbString(libusb_device_handle* handle, uint8_t index) {
  if (index == 0) return {};
  unsigned char text[256];
  const int n = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
  return n > 0 ? std::string(reinterpret_cast<char*>(text), static_cast<size_t>(n)) : std::string();
}

std::string nodeOf(libusb_device* device) {
  return format("/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device), libusb_get_device_address(device));
}

// A probe's CMSIS-DAP interface, as its descriptors give it.
struct Candidate {
  DapProbeFound found;
  libusb_device* device = nullptr;
  int interfaceNumber = -1;
  uint8_t endpointOut = 0;  // v2: bulk OUT; v1: interrupt OUT, 0 without one
  uint8_t endpointIn = 0;
  size_t reportSize = 64;  // v1: the interrupt endpoint's packet
};

struct Interface {
  int number;
  int version;
  uint8_t out;
  uint8_t in;
  size_t report;
  uint8_t stringIndex;
};

// The interfaces that could carry CMSIS-DAP: vendor-specific with a bulk OUT and a bulk IN
// endpoint (the first of each: commands, answers; a third is SWO), or HID.
std::vector<Interface> dapShapedInterfaces(const libusb_config_descriptor* config) {
  std::vector<Interface> found;
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    if (config->interface[i].num_altsetting < 1) continue;
    const libusb_interface_descriptor& alt = config->interface[i].altsetting[0];
    const bool vendor = alt.bInterfaceClass == kVendorSpecificClass;
    if (!vendor && alt.bInterfaceClass != kHidClass) continue;
    const uint8_t wanted = vendor ? LIBUSB_TRANSFER_TYPE_BULK : LIBUSB_TRANSFER_TYPE_INTERRUPT;
    Interface shape{alt.bInterfaceNumber, vendor ? 2 : 1, 0, 0, 64, alt.iInterface};
    for (int e = 0; e < alt.bNumEndpoints; ++e) {
      const libusb_endpoint_descriptor& ep = alt.endpoint[e];
      if ((ep.bmAttributes & 0x03) != wanted) continue;
      if ((ep.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0) {
        if (shape.in == 0) shape.in = ep.bEndpointAddress;
      } else if (shape.out == 0) {
        shape.out = ep.bEndpointAddress;
        shape.report = ep.wMaxPacketSize;
      }
    }
    if (shape.in != 0 && (shape.out != 0 || !vendor)) found.push_back(shape);
  }
  return found;
}

// The device's CMSIS-DAP interface, v2 before v1: one whose own string names CMSIS-DAP, else, when
// none does, one of the right shape on a device whose product string names it.
bool findInterface(libusb_device_handle* handle, const std::vector<Interface>& shapes, const std::string& product,
                   Interface& chosen) {
  bool found = false;
  for (const bool byProduct : {false, true}) {
    if (byProduct && !namesCmsisDap(product)) break;
    for (const Interface& shape : shapes) {
      const bool named = byProduct || namesCmsisDap(usbString(handle, shape.stringIndex));
      if (named && (!found || shape.version > chosen.version)) {
        chosen = shape;
        found = true;
      }
    }
    if (found) return true;
  }
  return false;
}

std::vector<Candidate> findProbes(libusb_device** list, ssize_t count, std::vector<std::string>& unreadable) {
  std::vector<Candidate> probes;
  for (ssize_t d = 0; d < count; ++d) {
    libusb_device* device = list[d];
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != 0) continue;
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0 &&
        libusb_get_config_descriptor(device, 0, &config) != 0) {
      continue;
    }
    const std::vector<Interface> shapes = dapShapedInterfaces(config);
    libusb_free_config_descriptor(config);
    if (shapes.empty()) continue;
    libusb_device_handle* handle = nullptr;
    const int opened = libusb_open(device, &handle);
    if (opened != 0) {
      if (opened == LIBUSB_ERROR_ACCESS) {
        unreadable.push_back(format("%04x:%04x on %s", descriptor.idVendor, descriptor.idProduct, nodeOf(device).c_str()));
      }
      continue;
    }
    Candidate probe;
    probe.found.vendor = descriptor.idVendor;
    probe.found.product = descriptor.idProduct;
    probe.found.productName = usbString(handle, descriptor.iProduct);
    Interface chosen{};
    if (findInterface(handle, shapes, probe.found.productName, chosen)) {
      probe.found.serial = usbString(handle, descriptor.iSerialNumber);
      probe.found.version = chosen.version;
      probe.device = device;
      probe.interfaceNumber = chosen.number;
      probe.endpointOut = chosen.out;
      probe.endpointIn = chosen.in;
      probe.reportSize = chosen.report;
      probes.push_back(probe);
    }
    libusb_close(handle);
  }
  return probes;
}

std::string openFailure(const Candidate& probe, int code) {
  const std::string name = describeProbe(probe.found);
  if (code == LIBUSB_ERROR_ACCESS) return "permission denied on " + nodeOf(probe.device) + " (" + name + "): " + kRemedy;
  if (code == LIBUSB_ERROR_BUSY) {
    return "the CMSIS-DAP probe " + name + " is busy: another program (a debugger, OpenOCD, pyOCD) holds it";
  }
  return "cannot open the CMSIS-DAP probe " + name + ": " + libusb_strerror(static_cast<libusb_error>(code));
}

// A v2 probe: command packets to its bulk OUT endpoint, answers from its bulk IN endpoint.
class BulkTransport : public DapTransport {
 public:
  BulkTransport(libusb_context* context, libusb_device_handle* handle, const Candidate& probe)
      : context_(context), handle_(handle), probe_(probe) {}
  ~BulkTransport() override {
    libusb_release_interface(handle_, probe_.interfaceNumber);
    libusb_close(handle_);
    libusb_exit(context_);
  }
  BulkTransport(const BulkTransport&) = delete;
  BulkTransport& operator=(const BulkTransport&) = delete;

  DapIo send(const uint8_t* data, size_t length) override {
    int sent = 0;
    const int r = libusb_bulk_transfer(handle_, probe_.endpointOut, const_cast<uint8_t*>(data), static_cast<int>(length),
                                       &sent, kSendTimeoutMs);
    if (r == 0 && sent == static_cast<int>(length)) return DapIo::Done;
    if (r == LIBUSB_ERROR_TIMEOUT) {
      cause_ = "the CMSIS-DAP probe took no command within 5 s";
      return DapIo::Failed;
    }
    return failed(r);
  }

  DapIo receive(uint8_t* data, size_t capacity, size_t& length, int waitMs) override {
    int got = 0;
    const int r = libusb_bulk_transfer(handle_, probe_.endpointIn, data, static_cast<int>(capacity), &got, waitMs);
    length = static_cast<size_t>(got);
    if (r == 0 || (r == LIBUSB_ERROR_TIMEOUT && got > 0)) return DapIo::Done;
    if (r == LIBUSB_ERROR_TIMEOUT) return DapIo::TimedOut;
    return failed(r);
  }

  bool padsAnswers() const override { return false; }
  std::string cause() const override { return cause_; }
  std::string name() const override { return describeProbe(probe_.found); }

  // Answers a program before us left unread would put every answer out of step.
  void dropStaleAnswers() {
    uint8_t stale[1024];
    int got = 0;
    for (int i = 0; i < kMostStaleAnswers; ++i) {
      if (libusb_bulk_transfer(handle_, probe_.endpointIn, stale, sizeof stale, &got, kStaleAnswerWaitMs) != 0) return;
    }
  }

 private:
  DapIo failed(int code) {
    // A device that no longer answers a standard GET_STATUS is gone, whatever the transfer said.
    uint8_t status[2];
    if (code == LIBUSB_ERROR_NO_DEVICE ||
        libusb_control_transfer(handle_, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_STATUS, 0, 0, status, sizeof status,
                                500) == LIBUSB_ERROR_NO_DEVICE) {
      cause_ = "the CMSIS-DAP probe was unplugged";
    } else {
      cause_ = std::string("USB transfer to the CMSIS-DAP probe failed: ") + libusb_strerror(static_cast<libusb_error>(code));
    }
    return DapIo::Failed;
  }

  libusb_context* context_;
  libusb_device_handle* handle_;
  Candidate probe_;
  std::string cause_;
};

std::string narrow(const wchar_t* text) {
  std::string out;
  for (; text != nullptr && *text != 0; ++text) out += *text < 128 ? static_cast<char>(*text) : '?';
  return out;
}

// A v1 probe: command packets as HID output reports padded to the report size, answers as input
// reports.
class HidTransport : public DapTransport {
 public:
  HidTransport(hid_device* device, size_t reportSize, std::string name)
      : device_(device), reportSize_(reportSize), name_(std::move(name)) {}
  ~HidTransport() override {
    hid_close(device_);
    hid_exit();
  }
  HidTransport(const HidTransport&) = delete;
  HidTransport& operator=(const HidTransport&) = delete;

  DapIo send(const uint8_t* data, size_t length) override {
    // Report ID 0 first: the probe's reports are not numbered.
    report_.assign(1 + std::max(reportSize_, length), 0);
    std::memcpy(report_.data() + 1, data, length);
    if (hid_write(device_, report_.data(), report_.size()) >= 0) return DapIo::Done;
    cause_ = "the CMSIS-DAP probe took no HID report (unplugged?): " + narrow(hid_error(device_));
    return DapIo::Failed;
  }

  DapIo receive(uint8_t* data, size_t capacity, size_t& length, int waitMs) override {
    const int n = hid_read_timeout(device_, data, capacity, waitMs);
    if (n > 0) {
      length = static_cast<size_t>(n);
      return DapIo::Done;
    }
    if (n == 0) return DapIo::TimedOut;
    cause_ = "the CMSIS-DAP probe no longer answers (unplugged?): " + narrow(hid_error(device_));
    return DapIo::Failed;
  }

  bool padsAnswers() const override { return true; }
  void usePacketSize(size_t bytes) override { reportSize_ = bytes; }
  std::string cause() const override { return cause_; }
  std::string name() const override { return name_; }

  void dropStaleAnswers() {
    uint8_t stale[1024];
    for (int i = 0; i < kMostStaleAnswers && hid_read_timeout(device_, stale, sizeof stale, kStaleAnswerWaitMs) > 0; ++i) {
    }
  }

 private:
  hid_device* device_;
  size_t reportSize_;
  std::string name_;
  std::string cause_;
  std::vector<uint8_t> report_;
};

std::unique_ptr<DapTransport> openHid(const Candidate& probe, std::string& cause) {
  if (hid_init() != 0) {
    cause = "hidapi could not start";
    return nullptr;
  }
  hid_device_info* list = hid_enumerate(probe.found.vendor, probe.found.product);
  std::string path;
  for (hid_device_info* info = list; info != nullptr && path.empty(); info = info->next) {
    if (info->interface_number == probe.interfaceNumber &&
        (probe.found.serial.empty() || narrow(info->serial_number) == probe.found.serial)) {
      path = info->path;
    }
  }
  hid_free_enumeration(list);
  hid_device* device = path.empty() ? nullptr : hid_open_path(path.c_str());
  if (device == nullptr) {
    const std::string why = narrow(hid_error(nullptr));
    cause = "cannot open the CMSIS-DAP probe " + describeProbe(probe.found) + " over HID" +
            (why.empty() ? std::string() : ": " + why) + " (another program may hold it; else " + kRemedy + ")";
    hid_exit();
    return nullptr;
  }
  auto transport = std::make_unique<HidTransport>(device, probe.reportSize, describeProbe(probe.found));
  transport->dropStaleAnswers();
  return transport;
}

}  // namespace

std::unique_ptr<DapTransport> openDapUsb(const DapUsbTarget& target, std::string& cause) {
  libusb_context* context = nullptr;
  if (libusb_init(&context) != 0) {
    cause = "libusb could not start (no USB found)";
    return nullptr;
  }
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  std::vector<std::string> unreadable;
  const std::vector<Candidate> probes = findProbes(list, count < 0 ? 0 : count, unreadable);
  std::vector<DapProbeFound> found;
  for (const Candidate& probe : probes) found.push_back(probe.found);
  const int index = chooseDapProbe(found, target, cause);
  std::unique_ptr<DapTransport> transport;
  if (index < 0) {
    if (!unreadable.empty()) {
      std::string names;
      for (const std::string& name : unreadable) names += (names.empty() ? "" : ", ") + name;
      cause += "; USB devices whose names could not be read (no permission): " + names + "; " + kRemedy;
    }
  } else if (probes[static_cast<size_t>(index)].found.version == 1) {
    const Candidate probe = probes[static_cast<size_t>(index)];
    libusb_free_device_list(list, 1);
    libusb_exit(context);
    return openHid(probe, cause);
  } else {
    const Candidate& probe = probes[static_cast<size_t>(index)];
    libusb_device_handle* handle = nullptr;
    int r = libusb_open(probe.device, &handle);
    if (r == 0) {
      // A vendor-specific interface has no kernel driver as a rule; one that has is let go first.
      if (libusb_kernel_driver_active(handle, probe.interfaceNumber) == 1) {
        libusb_detach_kernel_driver(handle, probe.interfaceNumber);
      }
      r = libusb_claim_interface(handle, probe.interfaceNumber);
      if (r != 0) libusb_close(handle);
    }
    if (r != 0) {
      cause = openFailure(probe, r);
    } else {
      auto bulk = std::make_unique<BulkTransport>(context, handle, probe);
      bulk->dropStaleAnswers();
      libusb_free_device_list(list, 1);
      return bulk;
    }
  }
  libusb_free_device_list(list, 1);
  libusb_exit(context);
  return nullptr;
}

}  // namespace zorv

#else  // _WIN32

namespace zorv {

// libusb and hidapi are not part of the Windows build: the probe is named as missing, never opened.
std::unique_ptr<DapTransport> openDapUsb(const DapUsbTarget&, std::string& cause) {
  cause = "CMSIS-DAP probes are not supported by this Windows build (it has no libusb); use an XVC server "
          "(--cable xvc:HOST:PORT)";
  return nullptr;
}

}  // namespace zorv

#endif  // _WIN32
