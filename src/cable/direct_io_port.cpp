#include "cable/direct_io_port.h"

#include <cstdio>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define ZORV_HAS_PORT_INSTRUCTIONS 1
#else
#define ZORV_HAS_PORT_INSTRUCTIONS 0
#endif

namespace zorv {
namespace {

constexpr uint16_t kRegisterCount = 3;  // data, status, control

// Set once this thread holds the rights to the three registers.
thread_local bool threadGranted = false;

bool mayTouch(uint16_t port) {
  return threadGranted && static_cast<uint16_t>(port - kLptDataPort) < kRegisterCount;
}

#if ZORV_HAS_PORT_INSTRUCTIONS
int systemPermission(unsigned long from, unsigned long count, int turnOn) { return ioperm(from, count, turnOn); }
#else
// No port instructions on this machine: access is always refused.
int systemPermission(unsigned long, unsigned long, int) { return -1; }
#endif

}  // namespace

DirectIoPort::DirectIoPort() : permission_(systemPermission) {}

bool DirectIoPort::grantAccess() {
  threadGranted = permission_(kLptDataPort, kRegisterCount, 1) == 0;
  // The job's own message names a Windows driver; a user here needs to know the way that works.
  if (!threadGranted) std::fputs(kLptRefusedHint, stderr);
  return threadGranted;
}

bool DirectIoPort::granted() const { return threadGranted; }

void DirectIoPort::write(uint16_t port, uint8_t value) {
#if ZORV_HAS_PORT_INSTRUCTIONS
  if (mayTouch(port)) outb(value, port);
#else
  (void)mayTouch;
  (void)port;
  (void)value;
#endif
}

uint8_t DirectIoPort::read(uint16_t port) {
#if ZORV_HAS_PORT_INSTRUCTIONS
  if (mayTouch(port)) return inb(port);
#else
  (void)port;
#endif
  return 0xFF;
}

}  // namespace zorv
