#include "cable/ppdev_port.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <linux/ppdev.h>

#include <deque>
#include <string>
#include <vector>

#include "link/jtag_cable.h"

namespace zorv {
namespace {

// What the fake kernel saw; it outlives the port so that the release can be checked.
struct Kernel {
  struct Call {
    unsigned long request;
    uint8_t value;
    bool operator==(const Call&) const = default;
  };
  std::string openedPath;
  int openResult = 7;
  int claimResult = 0;
  int readResult = 0;
  std::deque<uint8_t> readValues;  // answers to PPRDATA / PPRSTATUS, in order
  std::vector<Call> calls;
  std::vector<int> closed;
};

class FakeCalls : public PpdevCalls {
 public:
  explicit FakeCalls(Kernel& kernel) : k_(kernel) {}
  int open(const char* path) override {
    k_.openedPath = path;
    return k_.openResult;
  }
  int ioctl(int fd, unsigned long request, uint8_t* arg) override {
    EXPECT_EQ(fd, k_.openResult);
    if (request == PPCLAIM) {
      k_.calls.push_back({request, 0});
      return k_.claimResult;
    }
    if (request == PPRDATA || request == PPRSTATUS) {
      if (k_.readResult != 0) return k_.readResult;
      *arg = k_.readValues.empty() ? 0 : k_.readValues.front();
      if (!k_.readValues.empty()) k_.readValues.pop_front();
    }
    k_.calls.push_back({request, arg != nullptr ? *arg : uint8_t{0}});
    return 0;
  }
  void close(int fd) override { k_.closed.push_back(fd); }

 private:
  Kernel& k_;
};

using Call = Kernel::Call;

TEST(PpdevPortTest, EachPortAccessIsOneIoctlOnTheClaimedDevice) {
  Kernel kernel;
  kernel.readValues = {0x55, 0x40, 0x00};
  {
    PpdevPort port("/dev/parport1", std::make_unique<FakeCalls>(kernel));
    JtagCable cable(port);
    ASSERT_TRUE(cable.grantPortAccess());
    EXPECT_EQ(kernel.openedPath, "/dev/parport1");
    ASSERT_EQ(cable.detectPort(), 0);
    cable.clockTck(1, 1);
    char captured[2];
    cable.shiftDrCapture("10", captured, 2);  // (the scan's port bytes are checked elsewhere)
    EXPECT_EQ(std::string(captured, 2), "10");
    port.write(kLptStatusPort, 0x12);  // the status register is not writable: no ioctl
    EXPECT_EQ(port.read(0x37A), 0xFF);

    const auto& c = kernel.calls;
    ASSERT_GE(c.size(), 7u);
    EXPECT_EQ(std::vector<Call>(c.begin(), c.begin() + 6),
              (std::vector<Call>{{PPCLAIM, 0}, {PPWDATA, 0x55}, {PPRDATA, 0x55}, {PPWDATA, 0x0C},
                                 {PPWDATA, 0x0B}, {PPWDATA, 0x0F}}));
    int statusReads = 0;
    for (const auto& call : c) statusReads += call.request == PPRSTATUS;
    EXPECT_EQ(statusReads, 2);
    EXPECT_TRUE(kernel.closed.empty());
    port.release();  // a job's end: the device is let go for the next program to claim
    EXPECT_FALSE(port.claimed());
    EXPECT_EQ(kernel.calls.back(), (Call{PPRELEASE, 0}));
    EXPECT_EQ(kernel.closed, std::vector<int>{7});
  }
  EXPECT_EQ(kernel.closed, std::vector<int>{7});  // once
}

TEST(PpdevPortTest, DeviceThatCannotBeOpenedOrClaimedAnswersAsAbsent) {
  Kernel kernel;
  kernel.openResult = -1;
  PpdevPort missing("/dev/parport0", std::make_unique<FakeCalls>(kernel));
  EXPECT_FALSE(missing.grantAccess());
  missing.write(kLptDataPort, 0x55);
  EXPECT_EQ(missing.read(kLptDataPort), 0xFF);
  EXPECT_TRUE(kernel.calls.empty());

  Kernel busy;  // another process holds the port
  busy.claimResult = -1;
  {
    PpdevPort port("/dev/parport0", std::make_unique<FakeCalls>(busy));
    JtagCable cable(port);
    EXPECT_FALSE(cable.grantPortAccess());
    EXPECT_EQ(busy.closed, std::vector<int>{7});  // the descriptor is not leaked
    EXPECT_NE(cable.detectPort(), 0);
    EXPECT_EQ(busy.calls, (std::vector<Call>{{PPCLAIM, 0}}));

    busy.claimResult = 0;  // a later job may get the port
    EXPECT_TRUE(port.grantAccess());
    busy.readResult = -1;  // and a failing read still says "nothing there"
    EXPECT_EQ(port.read(kLptStatusPort), 0xFF);
  }
  EXPECT_EQ(busy.closed, (std::vector<int>{7, 7}));
}

}  // namespace
}  // namespace zorv
