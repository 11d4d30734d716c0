#include "cable/ppdev_port.h"

#include <cerrno>
#include <cstring>

#if defined(__linux__)
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>
#define ZORV_HAS_PPDEV 1
#else
#define ZORV_HAS_PPDEV 0
#endif

namespace zorv {
namespace {

#if ZORV_HAS_PPDEV
class SystemPpdevCalls : public PpdevCalls {
 public:
  int open(const char* path) override { return ::open(path, O_RDWR | O_CLOEXEC); }
  int ioctl(int fd, unsigned long request, uint8_t* arg) override { return ::ioctl(fd, request, arg); }
  void close(int fd) override { ::close(fd); }
};
#else
// No parport device here: the port never opens.
class SystemPpdevCalls : public PpdevCalls {
 public:
  int open(const char*) override { return -1; }
  int ioctl(int, unsigned long, uint8_t*) override { return -1; }
  void close(int) override {}
};
#endif

}  // namespace

std::unique_ptr<PpdevCalls> systemPpdevCalls() { return std::make_unique<SystemPpdevCalls>(); }

PpdevPort::PpdevPort(std::string device, std::unique_ptr<PpdevCalls> calls)
    : device_(std::move(device)), calls_(std::move(calls)) {}

#if ZORV_HAS_PPDEV

PpdevPort::~PpdevPort() { release(); }

void PpdevPort::release() {
  if (fd_ < 0) return;
  calls_->ioctl(fd_, PPRELEASE, nullptr);
  calls_->close(fd_);
  fd_ = -1;
}

bool PpdevPort::grantAccess() {
  if (fd_ >= 0) return true;
  // A new job: a refusal is told again with its cause as it stands now.
  clearLinkFailure();
  errno = 0;
  const int fd = calls_->open(device_.c_str());
  if (fd < 0) {
    noteRefusal(errno);
    return false;
  }
  if (calls_->ioctl(fd, PPCLAIM, nullptr) != 0) {
    noteRefusal(errno);
    calls_->close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void PpdevPort::noteRefusal(int error) {
  noteLinkFailure(device_ + ": " + (error != 0 ? std::strerror(error) : "refused"));
}

void PpdevPort::write(uint16_t port, uint8_t value) {
  // The status register is read-only; the control register is never driven by the cable.
  if (fd_ < 0 || port != kLptDataPort) return;
  calls_->ioctl(fd_, PPWDATA, &value);
}

uint8_t PpdevPort::read(uint16_t port) {
  if (fd_ < 0) return 0xFF;
  uint8_t value = 0xFF;
  unsigned long request = 0;
  if (port == kLptDataPort) {
    request = PPRDATA;
  } else if (port == kLptStatusPort) {
    request = PPRSTATUS;
  } else {
    return 0xFF;
  }
  if (calls_->ioctl(fd_, request, &value) != 0) return 0xFF;
  return value;
}

#else  // no parport device on this system: always absent

PpdevPort::~PpdevPort() = default;
bool PpdevPort::grantAccess() { return false; }
void PpdevPort::release() {}
void PpdevPort::write(uint16_t, uint8_t) {}
uint8_t PpdevPort::read(uint16_t) { return 0xFF; }

#endif

}  // namespace zorv
