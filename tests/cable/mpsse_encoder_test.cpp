#include "cable/mpsse_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace zorv {
namespace {

using Bytes = std::vector<uint8_t>;

// Keeps every transfer; answers reads with the bytes of answers, then zeros.
class RecordingTransport : public MpsseTransport {
 public:
  bool send(const uint8_t* data, size_t length) override {
    sent.emplace_back(data, data + length);
    return true;
  }
  bool receive(uint8_t* data, size_t length) override {
    reads.push_back(length);
    for (size_t i = 0; i < length; ++i) data[i] = next < answers.size() ? answers[next++] : 0;
    return true;
  }
  std::string cause() const override { return ""; }
  Bytes all() const {
    Bytes bytes;
    for (const Bytes& s : sent) bytes.insert(bytes.end(), s.begin(), s.end());
    return bytes;
  }

  std::vector<Bytes> sent;
  std::vector<size_t> reads;
  Bytes answers;
  size_t next = 0;
};

// From Test-Logic-Reset to Shift-DR, 20 bits with the last one leaving Shift, then Run-Test/Idle:
// the way in and the first data bit share one TMS command (TDI of the clocks before Shift does
// not matter), 18 bits go as two bytes and two bits, and the last data bit rides the TMS command
// out with TDI on bit 7. Reads are asked for with the commands that clock them; 0x87 follows
// only when there is something to read.
TEST(MpsseEncoder, ScanBecomesByteShiftsBitShiftsAndTmsMoves) {
  RecordingTransport usb;
  MpsseEncoder encoder(usb, 4032);
  encoder.tapWasReset();
  const bool path[] = {0, 1, 0, 0};
  for (const bool tms : path) encoder.clock(tms, false);
  const std::string data = "10110011100011110000";
  for (size_t i = 0; i + 1 < data.size(); ++i) encoder.clock(false, data[i] == '1');
  encoder.clock(true, true);
  encoder.clock(true, true);
  encoder.clock(false, false);
  ASSERT_TRUE(encoder.flush());
  // 18 bits after the first: 0110011100011110000 less the last, LSB first.
  EXPECT_EQ(usb.all(), (Bytes{0x4B, 0x04, 0x82, 0x19, 0x01, 0x00, 0xE6, 0x78, 0x1B, 0x01, 0x00, 0x4B, 0x02, 0x83}));
  EXPECT_TRUE(usb.reads.empty());

  // Again from Run-Test/Idle, where TMS is already low: the first clock is a bit shift.
  usb.sent.clear();
  usb.answers = {0x80, 0x40, 0x20};
  uint8_t first = 0;
  uint8_t last = 0;
  uint8_t middle = 0;
  for (const bool tms : path) encoder.clock(tms, false);
  encoder.clock(false, true);
  encoder.captureLast(&first, 1);
  for (int i = 0; i < 17; ++i) encoder.clock(false, false);
  encoder.captureLast(&middle, 1);
  encoder.clock(false, false);
  encoder.clock(true, true);
  encoder.captureLast(&last, 1);
  encoder.clock(true, true);
  encoder.clock(false, false);
  ASSERT_TRUE(encoder.flush());
  EXPECT_EQ(usb.all(), (Bytes{0x1B, 0x00, 0x00, 0x6B, 0x03, 0x81, 0x19, 0x01, 0x00, 0x00, 0x00, 0x3B, 0x01, 0x00, 0x6B,
                              0x02, 0x83, 0x87}));
  ASSERT_EQ(usb.reads, std::vector<size_t>{3});
  // Bits read come in from the top: the first data bit is the last of four TMS clocks (bit 7),
  // the middle one the first of two bits (bit 6), the one leaving Shift the first of three (bit 5).
  EXPECT_EQ(first, 1);
  EXPECT_EQ(middle, 1);
  EXPECT_EQ(last, 1);
}

// However long the scan, the answers waiting in the adapter never pass the read window, and each
// wait for answers is announced by one 0x87.
TEST(MpsseEncoder, AnswersWaitingStayWithinTheReadWindow) {
  RecordingTransport usb;
  MpsseEncoder encoder(usb, 1000);
  encoder.tapWasReset();
  for (const bool tms : {false, true, false, false}) encoder.clock(tms, false);
  std::vector<uint8_t> tdo(30000);
  for (size_t i = 0; i < tdo.size(); ++i) {
    encoder.clock(false, (i % 3) == 0);
    encoder.captureLast(&tdo[i], 0x40);
  }
  ASSERT_TRUE(encoder.flush());
  ASSERT_FALSE(usb.reads.empty());
  EXPECT_LE(*std::max_element(usb.reads.begin(), usb.reads.end()), 1000u);
  const Bytes all = usb.all();
  EXPECT_EQ(static_cast<size_t>(std::count(all.begin(), all.end(), 0x87)), usb.reads.size());
  EXPECT_EQ(encoder.bytesAnswered(), 30000u / 8 + 1);
  for (size_t i = 0; i < tdo.size(); ++i) ASSERT_TRUE(tdo[i] == 0 || tdo[i] == 0x40);

  // A window's worth of answers waiting, then a wait for the adapter to run everything: its pin
  // read does not go past the window either.
  usb.reads.clear();
  for (size_t i = 0; i < 8000; ++i) {
    encoder.clock(false, false);
    encoder.captureLast(&tdo[i], 0x40);
  }
  ASSERT_TRUE(encoder.sync());
  EXPECT_EQ(usb.reads, (std::vector<size_t>{1000, 1}));
}

}  // namespace
}  // namespace zorv
