#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zorv {

// Where MPSSE command bytes go and their answers come from: a USB adapter, or in tests a model of
// one. Both calls block; a false return means the device is gone and cause() says why.
class MpsseTransport {
 public:
  virtual ~MpsseTransport() = default;
  virtual bool send(const uint8_t* data, size_t length) = 0;
  // Waits for exactly length answer bytes.
  virtual bool receive(uint8_t* data, size_t length) = 0;
  virtual std::string cause() const = 0;
};

}  // namespace zorv
