#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "link/ftdi_link.h"
#include "cable_choice/simulated_ftdi.h"
#include "cable_choice/usb_capture.h"
#include "extra/extra_job.h"
#include "page/recording_page.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

// What the program and the adapter say to each other over the bulk endpoints.
struct Transfer {
  bool out;
  Bytes bytes;
};

// Keeps the conversation with the modelled adapter.
class RecordingAdapter : public MpsseTransport {
 public:
  explicit RecordingAdapter(std::shared_ptr<SimulatedFtdi> adapter) : adapter_(std::move(adapter)) {}
  bool send(const uint8_t* data, size_t length) override {
    transfers.push_back({true, Bytes(data, data + length)});
    return adapter_->send(data, length);
  }
  bool receive(uint8_t* data, size_t length) override {
    const bool ok = adapter_->receive(data, length);
    transfers.push_back({false, Bytes(data, data + length)});
    return ok;
  }
  std::string cause() const override { return adapter_->cause(); }
  std::vector<Transfer> transfers;

 private:
  std::shared_ptr<SimulatedFtdi> adapter_;
};

// The bulk transfers of `zorvjtag --cable ftdi idcode --product IKA` on an IKA board.
std::vector<Transfer> idcodeConversation() {
  auto recorder = std::make_shared<RecordingAdapter>(
      std::make_shared<SimulatedFtdi>(sim::makeBoard("chip=IKA"), sim::MpsseInterpreter::Wiring{}));
  {
    FtdiLink port(*findFtdiLayout("ft2232h"), [recorder](std::string&) {
      FtdiDevice device;
      device.transport = recorder;
      return device;
    });
    RecordingPage page;
    ExtraSettings settings;
    settings.product = Ika;
    settings.extraMode = ReadJtagId;
    restoreProductImages();
    runExtraJob(page, port, settings);
  }
  return recorder->transfers;
}

using usbcapture::Capture;
using usbcapture::run;
using usbcapture::stringDescriptor;

// An FTDI chip heads every packet it sends with two modem status bytes.
void ftdiIn(Capture& usb, const Bytes& answer) {
  Bytes data(answer.size() + 2);
  data[0] = 0x32;
  data[1] = 0x60;
  std::copy(answer.begin(), answer.end(), data.begin() + 2);
  usb.in(usbcapture::kBulk, 0x81, 4096, data);
}

// Vendor requests to channel A (index 1) of an FTDI chip.
Bytes vendorRequest(uint8_t request, uint16_t value, uint16_t index = 1) {
  return {0x40, request, static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(index),
          static_cast<uint8_t>(index >> 8), 0, 0};
}
constexpr uint8_t kReset = 0x00, kSetBaudRate = 0x03, kSetLatency = 0x09, kSetBitMode = 0x0B;

// libusb and libftdi's way to an adapter: its product and serial strings.
void lookingTransfers(Capture& usb, const std::string& product) {
  const Bytes languages = {0x80, 6, 0, 3, 0, 0, 4, 0};
  usb.control(languages, {4, 3, 9, 4});
  usb.control({0x80, 6, 2, 3, 9, 4, 255, 0}, stringDescriptor(product));
  usb.control(languages, {4, 3, 9, 4});
  usb.control({0x80, 6, 3, 3, 9, 4, 255, 0}, stringDescriptor("FT0001"));
}

// Then reset and 9600 baud on opening; then ours: reset, latency timer 1 ms, both buffers
// flushed, bit mode reset and MPSSE.
void openingTransfers(Capture& usb) {
  lookingTransfers(usb, "Dual RS232-HS");
  usb.control(vendorRequest(kReset, 0));
  usb.control(vendorRequest(kSetBaudRate, 0x04E2, 0x0201));  // 9600 baud from the 120 MHz clock
  usb.control(vendorRequest(kReset, 0));
  usb.control(vendorRequest(kSetLatency, 1));
  usb.control(vendorRequest(kReset, 1));  // flush: what the chip would send us
  usb.control(vendorRequest(kReset, 2));  // and what it has not yet taken
  usb.control(vendorRequest(kSetBitMode, 0x0000));
  usb.control(vendorRequest(kSetBitMode, 0x0200));
}

// The command that runs the program under umockdev, with the device and its recorded transfers.
std::string underUmockdev(const fs::path& device, const std::string& sysfs, const fs::path& pcap) {
  return usbcapture::umockdevRun("--device " + device.string(), "--pcap " + sysfs + "=" + pcap.string()) +
         " -- " ZORVJTAG_BINARY;
}

// The real libftdi1 and libusb path, against an FT2232H that umockdev plays from a script: the
// adapter opens (reset, latency timer, MPSSE mode), a scan's answers come back as the chip's ID,
// and an adapter that vanishes mid-job fails the job with that cause.
TEST(FtdiUsbSmoke, ScriptedFt2232hAnswersAndVanishes) {
  if (run("command -v umockdev-run").empty()) GTEST_SKIP() << "umockdev-run is not installed";
  const fs::path dir = fs::path(::testing::TempDir()) / ("zorv_umockdev_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string sysfs = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
  std::ofstream(dir / "ft2232h.umockdev")
      << "P: /devices/pci0000:00/0000:00:14.0/usb1/1-1\nN: bus/usb/001/002\nE: BUSNUM=001\n"
         "E: DEVNAME=/dev/bus/usb/001/002\nE: DEVNUM=002\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
         "E: MAJOR=189\nE: MINOR=1\nE: PRODUCT=403/6010/700\nE: SUBSYSTEM=usb\nA: bConfigurationValue=1\n"
         "A: bNumConfigurations=1\nA: bcdDevice=0700\nA: busnum=1\nA: devnum=2\nA: idProduct=6010\n"
         "A: idVendor=0403\nA: speed=480\nH: descriptors="
         "1201000200000040030410600007010203010902370002010080FA0904000002FFFFFF020705810200020007050202"
         "0002000904010002FFFFFF020705830200020007050402000200\n";
  const std::vector<Transfer> conversation = idcodeConversation();
  ASSERT_GE(conversation.size(), 3u);

  Capture whole;
  openingTransfers(whole);
  for (const Transfer& t : conversation) t.out ? whole.out(usbcapture::kBulk, 0x02, t.bytes) : ftdiIn(whole, t.bytes);
  whole.control(vendorRequest(kSetBitMode, 0x0000));  // back out of MPSSE mode
  whole.save(dir / "whole.pcap");
  const std::string job = " --cable ftdi idcode --product IKA; echo status $?";
  const std::string answered = run(underUmockdev(dir / "ft2232h.umockdev", sysfs, dir / "whole.pcap") + job);
  EXPECT_NE(answered.find("JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)"), std::string::npos) << answered;
  EXPECT_NE(answered.find("status 0"), std::string::npos) << answered;

  // Unplugged after the set-up: the first scan's transfer finds no device.
  Capture vanishing;
  openingTransfers(vanishing);
  vanishing.out(usbcapture::kBulk, 0x02, conversation[0].bytes);
  vanishing.out(usbcapture::kBulk, 0x02, conversation[1].bytes, -108);  // -ESHUTDOWN: the device is gone
  vanishing.control({0x80, 0x00, 0, 0, 0, 0, 2, 0}, {}, -108);  // and answers no GET_STATUS
  vanishing.save(dir / "vanishing.pcap");
  const std::string lost = run(underUmockdev(dir / "ft2232h.umockdev", sysfs, dir / "vanishing.pcap") + job);
  EXPECT_NE(lost.find("the FTDI adapter was unplugged"), std::string::npos) << lost;
  EXPECT_NE(lost.find("status 1"), std::string::npos) << lost;
  fs::remove_all(dir);
}

// An FT232H has one channel: asked for channel B it is refused by its name before it is opened,
// not reported as held by another program.
TEST(FtdiUsbSmoke, ChannelTheChipLacksIsRefusedByTheChipsName) {
  if (run("command -v umockdev-run").empty()) GTEST_SKIP() << "umockdev-run is not installed";
  const fs::path dir = fs::path(::testing::TempDir()) / ("zorv_umockdev_ft232h_" + std::to_string(getpid()));
  fs::create_directories(dir);
  const std::string sysfs = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-1";
  std::ofstream(dir / "ft232h.umockdev")
      << "P: /devices/pci0000:00/0000:00:14.0/usb1/1-1\nN: bus/usb/001/002\nE: BUSNUM=001\n"
         "E: DEVNAME=/dev/bus/usb/001/002\nE: DEVNUM=002\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
         "E: MAJOR=189\nE: MINOR=1\nE: PRODUCT=403/6014/900\nE: SUBSYSTEM=usb\nA: bConfigurationValue=1\n"
         "A: bNumConfigurations=1\nA: bcdDevice=0900\nA: busnum=1\nA: devnum=2\nA: idProduct=6014\n"
         "A: idVendor=0403\nA: speed=480\nH: descriptors="
         "120100020000004003041460000901020301"
         "0902200001010080FA0904000002FFFFFF020705810200020007050202000200\n";
  Capture looking;
  lookingTransfers(looking, "Single RS232-HS");
  looking.save(dir / "looking.pcap");
  const std::string said = run(underUmockdev(dir / "ft232h.umockdev", sysfs, dir / "looking.pcap") +
                               " --cable ftdi,channel=B:0403:6014 idcode --product IKA 2>&1; echo status $?");
  EXPECT_NE(said.find("ftdi: the FTDI adapter 0403:6014 \"Single RS232-HS\" serial FT0001 cannot be opened on "
                      "channel B: an FT232H has one channel (A), no channel B\n"),
            std::string::npos)
      << said;
  EXPECT_NE(said.find("status 1"), std::string::npos) << said;
  fs::remove_all(dir);
}

}  // namespace
}  // namespace zorv
