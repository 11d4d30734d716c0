#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cable/port_io.h"

namespace zorv {

// The kernel calls the parport device needs; a fake stands in for them where no port exists.
class PpdevCalls {
 public:
  virtual ~PpdevCalls() = default;
  virtual int open(const char* path) = 0;  // a descriptor, or -1
  virtual int ioctl(int fd, unsigned long request, uint8_t* arg) = 0;  // 0, or -1
  virtual void close(int fd) = 0;
};

// The system's own calls.
std::unique_ptr<PpdevCalls> systemPpdevCalls();

// The parallel port through the Linux parport device (/dev/parportN), for users without rights to
// raw port instructions. Every byte is one ioctl. Until the device is open and claimed the port
// answers as absent (reads 0xFF, writes go nowhere).
class PpdevPort : public PortIo {
 public:
  explicit PpdevPort(std::string device, std::unique_ptr<PpdevCalls> calls = systemPpdevCalls());
  ~PpdevPort() override;

  bool grantAccess() override;
  // Lets the claimed device go, for the next program (or job) to claim.
  void release() override;
  void write(uint16_t port, uint8_t value) override;
  uint8_t read(uint16_t port) override;

  const std::string& device() const { return device_; }
  bool claimed() const { return fd_ >= 0; }

 private:
  // Keeps why the device could not be had, as a lost link's cause is kept.
  void noteRefusal(int error);

  std::string device_;
  std::unique_ptr<PpdevCalls> calls_;
  int fd_ = -1;
};

}  // namespace zorv
