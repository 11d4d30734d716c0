#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "cable_choice/simulated_cmsis_dap.h"
#include "cable_choice/usb_capture.h"
#include "cmsis_dap/cmsis_dap_link.h"
#include "extra/extra_job.h"
#include "page/recording_page.h"
#include "targets/catalogue.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;
using usbcapture::Bytes;
using usbcapture::Capture;

constexpr size_t kReport = 64;

// What the program and the probe say to each other: a command packet out, or an answer in read
// into a buffer of `length` bytes.
struct Transfer {
  bool out;
  Bytes bytes;
  uint32_t length;
};

// Keeps the conversation with the modelled probe; as a HID probe (v1) it pads every report to its
// size both ways, as the real one does.
class RecordingProbe : public DapTransport {
 public:
  RecordingProbe(std::shared_ptr<SimulatedCmsisDap> probe, bool hid) : probe_(std::move(probe)), hid_(hid) {}
  DapIo send(const uint8_t* data, size_t length) override {
    Bytes bytes(data, data + length);
    if (hid_) bytes.resize(kReport, 0);
    transfers.push_back({true, bytes, static_cast<uint32_t>(bytes.size())});
    return probe_->send(data, length);
  }
  DapIo receive(uint8_t* data, size_t capacity, size_t& length, int waitMs) override {
    const DapIo got = probe_->receive(data, capacity, length, waitMs);
    if (hid_) {
      std::fill(data + length, data + kReport, 0);
      length = kReport;
    }
    transfers.push_back({false, Bytes(data, data + length), static_cast<uint32_t>(hid_ ? kReport : capacity)});
    return got;
  }
  bool padsAnswers() const override { return hid_; }
  std::string cause() const override { return probe_->cause(); }
  std::string name() const override { return probe_->name(); }
  std::vector<Transfer> transfers;

 private:
  std::shared_ptr<SimulatedCmsisDap> probe_;
  bool hid_;
};

// The transfers of `zorvjtag --cable cmsis-dap idcode --product IKA` with a 64-byte probe.
std::vector<Transfer> idcodeConversation(bool hid) {
  sim::DapProbe::Config config;
  config.packetSize = kReport;
  auto recorder = std::make_shared<RecordingProbe>(
      std::make_shared<SimulatedCmsisDap>(sim::makeBoard("chip=IKA"), config), hid);
  {
    CmsisDapLink link([recorder](std::string&) -> std::shared_ptr<DapTransport> { return recorder; });
    RecordingPage page;
    ExtraSettings settings;
    settings.product = Ika;
    settings.extraMode = ReadJtagId;
    restoreProductImages();
    runExtraJob(page, link, settings);
  }
  return recorder->transfers;
}

// A USB device as umockdev's sysfs sees it; descriptors in hex.
std::string deviceFile(int number, const char* ids, const std::string& descriptors) {
  const std::string n = std::to_string(number);
  return "P: /devices/pci0000:00/0000:00:14.0/usb1/1-" + n + "\nN: bus/usb/001/00" + n +
         "\nE: BUSNUM=001\nE: DEVNAME=/dev/bus/usb/001/00" + n + "\nE: DEVNUM=00" + n +
         "\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: MAJOR=189\nE: MINOR=" + n + "\nE: PRODUCT=" + ids +
         "\nE: SUBSYSTEM=usb\nA: bConfigurationValue=1\nA: bNumConfigurations=1\nA: busnum=1\nA: devnum=" + n +
         "\nA: speed=12\nH: descriptors=" + descriptors + "\n";
}

// A Raspberry Pi Debug Probe as v2: product 2, serial 3, and one vendor-specific interface named
// by string 4 with bulk OUT 0x01 and bulk IN 0x81 of 64 bytes.
const std::string kV2Descriptors =
    "12010002000000408A2E0C00000201020301"
    "0902200001010080FA"
    "090400000 2FF000004"
    "07050102400000"
    "07058102400000";
// A DAPLink-like v1 probe without strings but its HID interface's (4), interrupt endpoints of 64
// bytes.
const std::string kV1Descriptors =
    "1201000200000040280D04020001000000 01"
    "0902290001010080FA"
    "090400000203000004"
    "092111010001222100"
    "07058103400001"
    "07050103400001";

std::string hexOnly(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), ' '), text.end());
  return text;
}

// How discovery reads a probe's names: product, interface, serial (each where it has one).
void v2Names(Capture& usb) {
  usbcapture::stringRead(usb, 2, "Debugprobe on Pico (CMSIS-DAP)");
  usbcapture::stringRead(usb, 4, "CMSIS-DAP v2 Interface");
  usbcapture::stringRead(usb, 3, "E6614C311B4A8E2B");
}
void v1Names(Capture& usb) { usbcapture::stringRead(usb, 4, "CMSIS-DAP"); }

void play(Capture& usb, const std::vector<Transfer>& conversation, bool hid, size_t count, int32_t lastStatus = 0) {
  const uint8_t type = hid ? usbcapture::kInterrupt : usbcapture::kBulk;
  for (size_t i = 0; i < count; ++i) {
    const Transfer& t = conversation[i];
    if (t.out) {
      usb.out(type, 0x01, t.bytes, i + 1 == count ? lastStatus : 0);
    } else {
      usb.in(type, 0x81, t.length, t.bytes);
    }
  }
}

// The real libusb (v2) and hidapi (v1) paths, against probes that umockdev plays from scripts:
// each is found by its CMSIS-DAP string and opened, a scan's answers come back as the chip's ID,
// two probes with nothing to tell them apart are listed with the texts that would, and a probe
// that vanishes mid-job fails the job with that cause.
TEST(CmsisDapUsbSmoke, ScriptedProbesAnswerAndVanish) {
  if (usbcapture::run("command -v umockdev-run").empty()) GTEST_SKIP() << "umockdev-run is not installed";
  const fs::path dir = fs::path(::testing::TempDir()) / ("zorv_dap_umockdev_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "v2.umockdev") << deviceFile(2, "2e8a/c/200", hexOnly(kV2Descriptors));
  std::ofstream(dir / "v1.umockdev") << deviceFile(3, "d28/204/100", hexOnly(kV1Descriptors));
  const std::string v2Sysfs = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";
  const std::string v1Sysfs = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-3";
  // The program's words go to a file of their own: umockdev's messages share the terminal.
  const std::string said = (dir / "said.txt").string();
  const std::string job = " -- sh -c '" ZORVJTAG_BINARY " --cable cmsis-dap idcode --product IKA > " + said +
                          " 2>&1; echo status $? >> " + said + "' > /dev/null 2>&1; cat " + said;

  for (const bool hid : {false, true}) {
    SCOPED_TRACE(hid ? "v1" : "v2");
    const std::vector<Transfer> conversation = idcodeConversation(hid);
    ASSERT_GE(conversation.size(), 16u);
    Capture whole(hid ? 3 : 2);
    hid ? v1Names(whole) : v2Names(whole);
    play(whole, conversation, hid, conversation.size());
    const fs::path pcap = dir / (hid ? "v1.pcap" : "v2.pcap");
    whole.save(pcap);
    const std::string device = "--device " + (dir / (hid ? "v1.umockdev" : "v2.umockdev")).string();
    const std::string answered =
        usbcapture::run(usbcapture::umockdevRun(device, "--pcap " + (hid ? v1Sysfs : v2Sysfs) + "=" + pcap.string()) + job);
    EXPECT_NE(answered.find("JTAG ID: Ver(0x1), Part(0x0000), Maker(0x15B)"), std::string::npos) << answered;
    EXPECT_NE(answered.find("status 0"), std::string::npos) << answered;
  }

  // Both plugged in: the job names each and stops before anything is sent.
  Capture v2Listed(2), v1Listed(3);
  v2Names(v2Listed);
  v1Names(v1Listed);
  v2Listed.save(dir / "v2-listed.pcap");
  v1Listed.save(dir / "v1-listed.pcap");
  const std::string both = usbcapture::run(
      usbcapture::umockdevRun("--device " + (dir / "v2.umockdev").string() + " --device " + (dir / "v1.umockdev").string(),
                              "--pcap " + v2Sysfs + "=" + (dir / "v2-listed.pcap").string() + " --pcap " + v1Sysfs + "=" +
                                  (dir / "v1-listed.pcap").string()) +
      job);
  EXPECT_NE(both.find("cmsis-dap:2e8a:000c for 2e8a:000c \"Debugprobe on Pico (CMSIS-DAP)\" serial E6614C311B4A8E2B (v2)"), std::string::npos)
      << both;
  EXPECT_NE(both.find("status 1"), std::string::npos) << both;

  // Unplugged after the opening: the first scan's command finds no device.
  const std::vector<Transfer> conversation = idcodeConversation(false);
  Capture vanishing(2);
  v2Names(vanishing);
  size_t firstScan = 0;
  while (firstScan < conversation.size() && !(conversation[firstScan].out && conversation[firstScan].bytes[0] == 0x14)) {
    ++firstScan;
  }
  play(vanishing, conversation, false, firstScan + 1, -108);  // -ESHUTDOWN: the device is gone
  vanishing.save(dir / "vanishing.pcap");
  const std::string lost = usbcapture::run(
      usbcapture::umockdevRun("--device " + (dir / "v2.umockdev").string(),
                              "--pcap " + v2Sysfs + "=" + (dir / "vanishing.pcap").string()) +
      job);
  EXPECT_NE(lost.find("Cable: the CMSIS-DAP probe was unplugged"), std::string::npos) << lost;
  EXPECT_NE(lost.find("status 1"), std::string::npos) << lost;
  if (!HasFailure()) fs::remove_all(dir);
}

}  // namespace
}  // namespace zorv
