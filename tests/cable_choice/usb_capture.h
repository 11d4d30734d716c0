#pragma once

// A usbmon capture (pcap, link type 220) that umockdev replays to libusb in order: the URBs
// libusb submits are matched by type, endpoint and length (and the bytes, going out), and answered
// with the completion that follows. Used by the smoke tests that run the real USB libraries
// against a scripted device.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace zorv::usbcapture {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kInterrupt = 1;
inline constexpr uint8_t kControl = 2;
inline constexpr uint8_t kBulk = 3;

class Capture {
 public:
  explicit Capture(uint8_t deviceAddress = 2) : address_(deviceAddress) {
    put32(0xA1B2C3D4), put16(2), put16(4), put32(0), put32(0), put32(65535), put32(220);
  }

  // A control transfer: its setup packet (direction, request, value, index, length) and, going
  // in, the device's answer.
  void control(const Bytes& setup, const Bytes& answer = {}, int32_t status = 0) {
    const bool in = (setup[0] & 0x80) != 0;
    const uint8_t endpoint = in ? 0x80 : 0x00;
    record(++id_, 'S', kControl, endpoint, static_cast<uint32_t>(setup[6] | (setup[7] << 8)), {}, 0, setup);
    record(id_, 'C', kControl, endpoint, static_cast<uint32_t>(answer.size()), answer, status, {});
  }
  // A transfer out of the host; a status (e.g. -108, the device gone) fails it.
  void out(uint8_t type, uint8_t endpoint, const Bytes& bytes, int32_t status = 0) {
    record(++id_, 'S', type, endpoint, static_cast<uint32_t>(bytes.size()), bytes, 0, {});
    record(id_, 'C', type, endpoint, status == 0 ? static_cast<uint32_t>(bytes.size()) : 0u, {}, status, {});
  }
  // A transfer into the host of up to length bytes, answered with answer.
  void in(uint8_t type, uint8_t endpoint, uint32_t length, const Bytes& answer) {
    record(++id_, 'S', type, endpoint, length, {}, 0, {});
    record(id_, 'C', type, endpoint, static_cast<uint32_t>(answer.size()), answer, 0, {});
  }
  void save(const std::filesystem::path& path) const {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes_.data()),
                                                static_cast<std::streamsize>(bytes_.size()));
  }

 private:
  void record(uint64_t id, char event, uint8_t type, uint8_t endpoint, uint32_t length, const Bytes& data,
              int32_t status, const Bytes& setup) {
    const auto size = static_cast<uint32_t>(64 + data.size());
    put32(0), put32(0), put32(size), put32(size);
    put32(static_cast<uint32_t>(id)), put32(static_cast<uint32_t>(id >> 32));
    bytes_.push_back(static_cast<uint8_t>(event));
    bytes_.push_back(type);
    bytes_.push_back(endpoint);
    bytes_.push_back(address_);
    put16(1);  // bus
    bytes_.push_back(type == kControl && event == 'S' ? 0 : '-');
    bytes_.push_back(data.empty() ? '<' : 0);
    put32(0), put32(0), put32(0);  // time
    put32(static_cast<uint32_t>(status));
    put32(length);
    put32(static_cast<uint32_t>(data.size()));
    for (size_t i = 0; i < 8; ++i) bytes_.push_back(i < setup.size() ? setup[i] : 0);
    put32(0), put32(0), put32(0), put32(0);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  void put16(uint16_t v) {
    bytes_.push_back(static_cast<uint8_t>(v));
    bytes_.push_back(static_cast<uint8_t>(v >> 8));
  }
  void put32(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  }

  uint8_t address_;
  Bytes bytes_;
  uint64_t id_ = 0;
};

inline Bytes stringDescriptor(const std::string& text) {
  Bytes d{static_cast<uint8_t>(2 + 2 * text.size()), 3};
  for (const char c : text) d.push_back(static_cast<uint8_t>(c)), d.push_back(0);
  return d;
}

// libusb_get_string_descriptor_ascii: the first language (US English), then the string in it.
inline void stringRead(Capture& usb, uint8_t index, const std::string& text) {
  usb.control({0x80, 6, 0, 3, 0, 0, 4, 0}, {4, 3, 9, 4});
  usb.control({0x80, 6, index, 3, 9, 4, 255, 0}, stringDescriptor(text));
}

// A command's standard output and error.
inline std::string run(const std::string& command) {
  std::string output;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  ::pclose(pipe);
  return output;
}

// umockdev preloads its own library ahead of everything; a sanitizer build must be told that its
// runtime not coming first is expected here.
inline std::string umockdevRun(const std::string& devices, const std::string& pcaps) {
  return "ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\" timeout 50 umockdev-run " + devices +
         " " + pcaps;
}

}  // namespace zorv::usbcapture
