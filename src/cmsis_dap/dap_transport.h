#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zorv {

// How a transfer to or from the probe ended.
enum class DapIo { Done, TimedOut, Failed };

// Where CMSIS-DAP command packets go and their answers come from: a v2 probe's bulk endpoints,
// a v1 probe's HID reports, or in tests a model of a probe. One send is one command packet; one
// receive is one answer packet. Failed means the probe is gone or broken, and cause() says why.
class DapTransport {
 public:
  virtual ~DapTransport() = default;
  virtual DapIo send(const uint8_t* data, size_t length) = 0;
  // Waits up to waitMs for the next answer and puts it in data (length: its bytes).
  virtual DapIo receive(uint8_t* data, size_t capacity, size_t& length, int waitMs) = 0;
  // HID reports have a fixed size: commands go out padded, answers come back padded.
  virtual bool padsAnswers() const = 0;
  // The packet size the probe reported (DAP_Info): a HID transport pads its reports to it.
  virtual void usePacketSize(size_t) {}
  virtual std::string cause() const = 0;
  // For messages: "2e8a:000c "Debugprobe on Pico (CMSIS-DAP)" serial E6614C311B4A8E2B (v2)".
  virtual std::string name() const = 0;
};

// Opens the probe; on failure returns null and puts the reason in cause.
using DapOpener = std::function<std::shared_ptr<DapTransport>(std::string& cause)>;

}  // namespace zorv
