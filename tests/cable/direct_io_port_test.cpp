#include "cable/direct_io_port.h"

#include <gtest/gtest.h>

#include "cable/jtag_cable.h"

namespace zorv {
namespace {

struct PermissionRequest {
  unsigned long from, count;
  int turnOn;
};
std::vector<PermissionRequest> requests;

int refusePermission(unsigned long from, unsigned long count, int turnOn) {
  requests.push_back({from, count, turnOn});
  return -1;
}

// Nothing here may execute a port instruction: only the refused and the not-yet-granted port run.
TEST(DirectIoPortTest, WithoutAccessThePortAnswersAsAbsent) {
  requests.clear();
  DirectIoPort port(refusePermission);
  EXPECT_EQ(port.read(kLptDataPort), 0xFF);  // before any grant
  port.write(kLptDataPort, 0x55);

  JtagCable cable(port);
  EXPECT_FALSE(cable.grantPortAccess());
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].from, 0x378u);
  EXPECT_EQ(requests[0].count, 3u);
  EXPECT_EQ(requests[0].turnOn, 1);

  EXPECT_NE(cable.detectPort(), 0);
  EXPECT_EQ(port.read(kLptStatusPort), 0xFF);
  EXPECT_FALSE(port.granted());
}

}  // namespace
}  // namespace zorv
