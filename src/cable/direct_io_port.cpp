#include "cable/direct_io_port.h"

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define ZORV_HAS_PORT_INSTRUCTIONS 1
#else
#define ZORV_HAS_PORT_INSTRUCTIONS 0
#endif

namespace zorv {
namespace {

#if ZORV_HAS_PORT_INSTRUCTIONS
int systemPermission(unsigned long from, unsigned long count, int turnOn) { return ioperm(from, count, turnOn); }
#else
// No port instructions on this machine: access is always refused.
int systemPermission(unsigned long, unsigned long, int) { return -1; }
#endif

}  // namespace

DirectIoPort::DirectIoPort() : permission_(systemPermission) {}

DirectIoPort::~DirectIoPort() {
  if (granted_) permission_(kLptDataPort, kRegisterCount, 0);
}

bool DirectIoPort::grantAccess() {
  if (!granted_) granted_ = permission_(kLptDataPort, kRegisterCount, 1) == 0;
  return granted_;
}

void DirectIoPort::write(uint16_t port, uint8_t value) {
#if ZORV_HAS_PORT_INSTRUCTIONS
  if (mayTouch(port)) outb(value, port);
#else
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
