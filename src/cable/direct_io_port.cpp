#include "cable/direct_io_port.h"

#include <cstdio>

#if defined(__linux__) && (defined(__x86_64__) || defined(__i386__))
#include <sys/io.h>
#define ZORV_HAS_PORT_INSTRUCTIONS 1
#elif defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#define ZORV_HAS_PORT_INSTRUCTIONS 0
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
#elif defined(_WIN32)
// User programs on Windows reach I/O ports only through a driver: InpOut32's, whose 64-bit DLL is
// loaded when first needed, so the program runs (and every other cable works) without it.
using InpOutRead = short(__stdcall*)(short);
using InpOutWrite = void(__stdcall*)(short, short);
using InpOutDriverOpen = BOOL(__stdcall*)();
InpOutRead inpOutRead = nullptr;
InpOutWrite inpOutWrite = nullptr;

const char kInpOutHint[] =
    "lpt: the parallel port needs InpOut32's inpoutx64.dll beside zorvjtag.exe or on the PATH, with its "
    "driver installed once as administrator (InstallDriver.exe, shipped with InpOut32)\n";

int systemPermission(unsigned long, unsigned long, int) {
  static const bool loaded = [] {
    const HMODULE dll = LoadLibraryA("inpoutx64.dll");
    if (dll == nullptr) return false;
    auto driverOpen = reinterpret_cast<InpOutDriverOpen>(reinterpret_cast<void*>(GetProcAddress(dll, "IsInpOutDriverOpen")));
    inpOutRead = reinterpret_cast<InpOutRead>(reinterpret_cast<void*>(GetProcAddress(dll, "Inp32")));
    inpOutWrite = reinterpret_cast<InpOutWrite>(reinterpret_cast<void*>(GetProcAddress(dll, "Out32")));
    return inpOutRead != nullptr && inpOutWrite != nullptr && (driverOpen == nullptr || driverOpen());
  }();
  return loaded ? 0 : -1;
}
#else
// No port instructions on this machine: access is always refused.
int systemPermission(unsigned long, unsigned long, int) { return -1; }
#endif

}  // namespace

DirectIoPort::DirectIoPort(uint16_t base) : permission_(systemPermission), base_(base) {}

bool DirectIoPort::grantAccess() {
  threadGranted = permission_(base_, kRegisterCount, 1) == 0;
  // The job's own message names a Windows driver; a user here needs to know the way that works.
#ifdef _WIN32
  if (!threadGranted) std::fputs(permission_ == systemPermission ? kInpOutHint : kLptRefusedHint, stderr);
#else
  if (!threadGranted) std::fputs(kLptRefusedHint, stderr);
#endif
  return threadGranted;
}

bool DirectIoPort::granted() const { return threadGranted; }

void DirectIoPort::write(uint16_t port, uint8_t value) {
#if ZORV_HAS_PORT_INSTRUCTIONS
  if (mayTouch(port)) outb(value, static_cast<uint16_t>(base_ + (port - kLptDataPort)));
#elif defined(_WIN32)
  if (mayTouch(port) && inpOutWrite != nullptr) {
    inpOutWrite(static_cast<short>(base_ + (port - kLptDataPort)), static_cast<short>(value));
  }
#else
  (void)mayTouch;
  (void)port;
  (void)value;
#endif
}

uint8_t DirectIoPort::read(uint16_t port) {
#if ZORV_HAS_PORT_INSTRUCTIONS
  if (mayTouch(port)) return inb(static_cast<uint16_t>(base_ + (port - kLptDataPort)));
#elif defined(_WIN32)
  if (mayTouch(port) && inpOutRead != nullptr) {
    return static_cast<uint8_t>(inpOutRead(static_cast<short>(base_ + (port - kLptDataPort))));
  }
#else
  (void)port;
#endif
  return 0xFF;
}

}  // namespace zorv
