#include "cable/direct_io_port.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "link/jtag_cable.h"

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
int allowPermission(unsigned long, unsigned long, int) { return 0; }

// Nothing here may execute a port instruction (this machine has no port and the process no
// rights): a stray one would end the test program.
TEST(DirectIoPortTest, WithoutAccessThePortAnswersAsAbsent) {
  requests.clear();
  DirectIoPort port(refusePermission);
  EXPECT_EQ(port.read(kLptDataPort), 0xFF);  // before any grant
  port.write(kLptDataPort, 0x55);

  JtagCable cable(port);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(cable.grantPortAccess());
  // The refusal points the user to the cable that works without root.
  EXPECT_THAT(testing::internal::GetCapturedStderr(), testing::HasSubstr("--cable ppdev"));
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].from, 0x378u);
  EXPECT_EQ(requests[0].count, 3u);
  EXPECT_EQ(requests[0].turnOn, 1);
  EXPECT_NE(cable.detectPort(), 0);
  EXPECT_EQ(port.read(kLptStatusPort), 0xFF);

  // A card elsewhere asks for its own three registers.
  DirectIoPort card(refusePermission, 0xD010);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(card.grantAccess());
  testing::internal::GetCapturedStderr();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[1].from, 0xD010u);
}

// Port rights belong to the thread that asked; the next job's thread must ask again.
TEST(DirectIoPortTest, AGrantOnOneThreadDoesNotOpenThePortToAnother) {
  DirectIoPort port(allowPermission);
  std::thread([&] { EXPECT_TRUE(port.grantAccess()); }).join();
  bool otherGranted = true;
  uint8_t otherRead = 0;
  std::thread([&] {
    otherGranted = port.granted();
    otherRead = port.read(kLptStatusPort);
    port.write(kLptDataPort, 0x0C);
  }).join();
  EXPECT_FALSE(otherGranted);
  EXPECT_EQ(otherRead, 0xFF);
}

}  // namespace
}  // namespace zorv
